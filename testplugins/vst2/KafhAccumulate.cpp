// SPDX-License-Identifier: GPL-3.0-or-later
// KafhAccumulate: an old-style effect without replacing processing (no effFlagsCanReplacing, no
// processReplacing function), one input and two outputs. Its accumulating process adds half the
// input to output 0 and a quarter to output 1. A host that pre-fills output 0 with the input and
// leaves output 1 as it was thus gets 1.5 x input on output 0 and 0.25 x input added to output 1.
#include "testplugins/vst2/TestEffect.h"

namespace {

using namespace kafhtest;

class KafhAccumulate final : public TestEffect
{
public:
    explicit KafhAccumulate(abi::AudioMasterCallback host)
        : TestEffect(host, {.name = "Kafh Accumulate",
                            .uniqueId = kAccumulateId,
                            .numInputs = 1,
                            .numOutputs = 2,
                            .flags = 0})
    {
    }

protected:
    void ProcessAccumulating(float** inputs, float** outputs, std::int32_t frames) override
    {
        for (std::int32_t i = 0; i < frames; ++i)
        {
            const float sample = inputs[0][i];
            outputs[0][i] += 0.5f * sample;
            outputs[1][i] += 0.25f * sample;
        }
    }
};

} // namespace

KAFH_VST2_EXPORT abi::AEffect* VSTPluginMain(abi::AudioMasterCallback host)
{
    return CreateEffect<KafhAccumulate>(host);
}
