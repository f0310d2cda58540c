// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/isolation/IsolatedRun.h"

#include "kelaudiofilterhost/isolation/ChildWatch.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace kelaudiofilterhost::isolation {

using namespace internal;

namespace {

[[noreturn]] void RunChild(const Work& work, int fd, pid_t parent, void* trailArea)
{
    DieWithParent(parent);
    // Its own group, so a timeout also ends whatever processes the plug-in started.
    ::setpgid(0, 0);
    kelcore::trail::UseArea(trailArea);
    std::string payload;
    const bool completed = RunWork(work, payload);
    Answer(fd, std::move(payload), completed);
}

std::string SignalText(int signal)
{
    const char* name = ::strsignal(signal);
    return "signal " + std::to_string(signal) + (name != nullptr ? std::string(" (") + name + ")" : std::string());
}

} // namespace

bool Result::IsPluginFault() const
{
    return outcome == Outcome::Crashed || outcome == Outcome::TimedOut || outcome == Outcome::Lost;
}

std::string Result::Describe() const
{
    std::string text;
    switch (outcome) {
    case Outcome::Completed:
        return "completed";
    case Outcome::Failed:
        text = "failed";
        break;
    case Outcome::Crashed:
        text = "crashed with " + SignalText(signal);
        break;
    case Outcome::TimedOut: {
        char elapsed[32];
        std::snprintf(elapsed, sizeof elapsed, "%.3g", seconds);
        text = stalled ? std::string("made no progress and was stopped after ") + elapsed + " s"
                       : std::string("timed out after ") + elapsed + " s";
        break;
    }
    case Outcome::Lost:
        text = "exited with status " + std::to_string(exitCode) + " before finishing";
        break;
    case Outcome::NotStarted:
        return "could not be started: " + detail;
    }
    const std::string where = kelcore::trail::Describe(trail);
    if (!where.empty()) {
        text += " at " + where;
    }
    return text;
}

Result RunForked(const Work& work, const Options& options)
{
    const auto start = std::chrono::steady_clock::now();
    Result result;
    TrailArea trail;
    if (!trail.Create(result.detail)) {
        return result;
    }
    Descriptor readEnd;
    Descriptor writeEnd;
    if (!MakeAnswerPipe(readEnd, writeEnd, result.detail)) {
        return result;
    }
    // What is buffered now would otherwise be written twice, by the parent and by the child.
    std::fflush(nullptr);
    const pid_t parent = ::getpid();
    const pid_t child = ::fork();
    if (child < 0) {
        result.detail = std::string("cannot fork: ") + std::strerror(errno);
        return result;
    }
    if (child == 0) {
        readEnd.Reset();
        RunChild(work, writeEnd.Get(), parent, trail.Area());
    }
    // Also from this side: the group must exist before a timeout kills it.
    ::setpgid(child, child);
    writeEnd.Reset();
    return Watch(child, readEnd.Get(), trail.Area(), options, start);
}

} // namespace kelaudiofilterhost::isolation
