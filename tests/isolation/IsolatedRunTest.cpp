// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/isolation/IsolatedRun.h"
#include "kelaudiofilterhost/isolation/IsolatedSuite.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <stdexcept>
#include <thread>
#include <unistd.h>

using namespace kelaudiofilterhost::isolation;
using namespace std::chrono_literals;

namespace {

Result RunIsolated(const Work& work, std::chrono::milliseconds timeout = 5s)
{
    return RunForked(work, Options{timeout});
}

} // namespace

TEST(IsolatedRun, AnswersComeBackWholeAndDefinedFailuresAreNotFaults)
{
    const std::string big(1 << 20, 'x'); // far more than a pipe holds
    const auto completed = RunIsolated([&](std::string& payload) {
        payload = big;
        return true;
    });
    EXPECT_EQ(completed.outcome, Outcome::Completed) << completed.Describe();
    EXPECT_EQ(completed.payload, big);

    const auto failed = RunIsolated([](std::string& payload) {
        payload = "no such parameter";
        return false;
    });
    EXPECT_EQ(failed.outcome, Outcome::Failed);
    EXPECT_EQ(failed.payload, "no such parameter");
    EXPECT_FALSE(failed.IsPluginFault());

    const auto threw = RunIsolated([](std::string&) -> bool { throw std::runtime_error("bad chunk"); });
    EXPECT_EQ(threw.outcome, Outcome::Failed);
    EXPECT_NE(threw.payload.find("bad chunk"), std::string::npos);
}

TEST(IsolatedRun, CrashesExitsAndHangsAreNamedWithTheStepAndTheCall)
{
    const auto crashed = RunIsolated([](std::string& payload) {
        payload = "half an answer";
        kelcore::trail::SetStep("process");
        kelcore::trail::EnterCall("/plugins/Broken.so", "processReplacing");
        std::signal(SIGSEGV, SIG_DFL); // a sanitizer's handler would turn it into an abort
        std::raise(SIGSEGV);
        return true;
    });
    EXPECT_EQ(crashed.outcome, Outcome::Crashed);
    EXPECT_EQ(crashed.signal, SIGSEGV);
    EXPECT_TRUE(crashed.IsPluginFault());
    EXPECT_EQ(crashed.payload, "") << "an answer cut short is never taken";
    EXPECT_NE(crashed.Describe().find("crashed with signal 11"), std::string::npos) << crashed.Describe();
    EXPECT_NE(crashed.Describe().find("at step \"process\", in processReplacing of \"/plugins/Broken.so\""),
              std::string::npos)
        << crashed.Describe();

    const auto exited = RunIsolated([](std::string&) -> bool { std::exit(3); });
    EXPECT_EQ(exited.outcome, Outcome::Lost);
    EXPECT_EQ(exited.exitCode, 3);
    const auto vanished = RunIsolated([](std::string& payload) -> bool {
        payload = "no end mark follows";
        _exit(0);
    });
    EXPECT_EQ(vanished.outcome, Outcome::Lost) << "a clean exit without an answer is no answer";
    EXPECT_EQ(vanished.payload, "");

    // A hang is cut at the timeout, and so is whatever the plug-in started beside it.
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const auto hung = RunIsolated(
        [&](std::string&) {
            kelcore::trail::SetStep("save");
            kelcore::trail::EnterCall("/plugins/Spin.so", "effGetChunk");
            if (fork() == 0) {
                close(fds[0]);
                for (;;) {
                    pause(); // holds the pipe's write end until killed
                }
            }
            for (;;) {
                pause();
            }
            return true;
        },
        300ms);
    close(fds[1]);
    EXPECT_EQ(hung.outcome, Outcome::TimedOut);
    EXPECT_GE(hung.seconds, 0.3);
    EXPECT_LT(hung.seconds, 3.0);
    EXPECT_NE(hung.Describe().find("in effGetChunk of \"/plugins/Spin.so\""), std::string::npos) << hung.Describe();
    char byte = 0;
    EXPECT_EQ(read(fds[0], &byte, 1), 0) << "the plug-in's own process was killed with the child";
    close(fds[0]);
}

TEST(IsolatedRun, LongWorkThatMovesOnIsOnlyStoppedWhenItStalls)
{
    Options options;
    options.timeout = std::chrono::milliseconds(0);
    options.stallTimeout = 800ms; // generous: the machine may be loaded
    const auto steady = RunForked(
        [](std::string&) {
            for (int i = 0; i < 60; ++i) { // 1.2 s in all, progress every 20 ms
                const kelcore::trail::CallScope scope("/plugins/Slow.so", "processReplacing");
                std::this_thread::sleep_for(20ms);
            }
            return true;
        },
        options);
    EXPECT_EQ(steady.outcome, Outcome::Completed) << steady.Describe();

    const auto stuck = RunForked(
        [](std::string&) {
            kelcore::trail::SetStep("process");
            kelcore::trail::Beat();
            kelcore::trail::EnterCall("/plugins/Slow.so", "effGetChunk");
            for (;;) {
                pause();
            }
            return true;
        },
        options);
    EXPECT_EQ(stuck.outcome, Outcome::TimedOut);
    EXPECT_TRUE(stuck.stalled);
    EXPECT_LT(stuck.seconds, 3.0);
    EXPECT_NE(stuck.Describe().find("made no progress"), std::string::npos) << stuck.Describe();
}

TEST(IsolatedSuite, PartsRunSideBySideAndAFaultEndsOnlyItsOwn)
{
    const Work sleep = [](std::string& payload) {
        std::this_thread::sleep_for(300ms);
        payload = "slept";
        return true;
    };
    std::vector<SuitePart> parts{{"a", sleep}, {"crash", [](std::string&) -> bool { std::abort(); }},
                                 {"b", sleep}, {"hang", [](std::string&) -> bool { ::pause(); return true; }},
                                 {"c", sleep}};
    SuiteOptions options;
    options.timeout = 1s;
    options.jobs = 4;
    std::vector<std::string> heard;
    const auto start = std::chrono::steady_clock::now();
    const auto results = RunSuite(parts, options, [&](const SuitePartResult& part) { heard.push_back(part.name); });
    // One after another the sleeps alone would take 0.9 s, and the hang its whole second.
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1800ms);
    ASSERT_EQ(results.size(), parts.size());
    for (std::size_t i = 0; i < parts.size(); ++i) {
        EXPECT_EQ(results[i].name, parts[i].name);
    }
    EXPECT_EQ(results[0].result.payload, "slept");
    EXPECT_EQ(results[1].result.outcome, Outcome::Crashed);
    EXPECT_EQ(results[3].result.outcome, Outcome::TimedOut);
    EXPECT_EQ(results[4].result.outcome, Outcome::Completed);
    EXPECT_EQ(heard.size(), parts.size());
    EXPECT_EQ(heard.back(), "hang");
}
