// SPDX-License-Identifier: GPL-3.0-or-later
// KafhSurround: an effect that negotiates speaker arrangements and has a side-chain input. Out of the
// box it is stereo with a mono side-chain: 3 inputs, 2 outputs, output = main x (1 - |side-chain|),
// the side-chain clamped to 1. effSetSpeakerArrangement accepts mono, stereo and 5.1 when input and
// output are the same arrangement; then the effect has exactly that many inputs and outputs (no
// side-chain: the host hands over only the arrangement's channels) and passes audio through.
// Everything else is refused with 0 and changes nothing. It also declares effFlagsCanMono.
#include "testplugins/vst2/TestEffect.h"

#include <cmath>

namespace {

using namespace kafhtest;

/// The channel count of an arrangement type this effect accepts, 0 for any other.
std::int32_t AcceptedChannels(std::int32_t type)
{
    switch (type)
    {
    case abi::kSpeakerArrMono:
        return 1;
    case abi::kSpeakerArrStereo:
        return 2;
    case abi::kSpeakerArr51:
        return 6;
    default:
        return 0;
    }
}

void SetSpeaker(abi::VstSpeakerProperties& speaker, const char* name, std::int32_t type)
{
    speaker.radius = 1.0f;
    CopyString(speaker.name, name, sizeof speaker.name);
    speaker.type = type;
}

void CopyArrangement(abi::VstSpeakerArrangement& to, const abi::VstSpeakerArrangement& from)
{
    to = {};
    to.type = from.type;
    to.numChannels = from.numChannels;
    // Hosts may allocate just numChannels records, so read no further than that.
    std::memcpy(to.speakers, from.speakers,
                static_cast<std::size_t>(from.numChannels) * sizeof(abi::VstSpeakerProperties));
}

class KafhSurround final : public TestEffect
{
public:
    explicit KafhSurround(abi::AudioMasterCallback host)
        : TestEffect(host, {.name = "Kafh Surround",
                            .uniqueId = kSurroundId,
                            .numInputs = 3,
                            .numOutputs = 2,
                            .flags = abi::effFlagsCanReplacing | abi::effFlagsCanMono})
    {
        mInput.type = abi::kSpeakerArrUserDefined;
        mInput.numChannels = 3;
        SetSpeaker(mInput.speakers[0], "L", abi::kSpeakerL);
        SetSpeaker(mInput.speakers[1], "R", abi::kSpeakerR);
        SetSpeaker(mInput.speakers[2], "Side-chain", abi::kSpeakerM);
        mOutput.type = abi::kSpeakerArrStereo;
        mOutput.numChannels = 2;
        SetSpeaker(mOutput.speakers[0], "L", abi::kSpeakerL);
        SetSpeaker(mOutput.speakers[1], "R", abi::kSpeakerR);
    }

protected:
    void ProcessReplacing(float** inputs, float** outputs, std::int32_t frames) override
    {
        const auto channels = static_cast<std::size_t>(mEffect.numOutputs);
        const bool sideChain = mEffect.numInputs == mEffect.numOutputs + 1;
        for (std::int32_t i = 0; i < frames; ++i)
        {
            const float gain = sideChain ? 1.0f - std::min(1.0f, std::fabs(inputs[channels][i])) : 1.0f;
            for (std::size_t c = 0; c < channels; ++c)
            {
                outputs[c][i] = inputs[c][i] * gain;
            }
        }
    }

    std::intptr_t SetSpeakerArrangement(abi::VstSpeakerArrangement* in, abi::VstSpeakerArrangement* out) override
    {
        if (in == nullptr || out == nullptr || in->type != out->type || in->numChannels != out->numChannels)
        {
            return 0;
        }
        const std::int32_t channels = AcceptedChannels(in->type);
        if (channels == 0 || in->numChannels != channels)
        {
            return 0;
        }
        CopyArrangement(mInput, *in);
        CopyArrangement(mOutput, *out);
        mEffect.numInputs = channels;
        mEffect.numOutputs = channels;
        return 1;
    }

    std::intptr_t GetSpeakerArrangement(abi::VstSpeakerArrangement** in, abi::VstSpeakerArrangement** out) override
    {
        if (in == nullptr || out == nullptr)
        {
            return 0;
        }
        *in = &mInput;
        *out = &mOutput;
        return 1;
    }

private:
    abi::VstSpeakerArrangement mInput{};
    abi::VstSpeakerArrangement mOutput{};
};

} // namespace

KAFH_VST2_EXPORT abi::AEffect* VSTPluginMain(abi::AudioMasterCallback host)
{
    return CreateEffect<KafhSurround>(host);
}
