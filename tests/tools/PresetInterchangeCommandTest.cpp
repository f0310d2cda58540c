// SPDX-License-Identifier: GPL-3.0-or-later
// kafh preset import and export, and --preset with files of other hosts.
#include "tests/tools/KafhTestSupport.h"

namespace kafhtest {
namespace {

TEST_F(KafhScannedTest, PresetsTravelThroughFilesOfOtherHostsAndBack)
{
    ASSERT_EQ(Kafh({"scan", "--tech", "vst3", "--dir", KAFH_TESTPLUGINS_VST3_DIR, "--timeout", "20"}).exitCode, 0);
    const auto file = [&](const char* name) { return (mFolder / name).string(); };
    struct Case {
        const char* filter;
        const char* setting;
        const char* exported;
        const char* expected;
    };
    for (const Case& c : {Case{"KafhGain", "Gain=0.25", "gain.fxp", "Gain = 0.25"},
                          Case{"KafhGain", "Gain=0.25", "gain.fxb", "Gain = 0.25"},
                          Case{"Kafh Gain", "Gain=0.5", "gain.vstpreset", "Gain = 0.5 x"}}) {
        SCOPED_TRACE(c.exported);
        ASSERT_EQ(Kafh({"preset", "save", c.filter, file("ours.preset"), "--param", c.setting}).exitCode, 0);
        const auto exported = Kafh({"preset", "export", file("ours.preset"), c.filter, file(c.exported)});
        ASSERT_EQ(exported.exitCode, 0) << exported.err;
        const auto imported = Kafh({"preset", "import", file(c.exported), c.filter, file("back.preset")});
        ASSERT_EQ(imported.exitCode, 0) << imported.err;
        for (const auto& preset : {file("back.preset"), file(c.exported)}) {
            const auto loaded = Kafh({"preset", "load", c.filter, preset});
            ASSERT_EQ(loaded.exitCode, 0) << loaded.err;
            EXPECT_NE(loaded.out.find(c.expected), std::string::npos) << preset << "\n" << loaded.out;
        }
    }
    // A file of another plug-in is refused in one line.
    const auto other = Kafh({"preset", "import", file("gain.fxp"), "KafhChunk", file("x.preset")});
    EXPECT_EQ(other.exitCode, 1);
    EXPECT_NE(other.err.find("unique ID"), std::string::npos) << other.err;
    EXPECT_FALSE(std::filesystem::exists(file("x.preset")));
}

} // namespace
} // namespace kafhtest
