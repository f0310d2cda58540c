// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/kafh/Isolation.h"

#include "kelaudiofilterhost/isolation/IsolatedRun.h"
#include "kelaudiofilterhost/services/File.h"
#include "tools/kafh/Console.h"
#include "tools/kafh/FilterLookup.h"
#include "tools/kafh/Settings.h"
#include "tools/kafh/Signals.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <sstream>

#include <unistd.h>

namespace kafh {

namespace {

using namespace kelaudiofilterhost;

// The child's answer: its exit code on the first line, then what it printed.
bool RunInChild(const PluginWork& work, std::string& payload)
{
    BecomeWorker();
    // Whatever a plug-in prints itself must not land in kafh's output, which may be JSON.
    std::fflush(stdout);
    ::dup2(STDERR_FILENO, STDOUT_FILENO);
    std::ostringstream printed;
    std::cout.rdbuf(printed.rdbuf());
    const int status = work.run();
    std::cout.flush();
    payload = std::to_string(status) + '\n' + printed.str();
    return true;
}

} // namespace

std::string NameFilter(Settings& settings, const std::string& id)
{
    std::string error;
    if (settings.Load(error)) {
        if (const auto descriptor = FindDescriptor(id, error)) {
            const auto name = kelcore::UTF16to8(descriptor->GetName());
            return "filter " + Quoted(descriptor->GetUniqueID()) + (name.empty() ? "" : " (" + name + ")");
        }
    }
    return "filter " + Quoted(id);
}

int RunPluginWork(Settings& settings, const IsolationOptions& options, const PluginWork& work)
{
    if (options.inProcess) {
        return work.run();
    }
    const bool render = work.render;
    const auto limit = std::chrono::milliseconds(std::llround(options.timeoutSeconds * 1000.0));
    isolation::Options watch;
    watch.timeout = render ? std::chrono::milliseconds(0) : limit;
    watch.stallTimeout = render ? limit : std::chrono::milliseconds(0);
    const auto result =
        isolation::RunForked([&work](std::string& payload) { return RunInChild(work, payload); }, watch);
    CleanUpAfterWorkers();
    if (result.outcome == isolation::Outcome::Completed) {
        const auto lineEnd = result.payload.find('\n');
        int status = kExitFailure;
        std::from_chars(result.payload.data(), result.payload.data() + lineEnd, status);
        std::cout << std::string_view(result.payload).substr(lineEnd + 1) << std::flush;
        return status;
    }
    if (!work.output.empty()) {
        kelcore::filesupport::RemoveStaleTemporaryFiles(work.output);
    }
    if (result.outcome == isolation::Outcome::NotStarted) {
        return Fail("cannot run " + Quoted(work.filterId) + " in a child process: " + result.detail +
                    " (--in-process runs it inside kafh)");
    }
    if (result.outcome == isolation::Outcome::Failed) {
        return Fail("unexpected failure of " + NameFilter(settings, work.filterId) + ": " + result.payload);
    }
    return Fail(NameFilter(settings, work.filterId) + " " + result.Describe());
}

} // namespace kafh
