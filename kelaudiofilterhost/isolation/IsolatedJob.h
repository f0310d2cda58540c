// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/isolation/IsolatedRun.h"

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

namespace kelaudiofilterhost::isolation {

/// Names the helper program explicitly (tests, unusual installations); it wins over every other place.
constexpr const char* kHelperEnvironmentVariable = "KAFH_ISOLATE_HELPER";

/// The watch (total and stall timeouts) and how the helper is started.
struct JobOptions : Options {
    /// The helper program to run; empty: FindHelper().
    std::filesystem::path helper;
    /// Keep the helper's standard error (plug-ins' output, traces); otherwise it goes to /dev/null.
    bool keepStandardError = false;
    /// Trace rules for the helper, as KAFH_TRACE takes them; empty: the helper inherits the environment's.
    std::string traceConfiguration;
};

/// Where the helper program is: the variable KAFH_ISOLATE_HELPER, else "kelaudiofilterhost/kafh-isolate"
/// beside the shared library, else beside the program that links the library statically (or where
/// installation puts it seen from the program's folder). Empty when none is there.
std::filesystem::path FindHelper();

/// Runs a job of the helper program (see JobHelper.h) in a process of its own: its own process group,
/// killed with the group at the timeout (or when it stalls), dying with the caller. Unlike RunForked this does not fork the
/// caller, so any program may call it from any thread; the job runs with the caller's client name and
/// locale. The helper's trail tells where it was when it crashed or hung.
Result RunJob(const std::string& job, const std::vector<std::string>& arguments, const JobOptions& options);

} // namespace kelaudiofilterhost::isolation
