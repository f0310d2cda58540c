// SPDX-License-Identifier: GPL-3.0-or-later
// The same misbehaviours through both ways of isolating work: a forked child, and a job of the helper.
#include "kelaudiofilterhost/isolation/IsolatedJob.h"
#include "kelaudiofilterhost/isolation/IsolatedRun.h"
#include "kelaudiofilterhost/isolation/IsolatedSuite.h"
#include "kelaudiofilterhost/services/Config.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <stdexcept>
#include <thread>
#include <unistd.h>

using namespace kelaudiofilterhost::isolation;
using namespace std::chrono_literals;

namespace {

// What the test helper's jobs of the same names do.
const std::map<std::string, Work> kWorks{
    {"fail",
     [](std::string& payload) {
         payload = "no such parameter";
         return false;
     }},
    {"crash",
     [](std::string& payload) {
         payload = "half an answer";
         kelcore::trail::SetStep("process");
         kelcore::trail::EnterCall("/plugins/Broken.so", "processReplacing");
         std::signal(SIGSEGV, SIG_DFL); // a sanitizer's handler would turn it into an abort
         std::raise(SIGSEGV);
         return true;
     }},
    {"exit", [](std::string&) -> bool { std::exit(3); }},
    {"spin",
     [](std::string&) {
         kelcore::trail::SetStep("save");
         kelcore::trail::EnterCall("/plugins/Spin.so", "effGetChunk");
         if (fork() == 0) {
             for (;;) {
                 pause(); // holds what it inherited until killed
             }
         }
         for (;;) {
             pause();
         }
         return true;
     }},
};

using Runner = std::function<Result(const std::string& name, Options options)>;

const std::map<std::string, Runner> kRunners{
    {"forked", [](const std::string& name, Options options) { return RunForked(kWorks.at(name), options); }},
    {"job",
     [](const std::string& name, Options options) {
         JobOptions job;
         job.timeout = options.timeout;
         job.stallTimeout = options.stallTimeout;
         job.helper = KAFH_ISOLATION_TEST_HELPER;
         return RunJob(name, {}, job);
     }},
};

} // namespace

TEST(Isolated, FailuresCrashesExitsAndHangsAreNamedWithTheStepAndTheCall)
{
    for (const auto& [how, run] : kRunners) {
        SCOPED_TRACE(how);
        const auto failed = run("fail", Options{5s});
        EXPECT_EQ(failed.outcome, Outcome::Failed);
        EXPECT_EQ(failed.payload, "no such parameter");
        EXPECT_FALSE(failed.IsPluginFault());

        const auto crashed = run("crash", Options{5s});
        EXPECT_EQ(crashed.outcome, Outcome::Crashed);
        EXPECT_EQ(crashed.signal, SIGSEGV);
        EXPECT_TRUE(crashed.IsPluginFault());
        EXPECT_EQ(crashed.payload, "") << "an answer cut short is never taken";
        EXPECT_NE(crashed.Describe().find("crashed with signal 11"), std::string::npos) << crashed.Describe();
        EXPECT_NE(crashed.Describe().find("at step \"process\", in processReplacing of \"/plugins/Broken.so\""),
                  std::string::npos)
            << crashed.Describe();

        const auto exited = run("exit", Options{5s});
        EXPECT_EQ(exited.outcome, Outcome::Lost);
        EXPECT_EQ(exited.exitCode, 3);

        // A hang is cut at the timeout, and so is the process the plug-in started beside it, which
        // inherited this pipe's write end.
        int fds[2];
        ASSERT_EQ(pipe(fds), 0);
        const auto hung = run("spin", Options{300ms});
        close(fds[1]);
        EXPECT_EQ(hung.outcome, Outcome::TimedOut);
        EXPECT_GE(hung.seconds, 0.3);
        EXPECT_LT(hung.seconds, 3.0);
        EXPECT_NE(hung.Describe().find("at step \"save\", in effGetChunk of \"/plugins/Spin.so\""),
                  std::string::npos)
            << hung.Describe();
        char byte = 0;
        EXPECT_EQ(read(fds[0], &byte, 1), 0) << "the plug-in's own process was killed with the child";
        close(fds[0]);

        Options stalling{0ms};
        stalling.stallTimeout = 300ms;
        const auto stuck = run("spin", stalling);
        EXPECT_EQ(stuck.outcome, Outcome::TimedOut);
        EXPECT_TRUE(stuck.stalled);
        EXPECT_LT(stuck.seconds, 3.0);
        EXPECT_NE(stuck.Describe().find("made no progress"), std::string::npos) << stuck.Describe();
    }
}

TEST(Isolated, AnswersComeBackWholeWithTheCallersContext)
{
    const std::string big(1 << 20, 'x'); // far more than a pipe holds
    const auto forked = RunForked(
        [&](std::string& payload) {
            payload = big;
            return true;
        },
        Options{5s});
    EXPECT_EQ(forked.outcome, Outcome::Completed) << forked.Describe();
    EXPECT_TRUE(forked.payload == big) << forked.payload.size() << " bytes";

    const auto threw = RunForked([](std::string&) -> bool { throw std::runtime_error("bad chunk"); }, Options{5s});
    EXPECT_EQ(threw.outcome, Outcome::Failed);
    EXPECT_NE(threw.payload.find("bad chunk"), std::string::npos);

    const auto vanished = RunForked(
        [](std::string& payload) -> bool {
            payload = "no end mark follows";
            _exit(0);
        },
        Options{5s});
    EXPECT_EQ(vanished.outcome, Outcome::Lost) << "a clean exit without an answer is no answer";
    EXPECT_EQ(vanished.payload, "");

    kelcore::config::SetClientName(u"job-test");
    JobOptions options;
    options.helper = KAFH_ISOLATION_TEST_HELPER;
    const auto job = RunJob("echo", {"0123456789abcdef", "65536"}, options);
    EXPECT_EQ(job.outcome, Outcome::Completed) << job.Describe();
    std::string expected = "job-test\n";
    for (int i = 0; i < 65536; ++i) {
        expected += "0123456789abcdef";
    }
    EXPECT_TRUE(job.payload == expected) << job.payload.size() << " bytes";

    const auto unknown = RunJob("no-such-job", {}, options);
    EXPECT_EQ(unknown.outcome, Outcome::Failed);
    EXPECT_NE(unknown.payload.find("no job \"no-such-job\""), std::string::npos) << unknown.payload;
}

TEST(IsolatedRun, LongWorkThatMovesOnIsNotStopped)
{
    Options options{0ms};
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
}

TEST(IsolatedJob, TheHelperIsFoundBesideTheSharedLibraryOrThroughTheVariable)
{
    JobOptions options;
    options.helper = "/nonexistent/kafh-isolate";
    const auto missing = RunJob("echo", {"x", "1"}, options);
    EXPECT_EQ(missing.outcome, Outcome::NotStarted);
    EXPECT_FALSE(missing.IsPluginFault());
    EXPECT_NE(missing.detail.find("/nonexistent/kafh-isolate"), std::string::npos) << missing.detail;

    ASSERT_EQ(setenv(kHelperEnvironmentVariable, KAFH_ISOLATION_TEST_HELPER, 1), 0);
    EXPECT_EQ(FindHelper(), KAFH_ISOLATION_TEST_HELPER);
    const auto named = RunJob("echo", {"x", "2"}, JobOptions{});
    unsetenv(kHelperEnvironmentVariable);
    EXPECT_EQ(named.outcome, Outcome::Completed) << named.Describe();
    EXPECT_EQ(named.payload.substr(named.payload.size() - 2), "xx");
    // This test program links the library statically and has no helper beside it.
    EXPECT_EQ(FindHelper(), "");

    options.helper = KAFH_ISOLATION_TEST_HELPER;
    const auto found = RunJob("find-helper", {}, options);
    ASSERT_EQ(found.outcome, Outcome::Completed) << found.Describe();
    EXPECT_EQ(std::filesystem::path(found.payload), std::filesystem::path(KAFH_ISOLATE_HELPER_BUILT));
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
