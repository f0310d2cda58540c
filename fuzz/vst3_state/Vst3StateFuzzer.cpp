// SPDX-License-Identifier: GPL-3.0-or-later
// Saved VST 3 state: arbitrary bytes as the two-part chunk, read by the chunk parser and loaded into
// a filter over the Gain test bundle (component and controller state), which then saves, loads its
// own state again and processes a block.
#include "kelaudiofilterhost/presets/PresetData.h"
#include "kelaudiofilterhost/services/PropList.h"
#include "kelaudiofilterhost/vst3/VST3AudioFilter.h"
#include "kelaudiofilterhost/vst3/VST3ClassID.h"
#include "kelaudiofilterhost/vst3/VST3PluginModule.h"
#include "kelaudiofilterhost/vst3/VST3StateChunk.h"
#include "testplugins/vst3/TestVst3Ids.h"

#include <algorithm>
#include <cstdlib>
#include <span>
#include <string>

namespace {

using namespace kelaudiofilterhost;
using namespace kelaudiofilterhost::vst3;

boost::intrusive_ptr<AudioFilter> OpenGain()
{
    const auto& uid = kafh_testplugins_vst3::kGainProcessor;
    const std::uint32_t words[] = {uid.w1, uid.w2, uid.w3, uid.w4};
    VST3ClassID id{};
    for (std::size_t i = 0; i < id.size(); ++i) {
        id[i] = static_cast<std::uint8_t>(words[i / 4] >> (24 - 8 * (i % 4)));
    }
    auto module = GetOrLoadModule(kelcore::UTF8to16(std::string(KAFH_FUZZ_VST3_PLUGIN_DIR) + "/KafhVst3Gain.vst3"));
    auto filter = module ? module->CreateAudioFilter(MakeVST3ComponentID(id)) : nullptr;
    if (!filter) {
        std::abort();
    }
    filter->SetSampleRate(48000.0f);
    filter->SetBlockSize(64);
    filter->Resume();
    return filter;
}

// The parts lie inside the chunk, in order, and say exactly what the header does.
void CheckParts(std::span<const std::uint8_t> chunk)
{
    VST3StateChunk parts;
    if (!VST3StateChunk::Parse(chunk, parts)) {
        if (chunk.size() >= VST3StateChunk::kHeaderSize) {
            std::abort();
        }
        return;
    }
    const auto inside = [&](std::span<const std::uint8_t> part) {
        return part.empty() || (part.data() >= chunk.data() + VST3StateChunk::kHeaderSize &&
                                part.data() + part.size() <= chunk.data() + chunk.size());
    };
    if (!inside(parts.component) || !inside(parts.controller) ||
        (!parts.componentTruncated && parts.component.size() != parts.componentLength) ||
        (!parts.controllerTruncated && parts.controller.size() != parts.controllerLength)) {
        std::abort();
    }
    if (!parts.componentTruncated && !parts.controllerTruncated) {
        const auto made = VST3StateChunk::Make(parts.component, parts.controller);
        if (made.size() > chunk.size() || !std::equal(made.begin(), made.end(), chunk.begin())) {
            std::abort();
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static auto filter = OpenGain();
    static std::vector<float> in(64, 0.25f);
    static std::vector<float> out(64);
    CheckParts({data, size});

    kelcore::proplist::PropList list;
    PresetData preset(list);
    preset.SetVersion(filter->GetCurrentPresetVersion());
    preset.SetPresetType(PresetData::ChunkPreset);
    preset.SetChunkData(data, static_cast<unsigned int>(size));
    filter->LoadChunkData(preset);

    kelcore::proplist::PropList savedList;
    PresetData saved(savedList);
    if (!filter->SaveChunkData(saved) || !filter->LoadChunkData(saved)) {
        std::abort(); // the filter's own state must always load again
    }
    float* inputs[] = {in.data(), in.data()};
    float* outputs[] = {out.data(), out.data()};
    filter->Process(inputs, outputs, 64);
    return 0;
}
