// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/kafh/ModuleProbe.h"

#include "kelaudiofilterhost/catalogue/PluginModuleInfoManager.h"
#include "kelaudiofilterhost/catalogue/PluginModuleScanner.h"
#include "kelaudiofilterhost/services/PropList.h"
#include "kelaudiofilterhost/services/Trace.h"
#include "tools/kafh/Console.h"

#include <boost/intrusive_ptr.hpp>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace kafh {

namespace {

using namespace kelaudiofilterhost;
using Clock = std::chrono::steady_clock;

// The child writes its answer here rather than to standard output, which plug-ins print to.
constexpr int kAnswerDescriptor = 3;
constexpr std::size_t kMaximumAnswer = std::size_t(64) << 20;
// Sent by the child just before it loads the module: a failure without it is the host's own.
constexpr std::string_view kLoadingMark = "loading\n";

class SpawnSetup {
public:
    SpawnSetup()
    {
        posix_spawn_file_actions_init(&mActions);
        posix_spawnattr_init(&mAttributes);
    }
    ~SpawnSetup()
    {
        posix_spawn_file_actions_destroy(&mActions);
        posix_spawnattr_destroy(&mAttributes);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    posix_spawn_file_actions_t mActions;
    posix_spawnattr_t mAttributes;
};

class Descriptor {
public:
    explicit Descriptor(int fd = -1) : mFd(fd) {}
    ~Descriptor() { Close(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    void Close()
    {
        if (mFd >= 0) {
            close(mFd);
            mFd = -1;
        }
    }
    int Get() const { return mFd; }
    void Reset(int fd)
    {
        Close();
        mFd = fd;
    }

private:
    int mFd;
};

std::string SignalText(int signal)
{
    const char* name = strsignal(signal);
    return "killed by signal " + std::to_string(signal) + (name != nullptr ? " (" + std::string(name) + ")" : "");
}

// Reads what the pipe holds now; false once it reached its end or failed.
bool Drain(int fd, std::string& answer)
{
    char buffer[16384];
    for (;;) {
        const ssize_t got = read(fd, buffer, sizeof buffer);
        if (got > 0) {
            if (answer.size() < kMaximumAnswer) {
                answer.append(buffer, static_cast<std::size_t>(got));
            }
            continue;
        }
        if (got < 0 && errno == EINTR) {
            continue;
        }
        return got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
}

bool WriteAll(int fd, const std::string& text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t put = write(fd, text.data() + done, text.size() - done);
        if (put < 0 && errno == EINTR) {
            continue;
        }
        if (put <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(put);
    }
    return true;
}

const char* OutcomeName(ProbeOutcome outcome)
{
    switch (outcome) {
    case ProbeOutcome::Described:
        return "described";
    case ProbeOutcome::NotDescribed:
        return "not described";
    case ProbeOutcome::Crashed:
        return "crashed";
    case ProbeOutcome::TimedOut:
        return "timed out";
    case ProbeOutcome::AbnormalExit:
        return "exited abnormally";
    case ProbeOutcome::HostFailed:
        return "failed before loading";
    case ProbeOutcome::NotStarted:
        break;
    }
    return "not started";
}

void Classify(int status, ProbeResult& result)
{
    const bool loading = result.xml.compare(0, kLoadingMark.size(), kLoadingMark) == 0;
    if (loading) {
        result.xml.erase(0, kLoadingMark.size());
    } else if (result.outcome == ProbeOutcome::TimedOut || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        result.detail = "the scan process failed before it loaded the module (" +
                        (result.outcome == ProbeOutcome::TimedOut ? result.detail
                         : WIFSIGNALED(status)                    ? SignalText(WTERMSIG(status))
                                                                   : "exit status " +
                                                                         std::to_string(WEXITSTATUS(status))) +
                        ")";
        result.outcome = ProbeOutcome::HostFailed;
        return;
    }
    if (result.outcome == ProbeOutcome::TimedOut) {
        return;
    }
    if (WIFSIGNALED(status)) {
        result.outcome = ProbeOutcome::Crashed;
        result.detail = SignalText(WTERMSIG(status));
        return;
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        result.outcome = ProbeOutcome::AbnormalExit;
        result.detail = "exited with status " + std::to_string(WIFEXITED(status) ? WEXITSTATUS(status) : -1);
        return;
    }
    kelcore::proplist::PropList answer;
    if (result.xml.empty()) {
        result.outcome = ProbeOutcome::AbnormalExit;
        result.detail = "exited during the scan without an answer";
        return;
    }
    if (!kelcore::proplist::utils::ReadPropList(result.xml, answer)) {
        result.outcome = ProbeOutcome::AbnormalExit;
        result.detail = "answered with malformed data";
        return;
    }
    std::int32_t modules = 0;
    answer.GetValue("num_plugin_infos", modules);
    if (modules > 0) {
        result.outcome = ProbeOutcome::Described;
    } else {
        result.outcome = ProbeOutcome::NotDescribed;
        result.detail = "not loadable as a plug-in module, or it describes no plug-in";
    }
}

} // namespace

bool IsBanOutcome(ProbeOutcome outcome)
{
    return outcome == ProbeOutcome::Crashed || outcome == ProbeOutcome::TimedOut ||
           outcome == ProbeOutcome::AbnormalExit;
}

ProbeResult ProbeModule(const PluginLocator& locator, const ProbeOptions& options)
{
    ProbeResult result;
    const auto started = Clock::now();
    const auto path = kelcore::UTF16to8(locator.GetPath());
    // A deadline that cannot be computed would time out (and ban) every module.
    if (!std::isfinite(options.timeoutSeconds) || !(options.timeoutSeconds > 0.0)) {
        result.detail = "no usable timeout";
        return result;
    }

    int ends[2] = {-1, -1};
    if (pipe2(ends, O_CLOEXEC) != 0) {
        result.detail = std::string("cannot make a pipe: ") + std::strerror(errno);
        return result;
    }
    Descriptor readEnd(ends[0]);
    Descriptor writeEnd(ends[1]);
    // dup2 onto the same number would keep close-on-exec set; move the write end out of the way.
    if (writeEnd.Get() == kAnswerDescriptor) {
        writeEnd.Reset(fcntl(kAnswerDescriptor, F_DUPFD_CLOEXEC, 10));
    }
    fcntl(readEnd.Get(), F_SETFL, fcntl(readEnd.Get(), F_GETFL) | O_NONBLOCK);

    std::vector<std::string> arguments{"kafh"};
    if (!options.configDirectory.empty()) {
        arguments.insert(arguments.end(), {"--config", options.configDirectory.string()});
    }
    if (options.verbose) {
        arguments.emplace_back("--verbose");
    }
    arguments.insert(arguments.end(), {"scan-one", "--fd", std::to_string(kAnswerDescriptor), "--type",
                                       std::to_string(static_cast<int>(locator.GetTechnologyType())), "--", path});
    std::vector<char*> argv;
    for (auto& argument : arguments) {
        argv.push_back(argument.data());
    }
    argv.push_back(nullptr);

    SpawnSetup setup;
    posix_spawn_file_actions_adddup2(&setup.mActions, writeEnd.Get(), kAnswerDescriptor);
    posix_spawn_file_actions_addopen(&setup.mActions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&setup.mActions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    if (!options.verbose) {
        posix_spawn_file_actions_addopen(&setup.mActions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    }
    // Its own process group, so a timeout also kills whatever the plug-in started.
    sigset_t defaults;
    sigset_t none;
    sigfillset(&defaults);
    sigemptyset(&none);
    posix_spawnattr_setflags(&setup.mAttributes,
                             POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);
    posix_spawnattr_setpgroup(&setup.mAttributes, 0);
    posix_spawnattr_setsigdefault(&setup.mAttributes, &defaults);
    posix_spawnattr_setsigmask(&setup.mAttributes, &none);

    pid_t child = -1;
    const int spawned =
        posix_spawn(&child, "/proc/self/exe", &setup.mActions, &setup.mAttributes, argv.data(), environ);
    writeEnd.Close();
    if (spawned != 0) {
        result.detail = std::string("cannot start a scan process: ") + std::strerror(spawned);
        return result;
    }
    KAFH_TRACE("kafh::ProbeModule", 5, "\"" << path << "\": scan process " << child);

    // A descriptor that becomes readable when the child ends; without it, poll in short slices.
#ifdef SYS_pidfd_open
    Descriptor childEnd(static_cast<int>(syscall(SYS_pidfd_open, child, 0)));
#else
    Descriptor childEnd;
#endif
    const auto deadline = started + std::chrono::duration_cast<Clock::duration>(
                                        std::chrono::duration<double>(options.timeoutSeconds));
    bool pipeOpen = true;
    bool exited = false;
    int status = 0;
    while (!exited) {
        const auto now = Clock::now();
        if (now >= deadline) {
            kill(-child, SIGKILL);
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            if (pipeOpen) {
                Drain(readEnd.Get(), result.xml);
            }
            result.outcome = ProbeOutcome::TimedOut;
            char text[64];
            std::snprintf(text, sizeof text, "did not finish within %g s", options.timeoutSeconds);
            result.detail = text;
            result.seconds = std::chrono::duration<double>(Clock::now() - started).count();
            Classify(status, result);
            return result;
        }
        auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count() + 1;
        pollfd watched[2];
        nfds_t count = 0;
        if (pipeOpen) {
            watched[count++] = {readEnd.Get(), POLLIN, 0};
        }
        if (childEnd.Get() >= 0) {
            watched[count++] = {childEnd.Get(), POLLIN, 0};
        } else {
            wait = std::min<long long>(wait, 20);
        }
        poll(watched, count, static_cast<int>(std::min<long long>(wait, 1000)));
        if (pipeOpen && !Drain(readEnd.Get(), result.xml)) {
            pipeOpen = false;
        }
        // Looked at without reaping: the group is killed below while its number is still ours.
        siginfo_t info{};
        exited = waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
                 info.si_pid == child;
    }
    // Collect what is left; a grandchild holding the pipe open must not keep us waiting.
    if (pipeOpen) {
        Drain(readEnd.Get(), result.xml);
    }
    kill(-child, SIGKILL);
    waitpid(child, &status, 0);
    result.seconds = std::chrono::duration<double>(Clock::now() - started).count();
    Classify(status, result);
    KAFH_TRACE("kafh::ProbeModule", 5,
               "\"" << path << "\": " << OutcomeName(result.outcome) << " after " << result.seconds << " s; "
                     << result.detail);
    return result;
}

int RunScanOne(int answerDescriptor, int technologyType, const std::string& path)
{
    // Die with the scanning process rather than linger with a hung plug-in.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (fcntl(answerDescriptor, F_GETFD) < 0) {
        return Fail("scan-one: descriptor " + std::to_string(answerDescriptor) + " is not open");
    }
    const PluginLocator locator(static_cast<TechnologyType>(technologyType), kelcore::UTF8to16(path));
    if (!WriteAll(answerDescriptor, std::string(kLoadingMark))) {
        _exit(kExitFailure);
    }
    {
        boost::intrusive_ptr<PluginModuleScanner> scanner(new PluginModuleScanner({locator}));
        scanner->BeginScan();
        while (scanner->ContinueScan()) {
        }
        scanner->EndScan();
    }
    const auto xml = PluginModuleInfoManager::GetInstance().GetConfigurationAsXML();
    const bool sent = WriteAll(answerDescriptor, xml);
    close(answerDescriptor);
    // Plug-ins' static destructors and unload code are not trusted to end cleanly.
    _exit(sent ? kExitOk : kExitFailure);
}

} // namespace kafh
