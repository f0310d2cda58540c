// SPDX-License-Identifier: GPL-3.0-or-later
// Saving and restoring a filter's settings as preset records, factory presets, and Clone.
#include "kelaudiofilterhost/framework/AudioFilter.h"

#include "kelaudiofilterhost/framework/AudioFilterFactory.h"
#include "kelaudiofilterhost/services/PropList.h"
#include "kelaudiofilterhost/services/Trace.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <mutex>

namespace kelaudiofilterhost {

namespace {

// A key that is there but holds another kind of value marks a damaged record; an absent key
// takes the record's documented default.
bool HasMalformedValue(const PresetData& preset, std::string_view key, bool readable)
{
    const kelcore::proplist::PropList* list = preset.GetRawData();
    return !readable && list && (list->HasValue(key) || list->GetChild(key));
}

bool IsTypeMalformed(const PresetData& preset)
{
    std::int32_t type = 0;
    const kelcore::proplist::PropList* list = preset.GetRawData();
    return HasMalformedValue(preset, "Type", list && list->GetValue("Type", type));
}

} // namespace

boost::intrusive_ptr<AudioFilterParameterInfo> AudioFilter::GetParameterInfo(int /*index*/) const
{
    return nullptr;
}

boost::intrusive_ptr<AudioFilterEditor> AudioFilter::CreateCustomEditor()
{
    return nullptr;
}

void AudioFilter::GetFactoryDefaultPresets(PresetList& list) const
{
    list.Clear();
    const int count = GetNumFactoryPresets();
    for (int index = 0; index < count; ++index) {
        const UTF16String name = GetFactoryPresetName(index);
        if (name.empty()) {
            continue;
        }
        // A program name that occurs twice yields one preset: the list is keyed by name.
        if (boost::intrusive_ptr<PresetData> preset = list.AppendPreset(name)) {
            preset->SetVersion(GetCurrentPresetVersion());
            preset->SetPresetType(PresetData::FactoryReferencePreset);
            preset->SetFactoryPresetName(name);
        }
    }
}

bool AudioFilter::LoadSettings(const PresetData& preset)
{
    bool result = false;
    StartLoadingSettings();

    const float version = preset.GetVersion();
    const float currentVersion = GetCurrentPresetVersion();
    const PresetData::PresetType type = preset.GetPresetType();
    if (!preset.GetRawData()) {
        KAFH_TRACE("AudioFilter::LoadSettings", 5, "\"" << mComponentID << "\": record without property list");
    } else if (version != currentVersion) {
        KAFH_TRACE("AudioFilter::LoadSettings", 5,
                   "\"" << mComponentID << "\": record version " << version << ", expected " << currentVersion);
    } else if (IsTypeMalformed(preset)) {
        KAFH_TRACE("AudioFilter::LoadSettings", 5, "\"" << mComponentID << "\": \"Type\" is not an integer");
    } else {
        switch (type) {
        case PresetData::ParamListPreset:
            if (DoPresetsUseChunkData()) {
                KAFH_TRACE("AudioFilter::LoadSettings", 5,
                           "\"" << mComponentID << "\": parameter record for a filter that stores chunks");
            } else {
                result = LoadParams(preset);
            }
            break;
        case PresetData::ChunkPreset:
            if (DoPresetsUseChunkData()) {
                // The chunk's own verdict counts: reporting success for a chunk the filter refused
                // would let a project open with default settings unnoticed.
                result = LoadChunkData(preset);
                if (!result) {
                    KAFH_TRACE("AudioFilter::LoadSettings", 5, "\"" << mComponentID << "\": chunk refused");
                }
            } else {
                KAFH_TRACE("AudioFilter::LoadSettings", 5,
                           "\"" << mComponentID << "\": chunk record for a filter that stores parameters");
            }
            break;
        case PresetData::FactoryReferencePreset: {
            const UTF16String name = preset.GetFactoryPresetName();
            if (name.empty()) {
                KAFH_TRACE("AudioFilter::LoadSettings", 5, "\"" << mComponentID << "\": factory record without name");
                break;
            }
            const int count = GetNumFactoryPresets();
            for (int index = 0; index < count; ++index) {
                if (GetFactoryPresetName(index) == name) {
                    result = true;
                    SetFactoryPreset(index);
                }
            }
            if (!result) {
                KAFH_TRACE("AudioFilter::LoadSettings", 5,
                           "\"" << mComponentID << "\": no factory program \"" << name << "\"");
            }
            break;
        }
        case PresetData::CustomPreset:
            result = LoadCustomData(preset);
            break;
        default:
            KAFH_TRACE("AudioFilter::LoadSettings", 5,
                       "\"" << mComponentID << "\": unknown record type " << static_cast<std::int32_t>(type));
            break;
        }
    }

    FinishLoadingSettings(true);
    return result;
}

void AudioFilter::SaveSettings(PresetData& preset) const
{
    preset.Clear();
    if (DoPresetsUseChunkData()) {
        SaveChunkData(preset);
        return;
    }
    std::list<float> values;
    SaveParams(values);
    preset.SetVersion(GetCurrentPresetVersion());
    preset.SetPresetType(PresetData::ParamListPreset);
    preset.SetParamList(values);
}

bool AudioFilter::LoadChunkData(const PresetData& /*preset*/)
{
    return false;
}

bool AudioFilter::SaveChunkData(PresetData& preset) const
{
    preset.SetVersion(GetCurrentPresetVersion());
    preset.SetPresetType(PresetData::ChunkPreset);
    return false;
}

bool AudioFilter::LoadCustomData(const PresetData& /*preset*/)
{
    return false;
}

bool AudioFilter::LoadParams(const PresetData& preset)
{
    std::list<float> values;
    if (!preset.ReadParamList(values)) {
        KAFH_TRACE("AudioFilter::LoadParams", 5, "\"" << mComponentID << "\": no readable \"ParamList\"");
        return false;
    }
    const int count = GetParameterCount();
    if (values.size() > static_cast<std::size_t>(std::max(count, 0))) {
        KAFH_TRACE("AudioFilter::LoadParams", 5,
                   "\"" << mComponentID << "\": " << values.size() << " values for " << count << " parameters");
        return false;
    }
    if (!std::all_of(values.begin(), values.end(), [](float value) { return std::isfinite(value); })) {
        KAFH_TRACE("AudioFilter::LoadParams", 5, "\"" << mComponentID << "\": non-finite parameter value");
        return false;
    }
    int index = 0;
    for (const float value : values) {
        SetParameterAutomated(index++, value);
    }
    return true;
}

void AudioFilter::SaveParams(std::list<float>& values) const
{
    std::list<float> current;
    const int count = GetParameterCount();
    for (int index = 0; index < count; ++index) {
        current.push_back(GetParameter(index));
    }
    values.swap(current);
}

boost::intrusive_ptr<AudioFilter> AudioFilter::Clone() const
{
    boost::intrusive_ptr<AudioFilter> clone = utility::CreateAudioFilter(mComponentID);
    if (!clone) {
        KAFH_TRACE("AudioFilter::Clone", 5, "\"" << mComponentID << "\": the component cannot be created");
        return nullptr;
    }

    std::vector<std::vector<AudioChannelDescription>> inputLayouts;
    std::vector<std::vector<AudioChannelDescription>> outputLayouts;
    for (const AudioFilterBusDescription& bus : mInputBuses) {
        inputLayouts.push_back(bus.GetLayout());
    }
    for (const AudioFilterBusDescription& bus : mOutputBuses) {
        outputLayouts.push_back(bus.GetLayout());
    }
    clone->RequestIOConfiguration(inputLayouts, outputLayouts);
    clone->SetSampleRate(mSampleRate);

    kelcore::proplist::PropList settings;
    const boost::intrusive_ptr<PresetData> preset(new PresetData(settings));
    SaveSettings(*preset);
    if (!clone->LoadSettings(*preset)) {
        KAFH_TRACE("AudioFilter::Clone", 5, "\"" << mComponentID << "\": the clone did not take the settings");
    }

    clone->SetPresetNameAndDirtyState(mPresetNameAndDirtyState);
    {
        // Nobody else holds the new filter yet, so taking both locks cannot deadlock.
        std::scoped_lock lock(mChannelMapLock, clone->mChannelMapLock);
        clone->mInputChannelMap = mInputChannelMap;
        clone->mOutputChannelMap = mOutputChannelMap;
        clone->mMainTargetBus = mMainTargetBus;
        clone->mSideChainTargetBus = mSideChainTargetBus;
    }
    clone->SetUseChannelMap(GetUseChannelMap());
    return clone;
}

} // namespace kelaudiofilterhost
