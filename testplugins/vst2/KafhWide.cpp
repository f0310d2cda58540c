// SPDX-License-Identifier: GPL-3.0-or-later
// KafhWide: an effect with as many inputs and outputs as the current ID asks for (64 when it is 0),
// and that number as its unique ID. Output c = 0.5 x input c + 0.25 x input c+1 (the last channel
// takes the first), over all of its own channels whatever the host asked for. It accepts every speaker
// arrangement and keeps its counts. Parameter 0 sets the channel count to value x 4096 and says so
// with audioMasterIOChanged.
#include "testplugins/vst2/TestEffect.h"

#include <cmath>

namespace {

using namespace kafhtest;

std::int32_t ChannelsAsked(abi::AudioMasterCallback host)
{
    const auto id = static_cast<std::int32_t>(host(nullptr, abi::audioMasterCurrentId, 0, 0, nullptr, 0.0f));
    return id > 0 ? id : 64;
}

class KafhWide final : public TestEffect
{
public:
    explicit KafhWide(abi::AudioMasterCallback host) : KafhWide(host, ChannelsAsked(host)) {}

protected:
    void ProcessReplacing(float** inputs, float** outputs, std::int32_t frames) override
    {
        const std::int32_t channels = mEffect.numOutputs;
        for (std::int32_t c = 0; c < channels; ++c)
        {
            const float* next = inputs[(c + 1) % channels];
            for (std::int32_t i = 0; i < frames; ++i)
            {
                outputs[c][i] = 0.5f * inputs[c][i] + 0.25f * next[i];
            }
        }
    }

    void ParameterChanged(std::int32_t /*index*/) override
    {
        const auto channels = static_cast<std::int32_t>(std::lround(mParams[0] * 4096.0f));
        mEffect.numInputs = channels;
        mEffect.numOutputs = channels;
        CallHost(abi::audioMasterIOChanged);
    }

    std::intptr_t SetSpeakerArrangement(abi::VstSpeakerArrangement* /*in*/, abi::VstSpeakerArrangement* out) override
    {
        mAccepted = out != nullptr ? out->numChannels : 0;
        return 1;
    }

    std::intptr_t GetSpeakerArrangement(abi::VstSpeakerArrangement** in, abi::VstSpeakerArrangement** out) override
    {
        mArrangement.type = mAccepted == 2 ? abi::kSpeakerArrStereo : abi::kSpeakerArrUserDefined;
        mArrangement.numChannels = mAccepted;
        *in = &mArrangement;
        *out = &mArrangement;
        return mAccepted == 2 ? 1 : 0;
    }

private:
    KafhWide(abi::AudioMasterCallback host, std::int32_t channels)
        : TestEffect(host, {.name = "Kafh Wide", .uniqueId = channels, .numInputs = channels, .numOutputs = channels,
                            .numParams = 1})
    {
        mParams[0] = static_cast<float>(channels) / 4096.0f;
    }

    std::int32_t mAccepted = 0;
    abi::VstSpeakerArrangement mArrangement{};
};

} // namespace

KAFH_VST2_EXPORT abi::AEffect* VSTPluginMain(abi::AudioMasterCallback host)
{
    return CreateEffect<KafhWide>(host);
}
