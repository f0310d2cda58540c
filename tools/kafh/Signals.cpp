// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/kafh/Signals.h"

#include <atomic>
#include <cerrno>
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

// One worker child and the temporary file it writes.
struct WorkerSlot {
    std::atomic<pid_t> worker{0};
    std::atomic<bool> armed{false};
    char name[PATH_MAX] = {};
};

// Shared with the children kafh forks for plug-in work: a child takes a slot, names itself there, so
// the parent's handler can end it first, and arms the file it writes, so the handler can remove it.
struct TemporaryState {
    std::atomic<bool> gentle{false};
    std::atomic<bool> stopRequested{false};
    // kafh's own file, outside the workers' slots.
    WorkerSlot own;
    WorkerSlot slots[kMaximumWorkers];
};
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<pid_t>::is_always_lock_free);

TemporaryState sPrivateState;
TemporaryState* sState = &sPrivateState;
// Per process: the slot this process arms its file in, whether it is a worker, and whether it
// already turned a signal into a stop request.
WorkerSlot* sSlot = &sPrivateState.own;
bool sIsWorker = false;
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
    if (sIsWorker) {
        if (sSlot->armed.load()) {
            unlink(sSlot->name);
        }
    } else {
        if (sState->own.armed.load()) {
            unlink(sState->own.name);
        }
        for (auto& slot : sState->slots) {
            const pid_t worker = slot.worker.load();
            if (worker > 0 && worker != getpid()) {
                // The worker would die with this process anyway; end it first, so it cannot create or
                // write the file after it is removed.
                kill(worker, SIGKILL);
                waitpid(worker, nullptr, 0);
            }
            if (slot.armed.load()) {
                unlink(slot.name);
            }
        }
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
        sSlot = &sState->own;
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
    if (sSlot == nullptr || sSlot->armed.load() || name.size() >= sizeof sSlot->name) {
        return false;
    }
    std::memcpy(sSlot->name, name.c_str(), name.size() + 1);
    sSlot->armed.store(true);
    return true;
}

void DisarmTemporaryFile()
{
    if (sSlot != nullptr) {
        sSlot->armed.store(false);
    }
}

void BecomeWorker()
{
    sIsWorker = true;
    sSlot = nullptr;
    const pid_t self = getpid();
    for (auto& slot : sState->slots) {
        pid_t free = 0;
        if (slot.worker.compare_exchange_strong(free, self)) {
            slot.armed.store(false);
            sSlot = &slot;
            return;
        }
    }
}

void CleanUpAfterWorkers()
{
    for (auto& slot : sState->slots) {
        const pid_t worker = slot.worker.load();
        // Reaped workers no longer exist; those still running keep their slots.
        if (worker <= 0 || (kill(worker, 0) != 0 && errno == ESRCH)) {
            if (slot.armed.load()) {
                unlink(slot.name);
                slot.armed.store(false);
            }
            slot.worker.store(0);
        }
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
