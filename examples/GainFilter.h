// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/framework/AudioFilter.h"

#include <atomic>

namespace kelaudiofilterhost::examples {

/// Multiplies every channel by one gain, parameter 0 "Gain": -96 to +24 dB, set normalized (0 to 1) like
/// every filter parameter; its parameter info converts decibels. Adopts any layout whose input and output
/// have the same channels; stereo by default.
class GainFilter : public AudioFilter {
public:
    static constexpr float kMinimumDecibels = -96.0f;
    static constexpr float kMaximumDecibels = 24.0f;

    explicit GainFilter(const UTF16String& componentID);

    int GetParameterCount() const override;
    /// Clamps to 0..1; safe from any thread while processing.
    void SetParameter(int index, float normalized) override;
    float GetParameter(int index) const override;
    boost::intrusive_ptr<AudioFilterParameterInfo> GetParameterInfo(int index) const override;
    UTF16String GetParameterString(int index) const override;
    void RequestIOConfiguration(const std::vector<std::vector<AudioChannelDescription>>& inputs,
                                const std::vector<std::vector<AudioChannelDescription>>& outputs) override;
    void Process(float** inputs, float** outputs, int frameCount) override;

private:
    std::atomic<float> mNormalized{0.8f}; // 0 dB
    std::atomic<float> mLinearGain{1.0f};
};

} // namespace kelaudiofilterhost::examples
