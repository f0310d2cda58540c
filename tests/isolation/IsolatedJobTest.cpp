// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/isolation/IsolatedJob.h"
#include "kelaudiofilterhost/services/Config.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <unistd.h>

using namespace kelaudiofilterhost::isolation;
using namespace std::chrono_literals;

namespace {

Result RunTestJob(const std::string& job, const std::vector<std::string>& arguments = {},
                  std::chrono::milliseconds timeout = 5s)
{
    JobOptions options;
    options.timeout = timeout;
    options.helper = KAFH_ISOLATION_TEST_HELPER;
    return RunJob(job, arguments, options);
}

} // namespace

TEST(IsolatedJob, AnswersComeBackWholeWithTheCallersContextAndFailuresAreNotFaults)
{
    kelcore::config::SetClientName(u"job-test");
    const auto completed = RunTestJob("echo", {"0123456789abcdef", "65536"}); // far more than a pipe holds
    EXPECT_EQ(completed.outcome, Outcome::Completed) << completed.Describe();
    std::string expected = "job-test\n";
    for (int i = 0; i < 65536; ++i) {
        expected += "0123456789abcdef";
    }
    EXPECT_TRUE(completed.payload == expected) << completed.payload.size() << " bytes";

    const auto failed = RunTestJob("fail");
    EXPECT_EQ(failed.outcome, Outcome::Failed);
    EXPECT_EQ(failed.payload, "no such parameter");
    EXPECT_FALSE(failed.IsPluginFault());

    const auto unknown = RunTestJob("no-such-job");
    EXPECT_EQ(unknown.outcome, Outcome::Failed);
    EXPECT_NE(unknown.payload.find("no job \"no-such-job\""), std::string::npos) << unknown.payload;
}

TEST(IsolatedJob, CrashesExitsAndHangsAreNamedWithTheStepAndTheCall)
{
    const auto crashed = RunTestJob("crash");
    EXPECT_EQ(crashed.outcome, Outcome::Crashed);
    EXPECT_EQ(crashed.signal, SIGSEGV);
    EXPECT_EQ(crashed.payload, "") << "an answer cut short is never taken";
    EXPECT_NE(crashed.Describe().find("at step \"process\", in processReplacing of \"/plugins/Broken.so\""),
              std::string::npos)
        << crashed.Describe();

    const auto exited = RunTestJob("exit");
    EXPECT_EQ(exited.outcome, Outcome::Lost);
    EXPECT_EQ(exited.exitCode, 3);

    // A hang is cut at the timeout, and so is the process the plug-in started beside it, which
    // inherited this pipe's write end.
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    const auto hung = RunTestJob("spin", {}, 300ms);
    close(fds[1]);
    EXPECT_EQ(hung.outcome, Outcome::TimedOut);
    EXPECT_GE(hung.seconds, 0.3);
    EXPECT_LT(hung.seconds, 3.0);
    EXPECT_NE(hung.Describe().find("at step \"save\", in effGetChunk of \"/plugins/Spin.so\""), std::string::npos)
        << hung.Describe();
    char byte = 0;
    EXPECT_EQ(read(fds[0], &byte, 1), 0) << "the plug-in's own process was killed with the helper";
    close(fds[0]);
}

TEST(IsolatedJob, LongJobsAreStoppedWhenTheyStall)
{
    JobOptions options;
    options.timeout = std::chrono::milliseconds(0);
    options.stallTimeout = 300ms;
    options.helper = KAFH_ISOLATION_TEST_HELPER;
    const auto stuck = RunJob("spin", {}, options);
    EXPECT_EQ(stuck.outcome, Outcome::TimedOut);
    EXPECT_TRUE(stuck.stalled);
    EXPECT_LT(stuck.seconds, 3.0);
    EXPECT_NE(stuck.Describe().find("made no progress"), std::string::npos) << stuck.Describe();
}

TEST(IsolatedJob, AMissingHelperIsNotStartedAndTheVariableNamesTheHelper)
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
}

TEST(IsolatedJob, TheSharedLibraryFindsTheHelperInItsOwnFolder)
{
    unsetenv(kHelperEnvironmentVariable);
    const auto found = RunTestJob("find-helper");
    ASSERT_EQ(found.outcome, Outcome::Completed) << found.Describe();
    EXPECT_EQ(std::filesystem::path(found.payload), std::filesystem::path(KAFH_ISOLATE_HELPER_BUILT));
}
