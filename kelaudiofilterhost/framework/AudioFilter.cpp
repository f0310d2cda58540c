// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/framework/AudioFilter.h"

#include "kelaudiofilterhost/services/Strings.h"

#include <limits>

namespace kelaudiofilterhost {

AudioFilter::AudioFilter(const UTF16String& componentID, const UTF16String& displayName)
    : mComponentID(componentID), mDisplayName(displayName)
{
}

AudioFilter::~AudioFilter()
{
    mPresetChangedSignal.disconnect_all_slots();
    mAutomatedParameterChangeSignal.disconnect_all_slots();
    mEditingStateChangeSignal.disconnect_all_slots();
    mChannelMapChangedSignal.disconnect_all_slots();
    mTargetFormatChangedSignal.disconnect_all_slots();
    mSuspendedStateChangedSignal.disconnect_all_slots();
}

void AudioFilter::SetAudioFilterHost(IAudioFilterHost* host)
{
    mHost = host;
}

void AudioFilter::SetSampleRate(float sampleRate)
{
    mSampleRate = sampleRate;
}

void AudioFilter::SetBlockSize(int blockSize)
{
    ReportOversizedBlocks();
    if (blockSize != mBlockSize) {
        mBlockSize = blockSize;
    }
}

int AudioFilter::GetMaxProcessingBlockSize() const
{
    return std::numeric_limits<std::int32_t>::max();
}

void AudioFilter::SetCurrentOffset(long long /*offset*/)
{
}

void AudioFilter::Process(float** /*inputs*/, float** /*outputs*/, int /*frameCount*/)
{
}

bool AudioFilter::HandlesParameterOffsets() const
{
    return false;
}

void AudioFilter::QueueParameterChange(int index, float value, int /*sampleOffset*/)
{
    SetParameter(index, value);
}

bool AudioFilter::QueueEvent(const AudioFilterEvent& /*event*/)
{
    return false;
}

bool AudioFilter::TakesEvents() const
{
    return false;
}

void AudioFilter::SetOfflineRendering(bool offline)
{
    mOfflineRendering = offline;
}

bool AudioFilter::IsOfflineProcess() const
{
    return false;
}

bool AudioFilter::IsGenerator() const
{
    return false;
}

void AudioFilter::SetSelectionLeft(double seconds)
{
    mSelectionLeft = seconds;
}

double AudioFilter::GetSelectionLeft() const
{
    return mSelectionLeft;
}

void AudioFilter::SetCurrentDuration(double seconds)
{
    mCurrentDuration = seconds;
}

double AudioFilter::GetCurrentDuration() const
{
    return mCurrentDuration;
}

double AudioFilter::GetProcessedDuration() const
{
    return mCurrentDuration;
}

double AudioFilter::GetProcessedScale() const
{
    return 1.0;
}

int AudioFilter::GetMaxOutputBlockSize(int /*inputBlockSize*/) const
{
    return 0;
}

int AudioFilter::GetTail() const
{
    return 0;
}

int AudioFilter::OfflineProcess(float** /*inputs*/, float** /*outputs*/, int /*inputFrames*/, int /*outputFrames*/,
                                int /*flags*/)
{
    return 0;
}

bool AudioFilter::OfflineProcessFinished()
{
    return true;
}

void AudioFilter::Suspend()
{
    mSuspended.store(true, std::memory_order_release);
    ReportOversizedBlocks();
    ReleaseReplacedChannelMaps();
    mSuspendedStateChangedSignal(true);
}

void AudioFilter::Resume()
{
    mSuspended.store(false, std::memory_order_release);
    ReportOversizedBlocks();
    BuildChannelMaps();
    mSuspendedStateChangedSignal(false);
}

void AudioFilter::SetDoSpectral(bool /*doSpectral*/)
{
}

void AudioFilter::SetPreviewMode(bool /*preview*/)
{
}

int AudioFilter::GetParameterCount() const
{
    return 0;
}

void AudioFilter::SetParameterAutomated(int index, float value)
{
    SetParameter(index, value);
    mAutomatedParameterChangeSignal(index, value);
}

void AudioFilter::SetParameter(int /*index*/, float /*value*/)
{
    BumpParameterDirtyCount();
}

float AudioFilter::GetParameter(int /*index*/) const
{
    return 0.0f;
}

UTF16String AudioFilter::GetParameterString(int index) const
{
    kelcore::oUTF16StringStream stream;
    stream << GetParameter(index);
    return stream.str();
}

unsigned int AudioFilter::GetCurveData(int /*index*/, unsigned int /*points*/, std::vector<float>& /*curve*/)
{
    return 0;
}

float AudioFilter::GetCurrentPresetVersion() const
{
    return 1.0f;
}

bool AudioFilter::DoPresetsUseChunkData() const
{
    return false;
}

int AudioFilter::GetNumFactoryPresets() const
{
    return 0;
}

UTF16String AudioFilter::GetFactoryPresetName(int /*index*/) const
{
    return {};
}

void AudioFilter::SetFactoryPreset(int /*index*/)
{
}

bool AudioFilter::ArePresetsSafeForPlayback() const
{
    return true;
}

int AudioFilter::GetInitialDelay() const
{
    return 0;
}

void AudioFilter::RequestIOConfiguration(const std::vector<std::vector<AudioChannelDescription>>& /*inputs*/,
                                         const std::vector<std::vector<AudioChannelDescription>>& /*outputs*/)
{
}

bool AudioFilter::CanUseSideChaining() const
{
    return mInputBuses.size() > 1;
}

bool AudioFilter::HasCustomEditor() const
{
    return false;
}

bool AudioFilter::IsZombie() const
{
    return false;
}

void AudioFilter::BeginEditing(int index)
{
    mEditingStateChangeSignal(index, true);
}

void AudioFilter::EndEditing(int index)
{
    mEditingStateChangeSignal(index, false);
}

void AudioFilter::StartLoadingSettings()
{
    mLoadingSettings = true;
}

void AudioFilter::FinishLoadingSettings(bool /*success*/)
{
    mLoadingSettings = false;
}

boost::intrusive_ptr<AudioFilterDescriptor> AudioFilter::CreateFilterDescriptor(const PluginLocator& /*locator*/,
                                                                            bool /*isApplicationPlugIn*/)
{
    return {};
}

void AudioFilter::GetBusConfiguration(std::vector<AudioFilterBusDescription>& inputs,
                                      std::vector<AudioFilterBusDescription>& outputs) const
{
    inputs = mInputBuses;
    outputs = mOutputBuses;
}

unsigned int AudioFilter::GetNumberOfInputChannels() const
{
    return GetTotalChannelCount(mInputBuses);
}

unsigned int AudioFilter::GetNumberOfOutputChannels() const
{
    return GetTotalChannelCount(mOutputBuses);
}

void AudioFilter::BumpParameterDirtyCount()
{
    mParameterDirtyCount.fetch_add(1, std::memory_order_relaxed);
}

void AudioFilter::AddInputBus(const AudioFilterBusDescription& bus)
{
    mInputBuses.push_back(bus);
}

void AudioFilter::AddOutputBus(const AudioFilterBusDescription& bus)
{
    mOutputBuses.push_back(bus);
}

void AudioFilter::AddInputBuses(const std::vector<AudioFilterBusDescription>& buses)
{
    mInputBuses.insert(mInputBuses.end(), buses.begin(), buses.end());
}

void AudioFilter::AddOutputBuses(const std::vector<AudioFilterBusDescription>& buses)
{
    mOutputBuses.insert(mOutputBuses.end(), buses.begin(), buses.end());
}

void AudioFilter::ClearInputBusConfiguration()
{
    mInputBuses.clear();
}

void AudioFilter::ClearOutputBusConfiguration()
{
    mOutputBuses.clear();
}

void AudioFilter::ClearBusConfiguration()
{
    ClearInputBusConfiguration();
    ClearOutputBusConfiguration();
}

} // namespace kelaudiofilterhost
