// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/services/Trace.h"

#include "kelaudiofilterhost/services/Config.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include <unistd.h>

using namespace kelcore;
using namespace kelcore::debug;

namespace {

// Captures trace lines (one tracing thread at a time) and leaves the configuration and the environment as they were.
class TraceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        unsetenv("KAFH_TRACE");
        SetTraceSink([this](std::string_view line) { mLines.emplace_back(line); });
    }
    void TearDown() override
    {
        SetTraceSink({});
        unsetenv("KAFH_TRACE");
        ResetTraceConfiguration();
    }

    std::vector<std::string> mLines;
};

} // namespace

TEST_F(TraceTest, WritesOneLineInTheLibraryFormatWhenEnabled)
{
    SetTraceConfiguration("VST3PluginModule::Load=5");
    KAFH_TRACE("VST3PluginModule::Load", 5, '"' << std::string("/x.vst3") << "\": GetPluginFactory returned null");
    KAFH_TRACE("VST3PluginModule::Load", 6, "too detailed");
    KAFH_TRACE("VST3PluginModule::Unload", 1, "other category");
    std::uint64_t other = 0;
    std::thread([&other] {
        other = threads::GetCurrentThreadID();
        KAFH_TRACE("VST3PluginModule::Load", 2, "from another thread " << 42 << ' ' << 0.5);
    }).join();

    const std::uint64_t self = threads::GetCurrentThreadID();
    EXPECT_EQ(self, static_cast<std::uint64_t>(::gettid()));
    EXPECT_NE(other, self);
    EXPECT_EQ(mLines, (std::vector<std::string>{
        "<" + std::to_string(self) + "> <VST3PluginModule::Load> <5> \"/x.vst3\": GetPluginFactory returned null\n",
        "<" + std::to_string(other) + "> <VST3PluginModule::Load> <2> from another thread 42 0.5\n"}));
}

TEST_F(TraceTest, RulesEnableCategoriesUpToTheirLevel)
{
    // Configuration, category, level, whether enabled.
    const std::tuple<const char*, const char*, int, bool> cases[] = {
        {"", "A", 0, false},                         {"A=5", "A", 6, false},
        {"A=5", "AB", 1, false},                     {"*=3", "Anything::At", 3, true},
        {"A", "A", 1000, true},                      {" A = 2 , B=4", "A", 2, true},
        {"VST=5", "VST::Load", 5, true},             {"VST=5", "VSTAudioFilter::Open", 5, false},
        {"VST*=5", "VSTAudioFilter::Open", 5, true}, {"*=5,Noisy=0", "Noisy", 1, false},
        {"*=5,Noisy=0", "Quiet", 5, true},           {"Noisy=0,*=5", "Noisy", 1, false},
        {"A=5,A=1", "A", 2, false},                  {"VST3=1,VST3::Load=5", "VST3::Load", 5, true},
        {"A=5x,B=5", "A", 0, false},                 {"=5,,B=5", "B", 5, true},
    };
    for (const auto& [configuration, category, level, enabled] : cases) {
        SetTraceConfiguration(configuration);
        EXPECT_EQ(TraceEnabled(category, level, false), enabled)
            << '"' << configuration << "\" " << category << ' ' << level;
    }
}

TEST_F(TraceTest, EnvironmentChangesReachCachedSitesAfterARefreshUnlessConfiguredThroughTheAPI)
{
    static TraceSite site("Env::Category", 3);
    EXPECT_FALSE(site.IsEnabled());
    setenv("KAFH_TRACE", "Env::Category=3", 1);
    EXPECT_FALSE(site.IsEnabled()) << "the site keeps its decision until the change count moves";
    const std::uint32_t count = TraceChangeCount();
    EXPECT_TRUE(TraceEnabled("Env::Category", 3, true));
    EXPECT_EQ(TraceChangeCount(), count + 1);
    EXPECT_TRUE(site.IsEnabled());

    // Set through the API, the configuration stays until reset, whatever the environment says.
    SetTraceConfiguration("Other=5");
    EXPECT_EQ(TraceChangeCount(), count + 2);
    EXPECT_FALSE(site.IsEnabled());
    setenv("KAFH_TRACE", "*=9", 1);
    EXPECT_FALSE(TraceEnabled("Env::Category", 1, true));
    ResetTraceConfiguration();
    EXPECT_TRUE(TraceEnabled("Env::Category", 9, false));
}

TEST_F(TraceTest, TraceEndsLinesDebugTraceWritesTextAsItIsAndThrowErrorTracesAtLevelOne)
{
    Trace("no end of line");
    Trace("with end of line\n");
    DebugTrace("struct Preset {\n");
    DebugTrace("};");
    SetTraceConfiguration("kelcore::ThrowError=0");
    config::ThrowError("not traced");
    SetTraceConfiguration("kelcore::ThrowError=1");
    config::ThrowError("index 7 out of range");
    const std::string thread = std::to_string(threads::GetCurrentThreadID());
    EXPECT_EQ(mLines, (std::vector<std::string>{"no end of line\n", "with end of line\n", "struct Preset {\n", "};",
                                                "<" + thread + "> <kelcore::ThrowError> <1> index 7 out of range\n"}));
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
    std::vector<std::jthread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([] {
            for (int i = 0; i < 300; ++i) {
                KAFH_TRACE("Parallel", 5, i << ' ' << std::string(200, 'x'));
            }
        });
    }
    threads.clear(); // joins
    ::dup2(savedError, STDERR_FILENO);
    ::close(savedError);
    ::close(file);
    std::ifstream in(path);
    const std::regex line("<[0-9]+> <Parallel> <5> [0-9]+ x{200}");
    int count = 0;
    for (std::string text; std::getline(in, text); ++count) {
        ASSERT_TRUE(std::regex_match(text, line)) << text;
    }
    EXPECT_EQ(count, 4 * 300);
    ::unlink(path);
}
