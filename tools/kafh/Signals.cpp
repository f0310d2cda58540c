// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/kafh/Signals.h"

#include <atomic>
#include <csignal>
#include <cstring>

#include <limits.h>
#include <unistd.h>

namespace kafh {

namespace {

constexpr int kHandledSignals[] = {SIGINT, SIGTERM, SIGHUP};

char sTemporaryName[PATH_MAX];
std::atomic<bool> sTemporaryArmed{false};

extern "C" void OnTerminatingSignal(int signal)
{
    // Only async-signal-safe calls here: unlink, sigaction and raise.
    if (sTemporaryArmed.load()) {
        unlink(sTemporaryName);
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

char* ArmTemporaryFile(const std::string& pattern)
{
    if (sTemporaryArmed.load() || pattern.size() >= sizeof sTemporaryName) {
        return nullptr;
    }
    std::memcpy(sTemporaryName, pattern.c_str(), pattern.size() + 1);
    sTemporaryArmed.store(true);
    return sTemporaryName;
}

void DisarmTemporaryFile()
{
    sTemporaryArmed.store(false);
}

} // namespace kafh
