// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/vst2/VSTEffectRegistry.h"

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>

namespace kelaudiofilterhost::vst::VSTEffectRegistry {

// A slot is free when it names no effect and no callback still holds it. Its filter is written before
// its effect, so a reader that sees the effect sees the filter that belongs to it.
struct Slot {
    std::atomic<abi::AEffect*> effect{nullptr};
    std::atomic<VSTAudioFilter*> filter{nullptr};
    std::atomic<std::uint32_t> users{0};
};

namespace {

// Slots come in segments that are never freed: a reader can walk them while a writer adds one, and a
// plug-in thread calling late (even during process exit) finds only trivially destructible memory.
constexpr std::size_t kSlotsPerSegment = 64;

struct Segment {
    Slot slots[kSlotsPerSegment];
    std::atomic<Segment*> next{nullptr};
};

constinit Segment sFirstSegment;
constinit std::mutex sWriters;

} // namespace

void Register(abi::AEffect* effect, VSTAudioFilter* filter)
{
    if (effect == nullptr) {
        return;
    }
    const std::lock_guard lock(sWriters);
    Segment* segment = &sFirstSegment;
    for (;;) {
        for (Slot& slot : segment->slots) {
            if (slot.effect.load() == nullptr && slot.users.load() == 0) {
                slot.filter.store(filter);
                slot.effect.store(effect);
                return;
            }
        }
        Segment* next = segment->next.load();
        if (next == nullptr) {
            next = new Segment;
            segment->next.store(next);
        }
        segment = next;
    }
}

void Unregister(abi::AEffect* effect)
{
    if (effect == nullptr) {
        return;
    }
    Slot* found = nullptr;
    {
        const std::lock_guard lock(sWriters);
        for (Segment* segment = &sFirstSegment; segment != nullptr && found == nullptr;
             segment = segment->next.load()) {
            for (Slot& slot : segment->slots) {
                if (slot.effect.load() == effect) {
                    slot.effect.store(nullptr);
                    found = &slot;
                    break;
                }
            }
        }
    }
    // Outside the lock: a callback still running may itself create or release other filters.
    while (found != nullptr && found->users.load() != 0) {
        std::this_thread::yield();
    }
}

Lease::Lease(abi::AEffect* effect)
{
    if (effect == nullptr) {
        return;
    }
    for (Segment* segment = &sFirstSegment; segment != nullptr;
         segment = segment->next.load(std::memory_order_acquire)) {
        for (Slot& slot : segment->slots) {
            if (slot.effect.load(std::memory_order_relaxed) != effect) {
                continue;
            }
            // Sequentially consistent with Unregister: either it sees this use, or this sees the slot cleared.
            slot.users.fetch_add(1);
            if (slot.effect.load() == effect) {
                mSlot = &slot;
                mFilter = slot.filter.load();
                return;
            }
            slot.users.fetch_sub(1);
        }
    }
}

Lease::~Lease()
{
    if (mSlot != nullptr) {
        mSlot->users.fetch_sub(1, std::memory_order_release);
    }
}

} // namespace kelaudiofilterhost::vst::VSTEffectRegistry
