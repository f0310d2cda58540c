// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/support/ForkedCase.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <streambuf>

namespace kelaudiofilterhost::testing {
namespace {

// Ends the report of a case that ran to its end; the case's own text never holds a zero byte.
constexpr char kVerdictMark = '\0';
constexpr char kPassed = 'P';
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

// Unbuffered, so that what the case wrote before a crash has already reached the parent.
class PipeBuffer : public std::streambuf {
public:
    explicit PipeBuffer(int fd) : mFd(fd) {}

protected:
    int_type overflow(int_type c) override
    {
        if (!traits_type::eq_int_type(c, traits_type::eof())) {
            const char ch = Printable(traits_type::to_char_type(c));
            WriteAll(mFd, &ch, 1);
        }
        return traits_type::not_eof(c);
    }
    std::streamsize xsputn(const char* s, std::streamsize n) override
    {
        std::string text(s, static_cast<std::size_t>(n));
        std::replace(text.begin(), text.end(), kVerdictMark, '?');
        WriteAll(mFd, text.data(), text.size());
        return n;
    }

private:
    static char Printable(char c) { return c == kVerdictMark ? '?' : c; }
    int mFd;
};

[[noreturn]] void RunChild(const ForkedCaseBody& body, int fd, pid_t parent)
{
    // A child left behind by a killed test run would hang on forever.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) {
        ::_exit(0);
    }
    bool passed = false;
    {
        PipeBuffer buffer(fd);
        std::ostream report(&buffer);
        try {
            passed = body(report);
        } catch (const std::exception& e) {
            report << "\nexception escaped the case: " << e.what() << '\n';
        } catch (...) {
            report << "\nexception of unknown type escaped the case\n";
        }
    }
    const char verdict[] = {kVerdictMark, passed ? kPassed : kFailed};
    WriteAll(fd, verdict, sizeof verdict);
    std::fflush(nullptr);
    // No exit handlers: the parent's would run a second time (leak checks, test-framework output).
    ::_exit(0);
}

void ReadAvailable(int fd, std::string& into, bool& atEnd)
{
    char chunk[4096];
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

} // namespace

std::string ForkedResult::Describe() const
{
    switch (outcome) {
    case Outcome::Passed:
        return "passed";
    case Outcome::Failed:
        return "failed";
    case Outcome::Crashed:
        return "crashed with signal " + std::to_string(signal) + " (" + ::strsignal(signal) + ")";
    case Outcome::TimedOut:
        return "timed out";
    case Outcome::Lost:
        return "exited with " + std::to_string(exitCode) + " before its end";
    }
    return "unknown";
}

ForkedResult RunForked(const ForkedCaseBody& body, std::chrono::milliseconds timeout)
{
    ForkedResult result;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        result.report = std::string("pipe: ") + std::strerror(errno);
        return result;
    }
    // What is buffered now would otherwise be written twice, by the parent and by the child.
    std::fflush(nullptr);
    const pid_t parent = ::getpid();
    const pid_t child = ::fork();
    if (child < 0) {
        result.report = std::string("fork: ") + std::strerror(errno);
        ::close(fds[0]);
        ::close(fds[1]);
        return result;
    }
    if (child == 0) {
        ::close(fds[0]);
        RunChild(body, fds[1], parent);
    }
    ::close(fds[1]);
    ::fcntl(fds[0], F_SETFL, ::fcntl(fds[0], F_GETFL) | O_NONBLOCK);

    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + timeout;
    int status = 0;
    bool exited = false;
    bool atEnd = false;
    while (!exited) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            break;
        }
        // Wake up now and then even while the pipe is quiet: a grandchild may hold its write end open
        // after the child has ended.
        const int wait = static_cast<int>(std::min<std::int64_t>(left.count(), 20));
        pollfd watched{fds[0], POLLIN, 0};
        if (atEnd) {
            ::poll(nullptr, 0, wait);
        } else if (::poll(&watched, 1, wait) > 0) {
            ReadAvailable(fds[0], result.report, atEnd);
        }
        exited = ::waitpid(child, &status, WNOHANG) == child;
    }
    if (!exited) {
        ::kill(child, SIGKILL);
        while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
    }
    ReadAvailable(fds[0], result.report, atEnd);
    ::close(fds[0]);

    const bool hasVerdict = result.report.size() >= 2 && result.report[result.report.size() - 2] == kVerdictMark;
    const char verdict = hasVerdict ? result.report.back() : 0;
    if (hasVerdict) {
        result.report.resize(result.report.size() - 2);
    }
    if (!exited) {
        result.outcome = ForkedResult::Outcome::TimedOut;
    } else if (WIFSIGNALED(status)) {
        result.outcome = ForkedResult::Outcome::Crashed;
        result.signal = WTERMSIG(status);
    } else if (WIFEXITED(status) && WEXITSTATUS(status) == 0 && hasVerdict) {
        result.outcome = verdict == kPassed ? ForkedResult::Outcome::Passed : ForkedResult::Outcome::Failed;
    } else {
        result.outcome = ForkedResult::Outcome::Lost;
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    return result;
}

} // namespace kelaudiofilterhost::testing
