// SPDX-License-Identifier: GPL-3.0-or-later
// Preset files: a property list read from a file, viewed as a preset list and as single presets
// (the form kafh's preset files hold under "settings"), every field read and every preset copied.
#include "kelaudiofilterhost/presets/PresetData.h"
#include "kelaudiofilterhost/presets/PresetList.h"
#include "kelaudiofilterhost/services/File.h"
#include "kelaudiofilterhost/services/PropList.h"

#include "fuzz/FuzzSupport.h"

#include <cstdlib>

namespace {

using kelaudiofilterhost::PresetData;

void ReadEverything(const PresetData& preset)
{
    (void)preset.GetVersion();
    (void)preset.GetPresetType();
    std::list<float> values;
    preset.GetParamList(values);
    PresetData::ChunkBytes chunk;
    const bool hasChunk = preset.GetChunkData(chunk);
    (void)preset.GetFactoryPresetName();
    (void)preset.GetCustomDataSection();

    kelcore::proplist::PropList copyList;
    PresetData copy(copyList);
    copy.SetDataFromExistingPreset(preset);
    PresetData::ChunkBytes copiedChunk;
    if (copy.GetChunkData(copiedChunk) != hasChunk || copiedChunk != chunk) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    using namespace kelaudiofilterhost;
    const auto path = kafhfuzz::WriteInput(data, size);
    kelcore::proplist::PropList list;
    if (!kelcore::proplist::utils::LoadPropList(kelcore::filesupport::FromPath(path), list, false)) {
        return 0;
    }
    ReadEverything(PresetData(list));
    if (auto* settings = list.GetChild("settings")) {
        ReadEverything(PresetData(settings));
    }

    boost::intrusive_ptr<PresetList> presets(new PresetList(list));
    std::set<UTF16String> names;
    presets->GetPresetNames(names);
    for (const auto& name : names) {
        if (auto preset = presets->GetPreset(name)) {
            ReadEverything(*preset);
        }
    }
    FormatFactoryPresetList(presets);
    return 0;
}
