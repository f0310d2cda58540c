// SPDX-License-Identifier: GPL-3.0-or-later
// KafhLateLatency: a stereo effect that reports no latency until it is first switched on
// (effMainsChanged 1), then 100 frames, which it delays its audio by. Hosts that size their
// latency compensation before switching it on get the pass-through channels wrong.
#include "testplugins/vst2/TestEffect.h"

namespace {

using namespace kafhtest;

class KafhLateLatency final : public TestEffect
{
public:
    explicit KafhLateLatency(abi::AudioMasterCallback host)
        : TestEffect(host, {.name = "Kafh Late Latency", .uniqueId = kLateLatencyId})
    {
    }

protected:
    void ProcessReplacing(float** inputs, float** outputs, std::int32_t frames) override
    {
        for (std::int32_t i = 0; i < frames; ++i)
        {
            for (std::size_t c = 0; c < 2; ++c)
            {
                const float sample = inputs[c][i];
                outputs[c][i] = mRing[c][mPosition];
                mRing[c][mPosition] = sample;
            }
            mPosition = (mPosition + 1) % kLateLatency;
        }
    }

    void MainsChanged(bool resumed) override
    {
        if (resumed)
        {
            mEffect.initialDelay = kLateLatency;
            for (auto& channel : mRing)
            {
                channel.fill(0.0f);
            }
            mPosition = 0;
        }
    }

private:
    std::array<std::array<float, kLateLatency>, 2> mRing{};
    std::size_t mPosition = 0;
};

} // namespace

KAFH_VST2_EXPORT abi::AEffect* VSTPluginMain(abi::AudioMasterCallback host)
{
    return CreateEffect<KafhLateLatency>(host);
}
