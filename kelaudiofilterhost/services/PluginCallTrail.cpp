// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/services/PluginCallTrail.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>

namespace kelcore::trail {

namespace {

// The layout a parent reads: plain bytes and a lock-free flag only, so it means the same in any process.
struct Area {
    std::atomic<std::uint32_t> inCall;
    std::atomic<std::uint32_t> progress;
    char step[128];
    char module[768];
    char call[64];
};
static_assert(sizeof(Area) <= kAreaSize);
static_assert(std::atomic<std::uint32_t>::is_always_lock_free);

alignas(Area) unsigned char sOwnArea[kAreaSize];
std::atomic<Area*> sArea{reinterpret_cast<Area*>(sOwnArea)};
// The module text copied last, by pointer, so the audio path copies a path only when it changes.
std::atomic<const char*> sLastModule{nullptr};
std::atomic<const char*> sLastCall{nullptr};

// Plain load and store rather than a read-modify-write: gates call this for every block, and a count
// that loses a step when two threads race still moves.
void MoveOn(Area* area)
{
    area->progress.store(area->progress.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
}

// Byte by byte through relaxed atomics: gates on several threads may write at once, and a torn text
// in a diagnostic is acceptable where a data race is not.
template <std::size_t N>
void CopyBounded(char (&target)[N], std::string_view text)
{
    const std::size_t n = std::min(text.size(), N - 1);
    for (std::size_t i = 0; i < n; ++i) {
        std::atomic_ref<char>(target[i]).store(text[i], std::memory_order_relaxed);
    }
    std::atomic_ref<char>(target[n]).store(0, std::memory_order_relaxed);
}

template <std::size_t N>
std::string ReadBounded(const char (&source)[N])
{
    std::string text;
    for (std::size_t i = 0; i + 1 < N; ++i) {
        const char c = std::atomic_ref<char>(const_cast<char&>(source[i])).load(std::memory_order_relaxed);
        if (c == 0) {
            break;
        }
        text += c;
    }
    return text;
}

} // namespace

void UseArea(void* area)
{
    auto* target = area != nullptr ? static_cast<Area*>(area) : reinterpret_cast<Area*>(sOwnArea);
    std::memset(static_cast<void*>(target), 0, sizeof(Area));
    sLastModule.store(nullptr, std::memory_order_relaxed);
    sLastCall.store(nullptr, std::memory_order_relaxed);
    sArea.store(target, std::memory_order_release);
}

void SetStep(std::string_view step)
{
    Area* area = sArea.load(std::memory_order_acquire);
    CopyBounded(area->step, step);
    MoveOn(area);
}

void Beat()
{
    MoveOn(sArea.load(std::memory_order_acquire));
}

std::uint32_t ReadProgress(const void* area)
{
    const auto* source = area != nullptr ? static_cast<const Area*>(area) : sArea.load(std::memory_order_acquire);
    return source->progress.load(std::memory_order_relaxed);
}

void EnterCall(const char* module, const char* call)
{
    Area* area = sArea.load(std::memory_order_acquire);
    // The texts are copied only when they change: the audio path enters the same call every block.
    if (module != nullptr && sLastModule.load(std::memory_order_relaxed) != module) {
        sLastModule.store(module, std::memory_order_relaxed);
        CopyBounded(area->module, module);
    }
    if (sLastCall.load(std::memory_order_relaxed) != call) {
        sLastCall.store(call, std::memory_order_relaxed);
        CopyBounded(area->call, call != nullptr ? call : "");
    }
    area->inCall.store(1, std::memory_order_release);
    MoveOn(area);
}

void LeaveCall()
{
    Area* area = sArea.load(std::memory_order_acquire);
    // The next call, step or beat moves the count on; entering one is enough for a watcher.
    area->inCall.store(0, std::memory_order_release);
}

Snapshot Read(const void* area)
{
    const auto* source = area != nullptr ? static_cast<const Area*>(area) : sArea.load(std::memory_order_acquire);
    Snapshot snapshot;
    snapshot.step = ReadBounded(source->step);
    snapshot.module = ReadBounded(source->module);
    snapshot.call = ReadBounded(source->call);
    snapshot.inCall = source->inCall.load(std::memory_order_acquire) != 0;
    return snapshot;
}

std::string Describe(const Snapshot& snapshot)
{
    std::string text;
    if (!snapshot.step.empty()) {
        text = "step \"" + snapshot.step + "\"";
    }
    if (!snapshot.call.empty()) {
        if (!text.empty()) {
            text += ", ";
        }
        text += (snapshot.inCall ? "in " : "after ") + snapshot.call;
        if (!snapshot.module.empty()) {
            text += " of \"" + snapshot.module + "\"";
        }
    }
    return text;
}

} // namespace kelcore::trail
