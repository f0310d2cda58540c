// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/isolation/IsolatedJob.h"

#include "kelaudiofilterhost/catalogue/PluginModule.h"
#include "kelaudiofilterhost/isolation/ChildWatch.h"
#include "kelaudiofilterhost/isolation/JobProtocol.h"
#include "kelaudiofilterhost/services/Config.h"
#include "kelaudiofilterhost/services/Strings.h"
#include "kelaudiofilterhost/services/Trace.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <link.h>
#include <spawn.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>

extern char** environ;

#ifndef KAFH_ISOLATE_HELPER_FROM_BINDIR
#define KAFH_ISOLATE_HELPER_FROM_BINDIR "../lib/kelaudiofilterhost/kafh-isolate"
#endif

namespace kelaudiofilterhost::isolation {

using namespace internal;

namespace {

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

namespace internal {

bool StartHelper(const std::string& job, const std::vector<std::string>& arguments, const JobOptions& options,
                 bool withRequests, Helper& started, std::string& error)
{
    const auto helper = options.helper.empty() ? FindHelper() : options.helper;
    if (helper.empty()) {
        error = std::string("the helper program ") + kHelperName + " is not installed beside the library (" +
                kHelperEnvironmentVariable + " names it)";
        return false;
    }
    if (!started.trail.Create(error) || MoveHigh(started.trail.File()) < 0) {
        error = error.empty() ? "cannot place the trail" : error;
        return false;
    }
    Descriptor writeEnd;
    if (!MakeAnswerPipe(started.answer, writeEnd, error)) {
        return false;
    }
    if (MoveHigh(writeEnd) < 0) {
        error = std::string("cannot place the pipe: ") + std::strerror(errno);
        return false;
    }
    // A socket rather than a pipe: writing to a helper that died must not raise SIGPIPE in the caller.
    Descriptor requestEnd;
    if (withRequests) {
        int ends[2];
        if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
            error = std::string("cannot make a socket: ") + std::strerror(errno);
            return false;
        }
        started.requests.Reset(ends[0]);
        requestEnd.Reset(ends[1]);
        if (MoveHigh(requestEnd) < 0) {
            error = std::string("cannot place the socket: ") + std::strerror(errno);
            return false;
        }
    }

    std::vector<std::string> argumentTexts{helper.string(), std::to_string(::getpid()),
                                           kelcore::UTF16to8(kelcore::config::GetClientName()),
                                           kelcore::UTF16to8(PluginModule::GetLocaleIdentifier()), job};
    argumentTexts.insert(argumentTexts.end(), arguments.begin(), arguments.end());
    auto environmentTexts = ChildEnvironment(options);
    auto argv = Pointers(argumentTexts);
    auto envp = Pointers(environmentTexts);

    SpawnSetup setup;
    ::posix_spawn_file_actions_adddup2(&setup.mActions, writeEnd.Get(), protocol::kAnswerDescriptor);
    ::posix_spawn_file_actions_adddup2(&setup.mActions, started.trail.File().Get(), protocol::kTrailDescriptor);
    if (withRequests) {
        ::posix_spawn_file_actions_adddup2(&setup.mActions, requestEnd.Get(), protocol::kRequestDescriptor);
    }
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

    const int spawned = ::posix_spawn(&started.pid, helper.c_str(), &setup.mActions, &setup.mAttributes,
                                      argv.data(), envp.data());
    if (spawned != 0) {
        started.pid = -1;
        error = "cannot start " + helper.string() + ": " + std::strerror(spawned);
        return false;
    }
    KAFH_TRACE("isolation::RunJob", 5, job << ": helper process " << started.pid);
    return true;
}

} // namespace internal

Result RunJob(const std::string& job, const std::vector<std::string>& arguments, const JobOptions& options)
{
    Result result;
    const auto start = std::chrono::steady_clock::now();
    Helper helper;
    if (!StartHelper(job, arguments, options, false, helper, result.detail)) {
        return result;
    }
    result = Watch(helper.pid, helper.answer.Get(), helper.trail.Area(), options, start);
    KAFH_TRACE("isolation::RunJob", 5, job << ": " << result.Describe());
    return result;
}

} // namespace kelaudiofilterhost::isolation
