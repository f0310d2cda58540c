// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/catalogue/PluginLocator.h"

#include <filesystem>
#include <ostream>
#include <set>
#include <string>
#include <vector>

namespace kafh {

class Settings;

struct ScanOptions {
    /// Technologies to scan; empty means every registered one.
    std::set<kelaudiofilterhost::TechnologyType> technologies;
    /// Folders to scan instead of the technologies' own (which stay as they are in the catalogue).
    std::vector<std::filesystem::path> directories;
    /// Scan catalogued modules again too, replacing their records.
    bool rescan = false;
    double timeoutSeconds = 30.0;
    /// Modules scanned at a time; 0: one per core.
    unsigned jobs = 0;
    bool verbose = false;
    bool showProgress = true;
};

struct ScanSummary {
    struct Entry {
        std::string path;
        std::string detail;
    };
    std::vector<Entry> added;
    std::vector<Entry> failed;
    std::vector<Entry> banned;
    /// Catalogued modules whose files are gone, dropped from the catalogue.
    std::vector<std::string> removed;
    /// Modules an earlier scan was trying when it was killed (scanned again like the others).
    std::vector<std::string> interrupted;
    int filtersAdded = 0;
    double seconds = 0.0;
};

/// Scans the modules into the catalogue in child processes, options.jobs at a time (the library's
/// isolation::ScanModules). A module whose child crashes, hangs or exits abnormally is banned and the
/// banned set saved at once; the catalogue is saved a few times a second and at the end, so an
/// interrupted scan keeps what it found. False (with a message) only when the scan itself cannot go
/// on: no child process can be started or the settings cannot be saved.
bool ScanModules(const std::vector<kelaudiofilterhost::PluginLocator>& modules, const Settings& settings,
                 const ScanOptions& options, ScanSummary& summary, std::string& error);

/// What was added, what failed and what was banned, one line each after a one-line total.
void PrintScanSummary(const ScanSummary& summary, std::ostream& out);

/// `kafh scan`: collects the candidates of the chosen technologies and folders and scans them.
int RunScanCommand(Settings& settings, const ScanOptions& options);

} // namespace kafh
