// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/framework/AudioFilter.h"

#include <vector>

namespace kelaudiofilterhost::examples {

/// Delays every channel by a time, parameter 0 "Delay": 0 to 1000 ms, set normalized (0 to 1); its
/// parameter info converts milliseconds. It reports the delay as its latency, so mapped processing keeps the untouched channels aligned. A new delay takes
/// effect at the next Resume, as a latency change must.
class DelayFilter : public AudioFilter {
public:
    static constexpr float kMaximumMilliseconds = 1000.0f;

    explicit DelayFilter(const UTF16String& componentID);

    int GetParameterCount() const override;
    void SetParameter(int index, float normalized) override;
    float GetParameter(int index) const override;
    boost::intrusive_ptr<AudioFilterParameterInfo> GetParameterInfo(int index) const override;
    UTF16String GetParameterString(int index) const override;
    int GetInitialDelay() const override;
    void RequestIOConfiguration(const std::vector<std::vector<AudioChannelDescription>>& inputs,
                                const std::vector<std::vector<AudioChannelDescription>>& outputs) override;
    void Resume() override;
    void Process(float** inputs, float** outputs, int frameCount) override;

private:
    int FramesFor(float milliseconds) const;

    float mMilliseconds = 0.0f;
    int mActiveDelay = 0;
    std::vector<std::vector<float>> mRings;
    std::size_t mPosition = 0;
};

} // namespace kelaudiofilterhost::examples
