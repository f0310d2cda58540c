// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/services/RefCountedObject.h"

#include <cstdint>

namespace kelaudiofilterhost {

/// Delays a multi-channel float signal by a fixed number of frames: one ring per channel with a tail
/// extension, so a delayed block is always handed out contiguously without copying it out.
/// Per block: WriteData(input, n), then GetDelayedOutput(n) with the same n <= the buffer size.
/// Not thread-safe; WriteData and GetDelayedOutput allocate nothing.
class DelayLine : public kelcore::utility::RefCountedObject {
public:
    DelayLine() = default;
    /// Allocates at once; a zero-sized line or a failed allocation leaves it unallocated.
    DelayLine(unsigned long bufferSize, unsigned long delay, unsigned long channelCount);
    ~DelayLine() override;

    /// Keeps the samples when the size is unchanged and allocated; otherwise reallocates (zeroed).
    bool SetBufferSize(unsigned long bufferSize);
    /// Always reallocates (zeroed).
    bool SetDelay(unsigned long delay);
    /// Restarts the positions; clear also zeroes every stored sample.
    void Reset(bool clear);
    /// Appends one block of N channels; ignored when unallocated or longer than the buffer size.
    void WriteData(float** input, unsigned long frames);
    /// N channel pointers to the block delayed by the delay; null when unallocated or frames exceed
    /// the buffer size. Valid until the next WriteData, clearing Reset or reallocation.
    float** GetDelayedOutput(unsigned long frames);

    bool IsAllocated() const { return mAllocated; }
    std::uint32_t GetDelay() const { return mDelay; }
    std::uint32_t GetBufferSize() const { return mBufferSize; }
    std::uint32_t GetChannelCount() const { return mChannelCount; }

private:
    bool AllocateAudioBuffer();
    void DeleteAudioBuffer();

    std::uint32_t mDelay = 0;
    std::uint32_t mWritePosition = 0;
    std::uint32_t mRingLength = 0;
    std::uint32_t mChannelStride = 0;
    float** mOutputPointers = nullptr;
    std::uint32_t mBufferSize = 0;
    std::uint32_t mFillCount = 0;
    bool mAllocated = false;
    float* mStorage = nullptr;
    float** mChannelPointers = nullptr;
    std::uint32_t mChannelCount = 0;
};

} // namespace kelaudiofilterhost
