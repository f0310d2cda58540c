// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/framework/AudioFilter.h"

#include <atomic>

namespace kelaudiofilterhost::examples {

/// Multiplies every channel by one gain given in decibels (parameter 0, -96 to +24 dB).
/// Adopts any layout whose input and output have the same channels; stereo by default.
class GainFilter : public AudioFilter {
public:
    static constexpr float kMinimumDecibels = -96.0f;
    static constexpr float kMaximumDecibels = 24.0f;

    explicit GainFilter(const UTF16String& componentID);

    int GetParameterCount() const override;
    /// Clamps to the range; safe from any thread while processing.
    void SetParameter(int index, float decibels) override;
    float GetParameter(int index) const override;
    UTF16String GetParameterString(int index) const override;
    void RequestIOConfiguration(const std::vector<std::vector<AudioChannelDescription>>& inputs,
                                const std::vector<std::vector<AudioChannelDescription>>& outputs) override;
    void Process(float** inputs, float** outputs, int frameCount) override;

private:
    std::atomic<float> mDecibels{0.0f};
    std::atomic<float> mLinearGain{1.0f};
};

} // namespace kelaudiofilterhost::examples
