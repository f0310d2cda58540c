// SPDX-License-Identifier: GPL-3.0-or-later
// kafh demo: the README's main job, run as a user runs it.
#include "tests/tools/KafhTestSupport.h"

namespace kafhtest {
namespace {

using KafhDemo = KafhTest;

TEST_F(KafhDemo, ScansRendersAndReportsWithoutTouchingTheUsersSettings)
{
    const auto result = Kafh({"demo"}, 120, false);
    ASSERT_EQ(result.exitCode, 0) << result.out << result.err;
    for (const char* expected : {"KafhGain.so", "KafhLatency.so", "0 failed, 0 banned", "Gain (internal), -6 dB",
                                 "-6.0 dB", "64, removed: out = in", "real time", "filters rendered"}) {
        EXPECT_NE(result.out.find(expected), std::string::npos) << expected << "\n" << result.out;
    }
    EXPECT_EQ(result.out.find("not rendered"), std::string::npos) << result.out;
    // Its catalogue was temporary: nothing in the user's settings, nothing left in TMPDIR.
    EXPECT_FALSE(std::filesystem::exists(mFolder / "xdg"));
    EXPECT_FALSE(std::filesystem::exists(mFolder / ".config"));
    EXPECT_EQ(EntryCount(mFolder / "tmp"), 0);
}

} // namespace
} // namespace kafhtest
