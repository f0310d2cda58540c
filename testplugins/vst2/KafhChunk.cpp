// SPDX-License-Identifier: GPL-3.0-or-later
// KafhChunk: an effect whose state travels as a chunk. Two gains (left, right); effGetChunk returns a
// header (magic, version, size) followed by the parameter values, and effSetChunk checks all of it
// and refuses truncated, oversized or foreign data without touching the state, so tests can tell a
// restored state from a refused one by the parameters and the audio.
#include "testplugins/vst2/TestEffect.h"

namespace {

using namespace kafhtest;

constexpr std::int32_t kNumParams = 2;
constexpr std::size_t kChunkSize = sizeof(ChunkHeader) + kNumParams * sizeof(float);

class KafhChunk final : public TestEffect
{
public:
    explicit KafhChunk(abi::AudioMasterCallback host)
        : TestEffect(host, {.name = "Kafh Chunk",
                            .uniqueId = kChunkId,
                            .numParams = kNumParams,
                            .numPrograms = 1,
                            .flags = abi::effFlagsCanReplacing | abi::effFlagsProgramChunks})
    {
        mParams[0] = 0.5f;
        mParams[1] = 0.5f;
    }

protected:
    void ProcessReplacing(float** inputs, float** outputs, std::int32_t frames) override
    {
        for (std::size_t c = 0; c < 2; ++c)
        {
            const float gain = 2.0f * mParams[c];
            for (std::int32_t i = 0; i < frames; ++i)
            {
                outputs[c][i] = inputs[c][i] * gain;
            }
        }
    }

    std::string_view ParameterName(std::int32_t index) override { return index == 0 ? "Left Gain" : "Right Gain"; }
    std::string_view ProgramName(std::int32_t /*index*/) override { return "Default"; }

    std::intptr_t GetChunk(void** data, bool /*isPreset*/) override
    {
        const ChunkHeader header{kChunkMagic, kChunkVersion, static_cast<std::uint32_t>(kChunkSize)};
        std::memcpy(mChunk.data(), &header, sizeof header);
        std::memcpy(mChunk.data() + sizeof header, mParams.data(), kNumParams * sizeof(float));
        // The buffer stays ours; the host copies it before the next call.
        *data = mChunk.data();
        return static_cast<std::intptr_t>(mChunk.size());
    }

    std::intptr_t SetChunk(const void* data, std::intptr_t size, bool /*isPreset*/) override
    {
        if (data == nullptr || size != static_cast<std::intptr_t>(kChunkSize))
        {
            return 0;
        }
        ChunkHeader header{};
        std::memcpy(&header, data, sizeof header);
        if (header.magic != kChunkMagic || header.version != kChunkVersion || header.size != kChunkSize)
        {
            return 0;
        }
        std::array<float, kNumParams> values{};
        std::memcpy(values.data(), static_cast<const unsigned char*>(data) + sizeof header, sizeof values);
        for (const float value : values)
        {
            if (!(value >= 0.0f && value <= 1.0f)) // also refuses NaN
            {
                return 0;
            }
        }
        std::copy(values.begin(), values.end(), mParams.begin());
        return 1;
    }

private:
    std::array<unsigned char, kChunkSize> mChunk{};
};

} // namespace

KAFH_VST2_EXPORT abi::AEffect* VSTPluginMain(abi::AudioMasterCallback host)
{
    return CreateEffect<KafhChunk>(host);
}
