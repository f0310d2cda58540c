// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/kafh/ScanCommand.h"

#include "kelaudiofilterhost/catalogue/AudioFilterDescriptorManager.h"
#include "kelaudiofilterhost/catalogue/BannedPluginManager.h"
#include "kelaudiofilterhost/catalogue/PluginModuleInfoManager.h"
#include "kelaudiofilterhost/isolation/ModuleScan.h"
#include "kelaudiofilterhost/services/File.h"
#include "kelaudiofilterhost/services/PropList.h"
#include "kelaudiofilterhost/services/Trace.h"
#include "kelaudiofilterhost/vst3/VST3Technology.h"
#include "tools/kafh/Console.h"
#include "tools/kafh/FilterLookup.h"
#include "tools/kafh/Settings.h"

#include <chrono>
#include <iostream>
#include <system_error>

namespace kafh {

namespace {

using namespace kelaudiofilterhost;
using isolation::ModuleScanOutcome;

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

int AnsweredDescriptorCount(const std::string& xml)
{
    kelcore::proplist::PropList answer;
    std::int32_t count = 0;
    if (kelcore::proplist::utils::ReadPropList(xml, answer)) {
        answer.GetValue("num_descriptors", count);
    }
    return count;
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
    const auto started = std::chrono::steady_clock::now();
    isolation::ModuleScanOptions probe;
    if (!settings.GetDirectory().empty()) {
        probe.staticBannedList = settings.GetStaticBannedFile();
    }
    probe.timeoutSeconds = options.timeoutSeconds;
    probe.verbose = options.verbose;

    Progress progress("scanning", options.showProgress);
    int current = 0;
    for (const auto& locator : modules) {
        const auto path = kelcore::UTF16to8(locator.GetPath());
        progress.Step(++current, static_cast<int>(modules.size()), path);
        const bool known = static_cast<bool>(catalogue.FindPluginInfo(locator));
        const bool wasEnabled = known && catalogue.IsPluginEnabled(locator, true);

        const auto result = isolation::ScanModule(locator, probe);
        if (result.outcome == ModuleScanOutcome::NotStarted) {
            progress.Finish();
            error = "cannot scan " + Quoted(path) + ": " + result.detail;
            return false;
        }
        // A module scanned again loses its old records first: the new ones replace them, and
        // a module that now fails or is banned leaves the catalogue.
        if (result.outcome == ModuleScanOutcome::HostFailed) {
            summary.failed.push_back({path, result.detail});
            continue;
        }
        if (known) {
            catalogue.RemovePluginLocators({locator});
        }
        if (isolation::IsBanOutcome(result.outcome)) {
            KAFH_TRACE("kafh::Scan", 5, "banning \"" << path << "\": " << OutcomeText(result));
            banned.AddBannedPlugin(locator);
            summary.banned.push_back({path, OutcomeText(result)});
            if (!settings.SaveBanned(error)) {
                progress.Finish();
                return false;
            }
        } else if (result.outcome == ModuleScanOutcome::Described) {
            catalogue.AddConfiguration(result.xml, true);
            if (wasEnabled) {
                catalogue.SetPluginEnabled(locator, true);
            }
            const auto info = catalogue.FindPluginInfo(locator);
            const int filters = AnsweredDescriptorCount(result.xml);
            summary.filtersAdded += filters;
            const auto name = info ? kelcore::UTF16to8(info->GetName()) : std::string("?");
            summary.added.push_back({path, name + " (" + Plural(static_cast<std::size_t>(filters), "filter") + ", " +
                                               FormatSeconds(result.seconds) + ")"});
        } else {
            summary.failed.push_back({path, OutcomeText(result)});
        }
        if ((known || result.outcome == ModuleScanOutcome::Described) && !settings.SaveCatalogue(error)) {
            progress.Finish();
            return false;
        }
    }
    progress.Finish();
    summary.seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
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
