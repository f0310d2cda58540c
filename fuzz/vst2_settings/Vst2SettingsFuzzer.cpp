// SPDX-License-Identifier: GPL-3.0-or-later
// Saved settings given to VST 2 effects through the library: a chunk effect (KafhChunk) and a
// parameter effect with programs (KafhGain). The first byte picks the form: a settings record in
// XML (any type: parameters, chunk, factory program, custom), or raw chunk bytes behind a valid record.
#include "kelaudiofilterhost/presets/PresetData.h"
#include "kelaudiofilterhost/services/PropList.h"
#include "kelaudiofilterhost/vst2/VSTAudioFilter.h"
#include "kelaudiofilterhost/vst2/VSTPluginModule.h"
#include "testplugins/vst2/TestPluginIds.h"

#include <cstdlib>

namespace {

using namespace kelaudiofilterhost;

boost::intrusive_ptr<AudioFilter> OpenEffect(const char* title, std::int32_t uniqueID)
{
    const auto path = kelcore::UTF8to16(std::string(KAFH_FUZZ_PLUGIN_DIR) + "/" + title + ".so");
    auto module = vst::GetOrLoadModule(path);
    auto filter = module ? module->CreateAudioFilter(vst::MakeComponentID(static_cast<std::uint32_t>(uniqueID), path))
                         : nullptr;
    if (!filter) {
        std::abort();
    }
    return filter;
}

void Exercise(AudioFilter& filter, const PresetData& preset)
{
    filter.LoadSettings(preset);
    for (int index = 0; index < filter.GetParameterCount(); ++index) {
        (void)filter.GetParameterString(index);
    }
    kelcore::proplist::PropList savedList;
    PresetData saved(savedList);
    filter.SaveSettings(saved);
    if (!filter.LoadSettings(saved)) {
        std::abort(); // the filter's own state must always load again
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    static auto chunkEffect = OpenEffect("KafhChunk", kafhtest::kChunkId);
    static auto gainEffect = OpenEffect("KafhGain", kafhtest::kGainId);
    if (size == 0) {
        return 0;
    }
    kelcore::proplist::PropList list;
    PresetData preset(list);
    if (data[0] & 1) {
        preset.SetVersion(chunkEffect->GetCurrentPresetVersion());
        preset.SetPresetType(PresetData::ChunkPreset);
        preset.SetChunkData(data + 1, static_cast<unsigned int>(size - 1));
    } else if (!kelcore::proplist::utils::ReadPropList(
                   kelcore::UTF8String(reinterpret_cast<const char*>(data + 1), size - 1), list)) {
        return 0;
    }
    Exercise(*chunkEffect, preset);
    Exercise(*gainEffect, preset);
    return 0;
}
