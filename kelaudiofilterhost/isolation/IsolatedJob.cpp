// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/isolation/IsolatedJob.h"

#include "kelaudiofilterhost/catalogue/PluginModule.h"
#include "kelaudiofilterhost/isolation/JobProtocol.h"
#include "kelaudiofilterhost/services/Config.h"
#include "kelaudiofilterhost/services/Strings.h"
#include "kelaudiofilterhost/services/Trace.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <poll.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

extern char** environ;

#ifndef KAFH_ISOLATE_HELPER_FROM_BINDIR
#define KAFH_ISOLATE_HELPER_FROM_BINDIR "../lib/kelaudiofilterhost/kafh-isolate"
#endif

namespace kelaudiofilterhost::isolation {

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kHelperName = "kafh-isolate";

// Any address inside this library's code or data names the file it was loaded from.
const char sAnchor = 0;

// The folder of the file this code lives in: the shared library, or the program that linked it in.
std::filesystem::path OwnFolder()
{
    Dl_info info{};
    link_map* map = nullptr;
    if (::dladdr1(&sAnchor, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) == 0) {
        return {};
    }
    // The program itself has no name in the link map (dladdr would give argv[0], maybe not a path).
    if (map == nullptr || map->l_name == nullptr || map->l_name[0] == '\0') {
        std::error_code status;
        return std::filesystem::read_symlink("/proc/self/exe", status).parent_path();
    }
    return std::filesystem::path(map->l_name).parent_path();
}

bool IsRunnable(const std::filesystem::path& path)
{
    std::error_code status;
    return std::filesystem::is_regular_file(path, status) && ::access(path.c_str(), X_OK) == 0;
}

class Descriptor {
public:
    explicit Descriptor(int fd = -1) : mFd(fd) {}
    ~Descriptor() { Reset(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int Get() const { return mFd; }
    void Reset(int fd = -1)
    {
        if (mFd >= 0) {
            ::close(mFd);
        }
        mFd = fd;
    }

private:
    int mFd;
};

// Above the numbers the helper expects, so that placing one end cannot overwrite another.
int MoveHigh(Descriptor& descriptor)
{
    descriptor.Reset(::fcntl(descriptor.Get(), F_DUPFD_CLOEXEC, 10));
    return descriptor.Get();
}

class SpawnSetup {
public:
    SpawnSetup()
    {
        ::posix_spawn_file_actions_init(&mActions);
        ::posix_spawnattr_init(&mAttributes);
    }
    ~SpawnSetup()
    {
        ::posix_spawn_file_actions_destroy(&mActions);
        ::posix_spawnattr_destroy(&mAttributes);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    posix_spawn_file_actions_t mActions;
    posix_spawnattr_t mAttributes;
};

class TrailArea {
public:
    TrailArea() = default;
    ~TrailArea()
    {
        if (mArea != MAP_FAILED) {
            ::munmap(mArea, kelcore::trail::kAreaSize);
        }
    }
    TrailArea(const TrailArea&) = delete;
    TrailArea& operator=(const TrailArea&) = delete;

    bool Create(std::string& error)
    {
        mFile.Reset(::memfd_create("kafh-trail", MFD_CLOEXEC));
        if (mFile.Get() < 0 || ::ftruncate(mFile.Get(), kelcore::trail::kAreaSize) != 0) {
            error = std::string("cannot make the trail: ") + std::strerror(errno);
            return false;
        }
        mArea = ::mmap(nullptr, kelcore::trail::kAreaSize, PROT_READ | PROT_WRITE, MAP_SHARED, mFile.Get(), 0);
        if (mArea == MAP_FAILED) {
            error = std::string("cannot map the trail: ") + std::strerror(errno);
            return false;
        }
        return true;
    }
    Descriptor& File() { return mFile; }
    const void* Area() const { return mArea; }

private:
    Descriptor mFile;
    void* mArea = MAP_FAILED;
};

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

std::vector<std::string> ChildEnvironment(const JobOptions& options)
{
    std::vector<std::string> entries;
    for (char** entry = environ; entry != nullptr && *entry != nullptr; ++entry) {
        if (options.traceConfiguration.empty() || std::strncmp(*entry, "KAFH_TRACE=", 11) != 0) {
            entries.emplace_back(*entry);
        }
    }
    if (!options.traceConfiguration.empty()) {
        entries.push_back("KAFH_TRACE=" + options.traceConfiguration);
    }
    return entries;
}

std::vector<char*> Pointers(std::vector<std::string>& texts)
{
    std::vector<char*> pointers;
    for (auto& text : texts) {
        pointers.push_back(text.data());
    }
    pointers.push_back(nullptr);
    return pointers;
}

void Classify(int status, bool exited, std::string answer, Result& result)
{
    const auto mark = protocol::kEndMark;
    const bool answered = answer.size() >= mark.size() + 1 &&
                          answer.compare(answer.size() - mark.size() - 1, mark.size(), mark) == 0;
    const char verdict = answered ? answer.back() : 0;
    if (answered) {
        answer.resize(answer.size() - mark.size() - 1);
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
        result.outcome = verdict == protocol::kCompleted ? Outcome::Completed : Outcome::Failed;
    } else {
        result.outcome = Outcome::Lost;
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
}

} // namespace

std::filesystem::path FindHelper()
{
    if (const char* named = std::getenv(kHelperEnvironmentVariable); named != nullptr && named[0] != '\0') {
        return named;
    }
    const auto folder = OwnFolder();
    if (folder.empty()) {
        return {};
    }
    for (const auto& candidate : {folder / "kelaudiofilterhost" / kHelperName, folder / kHelperName,
                                  (folder / KAFH_ISOLATE_HELPER_FROM_BINDIR).lexically_normal()}) {
        if (IsRunnable(candidate)) {
            return candidate;
        }
    }
    return {};
}

Result RunJob(const std::string& job, const std::vector<std::string>& arguments, const JobOptions& options)
{
    Result result;
    const auto start = Clock::now();
    const auto helper = options.helper.empty() ? FindHelper() : options.helper;
    if (helper.empty()) {
        result.detail = std::string("the helper program ") + kHelperName + " is not installed beside the library (" +
                        kHelperEnvironmentVariable + " names it)";
        return result;
    }
    TrailArea trail;
    if (!trail.Create(result.detail) || MoveHigh(trail.File()) < 0) {
        result.detail = result.detail.empty() ? "cannot place the trail" : result.detail;
        return result;
    }
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        result.detail = std::string("cannot make a pipe: ") + std::strerror(errno);
        return result;
    }
    Descriptor readEnd(ends[0]);
    Descriptor writeEnd(ends[1]);
    if (MoveHigh(writeEnd) < 0) {
        result.detail = std::string("cannot place the pipe: ") + std::strerror(errno);
        return result;
    }
    ::fcntl(readEnd.Get(), F_SETFL, ::fcntl(readEnd.Get(), F_GETFL) | O_NONBLOCK);

    std::vector<std::string> argumentTexts{helper.string(), std::to_string(::getpid()),
                                           kelcore::UTF16to8(kelcore::config::GetClientName()),
                                           kelcore::UTF16to8(PluginModule::GetLocaleIdentifier()), job};
    argumentTexts.insert(argumentTexts.end(), arguments.begin(), arguments.end());
    auto environmentTexts = ChildEnvironment(options);
    auto argv = Pointers(argumentTexts);
    auto envp = Pointers(environmentTexts);

    SpawnSetup setup;
    ::posix_spawn_file_actions_adddup2(&setup.mActions, writeEnd.Get(), protocol::kAnswerDescriptor);
    ::posix_spawn_file_actions_adddup2(&setup.mActions, trail.File().Get(), protocol::kTrailDescriptor);
    ::posix_spawn_file_actions_addopen(&setup.mActions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    ::posix_spawn_file_actions_addopen(&setup.mActions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    if (!options.keepStandardError) {
        ::posix_spawn_file_actions_addopen(&setup.mActions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    }
    // Its own group, so a timeout also ends whatever processes the plug-in started; the caller's signal
    // handling and mask are not the helper's business.
    sigset_t defaults;
    sigset_t none;
    ::sigfillset(&defaults);
    ::sigemptyset(&none);
    ::posix_spawnattr_setflags(&setup.mAttributes, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF |
                                                       POSIX_SPAWN_SETSIGMASK);
    ::posix_spawnattr_setpgroup(&setup.mAttributes, 0);
    ::posix_spawnattr_setsigdefault(&setup.mAttributes, &defaults);
    ::posix_spawnattr_setsigmask(&setup.mAttributes, &none);

    pid_t child = -1;
    const int spawned = ::posix_spawn(&child, helper.c_str(), &setup.mActions, &setup.mAttributes, argv.data(),
                                      envp.data());
    writeEnd.Reset();
    if (spawned != 0) {
        result.detail = "cannot start " + helper.string() + ": " + std::strerror(spawned);
        return result;
    }
    KAFH_TRACE("isolation::RunJob", 5, job << ": helper process " << child);

    // Becomes readable when the helper ends; without it, look in short slices.
#ifdef SYS_pidfd_open
    Descriptor helperEnd(static_cast<int>(::syscall(SYS_pidfd_open, child, 0)));
#else
    Descriptor helperEnd;
#endif
    const auto deadline = start + options.timeout;
    bool exited = false;
    bool atEnd = false;
    std::string answer;
    while (!exited) {
        // Rounded up: a wait cut to whole milliseconds downwards would end the job before its deadline.
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) {
            break;
        }
        pollfd watched[2];
        nfds_t count = 0;
        if (!atEnd) {
            watched[count++] = {readEnd.Get(), POLLIN, 0};
        }
        if (helperEnd.Get() >= 0) {
            watched[count++] = {helperEnd.Get(), POLLIN, 0};
        }
        // A grandchild may hold the pipe open after the helper has ended: without a process descriptor,
        // wake up now and then to look.
        const std::int64_t slice = helperEnd.Get() >= 0 ? 1000 : 20;
        if (::poll(watched, count, static_cast<int>(std::min<std::int64_t>(left.count(), slice))) > 0 && !atEnd) {
            ReadAvailable(readEnd.Get(), answer, atEnd);
        }
        // Looked at without reaping: the group is killed below while its number is still ours.
        siginfo_t info{};
        exited = ::waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
                 info.si_pid == child;
    }
    // Whatever the plug-in left running in the group goes with the helper.
    ::kill(-child, SIGKILL);
    ::kill(child, SIGKILL);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    ReadAvailable(readEnd.Get(), answer, atEnd);
    result.trail = kelcore::trail::Read(trail.Area());
    result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    Classify(status, exited, std::move(answer), result);
    KAFH_TRACE("isolation::RunJob", 5, job << ": " << result.Describe());
    return result;
}

} // namespace kelaudiofilterhost::isolation
