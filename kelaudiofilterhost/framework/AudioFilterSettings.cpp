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
                // A chunk record counts as loaded whatever the filter makes of the chunk; a refusal is
                // traced so that a project opening with default settings can be explained.
                result = true;
                if (!LoadChunkData(preset)) {
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
    // A missing or unreadable list reads as empty: nothing to set.
    std::list<float> values;
    if (!preset.ReadParamList(values)) {
        KAFH_TRACE("AudioFilter::LoadParams", 5, "\"" << mComponentID << "\": no readable \"ParamList\"");
    }
    const int count = GetParameterCount();
    if (values.size() > static_cast<std::size_t>(std::max(count, 0))) {
        KAFH_TRACE("AudioFilter::LoadParams", 5,
                   "\"" << mComponentID << "\": " << values.size() << " values for " << count << " parameters");
        return false;
    }
    int index = 0;
    for (const float value : values) {
        // Some plug-ins report NaN for a parameter and would be handed it back; skip that one only,
        // so the rest of the record still loads.
        if (std::isfinite(value)) {
            SetParameterAutomated(index, value);
        } else {
            KAFH_TRACE("AudioFilter::LoadParams", 5,
                       "\"" << mComponentID << "\": parameter " << index << " is not finite (" << value
                            << "); skipped");
        }
        ++index;
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
    // Some plug-ins assert on a sample rate of 0: the clone knows its context before any other call.
    clone->SetSampleRate(mSampleRate);
    clone->SetBlockSize(mBlockSize);

    std::vector<std::vector<AudioChannelDescription>> inputLayouts;
    std::vector<std::vector<AudioChannelDescription>> outputLayouts;
    for (const AudioFilterBusDescription& bus : mInputBuses) {
        inputLayouts.push_back(bus.GetLayout());
    }
    for (const AudioFilterBusDescription& bus : mOutputBuses) {
        outputLayouts.push_back(bus.GetLayout());
    }
    clone->RequestIOConfiguration(inputLayouts, outputLayouts);

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
