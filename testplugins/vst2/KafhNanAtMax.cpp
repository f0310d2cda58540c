// SPDX-License-Identifier: GPL-3.0-or-later
// KafhNanAtMax: a stereo soft clipper whose "Drive" parameter p sets k = p / (1 - p) and whose output
// is x k / (1 + |x| k). Sound everywhere but at the parameter's maximum, where k is infinite and every
// output sample is NaN.
#include "testplugins/vst2/TestEffect.h"

#include <cmath>

namespace {

using namespace kafhtest;

class KafhNanAtMax final : public TestEffect
{
public:
    explicit KafhNanAtMax(abi::AudioMasterCallback host)
        : TestEffect(host, {.name = "Kafh NaN At Max", .uniqueId = kNanAtMaxId, .numParams = 1})
    {
        mParams[0] = 0.5f;
    }

protected:
    void ProcessReplacing(float** inputs, float** outputs, std::int32_t frames) override
    {
        const float drive = mParams[0];
        const float k = drive / (1.0f - drive);
        for (std::size_t c = 0; c < 2; ++c)
        {
            for (std::int32_t i = 0; i < frames; ++i)
            {
                const float x = inputs[c][i];
                outputs[c][i] = x * k / (1.0f + std::fabs(x) * k);
            }
        }
    }
    std::string_view ParameterName(std::int32_t /*index*/) override { return "Drive"; }
};

} // namespace

KAFH_VST2_EXPORT abi::AEffect* VSTPluginMain(abi::AudioMasterCallback host)
{
    return CreateEffect<KafhNanAtMax>(host);
}
