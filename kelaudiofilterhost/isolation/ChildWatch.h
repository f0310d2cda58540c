// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The two sides of running work in a child process, shared by RunForked (a forked child) and RunJob (the
// helper program): the child's answer and the parent's watch over it. Internal to the isolation subsystem.

#include "kelaudiofilterhost/isolation/IsolatedRun.h"

#include <poll.h>
#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kelaudiofilterhost::isolation {
struct JobOptions;
}

namespace kelaudiofilterhost::isolation::internal {

/// Closes the descriptor it holds when destroyed or reset.
class Descriptor {
public:
    explicit Descriptor(int fd = -1) : mFd(fd) {}
    ~Descriptor() { Reset(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int Get() const { return mFd; }
    void Reset(int fd = -1);

private:
    int mFd;
};

/// A trail area of kelcore::trail::kAreaSize bytes in a memory file, for a child to write and the parent
/// to read: a forked child inherits the mapping, a spawned one maps the file.
class TrailArea {
public:
    TrailArea() = default;
    ~TrailArea();
    TrailArea(const TrailArea&) = delete;
    TrailArea& operator=(const TrailArea&) = delete;

    /// False, with the reason in error, when the file cannot be made or mapped.
    bool Create(std::string& error);
    Descriptor& File() { return mFile; }
    /// Null until Create succeeded.
    void* Area() const { return mArea; }

private:
    Descriptor mFile;
    void* mArea = nullptr;
};

/// The pipe a child answers through, both ends closed on exec. False, with the reason in error, when
/// it cannot be made.
bool MakeAnswerPipe(Descriptor& readEnd, Descriptor& writeEnd, std::string& error);

// In the child.

/// Kills the child when the parent dies; ends it at once when the parent is already gone.
void DieWithParent(pid_t parent);
/// Runs the work; an exception escaping it makes a failure whose text is added to the payload.
bool RunWork(const Work& work, std::string& payload);
/// Writes the payload to the answer descriptor, marked as whole with the verdict, and ends the process
/// with _exit (no exit handlers, no static destructors).
[[noreturn]] void Answer(int fd, std::string payload, bool completed);
/// Writes one answer of a job that answers many requests: the kind, the payload's length and the payload.
void WriteFrame(int fd, char kind, std::string_view payload);
/// Takes one whole frame off the front of the buffer; false while none is whole.
bool TakeFrame(std::string& buffer, char& kind, std::string& payload);
/// Reads what the descriptor holds now (it is non-blocking) onto the buffer; atEnd when the writer closed it.
void ReadAvailable(int fd, std::string& into, bool& atEnd);

// In the parent.

/// The watch over one started child that leads a process group of its own, a step at a time, so that
/// one thread can watch many children: reads its answer from fd (made non-blocking) and notes when it
/// ends or runs past the total timeout, or its trail's progress stands still for the stall timeout.
class ChildWatcher {
public:
    /// start is when the run began, for the timeout and Result::seconds.
    ChildWatcher(pid_t child, int fd, const void* trailArea, const Options& options,
                 std::chrono::steady_clock::time_point start);
    ChildWatcher(const ChildWatcher&) = delete;
    ChildWatcher& operator=(const ChildWatcher&) = delete;

    /// Adds what to poll for this child and returns the longest the poll may wait; zero once Done().
    std::chrono::milliseconds Prepare(std::vector<pollfd>& watched);
    /// After the poll: takes what the child wrote and looks whether it ended.
    void Collect();
    /// The child ended or ran out of time.
    bool Done() const { return mExited || mOutOfTime; }
    /// Kills the child's group in every case, reaps the child and classifies how it ended. Once.
    Result Finish();

private:
    pid_t mChild;
    int mFd;
    const void* mTrailArea;
    Options mOptions;
    std::chrono::steady_clock::time_point mStart;
    std::chrono::steady_clock::time_point mLastProgressAt;
    std::uint32_t mLastProgress = 0;
    Descriptor mChildEnd;
    bool mExited = false;
    bool mOutOfTime = false;
    bool mAtEnd = false;
    std::string mAnswer;
};

/// Watches the child with a ChildWatcher until it is done and finishes it.
Result Watch(pid_t child, int fd, const void* trailArea, const Options& options,
             std::chrono::steady_clock::time_point start);

/// A child forked for work (RunForked), before it is watched.
struct ForkedChild {
    pid_t pid = -1;
    /// The read end of the answer pipe.
    Descriptor answer;
    TrailArea trail;
    std::chrono::steady_clock::time_point start;
};

/// Forks a child in a process group of its own that runs the work and answers. False, with the
/// reason in error, when no child could be started.
bool StartForked(const Work& work, ForkedChild& child, std::string& error);

/// A helper process started for a job, before it is watched.
struct Helper {
    pid_t pid = -1;
    /// The read end of the answer pipe.
    Descriptor answer;
    /// The parent's end of the request socket, when asked for (the helper reads it at protocol::kRequestDescriptor).
    Descriptor requests;
    TrailArea trail;
};

/// Starts the helper program for a job, as RunJob describes. False, with the reason in error, when no
/// helper could be started.
bool StartHelper(const std::string& job, const std::vector<std::string>& arguments, const JobOptions& options,
                 bool withRequests, Helper& helper, std::string& error);

/// Kills the helper's process group and reaps it; the wait status.
int EndHelper(pid_t child);

} // namespace kelaudiofilterhost::isolation::internal
