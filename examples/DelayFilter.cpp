// SPDX-License-Identifier: GPL-3.0-or-later
#include "examples/DelayFilter.h"

#include "examples/ExampleParameterInfo.h"

#include <algorithm>
#include <cmath>

namespace kelaudiofilterhost::examples {

DelayFilter::DelayFilter(const UTF16String& componentID) : AudioFilter(componentID, u"Delay")
{
    AddInputBus(AudioFilterBusDescription::CreateStereo(u"Input", AudioFilterBusDescription::kMain));
    AddOutputBus(AudioFilterBusDescription::CreateStereo(u"Output", AudioFilterBusDescription::kMain));
}

int DelayFilter::GetParameterCount() const
{
    return 1;
}

void DelayFilter::SetParameter(int index, float normalized)
{
    if (index == 0 && !std::isnan(normalized)) {
        mMilliseconds = std::clamp(normalized, 0.0f, 1.0f) * kMaximumMilliseconds;
    }
    AudioFilter::SetParameter(index, normalized);
}

float DelayFilter::GetParameter(int index) const
{
    return index == 0 ? mMilliseconds / kMaximumMilliseconds : 0.0f;
}

boost::intrusive_ptr<AudioFilterParameterInfo> DelayFilter::GetParameterInfo(int index) const
{
    if (index != 0) {
        return {};
    }
    return new ExampleParameterInfo(u"Delay", u"ms", 0.0f, kMaximumMilliseconds);
}

UTF16String DelayFilter::GetParameterString(int index) const
{
    if (index != 0) {
        return {};
    }
    return GetParameterInfo(0)->GetStringForValue(GetParameter(0));
}

int DelayFilter::FramesFor(float milliseconds) const
{
    return static_cast<int>(std::lround(static_cast<double>(milliseconds) * GetSampleRate() / 1000.0));
}

int DelayFilter::GetInitialDelay() const
{
    // While running, the latency is the delay the rings were built for.
    return IsSuspended() ? FramesFor(mMilliseconds) : mActiveDelay;
}

void DelayFilter::RequestIOConfiguration(const std::vector<std::vector<AudioChannelDescription>>& inputs,
                                         const std::vector<std::vector<AudioChannelDescription>>& outputs)
{
    if (inputs.size() != 1 || outputs.size() != 1 || inputs[0].empty() || inputs[0].size() != outputs[0].size()) {
        return;
    }
    ClearBusConfiguration();
    AddInputBus({u"Input", inputs[0], AudioFilterBusDescription::kMain});
    AddOutputBus({u"Output", outputs[0], AudioFilterBusDescription::kMain});
}

void DelayFilter::Resume()
{
    mActiveDelay = FramesFor(mMilliseconds);
    mRings.assign(GetNumberOfOutputChannels(), std::vector<float>(static_cast<std::size_t>(mActiveDelay) + 1, 0.0f));
    mPosition = 0;
    AudioFilter::Resume();
}

void DelayFilter::Process(float** inputs, float** outputs, int frameCount)
{
    const std::size_t length = static_cast<std::size_t>(mActiveDelay) + 1;
    std::size_t position = mPosition;
    for (std::size_t c = 0; c < mRings.size(); ++c) {
        auto& ring = mRings[c];
        position = mPosition;
        for (int i = 0; i < frameCount; ++i) {
            ring[position] = inputs[c][i];
            position = position + 1 == length ? 0 : position + 1;
            outputs[c][i] = ring[position];
        }
    }
    mPosition = position;
}

} // namespace kelaudiofilterhost::examples
