// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/kafh/ScanCommand.h"

#include "kelaudiofilterhost/catalogue/AudioFilterDescriptorManager.h"
#include "kelaudiofilterhost/catalogue/BannedPluginManager.h"
#include "kelaudiofilterhost/catalogue/PluginModuleInfoManager.h"
#include "kelaudiofilterhost/isolation/ParallelScan.h"
#include "kelaudiofilterhost/services/File.h"
#include "kelaudiofilterhost/services/Trace.h"
#include "kelaudiofilterhost/vst3/VST3Technology.h"
#include "tools/kafh/Console.h"
#include "tools/kafh/FilterLookup.h"
#include "tools/kafh/Settings.h"

#include <chrono>
#include <filesystem>
#include <iostream>
#include <system_error>

namespace kafh {

namespace {

using namespace kelaudiofilterhost;
using isolation::ModuleScanOutcome;

// Beside the catalogue: names the modules a running scan is trying.
constexpr const char* kInProgressFile = "ScanInProgress";

std::string Plural(std::size_t count, const char* word)
{
    return std::to_string(count) + " " + word + (count == 1 ? "" : "s");
}

std::string OutcomeText(const isolation::ModuleScanResult& result)
{
    switch (result.outcome) {
    case ModuleScanOutcome::Crashed:
        return "crashed while being scanned: " + result.detail;
    case ModuleScanOutcome::TimedOut:
        return "hung while being scanned: " + result.detail;
    case ModuleScanOutcome::AbnormalExit:
        return "ended the scan abnormally: " + result.detail;
    default:
        return result.detail;
    }
}

bool ModuleExists(const PluginLocator& locator)
{
    std::error_code status;
    return std::filesystem::exists(kelcore::filesupport::ToPath(locator.GetPath()), status);
}

bool Selected(const ScanOptions& options, TechnologyType type)
{
    return options.technologies.empty() || options.technologies.count(type) != 0;
}

// Collects from the given folders instead of the technologies' own, which are put back afterwards
// so that the catalogue keeps its folders.
std::vector<PluginLocator> CollectCandidates(const ScanOptions& options)
{
    auto& catalogue = PluginModuleInfoManager::GetInstance();
    std::vector<std::pair<PluginModuleInfoManager::TechnologyPtr, std::vector<UTF16String>>> saved;
    if (!options.directories.empty()) {
        std::vector<UTF16String> given;
        for (const auto& directory : options.directories) {
            given.push_back(kelcore::filesupport::Dir(directory).FullPath());
        }
        for (const auto& technology : catalogue.GetPluginTechnologies()) {
            saved.emplace_back(technology,
                               std::vector<UTF16String>(technology->DirectoryBegin(), technology->DirectoryEnd()));
            technology->RemoveAllPluginDirectories();
            if (Selected(options, technology->GetType())) {
                technology->AddPluginDirectories(given);
            }
        }
    }
    std::vector<PluginLocator> removed;
    const auto collected = catalogue.CollectPotentialPlugins(!options.rescan, removed);
    for (auto& [technology, directories] : saved) {
        technology->RemoveAllPluginDirectories();
        technology->AddPluginDirectories(directories);
    }
    // VST 3 finds its own folders instead of using the technology's list, so given folders are
    // searched for it here.
    const bool vst3InGiven = !options.directories.empty() && Selected(options, VST3);
    std::vector<PluginLocator> candidates;
    std::set<PluginLocator> seen;
    for (const auto& locator : collected) {
        if (vst3InGiven && locator.GetTechnologyType() == VST3) {
            continue;
        }
        if (Selected(options, locator.GetTechnologyType()) && seen.insert(locator).second) {
            candidates.push_back(locator);
        }
    }
    if (vst3InGiven && catalogue.GetPluginTechnology(VST3)) {
        std::vector<UTF16String> given;
        for (const auto& directory : options.directories) {
            given.push_back(kelcore::filesupport::Dir(directory).FullPath());
        }
        for (const auto& locator : vst3::CollectVST3PluginsIn(given)) {
            const bool known = static_cast<bool>(catalogue.FindPluginInfo(locator));
            if ((options.rescan || !known) && seen.insert(locator).second) {
                candidates.push_back(locator);
            }
        }
    }
    return candidates;
}

} // namespace

bool ScanModules(const std::vector<PluginLocator>& modules, const Settings& settings, const ScanOptions& options,
                 ScanSummary& summary, std::string& error)
{
    auto& catalogue = PluginModuleInfoManager::GetInstance();
    auto& banned = BannedPluginManager::GetInstance();
    isolation::ParallelScanOptions scan;
    if (!settings.GetDirectory().empty()) {
        scan.staticBannedList = settings.GetStaticBannedFile();
        scan.inProgressRecord = settings.GetDirectory() / kInProgressFile;
    }
    scan.timeoutSeconds = options.timeoutSeconds;
    scan.verbose = options.verbose;
    scan.jobs = options.jobs;

    Progress progress("scanning", options.showProgress);
    std::set<PluginLocator> shown;
    isolation::ScanCallbacks callbacks;
    // Drawn when a module starts, with every module being scanned.
    callbacks.progress = [&](const isolation::ScanProgress& now) {
        bool started = false;
        for (const auto& locator : now.running) {
            started = shown.insert(locator).second || started;
        }
        if (!started) {
            return;
        }
        std::string label;
        for (const auto& locator : now.running) {
            const auto path = kelcore::UTF16to8(locator.GetPath());
            label += (label.empty() ? "" : ", ") +
                     (now.running.size() == 1 ? path : std::filesystem::path(path).filename().string());
        }
        progress.Step(static_cast<int>(now.finished + 1), static_cast<int>(now.total), label);
    };
    callbacks.scanned = [&](const PluginLocator& locator, const isolation::ModuleScanResult& result,
                            std::string& failure) {
        const auto path = kelcore::UTF16to8(locator.GetPath());
        if (isolation::IsBanOutcome(result.outcome)) {
            KAFH_TRACE("kafh::Scan", 5, "banning \"" << path << "\": " << OutcomeText(result));
            banned.AddBannedPlugin(locator);
            summary.banned.push_back({path, OutcomeText(result)});
            return settings.SaveBanned(failure);
        }
        if (result.outcome != ModuleScanOutcome::Described) {
            summary.failed.push_back({path, OutcomeText(result)});
            return true;
        }
        const auto info = catalogue.FindPluginInfo(locator);
        const int filters = result.descriptors;
        summary.filtersAdded += filters;
        const auto name = info ? kelcore::UTF16to8(info->GetName()) : std::string("?");
        summary.added.push_back({path, name + " (" + Plural(static_cast<std::size_t>(filters), "filter") + ", " +
                                           FormatSeconds(result.seconds) + ")"});
        return true;
    };
    callbacks.save = [&](std::string& failure) { return settings.SaveCatalogue(failure); };

    const auto report = isolation::ScanModules(modules, scan, callbacks);
    progress.Finish();
    for (const auto& locator : report.interrupted) {
        summary.interrupted.push_back(kelcore::UTF16to8(locator.GetPath()));
    }
    summary.seconds += report.seconds;
    if (!report.completed) {
        error = report.error;
        return false;
    }
    return true;
}

void PrintScanSummary(const ScanSummary& summary, std::ostream& out)
{
    const auto total = summary.added.size() + summary.failed.size() + summary.banned.size();
    out << "Scanned " << Plural(total, "module") << " in " << FormatSeconds(summary.seconds) << ": "
        << summary.added.size() << " added (" << Plural(static_cast<std::size_t>(summary.filtersAdded), "filter")
        << "), " << summary.failed.size() << " failed, " << summary.banned.size() << " banned.\n";
    for (const auto& entry : summary.added) {
        out << "  added   " << DisplayText(entry.path) << ": " << DisplayText(entry.detail) << '\n';
    }
    for (const auto& entry : summary.failed) {
        out << "  failed  " << DisplayText(entry.path) << ": " << DisplayText(entry.detail) << '\n';
    }
    for (const auto& entry : summary.banned) {
        out << "  banned  " << DisplayText(entry.path) << ": " << DisplayText(entry.detail) << '\n';
    }
    for (const auto& path : summary.removed) {
        out << "  removed " << DisplayText(path) << ": no longer on disk\n";
    }
    for (const auto& path : summary.interrupted) {
        out << "  note    " << DisplayText(path) << ": an earlier scan was stopped while scanning it\n";
    }
}

int RunScanCommand(Settings& settings, const ScanOptions& options)
{
    std::string error;
    if (!settings.Load(error)) {
        return Fail(error);
    }
    auto& catalogue = PluginModuleInfoManager::GetInstance();
    for (const auto type : options.technologies) {
        if (!catalogue.GetPluginTechnology(type)) {
            return Fail("this build of kafh has no " + TechnologyName(type) + " support");
        }
    }
    for (const auto& directory : options.directories) {
        std::error_code status;
        if (!std::filesystem::is_directory(directory, status)) {
            return Fail("cannot scan " + Quoted(directory.string()) + ": no such folder");
        }
    }

    ScanSummary summary;
    std::vector<PluginLocator> vanished;
    for (const auto& locator : catalogue.GetPluginLocators()) {
        if (Selected(options, locator.GetTechnologyType()) && !ModuleExists(locator)) {
            vanished.push_back(locator);
            summary.removed.push_back(kelcore::UTF16to8(locator.GetPath()));
        }
    }
    if (!vanished.empty()) {
        catalogue.RemovePluginLocators(vanished);
        if (!settings.SaveCatalogue(error)) {
            return Fail(error);
        }
    }

    const auto candidates = CollectCandidates(options);
    if (candidates.empty()) {
        std::cout << "Nothing new to scan: " << Plural(catalogue.GetPluginLocators().size(), "module")
                  << " catalogued (kafh scan --rescan scans them again).\n";
        for (const auto& path : summary.removed) {
            std::cout << "  removed " << path << ": no longer on disk\n";
        }
        return kExitOk;
    }
    const bool scanned = ScanModules(candidates, settings, options, summary, error);
    PrintScanSummary(summary, std::cout);
    if (!scanned) {
        return Fail(error);
    }
    std::cout << "Catalogue: " << settings.GetCatalogueFile().string() << " ("
              << Plural(catalogue.GetPluginLocators().size(), "module") << ")\n";
    return kExitOk;
}

} // namespace kafh
