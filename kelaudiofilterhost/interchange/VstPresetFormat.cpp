// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/interchange/VstPresetFormat.h"

#include "kelaudiofilterhost/vst3/VST3RefCounted.h"

#include <public.sdk/source/vst/vstpresetfile.h>

#include <algorithm>

namespace kelaudiofilterhost::interchange {

using namespace Steinberg;

namespace {

// The image of a file in memory: writes overwrite in place and never cut what follows, as the
// preset-file code expects when it goes back to fill in the header.
class FileImageStream final : public vst3::RefCounted<IBStream> {
public:
    explicit FileImageStream(std::span<const std::uint8_t> bytes = {}) : mData(bytes.begin(), bytes.end()) {}

    tresult PLUGIN_API read(void* buffer, int32 count, int32* countRead) override
    {
        if (buffer == nullptr || count < 0) {
            return kInvalidArgument;
        }
        const std::size_t available = mPosition < mData.size() ? mData.size() - mPosition : 0;
        const std::size_t taken = std::min(available, static_cast<std::size_t>(count));
        std::copy_n(mData.data() + mPosition, taken, static_cast<std::uint8_t*>(buffer));
        mPosition += taken;
        if (countRead != nullptr) {
            *countRead = static_cast<int32>(taken);
        }
        return kResultOk;
    }
    tresult PLUGIN_API write(void* buffer, int32 count, int32* countWritten) override
    {
        if (buffer == nullptr || count < 0) {
            return kInvalidArgument;
        }
        const auto* bytes = static_cast<const std::uint8_t*>(buffer);
        if (mPosition + static_cast<std::size_t>(count) > mData.size()) {
            mData.resize(mPosition + static_cast<std::size_t>(count));
        }
        std::copy_n(bytes, count, mData.data() + mPosition);
        mPosition += static_cast<std::size_t>(count);
        if (countWritten != nullptr) {
            *countWritten = count;
        }
        return kResultOk;
    }
    tresult PLUGIN_API seek(int64 offset, int32 mode, int64* result) override
    {
        const int64 base = mode == kIBSeekSet ? 0 : mode == kIBSeekCur ? static_cast<int64>(mPosition)
                                                                      : static_cast<int64>(mData.size());
        // Files of presets are small; positions past 2 GiB are damage.
        if (mode < kIBSeekSet || mode > kIBSeekEnd || base + offset < 0 || base + offset > (int64{1} << 31)) {
            return kInvalidArgument;
        }
        mPosition = static_cast<std::size_t>(base + offset);
        if (result != nullptr) {
            *result = static_cast<int64>(mPosition);
        }
        return kResultOk;
    }
    tresult PLUGIN_API tell(int64* position) override
    {
        if (position == nullptr) {
            return kInvalidArgument;
        }
        *position = static_cast<int64>(mPosition);
        return kResultOk;
    }
    const std::vector<std::uint8_t>& GetData() const { return mData; }

private:
    std::vector<std::uint8_t> mData;
    std::size_t mPosition = 0;
};

// A stream over the caller's bytes; its reference is dropped at the end of the scope.
struct StreamHolder {
    explicit StreamHolder(std::span<const std::uint8_t> bytes) : stream(new FileImageStream(bytes)) {}
    ~StreamHolder() { stream->release(); }
    StreamHolder(const StreamHolder&) = delete;
    StreamHolder& operator=(const StreamHolder&) = delete;
    FileImageStream* stream;
};

bool CopyEntry(const Vst::PresetFile& file, Vst::ChunkType type, std::span<const std::uint8_t> bytes,
               std::vector<std::uint8_t>& out)
{
    const Vst::PresetFile::Entry* entry = file.getEntry(type);
    if (entry == nullptr) {
        return true;
    }
    // Entries come from the file: they must lie inside it.
    if (entry->offset < 0 || entry->size < 0 || static_cast<std::uint64_t>(entry->offset) > bytes.size()
        || static_cast<std::uint64_t>(entry->size) > bytes.size() - static_cast<std::uint64_t>(entry->offset)) {
        return false;
    }
    const auto begin = bytes.begin() + static_cast<std::ptrdiff_t>(entry->offset);
    out.assign(begin, begin + static_cast<std::ptrdiff_t>(entry->size));
    return true;
}

} // namespace

bool ParseVstPreset(std::span<const std::uint8_t> bytes, VstPreset& preset, std::string& error)
{
    preset = VstPreset{};
    StreamHolder holder(bytes);
    Vst::PresetFile file(holder.stream);
    if (!file.readChunkList()) {
        error = "not a VST 3 preset file (no VST3 header and chunk list)";
        return false;
    }
    TUID tuid;
    file.getClassID().toTUID(tuid);
    preset.classID = vst3::ClassIDFromTUID(tuid);
    if (!CopyEntry(file, Vst::kComponentState, bytes, preset.componentState)
        || !CopyEntry(file, Vst::kControllerState, bytes, preset.controllerState)) {
        error = "a state in the preset file reaches past its end";
        return false;
    }
    if (!file.contains(Vst::kComponentState)) {
        error = "the preset file holds no component state";
        return false;
    }
    std::vector<std::uint8_t> meta;
    if (!CopyEntry(file, Vst::kMetaInfo, bytes, meta)) {
        error = "the meta information reaches past the end of the file";
        return false;
    }
    preset.metaInfo.assign(meta.begin(), std::find(meta.begin(), meta.end(), std::uint8_t{0}));
    return true;
}

std::vector<std::uint8_t> WriteVstPreset(const VstPreset& preset)
{
    TUID tuid;
    vst3::ClassIDToTUID(preset.classID, tuid);
    const FUID classID = FUID::fromTUID(tuid);
    StreamHolder component(preset.componentState);
    StreamHolder controller(preset.controllerState);
    StreamHolder out({});
    std::vector<std::uint8_t> bytes;
    const bool written = Vst::PresetFile::savePreset(
        out.stream, classID, component.stream, preset.controllerState.empty() ? nullptr : controller.stream,
        preset.metaInfo.empty() ? nullptr : preset.metaInfo.c_str(),
        preset.metaInfo.empty() ? -1 : static_cast<int32>(preset.metaInfo.size()));
    if (written) {
        bytes = out.stream->GetData();
    }
    return bytes;
}

} // namespace kelaudiofilterhost::interchange
