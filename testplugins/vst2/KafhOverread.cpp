// SPDX-License-Identifier: GPL-3.0-or-later
// KafhOverread: a stereo gain that peeks one sample past the end of each input block (a look-ahead off
// by one) without letting it change the output. Ordinary buffers hide the fault; memory the host
// guards right after the block does not.
#include "testplugins/vst2/TestEffect.h"

namespace {

using namespace kafhtest;

class KafhOverread final : public TestEffect
{
public:
    explicit KafhOverread(abi::AudioMasterCallback host)
        : TestEffect(host, {.name = "Kafh Overread", .uniqueId = kOverreadId, .numParams = 1})
    {
        mParams[0] = 0.5f;
    }

protected:
    void ProcessReplacing(float** inputs, float** outputs, std::int32_t frames) override
    {
        const float gain = 2.0f * mParams[0];
        for (std::size_t c = 0; c < 2; ++c)
        {
            // volatile: the read happens although nothing uses it.
            const volatile float* in = inputs[c];
            mPeek = in[frames];
            for (std::int32_t i = 0; i < frames; ++i)
            {
                outputs[c][i] = gain * inputs[c][i];
            }
        }
    }
    std::string_view ParameterName(std::int32_t /*index*/) override { return "Gain"; }

private:
    volatile float mPeek = 0.0f;
};

} // namespace

KAFH_VST2_EXPORT abi::AEffect* VSTPluginMain(abi::AudioMasterCallback host)
{
    return CreateEffect<KafhOverread>(host);
}
