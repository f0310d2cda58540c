// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/isolation/ChildWatch.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string_view>

namespace kelaudiofilterhost::isolation::internal {

namespace {

using Clock = std::chrono::steady_clock;

// The answer ends with a mark and a verdict, so an answer cut short by a crash is never taken as whole.
constexpr std::string_view kEndMark = "\n\x1e" "kafh-isolated-end:";
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

void Classify(int status, bool exited, std::string answer, Result& result)
{
    const bool answered = answer.size() >= kEndMark.size() + 1 &&
                          answer.compare(answer.size() - kEndMark.size() - 1, kEndMark.size(), kEndMark) == 0;
    const char verdict = answered ? answer.back() : 0;
    if (answered) {
        answer.resize(answer.size() - kEndMark.size() - 1);
    } else {
        answer.clear();
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
}

} // namespace

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

void WriteFrame(int fd, char kind, std::string_view payload)
{
    std::string frame(1, kind);
    frame += std::to_string(payload.size());
    frame += '\n';
    frame += payload;
    WriteAll(fd, frame.data(), frame.size());
}

bool TakeFrame(std::string& buffer, char& kind, std::string& payload)
{
    const auto lineEnd = buffer.find('\n');
    if (lineEnd == std::string::npos || lineEnd < 2) {
        return false;
    }
    std::size_t size = 0;
    const auto parsed = std::from_chars(buffer.data() + 1, buffer.data() + lineEnd, size);
    if (parsed.ec != std::errc() || parsed.ptr != buffer.data() + lineEnd || buffer.size() - lineEnd - 1 < size) {
        return false;
    }
    kind = buffer[0];
    payload.assign(buffer, lineEnd + 1, size);
    buffer.erase(0, lineEnd + 1 + size);
    return true;
}

int EndHelper(pid_t child)
{
    // Whatever the plug-in left running in the group goes with the child.
    ::kill(-child, SIGKILL);
    ::kill(child, SIGKILL);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

void Descriptor::Reset(int fd)
{
    if (mFd >= 0) {
        ::close(mFd);
    }
    mFd = fd;
}

TrailArea::~TrailArea()
{
    if (mArea != nullptr) {
        ::munmap(mArea, kelcore::trail::kAreaSize);
    }
}

bool TrailArea::Create(std::string& error)
{
    mFile.Reset(::memfd_create("kafh-trail", MFD_CLOEXEC));
    if (mFile.Get() < 0 || ::ftruncate(mFile.Get(), kelcore::trail::kAreaSize) != 0) {
        error = std::string("cannot make the trail: ") + std::strerror(errno);
        return false;
    }
    void* area = ::mmap(nullptr, kelcore::trail::kAreaSize, PROT_READ | PROT_WRITE, MAP_SHARED, mFile.Get(), 0);
    if (area == MAP_FAILED) {
        error = std::string("cannot map the trail: ") + std::strerror(errno);
        return false;
    }
    mArea = area;
    return true;
}

bool MakeAnswerPipe(Descriptor& readEnd, Descriptor& writeEnd, std::string& error)
{
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        error = std::string("cannot make a pipe: ") + std::strerror(errno);
        return false;
    }
    readEnd.Reset(ends[0]);
    writeEnd.Reset(ends[1]);
    return true;
}

void DieWithParent(pid_t parent)
{
    // A child left behind by a parent that died would run on for ever with a hung plug-in.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) {
        ::_exit(127);
    }
}

bool RunWork(const Work& work, std::string& payload)
{
    try {
        return work(payload);
    } catch (const std::exception& error) {
        payload += std::string("\nexception escaped the isolated work: ") + error.what();
    } catch (...) {
        payload += "\nexception of unknown type escaped the isolated work";
    }
    return false;
}

void Answer(int fd, std::string payload, bool completed)
{
    payload += kEndMark;
    payload += completed ? kCompleted : kFailed;
    WriteAll(fd, payload.data(), payload.size());
    std::fflush(nullptr);
    // No exit handlers and no static destructors: a plug-in's clean-up code must not decide the answer.
    ::_exit(0);
}

ChildWatcher::ChildWatcher(pid_t child, int fd, const void* trailArea, const Options& options, Clock::time_point start)
    : mChild(child), mFd(fd), mTrailArea(trailArea), mOptions(options), mStart(start), mLastProgressAt(start),
      mLastProgress(kelcore::trail::ReadProgress(trailArea))
{
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    // Becomes readable when the child ends; without it, look in short slices.
#ifdef SYS_pidfd_open
    mChildEnd.Reset(static_cast<int>(::syscall(SYS_pidfd_open, child, 0)));
#endif
}

std::chrono::milliseconds ChildWatcher::Prepare(std::vector<pollfd>& watched)
{
    if (Done()) {
        return std::chrono::milliseconds(0);
    }
    const auto now = Clock::now();
    if (const auto progress = kelcore::trail::ReadProgress(mTrailArea); progress != mLastProgress) {
        mLastProgress = progress;
        mLastProgressAt = now;
    }
    const bool watchStalls = mOptions.stallTimeout.count() > 0;
    // A grandchild may hold the pipe open after the child has ended, and progress is only seen on waking:
    // wake up often unless the child's end wakes us and no stall is watched.
    auto left = std::chrono::milliseconds(mChildEnd.Get() >= 0 && !watchStalls ? 1000 : 20);
    // Rounded up: a wait cut to whole milliseconds downwards would end the work before its deadline.
    if (mOptions.timeout.count() > 0) {
        left = std::min(left, std::chrono::ceil<std::chrono::milliseconds>(mStart + mOptions.timeout - now));
    }
    if (watchStalls) {
        left = std::min(left,
                        std::chrono::ceil<std::chrono::milliseconds>(mLastProgressAt + mOptions.stallTimeout - now));
    }
    if (left.count() <= 0) {
        mOutOfTime = true;
        return std::chrono::milliseconds(0);
    }
    if (!mAtEnd) {
        watched.push_back({mFd, POLLIN, 0});
    }
    if (mChildEnd.Get() >= 0) {
        watched.push_back({mChildEnd.Get(), POLLIN, 0});
    }
    return left;
}

void ChildWatcher::Collect()
{
    if (Done()) {
        return;
    }
    if (!mAtEnd) {
        ReadAvailable(mFd, mAnswer, mAtEnd);
    }
    // Looked at without reaping: the group is killed in Finish while its number is still ours.
    siginfo_t info{};
    mExited = ::waitid(P_PID, static_cast<id_t>(mChild), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
              info.si_pid == mChild;
}

Result ChildWatcher::Finish()
{
    Result result;
    result.stalled = !mExited && mOptions.stallTimeout.count() > 0 &&
                     Clock::now() - mLastProgressAt >= mOptions.stallTimeout;
    const int status = EndHelper(mChild);
    ReadAvailable(mFd, mAnswer, mAtEnd);
    result.trail = kelcore::trail::Read(mTrailArea);
    result.seconds = std::chrono::duration<double>(Clock::now() - mStart).count();
    Classify(status, mExited, std::move(mAnswer), result);
    return result;
}

Result Watch(pid_t child, int fd, const void* trailArea, const Options& options, Clock::time_point start)
{
    ChildWatcher watcher(child, fd, trailArea, options, start);
    std::vector<pollfd> watched;
    for (;;) {
        watched.clear();
        const auto left = watcher.Prepare(watched);
        if (watcher.Done()) {
            break;
        }
        ::poll(watched.data(), watched.size(), static_cast<int>(left.count()));
        watcher.Collect();
    }
    return watcher.Finish();
}

} // namespace kelaudiofilterhost::isolation::internal
