// SPDX-License-Identifier: GPL-3.0-or-later
// KafhLatency: a stereo effect that delays its audio by exactly the latency it reports in
// initialDelay: 64 frames, or 128 when its "Latency" switch is on. Changing the latency empties the
// delay and tells the host with audioMasterIOChanged, so latency compensation and its update can be
// checked sample by sample. Its tail is its delay.
#include "testplugins/vst2/TestEffect.h"

#include <cstdio>

namespace {

using namespace kafhtest;

constexpr std::int32_t kLatency = 0;
constexpr std::size_t kRingSize = kLatencyLong;

class KafhLatency final : public TestEffect
{
public:
    explicit KafhLatency(abi::AudioMasterCallback host)
        : TestEffect(host, {.name = "Kafh Latency", .uniqueId = kLatencyId, .numParams = 1})
    {
        mEffect.initialDelay = kLatencyShort;
    }

protected:
    void ProcessReplacing(float** inputs, float** outputs, std::int32_t frames) override
    {
        const auto delay = static_cast<std::size_t>(mEffect.initialDelay);
        for (std::int32_t i = 0; i < frames; ++i)
        {
            // Read before writing: with the full ring as delay, both positions are the same.
            const std::size_t readPosition = (mPosition + kRingSize - delay) % kRingSize;
            for (std::size_t c = 0; c < 2; ++c)
            {
                const float sample = inputs[c][i];
                outputs[c][i] = mRing[c][readPosition];
                mRing[c][mPosition] = sample;
            }
            mPosition = (mPosition + 1) % kRingSize;
        }
    }

    void ParameterChanged(std::int32_t /*index*/) override
    {
        const std::int32_t latency = mParams[kLatency] >= 0.5f ? kLatencyLong : kLatencyShort;
        if (latency != mEffect.initialDelay)
        {
            mEffect.initialDelay = latency;
            Clear();
            CallHost(abi::audioMasterIOChanged);
        }
    }

    std::string_view ParameterName(std::int32_t /*index*/) override { return "Latency"; }
    std::string_view ParameterLabel(std::int32_t /*index*/) override { return "samples"; }
    void ParameterDisplay(std::int32_t /*index*/, char* text) override
    {
        std::snprintf(text, kParamTextCapacity, "%d", static_cast<int>(mEffect.initialDelay));
    }
    bool ParameterProperties(std::int32_t /*index*/, abi::VstParameterProperties& props) override
    {
        props.flags = abi::kVstParameterIsSwitch;
        CopyString(props.label, "samples", sizeof props.label);
        return true;
    }

    void MainsChanged(bool resumed) override
    {
        if (resumed)
        {
            Clear();
        }
    }

    std::intptr_t TailSize() override { return mEffect.initialDelay; }

private:
    void Clear()
    {
        for (auto& channel : mRing)
        {
            channel.fill(0.0f);
        }
        mPosition = 0;
    }

    std::array<std::array<float, kRingSize>, 2> mRing{};
    std::size_t mPosition = 0;
};

} // namespace

KAFH_VST2_EXPORT abi::AEffect* VSTPluginMain(abi::AudioMasterCallback host)
{
    return CreateEffect<KafhLatency>(host);
}
