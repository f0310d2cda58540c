// SPDX-License-Identifier: GPL-3.0-or-later
// KafhOldMain: a module from the first VST days. Its entry point is exported as "main" (there is no
// "VSTPluginMain"), it does not answer effGetVstVersion (so it reads as version 0) nor the category,
// and it does not declare effFlagsCanMono. Otherwise a plain stereo gain: twice "Gain" (default
// 0.5, unity).
#include "testplugins/vst2/TestEffect.h"

namespace {

using namespace kafhtest;

class KafhOldMain final : public TestEffect
{
public:
    explicit KafhOldMain(abi::AudioMasterCallback host)
        : TestEffect(host, {.name = "Kafh Old Main", .uniqueId = kOldMainId, .numParams = 1, .category = 0})
    {
        mParams[0] = 0.5f;
    }

protected:
    void ProcessReplacing(float** inputs, float** outputs, std::int32_t frames) override
    {
        const float gain = 2.0f * mParams[0];
        for (std::size_t c = 0; c < 2; ++c)
        {
            for (std::int32_t i = 0; i < frames; ++i)
            {
                outputs[c][i] = inputs[c][i] * gain;
            }
        }
    }

    std::string_view ParameterName(std::int32_t /*index*/) override { return "Gain"; }
    std::intptr_t VstVersion() override { return 0; }
};

} // namespace

// A C++ function cannot be called main unless it is the program's; the assembler name gives the
// exported symbol the old name without that.
KAFH_VST2_EXPORT abi::AEffect* OldStyleEntry(abi::AudioMasterCallback host) __asm__("main");

KAFH_VST2_EXPORT abi::AEffect* OldStyleEntry(abi::AudioMasterCallback host)
{
    return CreateEffect<KafhOldMain>(host);
}
