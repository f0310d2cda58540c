// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/catalogue/AudioFilterDescriptorManager.h"
#include "kelaudiofilterhost/catalogue/PluginModuleInfoManager.h"
#include "kelaudiofilterhost/isolation/ParallelScan.h"
#include "kelaudiofilterhost/services/Strings.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

using namespace kelaudiofilterhost;
using namespace kelaudiofilterhost::isolation;

namespace {

std::vector<PluginLocator> Modules(TechnologyType type, const std::string& folder, const std::string& extension)
{
    std::vector<std::filesystem::path> paths;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        if (entry.path().extension() == extension) {
            paths.push_back(entry.path());
        }
    }
    std::sort(paths.begin(), paths.end());
    std::vector<PluginLocator> modules;
    for (const auto& path : paths) {
        modules.emplace_back(type, kelcore::UTF8to16(path.string()));
    }
    return modules;
}

struct Outcome {
    std::string catalogue;
    std::vector<PluginLocator> faulted;
    std::size_t mostRunning = 0;
    std::size_t saves = 0;
    ScanReport report;
};

Outcome ScanAll(const std::vector<PluginLocator>& modules, unsigned jobs, const std::filesystem::path& record = {})
{
    auto& catalogue = PluginModuleInfoManager::GetInstance();
    catalogue.ClearAll(true);
    ParallelScanOptions options;
    options.helper = KAFH_ISOLATE_HELPER_BUILT;
    options.timeoutSeconds = 1.0;
    options.jobs = jobs;
    options.inProgressRecord = record;
    Outcome outcome;
    std::size_t delivered = 0;
    ScanCallbacks callbacks;
    callbacks.progress = [&](const ScanProgress& progress) {
        outcome.mostRunning = std::max(outcome.mostRunning, progress.running.size());
    };
    callbacks.scanned = [&](const PluginLocator& module, const ModuleScanResult&, std::string&) {
        EXPECT_EQ(module, modules.at(delivered++)) << "results come in the order given";
        return true;
    };
    callbacks.save = [&](std::string&) {
        ++outcome.saves;
        return true;
    };
    outcome.report = ScanModules(modules, options, callbacks);
    outcome.catalogue = catalogue.GetConfigurationAsXML();
    outcome.faulted = outcome.report.faulted;
    catalogue.ClearAll(true);
    return outcome;
}

} // namespace

TEST(ParallelScan, GivesTheCatalogueAndFaultsOfASerialScanWhateverTheNumberOfChildren)
{
    // The hostile modules sit between well-behaved ones, so reused children crash and hang.
    auto modules = Modules(VST, KAFH_TESTPLUGINS_VST2_DIR, ".so");
    const auto hostile = Modules(VST, KAFH_TESTPLUGINS_VST2_HOSTILE_DIR, ".so");
    ASSERT_GE(modules.size(), 4u);
    modules.insert(modules.begin() + 2, hostile.begin(), hostile.end());

    const auto serial = ScanAll(modules, 1);
    ASSERT_TRUE(serial.report.completed) << serial.report.error;
    EXPECT_EQ(serial.mostRunning, 1u);
    const std::vector<PluginLocator> expected{
        PluginLocator(VST, kelcore::UTF8to16(KAFH_TESTPLUGINS_VST2_HOSTILE_DIR "/KafhCrashOnLoad.so")),
        PluginLocator(VST, kelcore::UTF8to16(KAFH_TESTPLUGINS_VST2_HOSTILE_DIR "/KafhHangOnLoad.so"))};
    EXPECT_EQ(serial.faulted, expected) << "the modules that crash or hang on loading, none of the others";
    EXPECT_NE(serial.catalogue.find("KafhGain"), std::string::npos);
    EXPECT_GE(serial.saves, 1u);

    const auto parallel = ScanAll(modules, 3);
    ASSERT_TRUE(parallel.report.completed) << parallel.report.error;
    EXPECT_EQ(parallel.mostRunning, 3u);
    EXPECT_EQ(parallel.catalogue, serial.catalogue);
    EXPECT_EQ(parallel.faulted, serial.faulted);
}

TEST(ParallelScan, AModuleIsNotBlamedForWhatTheOneBeforeItDidToItsChild)
{
    std::vector<PluginLocator> modules;
    for (const char16_t* path : {u"/m/A.so", u"/m/Poison.so", u"/m/Victim.so", u"/m/Crash.so", u"/m/B.so"}) {
        modules.emplace_back(VST, path);
    }
    ParallelScanOptions options;
    options.helper = KAFH_ISOLATION_TEST_HELPER;
    options.jobs = 1;
    std::vector<ModuleScanOutcome> outcomes;
    ScanCallbacks callbacks;
    callbacks.scanned = [&](const PluginLocator&, const ModuleScanResult& result, std::string&) {
        outcomes.push_back(result.outcome);
        return true;
    };
    const auto report = ScanModules(modules, options, callbacks);
    ASSERT_TRUE(report.completed) << report.error;
    // Victim crashed in the child Poison had damaged and was described in a fresh one; Crash crashed twice.
    EXPECT_EQ(report.faulted, std::vector<PluginLocator>{modules[3]});
    ASSERT_EQ(outcomes.size(), modules.size());
    EXPECT_EQ(outcomes[2], ModuleScanOutcome::NotDescribed);
    EXPECT_EQ(outcomes[3], ModuleScanOutcome::Crashed);
    EXPECT_EQ(outcomes[4], ModuleScanOutcome::NotDescribed);
}

TEST(ParallelScan, TheNextScanLearnsWhatAKilledScanWasTrying)
{
    const auto record = std::filesystem::path(::testing::TempDir()) / "kafh-scan-in-progress";
    const PluginLocator gain(VST, kelcore::UTF8to16(KAFH_TESTPLUGINS_VST2_DIR "/KafhGain.so"));
    // What a scan killed while it tried the module leaves behind.
    {
        std::ofstream out(record, std::ios::binary);
        const auto path = kelcore::UTF16to8(gain.GetPath());
        out << static_cast<int>(VST) << ' ' << path.size() << '\n' << path;
    }
    ASSERT_EQ(ReadInProgressRecord(record), std::vector<PluginLocator>{gain});

    const auto outcome = ScanAll({gain}, 2, record);
    ASSERT_TRUE(outcome.report.completed) << outcome.report.error;
    EXPECT_EQ(outcome.report.interrupted, std::vector<PluginLocator>{gain});
    EXPECT_TRUE(outcome.faulted.empty());
    EXPECT_FALSE(std::filesystem::exists(record)) << "a scan that ends removes its record";
}

TEST(ParallelScan, NoHelperStopsTheScanWithoutBlamingAModule)
{
    ParallelScanOptions options;
    options.helper = "/nonexistent/kafh-isolate";
    const auto report = ScanModules({PluginLocator(VST, u"/x.so")}, options, {});
    EXPECT_FALSE(report.completed);
    EXPECT_NE(report.error.find("/x.so"), std::string::npos) << report.error;
    EXPECT_TRUE(report.faulted.empty());
}
