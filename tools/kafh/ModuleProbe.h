// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/catalogue/PluginLocator.h"

#include <filesystem>
#include <string>

namespace kafh {

/// How describing one module in a child process ended.
enum class ProbeOutcome {
    /// The child described the module; ProbeResult::xml holds its records.
    Described,
    /// The child ran through but the module could not be loaded or described (not a plug-in,
    /// no entry point, refused): nothing to record, nothing to ban.
    NotDescribed,
    /// The child died of a signal.
    Crashed,
    /// The child did not finish in time and was killed.
    TimedOut,
    /// The child exited with a failure status, or without a well-formed answer.
    AbnormalExit,
    /// No child could be started; says nothing about the module.
    NotStarted,
    /// The child failed before it loaded the module (the host's own failure); says nothing about
    /// the module, which is neither banned nor dropped.
    HostFailed,
};

struct ProbeOptions {
    /// Passed to the child, which reads the static banned list from it.
    std::filesystem::path configDirectory;
    double timeoutSeconds = 30.0;
    /// The child keeps its standard error and traces.
    bool verbose = false;
};

struct ProbeResult {
    ProbeOutcome outcome = ProbeOutcome::NotStarted;
    /// The child's catalogue: the module info and descriptors as configuration XML.
    std::string xml;
    /// What happened, for messages ("killed by signal 11 (Segmentation fault)").
    std::string detail;
    double seconds = 0.0;
};

/// Whether the outcome means the module must be banned: it crashed, hung or exited abnormally.
bool IsBanOutcome(ProbeOutcome outcome);

/// Describes one module in a child process: re-executes this program in its scan-one mode with a
/// pipe for the answer, waits at most the timeout and kills the child's whole process group after
/// it. A plug-in that crashes, hangs or exits cannot harm the caller.
ProbeResult ProbeModule(const kelaudiofilterhost::PluginLocator& locator, const ProbeOptions& options);

/// The child's side (`kafh scan-one`): scans the one module with the library's scanner and writes
/// the resulting configuration XML to the descriptor, then ends the process at once (a plug-in's
/// clean-up code is not run). Returns only when the arguments are unusable.
int RunScanOne(int answerDescriptor, int technologyType, const std::string& path);

} // namespace kafh
