// SPDX-License-Identifier: GPL-3.0-or-later
// KafhLatencyLiar: a stereo effect that reports a latency of 64 frames in initialDelay but delays its
// audio by 40, as an effect does whose report was not updated with its algorithm. Otherwise sound: its
// delay is emptied when switched on, and it has one well-behaved "Gain" parameter.
#include "testplugins/vst2/TestEffect.h"

namespace {

using namespace kafhtest;

constexpr std::size_t kActualDelay = 40;

class KafhLatencyLiar final : public TestEffect
{
public:
    explicit KafhLatencyLiar(abi::AudioMasterCallback host)
        : TestEffect(host, {.name = "Kafh Latency Liar", .uniqueId = kLatencyLiarId, .numParams = 1})
    {
        mEffect.initialDelay = kLatencyShort;
        mParams[0] = 0.5f;
    }

protected:
    void ProcessReplacing(float** inputs, float** outputs, std::int32_t frames) override
    {
        const float gain = 2.0f * mParams[0];
        for (std::int32_t i = 0; i < frames; ++i)
        {
            for (std::size_t c = 0; c < 2; ++c)
            {
                const float sample = inputs[c][i];
                outputs[c][i] = gain * mRing[c][mPosition];
                mRing[c][mPosition] = sample;
            }
            mPosition = (mPosition + 1) % kActualDelay;
        }
    }
    void MainsChanged(bool resumed) override
    {
        if (resumed)
        {
            mRing = {};
            mPosition = 0;
        }
    }
    std::string_view ParameterName(std::int32_t /*index*/) override { return "Gain"; }

private:
    std::array<std::array<float, kActualDelay>, 2> mRing{};
    std::size_t mPosition = 0;
};

} // namespace

KAFH_VST2_EXPORT abi::AEffect* VSTPluginMain(abi::AudioMasterCallback host)
{
    return CreateEffect<KafhLatencyLiar>(host);
}
