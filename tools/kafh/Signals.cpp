// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/kafh/Signals.h"

#include <atomic>
#include <csignal>
#include <cstring>
#include <new>

#include <limits.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

namespace kafh {

namespace {

constexpr int kHandledSignals[] = {SIGINT, SIGTERM, SIGHUP};

// Shared with the children kafh forks for plug-in work: a child arms the file it writes here, so
// the parent's handler can remove it, and names itself, so the handler can end it first.
struct TemporaryState {
    std::atomic<bool> armed{false};
    std::atomic<pid_t> worker{0};
    std::atomic<bool> gentle{false};
    std::atomic<bool> stopRequested{false};
    char name[PATH_MAX] = {};
};
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<pid_t>::is_always_lock_free);

TemporaryState sPrivateState;
TemporaryState* sState = &sPrivateState;
// Per process: whether this process already turned a signal into a stop request.
volatile sig_atomic_t sStopAsked = 0;

extern "C" void OnTerminatingSignal(int signal)
{
    // Only async-signal-safe calls here: kill, waitpid, unlink, sigaction and raise.
    if (sState->gentle.load() && (signal == SIGINT || signal == SIGTERM) && sStopAsked == 0) {
        // The parent and its worker (in a process group of its own) may each get one: both only ask.
        sStopAsked = 1;
        sState->stopRequested.store(true);
        return;
    }
    const pid_t worker = sState->worker.load();
    if (worker > 0 && worker != getpid()) {
        // The worker would die with this process anyway; end it first, so it cannot create or
        // write the file after it is removed.
        kill(worker, SIGKILL);
        waitpid(worker, nullptr, 0);
    }
    if (sState->armed.load()) {
        unlink(sState->name);
    }
    struct sigaction fallback {};
    fallback.sa_handler = SIG_DFL;
    sigemptyset(&fallback.sa_mask);
    sigaction(signal, &fallback, nullptr);
    raise(signal);
}

} // namespace

void InstallSignalHandling()
{
    void* shared = mmap(nullptr, sizeof(TemporaryState), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (shared != MAP_FAILED) {
        sState = new (shared) TemporaryState();
    }
    struct sigaction action {};
    action.sa_handler = &OnTerminatingSignal;
    sigemptyset(&action.sa_mask);
    for (const int signal : kHandledSignals) {
        sigaddset(&action.sa_mask, signal);
    }
    for (const int signal : kHandledSignals) {
        struct sigaction previous {};
        // A shell starts background jobs with SIGINT ignored; keep it that way.
        if (sigaction(signal, nullptr, &previous) == 0 && previous.sa_handler == SIG_IGN) {
            continue;
        }
        sigaction(signal, &action, nullptr);
    }
}

bool ArmTemporaryFile(const std::filesystem::path& temporary)
{
    const std::string& name = temporary.native();
    if (sState->armed.load() || name.size() >= sizeof sState->name) {
        return false;
    }
    std::memcpy(sState->name, name.c_str(), name.size() + 1);
    sState->armed.store(true);
    return true;
}

void DisarmTemporaryFile()
{
    sState->armed.store(false);
}

void BecomeWorker()
{
    sState->worker.store(getpid());
}

void CleanUpAfterWorker()
{
    sState->worker.store(0);
    if (sState->armed.load()) {
        unlink(sState->name);
        sState->armed.store(false);
    }
}

void StopGentlyOnInterrupt()
{
    sState->gentle.store(true);
}

bool IsStopRequested()
{
    return sState->stopRequested.load();
}

} // namespace kafh
