// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/isolation/IsolatedRun.h"

#include <functional>
#include <string>
#include <vector>

namespace kelaudiofilterhost::isolation {

/// One named piece of plug-in work in a suite, such as one group of checks against one plug-in.
struct SuitePart {
    std::string name;
    Work work;
};

/// The watch over every part, and what is kept of the parts' own output.
struct SuiteOptions : Options {
    /// Send each child's standard output and error to a memory file instead of ours, and keep its end:
    /// a memory checker's report or a plug-in's last words, without plug-ins' chatter in our output.
    bool captureOutput = false;
    /// The most that is kept of a part's output, from its end.
    std::size_t outputLimit = 16384;
    /// Parts run at a time, each in a child of its own; 0: one per core.
    unsigned jobs = 1;
};

struct SuitePartResult {
    std::string name;
    /// The part's place in the list given.
    std::size_t index = 0;
    Result result;
    /// The end of what the part's child wrote, when captured.
    std::string output;
};

/// Hears each part's result as soon as its child has ended, before another part starts.
using SuiteObserver = std::function<void(const SuitePartResult&)>;

/// Runs the parts in the order given, options.jobs at a time, each in a forked child of its own under the
/// same watch (RunForked): a part that crashes, hangs past the timeout, throws or ends the process ends only
/// itself, with the step and the last plug-in call it reached in its result, and the next part starts in a
/// fresh child. Nothing a part's plug-in did survives into another part. The results come in the order of
/// the parts; the observer hears them in the order they end. Same threading rule as RunForked.
std::vector<SuitePartResult> RunSuite(const std::vector<SuitePart>& parts, const SuiteOptions& options,
                                      const SuiteObserver& observer = {});

/// The line of a memory checker's report that says what it found ("SUMMARY: AddressSanitizer: ..."), from
/// captured output; empty when there is none.
std::string FindCheckerSummary(const std::string& output);

/// A line for reports that says what a part's ending means for the plug-in: Describe() plus, for a process
/// that ended with a status, that a memory checker or the plug-in itself ended it.
std::string DescribeFault(const Result& result);

} // namespace kelaudiofilterhost::isolation
