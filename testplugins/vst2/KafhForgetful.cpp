// SPDX-License-Identifier: GPL-3.0-or-later
// KafhForgetful: a stereo gain with chunk state ("Left Gain", "Right Gain", two floats) whose
// effSetChunk accepts the chunk but restores only the left gain, setting the right one back to its
// default: its state does not survive a save and restore.
#include "testplugins/vst2/TestEffect.h"

namespace {

using namespace kafhtest;

class KafhForgetful final : public TestEffect
{
public:
    explicit KafhForgetful(abi::AudioMasterCallback host)
        : TestEffect(host, {.name = "Kafh Forgetful",
                            .uniqueId = kForgetfulId,
                            .numParams = 2,
                            .flags = abi::effFlagsCanReplacing | abi::effFlagsProgramChunks})
    {
        mParams[0] = mParams[1] = 0.5f;
    }

protected:
    void ProcessReplacing(float** inputs, float** outputs, std::int32_t frames) override
    {
        for (std::size_t c = 0; c < 2; ++c)
        {
            const float gain = 2.0f * mParams[c];
            for (std::int32_t i = 0; i < frames; ++i)
            {
                outputs[c][i] = gain * inputs[c][i];
            }
        }
    }
    std::string_view ParameterName(std::int32_t index) override { return index == 0 ? "Left Gain" : "Right Gain"; }
    std::intptr_t GetChunk(void** data, bool /*isPreset*/) override
    {
        mChunk = {mParams[0], mParams[1]};
        *data = mChunk.data();
        return sizeof mChunk;
    }
    std::intptr_t SetChunk(const void* data, std::intptr_t size, bool /*isPreset*/) override
    {
        if (data == nullptr || size != static_cast<std::intptr_t>(sizeof mChunk))
        {
            return 0;
        }
        std::memcpy(&mParams[0], data, sizeof(float));
        mParams[1] = 0.5f;
        return 1;
    }

private:
    std::array<float, 2> mChunk{};
};

} // namespace

KAFH_VST2_EXPORT abi::AEffect* VSTPluginMain(abi::AudioMasterCallback host)
{
    return CreateEffect<KafhForgetful>(host);
}
