// SPDX-License-Identifier: GPL-3.0-or-later
#include "examples/GainFilter.h"

#include "examples/ExampleParameterInfo.h"

#include <algorithm>
#include <cmath>

namespace kelaudiofilterhost::examples {

GainFilter::GainFilter(const UTF16String& componentID) : AudioFilter(componentID, u"Gain")
{
    AddInputBus(AudioFilterBusDescription::CreateStereo(u"Input", AudioFilterBusDescription::kMain));
    AddOutputBus(AudioFilterBusDescription::CreateStereo(u"Output", AudioFilterBusDescription::kMain));
}

int GainFilter::GetParameterCount() const
{
    return 1;
}

void GainFilter::SetParameter(int index, float normalized)
{
    if (index == 0 && !std::isnan(normalized)) {
        const float clamped = std::clamp(normalized, 0.0f, 1.0f);
        const float decibels = kMinimumDecibels + clamped * (kMaximumDecibels - kMinimumDecibels);
        mNormalized.store(clamped);
        // The floor of the range is silence rather than -96 dB.
        mLinearGain.store(clamped <= 0.0f ? 0.0f : std::pow(10.0f, decibels / 20.0f));
    }
    AudioFilter::SetParameter(index, normalized);
}

float GainFilter::GetParameter(int index) const
{
    return index == 0 ? mNormalized.load() : 0.0f;
}

boost::intrusive_ptr<AudioFilterParameterInfo> GainFilter::GetParameterInfo(int index) const
{
    if (index != 0) {
        return {};
    }
    return new ExampleParameterInfo(u"Gain", u"dB", kMinimumDecibels, kMaximumDecibels);
}

UTF16String GainFilter::GetParameterString(int index) const
{
    if (index != 0) {
        return {};
    }
    return GetParameterInfo(0)->GetStringForValue(GetParameter(0));
}

void GainFilter::RequestIOConfiguration(const std::vector<std::vector<AudioChannelDescription>>& inputs,
                                        const std::vector<std::vector<AudioChannelDescription>>& outputs)
{
    if (inputs.size() != 1 || outputs.size() != 1 || inputs[0].empty() || inputs[0].size() != outputs[0].size()) {
        return;
    }
    ClearBusConfiguration();
    AddInputBus({u"Input", inputs[0], AudioFilterBusDescription::kMain});
    AddOutputBus({u"Output", outputs[0], AudioFilterBusDescription::kMain});
}

void GainFilter::Process(float** inputs, float** outputs, int frameCount)
{
    const float gain = mLinearGain.load(std::memory_order_relaxed);
    const auto channels = GetNumberOfOutputChannels();
    for (unsigned int c = 0; c < channels; ++c) {
        const float* in = inputs[c];
        float* out = outputs[c];
        for (int i = 0; i < frameCount; ++i) {
            out[i] = in[i] * gain;
        }
    }
}

} // namespace kelaudiofilterhost::examples
