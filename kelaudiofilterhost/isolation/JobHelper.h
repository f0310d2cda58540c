// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace kelaudiofilterhost::isolation {

/// One job of the helper program: gets the arguments RunJob was given, fills the payload and says whether
/// it succeeded. It may announce steps with kelcore::trail::SetStep.
using JobFunction = std::function<bool(const std::vector<std::string>& arguments, std::string& payload)>;
using JobTable = std::map<std::string, JobFunction, std::less<>>;

/// The helper program's main: takes the command line and descriptors RunJob sets up, maps the trail, sets
/// the caller's client name and locale, runs the named job and writes its answer. Ends the process with
/// _exit after the job (a plug-in's clean-up code is not run); returns only when the command line is not
/// RunJob's.
int RunJobHelper(int argc, char** argv, const JobTable& jobs);

} // namespace kelaudiofilterhost::isolation
