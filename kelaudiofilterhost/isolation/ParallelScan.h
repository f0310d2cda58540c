// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/isolation/ModuleScan.h"

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace kelaudiofilterhost::isolation {

struct ParallelScanOptions : ModuleScanOptions {
    /// Modules scanned at a time, each in a child process of its own; 0: one per core. The timeout is
    /// each module's.
    unsigned jobs = 0;
    /// Modules one child takes before a fresh child replaces it, which bounds what modules leave behind
    /// in it; 0: no limit.
    unsigned modulesPerChild = 256;
    /// A file that names the modules being scanned while the scan runs, so that the scan after one that
    /// was killed learns which modules it was trying (ScanReport::interrupted); its folder is made when
    /// missing. Removed when the scan ends; empty: none is kept.
    std::filesystem::path inProgressRecord;
    /// The least time between two saves of the catalogue while results come in; a killed scan loses at
    /// most the results of this long, which the next scan finds again.
    std::chrono::milliseconds saveInterval{250};
};

struct ScanProgress {
    /// Modules whose scan has ended, and all of them.
    std::size_t finished = 0;
    std::size_t total = 0;
    /// The modules being scanned now, in the order they were given.
    std::vector<PluginLocator> running;
};

struct ScanCallbacks {
    /// Called whenever a module starts or ends.
    std::function<void(const ScanProgress&)> progress;
    /// Each module's result, in the order the modules were given, after the catalogue took it. The
    /// catalogue takes results in batches, at most saveInterval after they came in and at once when
    /// one is a module to ban. The library never bans: an application bans the module here when
    /// IsBanOutcome(result.outcome), and may save its banned set. False, with the reason in error,
    /// stops the scan.
    std::function<bool(const PluginLocator& module, const ModuleScanResult& result, std::string& error)> scanned;
    /// Saves the catalogue: at most once per saveInterval while it changes, and at the end. False,
    /// with the reason in error, stops the scan.
    std::function<bool(std::string& error)> save;
};

struct ScanReport {
    /// False when the scan could not go on: no child could be started, or a callback stopped it.
    bool completed = false;
    std::string error;
    /// The modules the in-progress record named when the scan began: an earlier scan was killed while
    /// it was trying them. They are scanned like the others.
    std::vector<PluginLocator> interrupted;
    /// The modules that crashed, hung or ended their child abnormally, in the order given.
    std::vector<PluginLocator> faulted;
    double seconds = 0.0;
};

/// Scans the modules into the catalogue (PluginModuleInfoManager) in helper processes, options.jobs at a
/// time. A child takes module after module and is replaced when it crashes or hangs; a module that
/// crashes or hangs in a child that scanned others before is tried once more in a fresh child, so that
/// it is never blamed for what an earlier module did to the child. A module scanned again loses its old
/// records first (its enabled flag is kept); one that now fails or faults leaves the catalogue. A
/// failure of the host itself (HostFailed) changes nothing. The results do not depend on options.jobs.
/// Call from one thread; the callbacks run on it.
ScanReport ScanModules(const std::vector<PluginLocator>& modules, const ParallelScanOptions& options,
                       const ScanCallbacks& callbacks);

/// The modules an in-progress record names; none when it is missing or unreadable.
std::vector<PluginLocator> ReadInProgressRecord(const std::filesystem::path& record);

} // namespace kelaudiofilterhost::isolation
