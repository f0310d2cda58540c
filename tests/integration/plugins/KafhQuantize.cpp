// SPDX-License-Identifier: GPL-3.0-or-later
// KafhQuantize: a gain whose getParameter echoes the value set while its chunk stores the value in
// tenths, as many plug-ins keep a stepped control. A host that judges a restore by the echoed value
// sees a fault where there is none; the state and the audio of a restored instance are what count.
#include "testplugins/vst2/TestEffect.h"

#include <cmath>

namespace {

using namespace kafhtest;

class KafhQuantize final : public TestEffect
{
public:
    explicit KafhQuantize(abi::AudioMasterCallback host)
        : TestEffect(host, {.name = "Kafh Quantize",
                            .uniqueId = FourCC("KfQz"),
                            .numParams = 1,
                            .numPrograms = 1,
                            .flags = abi::effFlagsCanReplacing | abi::effFlagsProgramChunks})
    {
        mParams[0] = 0.5f;
    }

protected:
    void ProcessReplacing(float** inputs, float** outputs, std::int32_t frames) override
    {
        for (std::size_t c = 0; c < 2; ++c)
        {
            for (std::int32_t i = 0; i < frames; ++i)
            {
                outputs[c][i] = inputs[c][i] * 2.0f * mParams[0];
            }
        }
    }

    std::string_view ParameterName(std::int32_t /*index*/) override { return "Gain"; }

    std::intptr_t GetChunk(void** data, bool /*isPreset*/) override
    {
        mChunk = static_cast<unsigned char>(std::lround(mParams[0] * 10.0f));
        *data = &mChunk;
        return 1;
    }

    std::intptr_t SetChunk(const void* data, std::intptr_t size, bool /*isPreset*/) override
    {
        const unsigned char tenths = data != nullptr && size == 1 ? *static_cast<const unsigned char*>(data) : 255;
        if (tenths > 10)
        {
            return 0;
        }
        mParams[0] = static_cast<float>(tenths) / 10.0f;
        return 1;
    }

private:
    unsigned char mChunk = 0;
};

} // namespace

KAFH_VST2_EXPORT abi::AEffect* VSTPluginMain(abi::AudioMasterCallback host)
{
    return CreateEffect<KafhQuantize>(host);
}
