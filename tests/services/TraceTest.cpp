// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/services/Trace.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace kelcore::debug {
namespace {

// Captures trace lines and leaves the configuration and the environment as they were.
class TraceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        unsetenv("KAFH_TRACE");
        SetTraceSink([this](std::string_view line) {
            std::lock_guard lock(mMutex);
            mLines.emplace_back(line);
        });
    }
    void TearDown() override
    {
        SetTraceSink({});
        unsetenv("KAFH_TRACE");
        ResetTraceConfiguration();
    }
    std::vector<std::string> Lines()
    {
        std::lock_guard lock(mMutex);
        return mLines;
    }

private:
    std::mutex mMutex;
    std::vector<std::string> mLines;
};

std::string Prefix(std::uint64_t thread, const char* category, int level)
{
    return "<" + std::to_string(thread) + "> <" + category + "> <" + std::to_string(level) + "> ";
}

TEST_F(TraceTest, WritesOneLineInTheLibraryFormatWhenEnabled)
{
    SetTraceConfiguration("VST3PluginModule::Load=5");
    const std::string path = "/x.vst3";
    KAFH_TRACE("VST3PluginModule::Load", 5, "\"" << path << "\": GetPluginFactory returned null");
    KAFH_TRACE("VST3PluginModule::Load", 6, "too detailed");
    KAFH_TRACE("VST3PluginModule::Unload", 1, "other category");

    std::uint64_t otherThread = 0;
    std::thread([&otherThread] {
        otherThread = threads::GetCurrentThreadID();
        KAFH_TRACE("VST3PluginModule::Load", 2, "from another thread " << 42 << ' ' << 0.5);
    }).join();

    EXPECT_EQ(threads::GetCurrentThreadID(), static_cast<std::uint64_t>(::gettid()));
    EXPECT_NE(otherThread, threads::GetCurrentThreadID());
    const std::vector<std::string> expected = {
        Prefix(threads::GetCurrentThreadID(), "VST3PluginModule::Load", 5) + "\"/x.vst3\": GetPluginFactory returned null\n",
        Prefix(otherThread, "VST3PluginModule::Load", 2) + "from another thread 42 0.5\n",
    };
    EXPECT_EQ(Lines(), expected);
}

TEST_F(TraceTest, RulesEnableCategoriesUpToTheirLevel)
{
    struct Case {
        const char* configuration;
        const char* category;
        int level;
        bool enabled;
    };
    const Case cases[] = {
        {"", "A", 0, false},
        {"A=5", "A", 5, true},
        {"A=5", "A", 6, false},
        {"A=5", "B", 1, false},
        {"A=5", "AB", 1, false},
        {"*=3", "Anything::At", 3, true},
        {"*=3", "Anything::At", 4, false},
        {"A", "A", 1000, true},
        {" A = 2 , B=4", "B", 4, true},
        {" A = 2 , B=4", "A", 2, true},
        {"VST=5", "VST::Load", 5, true},
        {"VST=5", "VSTAudioFilter::Open", 5, false},
        {"VST*=5", "VSTAudioFilter::Open", 5, true},
        {"*=5,Noisy=0", "Noisy", 1, false},
        {"*=5,Noisy=0", "Quiet", 5, true},
        {"Noisy=0,*=5", "Noisy", 1, false},
        {"A=5,A=1", "A", 2, false},
        {"VST3=1,VST3::Load=5", "VST3::Load", 5, true},
        {"A=x,B=5", "A", 0, false},
        {"A=5x,B=5", "A", 0, false},
        {"=5,,B=5", "B", 5, true},
        {"A=-1", "A", 0, false},
    };
    for (const Case& c : cases) {
        SetTraceConfiguration(c.configuration);
        EXPECT_EQ(TraceEnabled(c.category, c.level, false), c.enabled)
            << "\"" << c.configuration << "\" " << c.category << " " << c.level;
    }
}

TEST_F(TraceTest, EnvironmentRulesAfterRefreshUnlessConfiguredThroughTheAPI)
{
    ResetTraceConfiguration();
    EXPECT_FALSE(TraceEnabled("Env::Category", 3, true));

    setenv("KAFH_TRACE", "Env::Category=3", 1);
    const std::uint32_t before = TraceChangeCount();
    EXPECT_TRUE(TraceEnabled("Env::Category", 3, true));
    EXPECT_FALSE(TraceEnabled("Env::Category", 4, true));
    EXPECT_NE(TraceChangeCount(), before) << "a changed environment must reach cached trace sites";

    // Set through the API, the configuration stays until reset, whatever the environment says.
    SetTraceConfiguration("");
    setenv("KAFH_TRACE", "*=9", 1);
    EXPECT_FALSE(TraceEnabled("Env::Category", 1, true));
    ResetTraceConfiguration();
    EXPECT_TRUE(TraceEnabled("Env::Category", 9, false));
}

TEST_F(TraceTest, SiteKeepsItsDecisionUntilTheChangeCountMoves)
{
    static TraceSite site("Cached::Site", 5);
    SetTraceConfiguration("Cached::Site=5");
    EXPECT_TRUE(site.IsEnabled());

    std::uint32_t count = TraceChangeCount();
    SetTraceConfiguration("Cached::Site=4");
    EXPECT_EQ(TraceChangeCount(), count + 1);
    EXPECT_FALSE(site.IsEnabled());

    // An environment change is not seen until someone refreshes: proof that the site caches.
    ResetTraceConfiguration();
    EXPECT_FALSE(site.IsEnabled());
    setenv("KAFH_TRACE", "Cached::*", 1);
    EXPECT_FALSE(site.IsEnabled());
    count = TraceChangeCount();
    EXPECT_FALSE(TraceEnabled("Unrelated", 1, true));
    EXPECT_NE(TraceChangeCount(), count);
    EXPECT_TRUE(site.IsEnabled());

    site.Write("written");
    ASSERT_EQ(Lines().size(), 1u);
    EXPECT_EQ(Lines()[0], Prefix(threads::GetCurrentThreadID(), "Cached::Site", 5) + "written\n");
}

TEST_F(TraceTest, TraceEndsLinesAndDebugTraceWritesTextAsItIs)
{
    Trace("no end of line");
    Trace("with end of line\n");
    DebugTrace("struct Preset {\n");
    DebugTrace("};");
    const std::vector<std::string> expected = {"no end of line\n", "with end of line\n", "struct Preset {\n", "};"};
    EXPECT_EQ(Lines(), expected);
}

TEST_F(TraceTest, LinesOfManyThreadsReachStandardErrorWhole)
{
    SetTraceSink({});
    SetTraceConfiguration("Parallel=5");
    char path[] = "/tmp/kafh-trace-XXXXXX";
    const int file = ::mkstemp(path);
    ASSERT_GE(file, 0);
    std::fflush(stderr);
    const int savedError = ::dup(STDERR_FILENO);
    ::dup2(file, STDERR_FILENO);

    constexpr int kThreads = 4;
    constexpr int kLinesEach = 300;
    const std::string payload(200, 'x');
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&payload] {
            for (int i = 0; i < kLinesEach; ++i) {
                KAFH_TRACE("Parallel", 5, i << ' ' << payload);
            }
        });
    }
    for (std::thread& thread : threads) {
        thread.join();
    }
    ::dup2(savedError, STDERR_FILENO);
    ::close(savedError);
    ::close(file);

    std::ifstream in(path);
    const std::regex line("<[0-9]+> <Parallel> <5> [0-9]+ x{200}");
    int count = 0;
    for (std::string text; std::getline(in, text); ++count) {
        ASSERT_TRUE(std::regex_match(text, line)) << text;
    }
    EXPECT_EQ(count, kThreads * kLinesEach);
    ::unlink(path);
}

} // namespace
} // namespace kelcore::debug
