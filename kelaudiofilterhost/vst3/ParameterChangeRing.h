// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <pluginterfaces/vst/vsttypes.h>

#include <atomic>
#include <cstdint>
#include <vector>

namespace kelaudiofilterhost::vst3 {

/// One parameter change on its way between threads.
struct ParameterChange {
    Steinberg::Vst::ParamID id = 0;
    double value = 0.0;
    std::int32_t sampleOffset = 0;
};

/// A ring of parameter changes from one thread to another, without locks or allocation: one
/// thread pushes, one pops. It holds one change less than its capacity; a push into a full ring
/// drops the new change and counts it.
class ParameterChangeRing {
public:
    /// Not while either thread uses the ring: allocates, and forgets what it held.
    void Resize(std::size_t capacity)
    {
        mEntries.assign(capacity, ParameterChange{});
        mRead.store(0, std::memory_order_relaxed);
        mWrite.store(0, std::memory_order_relaxed);
    }
    std::size_t GetCapacity() const noexcept { return mEntries.size(); }

    /// False (and one more drop counted) when the ring is full or has no room at all.
    bool Push(const ParameterChange& change) noexcept
    {
        if (mEntries.empty()) {
            mDropped.fetch_add(1, std::memory_order_relaxed);
            return false;
        }
        const std::size_t write = mWrite.load(std::memory_order_relaxed);
        const std::size_t next = write + 1 == mEntries.size() ? 0 : write + 1;
        if (next == mRead.load(std::memory_order_acquire)) {
            mDropped.fetch_add(1, std::memory_order_relaxed);
            return false;
        }
        mEntries[write] = change;
        mWrite.store(next, std::memory_order_release);
        return true;
    }

    /// The oldest change; false when there is none.
    bool Pop(ParameterChange& change) noexcept
    {
        const std::size_t read = mRead.load(std::memory_order_relaxed);
        if (read == mWrite.load(std::memory_order_acquire)) {
            return false;
        }
        change = mEntries[read];
        mRead.store(read + 1 == mEntries.size() ? 0 : read + 1, std::memory_order_release);
        return true;
    }

    /// Whether nothing waits; only the popping thread can rely on the answer.
    bool IsEmpty() const noexcept
    {
        return mRead.load(std::memory_order_relaxed) == mWrite.load(std::memory_order_acquire);
    }

    /// Changes dropped since the last call; the count restarts at 0.
    std::uint64_t TakeDropCount() noexcept { return mDropped.exchange(0, std::memory_order_relaxed); }

private:
    std::vector<ParameterChange> mEntries;
    std::atomic<std::size_t> mRead{0};
    std::atomic<std::size_t> mWrite{0};
    std::atomic<std::uint64_t> mDropped{0};
};

} // namespace kelaudiofilterhost::vst3
