// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <cstddef>
#include <memory>

namespace kelaudiofilterhost {

/// A fixed-length array of channel indices that one thread updates entry by entry while the audio
/// thread reads it: every entry is a relaxed atomic, so readers see either the old or the new index.
/// Only Resize changes the length, and only while nobody reads.
class ChannelIndexArray {
public:
    void Resize(std::size_t size, int value)
    {
        mEntries = size > 0 ? std::make_unique<std::atomic<int>[]>(size) : nullptr;
        mSize = size;
        Fill(value);
    }
    void Clear() { Resize(0, -1); }
    void Fill(int value)
    {
        for (std::size_t i = 0; i < mSize; ++i) {
            mEntries[i].store(value, std::memory_order_relaxed);
        }
    }
    std::size_t Size() const { return mSize; }
    bool Empty() const { return mSize == 0; }
    int operator[](std::size_t i) const { return mEntries[i].load(std::memory_order_relaxed); }
    void Store(std::size_t i, int value) { mEntries[i].store(value, std::memory_order_relaxed); }

private:
    std::unique_ptr<std::atomic<int>[]> mEntries;
    std::size_t mSize = 0;
};

} // namespace kelaudiofilterhost
