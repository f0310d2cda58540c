// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <functional>
#include <string>

namespace kafh {

class Settings;

/// How a command runs its plug-in work, from the command line.
struct IsolationOptions {
    /// Run the plug-in in kafh's own process (for debugging it); a crash then takes kafh down.
    bool inProcess = false;
    /// Seconds the work may take; for renders, seconds it may go without progress.
    double timeoutSeconds = 30.0;
};

/// The part of a command that runs plug-in code: creates the filter, configures it, does its work and
/// prints to standard output; returns the exit code.
struct PluginWork {
    /// The filter as the user named it, for messages.
    std::string filterId;
    /// The file the work writes, if any: a child that dies leaves no temporary file of it behind.
    std::filesystem::path output;
    /// A render: the timeout counts time without progress rather than the whole time.
    bool render = false;
    std::function<int()> run;
};

/// Runs the work in a child process (unless options.inProcess) that has a watchdog; its standard output
/// reaches ours only once it finished. A crash or hang gives one error line naming the filter, the step
/// and the last call into the plug-in, and kExitFailure. Call while kafh runs no other thread.
int RunPluginWork(Settings& settings, const IsolationOptions& options, const PluginWork& work);

/// "filter "2:123 KafhGain" (Kafh Gain)": the catalogue's name when it can be read, else the user's ID.
std::string NameFilter(Settings& settings, const std::string& id);

} // namespace kafh
