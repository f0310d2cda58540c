// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/catalogue/PluginLocator.h"
#include "kelaudiofilterhost/isolation/IsolatedRun.h"

#include <filesystem>
#include <string>
#include <vector>

namespace kelaudiofilterhost::isolation {

/// How describing one module in the helper process ended.
enum class ModuleScanOutcome {
    /// The module was described; ModuleScanResult::xml holds its records.
    Described,
    /// The scan ran through but the module could not be loaded or described (not a plug-in, no entry point,
    /// refused): nothing to record, nothing to ban.
    NotDescribed,
    /// The helper died of a signal while the module was loaded.
    Crashed,
    /// The module did not finish in time and was killed.
    TimedOut,
    /// The helper exited or failed during the scan, or without a well-formed answer.
    AbnormalExit,
    /// No helper could be started; says nothing about the module.
    NotStarted,
    /// The helper failed before it loaded the module (the host's own failure); says nothing about the
    /// module, which is neither banned nor dropped.
    HostFailed,
};

struct ModuleScanOptions {
    double timeoutSeconds = 30.0;
    /// The static banned list the helper reads before it loads the module; empty or missing: none.
    std::filesystem::path staticBannedList;
    /// The helper keeps its standard error and traces everything.
    bool verbose = false;
    /// The helper program; empty: FindHelper().
    std::filesystem::path helper;
};

struct ModuleScanResult {
    ModuleScanOutcome outcome = ModuleScanOutcome::NotStarted;
    /// The module's catalogue records (its module info and descriptors) as configuration XML.
    std::string xml;
    /// The number of plug-in descriptors (filters) in xml.
    int descriptors = 0;
    /// What happened, for messages ("killed by signal 11 (Segmentation fault)").
    std::string detail;
    double seconds = 0.0;
    /// How the helper ended, with its trail.
    Result run;
};

/// Whether the outcome means the module must be banned: it crashed, hung or ended the scan abnormally.
bool IsBanOutcome(ModuleScanOutcome outcome);

/// Describes one module in the helper process with the library's scanner, so that a module that crashes,
/// hangs or exits cannot harm the caller. Touches neither the caller's catalogue nor its banned set: the
/// caller adds the records (PluginModuleInfoManager::AddConfiguration) or bans the module.
ModuleScanResult ScanModule(const PluginLocator& locator, const ModuleScanOptions& options);

/// The helper's "scan-module" job: arguments technology type, module path and static banned list (may be
/// empty); the payload is the scanned catalogue's configuration XML.
bool RunScanModuleJob(const std::vector<std::string>& arguments, std::string& payload);

/// The job's name on the helper's command line.
constexpr const char* kScanModuleJob = "scan-module";

/// The helper's "scan-modules" job, which ScanModules runs: takes module after module from the request
/// socket until it closes, answering each with its records; the argument is the static banned list (may
/// be empty).
bool RunScanModulesJob(const std::vector<std::string>& arguments, std::string& payload);
constexpr const char* kScanModulesJob = "scan-modules";

} // namespace kelaudiofilterhost::isolation
