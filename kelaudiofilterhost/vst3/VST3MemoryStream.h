// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/vst3/VST3RefCounted.h"

#include "pluginterfaces/base/ibstream.h"

#include <vector>

namespace kelaudiofilterhost::vst3 {

/// A growable byte stream for one state transfer. Positions lie in [0, 2^31 - 1]; the position may
/// stand past the end of the data (reads there give nothing, writes there fill the gap with zeros).
/// Seeks and writes that would leave that range are refused with kInvalidArgument.
class VST3MemoryStream final : public RefCounted<Steinberg::IBStream> {
public:
    VST3MemoryStream() = default;

    /// Copies up to count bytes from the position; reading at or past the end reads nothing and
    /// leaves the position at the end. kInvalidArgument for a null buffer.
    Steinberg::tresult PLUGIN_API read(void* buffer, Steinberg::int32 count, Steinberg::int32* countRead) override;
    /// Writes count bytes at the position; the stream then ends where the write ends (a write
    /// before the old end cuts the stream there). kInvalidArgument for a null buffer.
    Steinberg::tresult PLUGIN_API write(void* buffer, Steinberg::int32 count, Steinberg::int32* countWritten) override;
    /// kIBSeekSet, kIBSeekCur or kIBSeekEnd; any other mode leaves the position.
    Steinberg::tresult PLUGIN_API seek(Steinberg::int64 offset, Steinberg::int32 mode, Steinberg::int64* result) override;
    Steinberg::tresult PLUGIN_API tell(Steinberg::int64* position) override;

    std::size_t GetSize() const noexcept { return mData.size(); }
    const unsigned char* GetData() const noexcept { return mData.data(); }
    unsigned char* GetData() noexcept { return mData.data(); }
    /// Sets the length (new bytes are zero); the position stays where it is.
    void SetSize(std::size_t size);
    Steinberg::int32 GetPosition() const noexcept { return mPosition; }

private:
    void Resize(std::size_t size);

    std::vector<unsigned char> mData;
    Steinberg::int32 mPosition = 0;
};

} // namespace kelaudiofilterhost::vst3
