// SPDX-License-Identifier: GPL-3.0-or-later
#include "examples/GainFilter.h"

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

void GainFilter::SetParameter(int index, float decibels)
{
    if (index == 0 && !std::isnan(decibels)) {
        const float clamped = std::clamp(decibels, kMinimumDecibels, kMaximumDecibels);
        mDecibels.store(clamped);
        // The floor of the range is silence rather than -96 dB.
        mLinearGain.store(clamped <= kMinimumDecibels ? 0.0f : std::pow(10.0f, clamped / 20.0f));
    }
    AudioFilter::SetParameter(index, decibels);
}

float GainFilter::GetParameter(int index) const
{
    return index == 0 ? mDecibels.load() : 0.0f;
}

UTF16String GainFilter::GetParameterString(int index) const
{
    if (index != 0) {
        return {};
    }
    kelcore::oUTF16StringStream text;
    text << GetParameter(0) << u" dB";
    return text.str();
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
