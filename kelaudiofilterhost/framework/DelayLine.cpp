// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/framework/DelayLine.h"

#include "kelaudiofilterhost/services/FloatBlock.h"

#include <limits>
#include <new>

namespace kelaudiofilterhost {

namespace {

std::uint32_t Clamp32(unsigned long value)
{
    return value > std::numeric_limits<std::uint32_t>::max() ? std::numeric_limits<std::uint32_t>::max()
                                                             : static_cast<std::uint32_t>(value);
}

} // namespace

DelayLine::DelayLine(unsigned long bufferSize, unsigned long delay, unsigned long channelCount)
    : mDelay(Clamp32(delay)), mBufferSize(Clamp32(bufferSize)), mChannelCount(Clamp32(channelCount))
{
    mRingLength = mDelay + mBufferSize;
    AllocateAudioBuffer();
}

DelayLine::~DelayLine()
{
    DeleteAudioBuffer();
}

bool DelayLine::SetBufferSize(unsigned long bufferSize)
{
    const auto size = Clamp32(bufferSize);
    if (size == mBufferSize && mAllocated) {
        return true;
    }
    mRingLength = mDelay + size;
    mBufferSize = size;
    return AllocateAudioBuffer();
}

bool DelayLine::SetDelay(unsigned long delay)
{
    mDelay = Clamp32(delay);
    mRingLength = mBufferSize + mDelay;
    return AllocateAudioBuffer();
}

void DelayLine::Reset(bool clear)
{
    mWritePosition = 0;
    mFillCount = 0;
    if (clear && mAllocated) {
        kelcore::FloatZero(mStorage, static_cast<int>(mChannelCount * mChannelStride));
    }
}

void DelayLine::WriteData(float** input, unsigned long frames)
{
    if (!mAllocated || frames > mBufferSize || frames == 0 || input == nullptr) {
        return;
    }
    const auto n = static_cast<std::uint32_t>(frames);
    auto copy = [&](std::uint32_t sourceOffset, std::uint32_t ringOffset, std::uint32_t count) {
        for (std::uint32_t c = 0; c < mChannelCount; ++c) {
            if (input[c] != nullptr) {
                kelcore::FloatCopy(input[c] + sourceOffset, mChannelPointers[c] + ringOffset, static_cast<int>(count));
            } else {
                kelcore::FloatZero(mChannelPointers[c] + ringOffset, static_cast<int>(count));
            }
        }
    };
    if (mFillCount + n <= mRingLength) {
        copy(0, mWritePosition, n);
        mWritePosition += n;
        mFillCount += n;
    } else if (mWritePosition + n > mRingLength) {
        const std::uint32_t first = mRingLength - mWritePosition;
        copy(0, mWritePosition, first);
        copy(first, 0, n - first);
        mWritePosition = n - first;
        mFillCount = mRingLength;
    } else {
        copy(0, mWritePosition, n);
        mWritePosition += n;
        mFillCount = mRingLength;
    }
}

float** DelayLine::GetDelayedOutput(unsigned long frames)
{
    // Reads longer than the tail would leave the storage; refuse them.
    if (!mAllocated || frames > mBufferSize) {
        return nullptr;
    }
    const auto n = static_cast<std::int64_t>(frames);
    std::int64_t start = static_cast<std::int64_t>(mWritePosition) - mDelay - n;
    while (start < 0) {
        start += mRingLength;
    }
    const std::int64_t wrapped = start + n - mRingLength;
    if (wrapped > 0) {
        for (std::uint32_t c = 0; c < mChannelCount; ++c) {
            kelcore::FloatCopy(mChannelPointers[c], mChannelPointers[c] + mRingLength, static_cast<int>(wrapped));
        }
    }
    for (std::uint32_t c = 0; c < mChannelCount; ++c) {
        mOutputPointers[c] = mChannelPointers[c] + start;
    }
    return mOutputPointers;
}

bool DelayLine::AllocateAudioBuffer()
{
    DeleteAudioBuffer();
    mChannelStride = mDelay + 2 * mBufferSize;
    const std::uint64_t total = static_cast<std::uint64_t>(mChannelCount) * mChannelStride;
    if (total == 0 || total > static_cast<std::uint64_t>(std::numeric_limits<int>::max())) {
        return false;
    }
    mStorage = kelcore::FloatAllocate(static_cast<int>(total));
    mChannelPointers = new (std::nothrow) float*[mChannelCount];
    mOutputPointers = new (std::nothrow) float*[mChannelCount];
    if (mStorage == nullptr || mChannelPointers == nullptr || mOutputPointers == nullptr) {
        DeleteAudioBuffer();
        return false;
    }
    for (std::uint32_t c = 0; c < mChannelCount; ++c) {
        mChannelPointers[c] = mStorage + static_cast<std::size_t>(c) * mChannelStride;
        mOutputPointers[c] = mChannelPointers[c];
    }
    kelcore::FloatZero(mStorage, static_cast<int>(total));
    mAllocated = true;
    return true;
}

void DelayLine::DeleteAudioBuffer()
{
    mAllocated = false;
    if (mStorage != nullptr) {
        kelcore::FloatFree(mStorage);
        mStorage = nullptr;
    }
    delete[] mChannelPointers;
    mChannelPointers = nullptr;
    delete[] mOutputPointers;
    mOutputPointers = nullptr;
    mWritePosition = 0;
    mFillCount = 0;
}

} // namespace kelaudiofilterhost
