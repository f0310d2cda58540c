// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/catalogue/PluginModuleInfoManager.h"
#include "kelaudiofilterhost/isolation/ModuleScan.h"
#include "kelaudiofilterhost/services/Strings.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace kelaudiofilterhost;
using namespace kelaudiofilterhost::isolation;

namespace {

ModuleScanResult Scan(const std::string& path, double timeoutSeconds = 10.0,
                      const std::filesystem::path& helper = KAFH_ISOLATE_HELPER_BUILT)
{
    ModuleScanOptions options;
    options.timeoutSeconds = timeoutSeconds;
    options.helper = helper;
    return ScanModule(PluginLocator(VST, kelcore::UTF8to16(path)), options);
}

} // namespace

TEST(ModuleScan, DescribesPlugInsAndTellsModulesThatAreNoneApart)
{
    const auto gain = Scan(KAFH_TESTPLUGINS_VST2_DIR "/KafhGain.so");
    ASSERT_EQ(gain.outcome, ModuleScanOutcome::Described) << gain.detail << "; " << gain.run.Describe();
    EXPECT_NE(gain.xml.find("KafhGain"), std::string::npos);
    EXPECT_EQ(PluginModuleInfoManager::GetInstance().GetPluginLocators().size(), 0u)
        << "the caller's catalogue is the caller's to change";

    const auto text = Scan(KAFH_TESTPLUGINS_VST2_DIR "/NotALibrary.so");
    EXPECT_EQ(text.outcome, ModuleScanOutcome::NotDescribed) << text.detail << "; " << text.run.Describe();
    EXPECT_FALSE(IsBanOutcome(text.outcome));
}

TEST(ModuleScan, ModulesThatCrashOrHangAreBannedWithTheStepNamed)
{
    const auto crashed = Scan(KAFH_TESTPLUGINS_VST2_HOSTILE_DIR "/KafhCrashOnLoad.so");
    EXPECT_EQ(crashed.outcome, ModuleScanOutcome::Crashed) << crashed.detail;
    EXPECT_TRUE(IsBanOutcome(crashed.outcome));
    EXPECT_NE(crashed.detail.find("killed by signal 11"), std::string::npos) << crashed.detail;
    EXPECT_NE(crashed.run.Describe().find("at step \"scan\""), std::string::npos) << crashed.run.Describe();

    const auto hung = Scan(KAFH_TESTPLUGINS_VST2_HOSTILE_DIR "/KafhHangOnLoad.so", 0.5);
    EXPECT_EQ(hung.outcome, ModuleScanOutcome::TimedOut) << hung.detail;
    EXPECT_TRUE(IsBanOutcome(hung.outcome));
    EXPECT_LT(hung.seconds, 5.0);
}

TEST(ModuleScan, FailuresBeforeTheModuleIsLoadedAreTheHostsAndNeverBan)
{
    // The test helper's scan job dies before it loads anything.
    const auto died = Scan(KAFH_TESTPLUGINS_VST2_DIR "/KafhGain.so", 10.0, KAFH_ISOLATION_TEST_HELPER);
    EXPECT_EQ(died.outcome, ModuleScanOutcome::HostFailed) << died.detail;
    EXPECT_FALSE(IsBanOutcome(died.outcome));
    EXPECT_NE(died.detail.find("before it loaded the module"), std::string::npos) << died.detail;

    const auto list = std::filesystem::path(::testing::TempDir()) / "kafh-malformed-static-list.xml";
    std::ofstream(list) << "<not closed";
    ModuleScanOptions options;
    options.helper = KAFH_ISOLATE_HELPER_BUILT;
    options.staticBannedList = list;
    const auto unreadable = ScanModule(PluginLocator(VST, kelcore::UTF8to16(KAFH_TESTPLUGINS_VST2_DIR "/KafhGain.so")),
                                       options);
    std::filesystem::remove(list);
    EXPECT_EQ(unreadable.outcome, ModuleScanOutcome::HostFailed) << unreadable.detail;
    EXPECT_NE(unreadable.detail.find("static banned list"), std::string::npos) << unreadable.detail;

    options.helper = "/nonexistent/kafh-isolate";
    EXPECT_EQ(ScanModule(PluginLocator(VST, u"/x.so"), options).outcome, ModuleScanOutcome::NotStarted);
}
