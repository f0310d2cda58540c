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

namespace internal {

bool StartForked(const Work& work, ForkedChild& child, std::string& error)
{
    child.start = std::chrono::steady_clock::now();
    if (!child.trail.Create(error)) {
        return false;
    }
    Descriptor writeEnd;
    if (!MakeAnswerPipe(child.answer, writeEnd, error)) {
        return false;
    }
    // What is buffered now would otherwise be written twice, by the parent and by the child.
    std::fflush(nullptr);
    const pid_t parent = ::getpid();
    child.pid = ::fork();
    if (child.pid < 0) {
        error = std::string("cannot fork: ") + std::strerror(errno);
        return false;
    }
    if (child.pid == 0) {
        child.answer.Reset();
        RunChild(work, writeEnd.Get(), parent, child.trail.Area());
    }
    // Also from this side: the group must exist before a timeout kills it.
    ::setpgid(child.pid, child.pid);
    return true;
}

} // namespace internal

Result RunForked(const Work& work, const Options& options)
{
    ForkedChild child;
    Result result;
    if (!StartForked(work, child, result.detail)) {
        return result;
    }
    return Watch(child.pid, child.answer.Get(), child.trail.Area(), options, child.start);
}

} // namespace kelaudiofilterhost::isolation
