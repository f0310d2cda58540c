// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/isolation/IsolatedRun.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>

namespace kelaudiofilterhost::isolation {

namespace {

using Clock = std::chrono::steady_clock;

// The answer ends with a mark and a verdict, so an answer cut short by a crash is never taken as whole.
constexpr char kEndMark[] = "\n\x1e" "kafh-isolated-end:";
constexpr char kCompleted = 'C';
constexpr char kFailed = 'F';

void WriteAll(int fd, const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t written = ::write(fd, data, size);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return; // the parent is gone; nobody is left to tell
        }
        data += written;
        size -= static_cast<std::size_t>(written);
    }
}

[[noreturn]] void RunChild(const Work& work, int fd, pid_t parent, void* trailArea)
{
    // A child left behind by a parent that died would run on for ever.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) {
        ::_exit(127);
    }
    // Its own group, so a timeout also ends whatever processes the plug-in started.
    ::setpgid(0, 0);
    kelcore::trail::UseArea(trailArea);
    std::string payload;
    bool completed = false;
    try {
        completed = work(payload);
    } catch (const std::exception& error) {
        payload += std::string("\nexception escaped the isolated work: ") + error.what();
    } catch (...) {
        payload += "\nexception of unknown type escaped the isolated work";
    }
    payload += kEndMark;
    payload += completed ? kCompleted : kFailed;
    WriteAll(fd, payload.data(), payload.size());
    std::fflush(nullptr);
    // No exit handlers and no static destructors: a plug-in's clean-up code must not decide the answer.
    ::_exit(0);
}

void ReadAvailable(int fd, std::string& into, bool& atEnd)
{
    char chunk[16384];
    for (;;) {
        const ssize_t got = ::read(fd, chunk, sizeof chunk);
        if (got > 0) {
            into.append(chunk, static_cast<std::size_t>(got));
            continue;
        }
        if (got < 0 && errno == EINTR) {
            continue;
        }
        atEnd = atEnd || got == 0;
        return;
    }
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
    Result result;
    const auto start = Clock::now();
    void* area = ::mmap(nullptr, kelcore::trail::kAreaSize, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (area == MAP_FAILED) {
        result.detail = std::string("cannot map the trail: ") + std::strerror(errno);
        return result;
    }
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        result.detail = std::string("cannot make a pipe: ") + std::strerror(errno);
        ::munmap(area, kelcore::trail::kAreaSize);
        return result;
    }
    // What is buffered now would otherwise be written twice, by the parent and by the child.
    std::fflush(nullptr);
    const pid_t parent = ::getpid();
    const pid_t child = ::fork();
    if (child < 0) {
        result.detail = std::string("cannot fork: ") + std::strerror(errno);
        ::close(fds[0]);
        ::close(fds[1]);
        ::munmap(area, kelcore::trail::kAreaSize);
        return result;
    }
    if (child == 0) {
        ::close(fds[0]);
        RunChild(work, fds[1], parent, area);
    }
    // Also from this side: the group must exist before a timeout kills it.
    ::setpgid(child, child);
    ::close(fds[1]);
    ::fcntl(fds[0], F_SETFL, ::fcntl(fds[0], F_GETFL) | O_NONBLOCK);

    const bool limited = options.timeout.count() > 0;
    const bool watchStalls = options.stallTimeout.count() > 0;
    const auto deadline = start + options.timeout;
    auto lastProgressAt = start;
    std::uint32_t lastProgress = kelcore::trail::ReadProgress(area);
    int status = 0;
    bool exited = false;
    bool atEnd = false;
    std::string answer;
    while (!exited) {
        const auto now = Clock::now();
        if (const auto progress = kelcore::trail::ReadProgress(area); progress != lastProgress) {
            lastProgress = progress;
            lastProgressAt = now;
        }
        auto left = std::chrono::milliseconds(20);
        if (limited) {
            left = std::min(left, std::chrono::ceil<std::chrono::milliseconds>(deadline - now));
        }
        if (watchStalls) {
            left = std::min(left, std::chrono::ceil<std::chrono::milliseconds>(
                                      lastProgressAt + options.stallTimeout - now));
        }
        if (left.count() <= 0) {
            break;
        }
        // Wake up now and then while the pipe is quiet: a grandchild may hold its write end open after
        // the child has ended.
        const int wait = static_cast<int>(std::min<std::int64_t>(left.count(), 20));
        pollfd watched{fds[0], POLLIN, 0};
        if (atEnd) {
            ::poll(nullptr, 0, wait);
        } else if (::poll(&watched, 1, wait) > 0) {
            ReadAvailable(fds[0], answer, atEnd);
        }
        exited = ::waitpid(child, &status, WNOHANG) == child;
    }
    if (!exited) {
        result.stalled = watchStalls && Clock::now() - lastProgressAt >= options.stallTimeout;
        ::kill(-child, SIGKILL);
        ::kill(child, SIGKILL);
        while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
    } else {
        // Whatever the plug-in left running in the group goes with the child.
        ::kill(-child, SIGKILL);
    }
    ReadAvailable(fds[0], answer, atEnd);
    ::close(fds[0]);
    result.trail = kelcore::trail::Read(area);
    ::munmap(area, kelcore::trail::kAreaSize);
    result.seconds = std::chrono::duration<double>(Clock::now() - start).count();

    const std::size_t markLength = sizeof kEndMark - 1;
    const bool answered = answer.size() >= markLength + 1 &&
                          answer.compare(answer.size() - markLength - 1, markLength, kEndMark) == 0;
    const char verdict = answered ? answer.back() : 0;
    if (answered) {
        answer.resize(answer.size() - markLength - 1);
    }
    result.payload = std::move(answer);
    if (!exited) {
        result.outcome = Outcome::TimedOut;
    } else if (WIFSIGNALED(status)) {
        result.outcome = Outcome::Crashed;
        result.signal = WTERMSIG(status);
    } else if (WIFEXITED(status) && WEXITSTATUS(status) == 0 && answered) {
        result.outcome = verdict == kCompleted ? Outcome::Completed : Outcome::Failed;
    } else {
        result.outcome = Outcome::Lost;
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    return result;
}

} // namespace kelaudiofilterhost::isolation
