// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/services/PluginCallTrail.h"

#include <chrono>
#include <functional>
#include <string>

namespace kelaudiofilterhost::isolation {

/// How a piece of plug-in work run in a child process ended.
enum class Outcome {
    Completed,  ///< the work ran to its end and returned true
    Failed,     ///< the work ran to its end and returned false (a defined failure, payload says why)
    Crashed,    ///< the child died of a signal
    TimedOut,   ///< the child ran past the timeout, or stalled past the stall timeout, and was killed
    Lost,       ///< the child ended without an answer (a plug-in called exit)
    NotStarted, ///< no child could be started: says nothing about the plug-in
};

struct Options {
    /// The longest the whole work may take; zero for no limit.
    std::chrono::milliseconds timeout{30000};
    /// The longest the child may go without progress (a step, a call into plug-in code entered or
    /// left, a beat); zero for no limit. Long renders set this instead of a total timeout.
    std::chrono::milliseconds stallTimeout{0};
};

struct Result {
    Outcome outcome = Outcome::NotStarted;
    int signal = 0;
    int exitCode = 0;
    /// For TimedOut: stopped for making no progress rather than for the total timeout.
    bool stalled = false;
    /// What the work handed back (also when it returned false).
    std::string payload;
    /// Why no child could be started.
    std::string detail;
    /// Where the child was when it ended: the step it announced and the last call into plug-in code.
    kelcore::trail::Snapshot trail;
    double seconds = 0.0;

    bool Completed() const { return outcome == Outcome::Completed; }
    /// Whether the plug-in code is to blame: it crashed, hung or left the process.
    bool IsPluginFault() const;
    /// One line: "crashed with signal 11 (Segmentation fault) at step "process", in processReplacing
    /// of "/usr/lib/vst/x.so"", "timed out after 5 s at ...", "completed".
    std::string Describe() const;
};

/// The work's side: fills the payload and says whether it succeeded. It may announce steps with
/// kelcore::trail::SetStep; the back ends' gates record every call into plug-in code.
using Work = std::function<bool(std::string& payload)>;

/// Runs the work in a forked child in a process group of its own and waits at most the timeout (or
/// while it makes progress, up to the stall timeout), then kills the group. The child ends with _exit (no exit handlers, no plug-in clean-up code) and dies with
/// the caller. Only the calling thread exists in the child: call it from a program that has started no
/// other threads, or before it does.
Result RunForked(const Work& work, const Options& options);

} // namespace kelaudiofilterhost::isolation
