// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <chrono>
#include <functional>
#include <ostream>
#include <string>

namespace kelaudiofilterhost::testing {

/// How a case run in a child process ended.
struct ForkedResult {
    enum class Outcome {
        Passed,   ///< the case ran to its end and said it passed
        Failed,   ///< the case ran to its end and said it failed
        Crashed,  ///< the child died of a signal (signal says which)
        TimedOut, ///< the child was still running at the deadline and was killed
        Lost,     ///< the child ended without a verdict (a plug-in called exit; exitCode says how)
    };
    Outcome outcome = Outcome::Lost;
    int signal = 0;
    int exitCode = 0;
    /// Everything the case wrote, up to the moment it ended (also when it crashed).
    std::string report;

    bool Passed() const { return outcome == Outcome::Passed; }
    /// One line: "passed", "failed", "crashed (SIGSEGV)", "timed out after 2000 ms", "exited with 3".
    std::string Describe() const;
};

/// The case's side: whatever it writes to the stream reaches the parent at once, so a crash later on
/// still shows how far the case came. It returns whether it passed.
using ForkedCaseBody = std::function<bool(std::ostream& report)>;

/// Runs the case in a forked child and waits at most the timeout for it; a child still running then
/// is killed. The child ends with _exit, so no exit handlers (leak checks included) run there; it also
/// dies with the parent. The body must not rely on other threads of the parent: only the calling
/// thread exists in the child.
ForkedResult RunForked(const ForkedCaseBody& body, std::chrono::milliseconds timeout);

} // namespace kelaudiofilterhost::testing
