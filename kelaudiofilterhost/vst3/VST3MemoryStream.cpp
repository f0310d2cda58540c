// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/vst3/VST3MemoryStream.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

namespace kelaudiofilterhost::vst3 {
namespace {
constexpr Steinberg::int64 kMaxPosition = std::numeric_limits<Steinberg::int32>::max();
}

void VST3MemoryStream::Resize(std::size_t size)
{
    if (size > mData.size()) {
        // Doubling keeps a state written in many small pieces from copying itself over and over.
        mData.reserve(2 * size);
    }
    mData.resize(size);
}

void VST3MemoryStream::SetSize(std::size_t size)
{
    Resize(size);
}

Steinberg::tresult PLUGIN_API VST3MemoryStream::read(void* buffer, Steinberg::int32 count, Steinberg::int32* countRead)
{
    if (buffer == nullptr && count > 0) {
        return Steinberg::kInvalidArgument;
    }
    const Steinberg::int64 available = static_cast<Steinberg::int64>(mData.size()) - mPosition;
    Steinberg::int32 copied = 0;
    if (count > available && available <= 0) {
        mPosition = static_cast<Steinberg::int32>(mData.size());
    } else if (count > 0) {
        copied = static_cast<Steinberg::int32>(std::min<Steinberg::int64>(count, available));
        std::memcpy(buffer, mData.data() + mPosition, static_cast<std::size_t>(copied));
        mPosition += copied;
    }
    if (countRead != nullptr) {
        *countRead = copied;
    }
    return Steinberg::kResultOk;
}

Steinberg::tresult PLUGIN_API VST3MemoryStream::write(void* buffer, Steinberg::int32 count, Steinberg::int32* countWritten)
{
    if (buffer == nullptr) {
        return Steinberg::kInvalidArgument;
    }
    const Steinberg::int32 written = std::max<Steinberg::int32>(count, 0);
    const Steinberg::int64 end = static_cast<Steinberg::int64>(mPosition) + written;
    if (end > kMaxPosition) {
        return Steinberg::kInvalidArgument;
    }
    try {
        Resize(static_cast<std::size_t>(end));
    } catch (const std::bad_alloc&) {
        return Steinberg::kOutOfMemory;
    }
    if (written > 0) {
        std::memcpy(mData.data() + mPosition, buffer, static_cast<std::size_t>(written));
        mPosition += written;
    }
    if (countWritten != nullptr) {
        *countWritten = written;
    }
    return Steinberg::kResultOk;
}

Steinberg::tresult PLUGIN_API VST3MemoryStream::seek(Steinberg::int64 offset, Steinberg::int32 mode, Steinberg::int64* result)
{
    // Far beyond any valid position, yet small enough that the sums below cannot overflow.
    constexpr Steinberg::int64 kOffsetLimit = Steinberg::int64{1} << 40;
    Steinberg::int64 position = mPosition;
    const Steinberg::int64 clampedOffset = std::clamp(offset, -kOffsetLimit, kOffsetLimit);
    switch (mode) {
    case kIBSeekSet: position = clampedOffset; break;
    case kIBSeekCur: position = mPosition + clampedOffset; break;
    case kIBSeekEnd: position = static_cast<Steinberg::int64>(mData.size()) + clampedOffset; break;
    default: break;
    }
    if (position < 0 || position > kMaxPosition) {
        return Steinberg::kInvalidArgument;
    }
    mPosition = static_cast<Steinberg::int32>(position);
    if (result != nullptr) {
        *result = mPosition;
    }
    return Steinberg::kResultOk;
}

Steinberg::tresult PLUGIN_API VST3MemoryStream::tell(Steinberg::int64* position)
{
    if (position == nullptr) {
        return Steinberg::kInvalidArgument;
    }
    *position = mPosition;
    return Steinberg::kResultOk;
}

} // namespace kelaudiofilterhost::vst3
