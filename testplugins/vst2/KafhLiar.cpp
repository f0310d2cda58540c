// SPDX-License-Identifier: GPL-3.0-or-later
// KafhLiar: an effect whose every self-description is wrong, for the host's robustness paths.
// numParams -5, numPrograms -3, numInputs 1000, numOutputs -2, initialDelay -64, a tail of -1, a
// unique ID with the top bit set; effGetEffectName and effGetVendorString fill all 256 bytes of the
// host's buffer with no terminating zero. It claims chunk state, and successive effGetChunk calls
// answer: 0 bytes at null, -1 bytes at a real buffer, 2^40 bytes at null, then again from the start.
// It processes nothing: with such counts it cannot know which buffers the host really passed.
#include "testplugins/vst2/TestEffect.h"

namespace {

using namespace kafhtest;

/// The size of the name buffers the host hands to effGetEffectName and effGetVendorString.
constexpr std::size_t kHostNameBuffer = 256;

class KafhLiar final : public TestEffect
{
public:
    explicit KafhLiar(abi::AudioMasterCallback host)
        : TestEffect(host, {.name = "Kafh Liar",
                            .uniqueId = kLiarId,
                            .numInputs = 1000,
                            .numOutputs = -2,
                            .numParams = -5,
                            .numPrograms = -3,
                            .flags = abi::effFlagsCanReplacing | abi::effFlagsProgramChunks})
    {
        mEffect.initialDelay = -64;
    }

    std::intptr_t Dispatch(std::int32_t opcode, std::int32_t index, std::intptr_t value, void* ptr, float opt) override
    {
        if ((opcode == abi::effGetEffectName || opcode == abi::effGetVendorString) && ptr != nullptr)
        {
            std::memset(ptr, opcode == abi::effGetEffectName ? 'A' : 'B', kHostNameBuffer);
            return 1;
        }
        return TestEffect::Dispatch(opcode, index, value, ptr, opt);
    }

protected:
    std::intptr_t GetChunk(void** data, bool /*isPreset*/) override
    {
        switch (mChunkCalls++ % 3)
        {
        case 0:
            *data = nullptr;
            return 0;
        case 1:
            *data = mSmallChunk.data();
            return -1;
        default:
            *data = nullptr;
            return std::intptr_t{1} << 40;
        }
    }

    std::intptr_t SetChunk(const void* /*data*/, std::intptr_t /*size*/, bool /*isPreset*/) override { return 1; }
    std::intptr_t TailSize() override { return -1; }

private:
    std::array<unsigned char, 16> mSmallChunk{};
    std::uint32_t mChunkCalls = 0;
};

} // namespace

KAFH_VST2_EXPORT abi::AEffect* VSTPluginMain(abi::AudioMasterCallback host)
{
    return CreateEffect<KafhLiar>(host);
}
