// SPDX-License-Identifier: GPL-3.0-or-later
// The runner that keeps a plug-in's crash, hang or exit inside a child process: each way a case can
// end is told apart, and the parent goes on.
#include "kelaudiofilterhost/vst2/VSTPluginModule.h"

#include "tests/support/ForkedCase.h"
#include "tests/support/Vst2TestSupport.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <thread>

namespace kelaudiofilterhost::testing {
namespace {

using namespace std::chrono_literals;
using Outcome = ForkedResult::Outcome;

TEST(ForkedCase, TellsEveryEndingApartAndKeepsWhatWasReported)
{
    struct Row {
        const char* name;
        ForkedCaseBody body;
        Outcome outcome;
        int signal;
        int exitCode;
    };
    const Row rows[] = {
        {"passes", [](std::ostream& r) { r << "ran"; return true; }, Outcome::Passed, 0, 0},
        {"fails", [](std::ostream& r) { r << "ran"; return false; }, Outcome::Failed, 0, 0},
        {"throws", [](std::ostream& r) -> bool { r << "ran"; throw std::runtime_error("thrown"); },
         Outcome::Failed, 0, 0},
        {"crashes", [](std::ostream& r) { r << "ran"; std::signal(SIGSEGV, SIG_DFL); std::raise(SIGSEGV); return true; },
         Outcome::Crashed, SIGSEGV, 0},
        {"aborts", [](std::ostream& r) { r << "ran"; std::signal(SIGABRT, SIG_DFL); std::abort(); return true; },
         Outcome::Crashed, SIGABRT, 0},
        {"exits", [](std::ostream& r) { r << "ran"; std::exit(3); return true; }, Outcome::Lost, 0, 3},
        {"exits without a verdict", [](std::ostream& r) { r << "ran"; ::_exit(0); return true; }, Outcome::Lost, 0, 0},
        {"hangs", [](std::ostream& r) { r << "ran"; for (;;) { std::this_thread::sleep_for(1h); } return true; },
         Outcome::TimedOut, 0, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        const auto started = std::chrono::steady_clock::now();
        const auto result = RunForked(row.body, 300ms);
        EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
        EXPECT_EQ(result.outcome, row.outcome) << result.Describe();
        EXPECT_EQ(result.signal, row.signal);
        EXPECT_EQ(result.exitCode, row.exitCode);
        EXPECT_TRUE(result.report.starts_with("ran")) << result.report;
    }
}

TEST(ForkedCase, ReadsReportsLargerThanThePipeHolds)
{
    const std::string line(1000, 'x');
    const auto result = RunForked(
        [&](std::ostream& report) {
            for (int i = 0; i < 1000; ++i) {
                report << line << '\n';
            }
            report << std::string(1, '\0') << "end";
            return true;
        },
        10s);
    ASSERT_TRUE(result.Passed()) << result.Describe();
    EXPECT_EQ(result.report.size(), 1000u * 1001u + 4u);
    EXPECT_TRUE(result.report.ends_with("?end")) << "a zero byte of the case passes for a verdict";
}

TEST(ForkedCase, OutlivesPluginsThatCrashOrHangOnLoad)
{
    auto load = [](const char* file) {
        return [file](std::ostream&) {
            const auto path = kelcore::UTF8to16(std::string(KAFH_TESTPLUGINS_VST2_HOSTILE_DIR) + "/" + file);
            auto module = vst::GetOrLoadModule(path);
            return module && module->Instantiate(0) != nullptr;
        };
    };
    const auto crashed = RunForked(load("KafhCrashOnLoad.so"), 10s);
    EXPECT_EQ(crashed.outcome, Outcome::Crashed) << crashed.Describe();
    EXPECT_EQ(crashed.signal, SIGSEGV);
    const auto hung = RunForked(load("KafhHangOnLoad.so"), 300ms);
    EXPECT_EQ(hung.outcome, Outcome::TimedOut) << hung.Describe();
}

} // namespace
} // namespace kelaudiofilterhost::testing
