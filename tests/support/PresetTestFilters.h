// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/framework/AudioFilter.h"
#include "tests/support/MappedRunner.h"
#include "tests/support/TestFilters.h"
#include "tests/support/TraceCapture.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

namespace kelaudiofilterhost::testing {

/// An internal filter keeping its state in four parameters; output channel c is
/// (input * p0 + p1) * (c == 0 ? p2 : p3). Records what settings loading did to it.
class ParameterTestFilter : public AudioFilter {
public:
    static constexpr int kParameterCount = 4;

    explicit ParameterTestFilter(const UTF16String& componentID = u"test.presets.parameters")
        : AudioFilter(componentID, u"Parameter test")
    {
        AddInputBus(StereoBus());
        AddOutputBus(StereoBus());
    }

    int GetParameterCount() const override { return kParameterCount; }
    void SetParameter(int index, float value) override
    {
        if (index >= 0 && index < kParameterCount) {
            mValues[static_cast<std::size_t>(index)] = value;
            mSetWhileLoading.push_back(IsLoadingSettings());
        }
        AudioFilter::SetParameter(index, value);
    }
    float GetParameter(int index) const override
    {
        return index >= 0 && index < kParameterCount ? mValues[static_cast<std::size_t>(index)] : 0.0f;
    }

    int GetNumFactoryPresets() const override { return static_cast<int>(mFactoryNames.size()); }
    UTF16String GetFactoryPresetName(int index) const override
    {
        return index >= 0 && index < GetNumFactoryPresets() ? mFactoryNames[static_cast<std::size_t>(index)] : u"";
    }
    void SetFactoryPreset(int index) override { mAppliedFactoryPresets.push_back(index); }
    void SetFactoryNames(std::vector<UTF16String> names) { mFactoryNames = std::move(names); }
    const std::vector<int>& GetAppliedFactoryPresets() const { return mAppliedFactoryPresets; }
    const std::vector<bool>& GetSetWhileLoading() const { return mSetWhileLoading; }

    /// Adopts one input and one output layout of the same channel count.
    void RequestIOConfiguration(const std::vector<std::vector<AudioChannelDescription>>& inputs,
                                const std::vector<std::vector<AudioChannelDescription>>& outputs) override
    {
        if (inputs.size() != 1 || outputs.size() != 1 || inputs[0].size() != outputs[0].size()) {
            return;
        }
        ClearBusConfiguration();
        AddInputBus(AudioFilterBusDescription(u"In", inputs[0], AudioFilterBusDescription::kMain));
        AddOutputBus(AudioFilterBusDescription(u"Out", outputs[0], AudioFilterBusDescription::kMain));
    }

    void Process(float** inputs, float** outputs, int frameCount) override
    {
        const auto channels = GetNumberOfOutputChannels();
        for (unsigned int c = 0; c < channels; ++c) {
            const float scale = c == 0 ? mValues[2] : mValues[3];
            for (int i = 0; i < frameCount; ++i) {
                outputs[c][i] = (inputs[c][i] * mValues[0] + mValues[1]) * scale;
            }
        }
    }

private:
    std::array<float, kParameterCount> mValues{0.5f, 0.0f, 1.0f, 1.0f};
    std::vector<UTF16String> mFactoryNames;
    std::vector<int> mAppliedFactoryPresets;
    std::vector<bool> mSetWhileLoading;
};

/// An internal filter that stores its state as a chunk: a one-pole low-pass (coefficient p0) with a
/// drive (p1) and a mode that no parameter reaches. Chunk: "KAFHCHK1", a 32-bit value count,
/// the values, one mode byte. Refuses any chunk that is not exactly that.
class ChunkTestFilter : public AudioFilter {
public:
    static constexpr char kMagic[8] = {'K', 'A', 'F', 'H', 'C', 'H', 'K', '1'};

    explicit ChunkTestFilter(const UTF16String& componentID = u"test.presets.chunk")
        : AudioFilter(componentID, u"Chunk test")
    {
        AddInputBus(StereoBus());
        AddOutputBus(StereoBus());
    }

    bool DoPresetsUseChunkData() const override { return true; }
    int GetParameterCount() const override { return 2; }
    void SetParameter(int index, float value) override
    {
        if (index == 0 || index == 1) {
            mValues[static_cast<std::size_t>(index)] = value;
        }
        AudioFilter::SetParameter(index, value);
    }
    float GetParameter(int index) const override
    {
        return index == 0 || index == 1 ? mValues[static_cast<std::size_t>(index)] : 0.0f;
    }
    void SetMode(std::uint8_t mode) { mMode = mode; }
    std::uint8_t GetMode() const { return mMode; }

    static std::vector<std::uint8_t> MakeChunk(const char (&magic)[8], std::uint32_t count,
                                               const std::vector<float>& values, std::uint8_t mode)
    {
        std::vector<std::uint8_t> bytes(sizeof(magic) + sizeof(count) + values.size() * sizeof(float) + 1);
        std::memcpy(bytes.data(), magic, sizeof(magic));
        std::memcpy(bytes.data() + sizeof(magic), &count, sizeof(count));
        if (!values.empty()) {
            std::memcpy(bytes.data() + sizeof(magic) + sizeof(count), values.data(), values.size() * sizeof(float));
        }
        bytes.back() = mode;
        return bytes;
    }

    bool SaveChunkData(PresetData& preset) const override
    {
        const auto bytes = MakeChunk(kMagic, 2, {mValues[0], mValues[1]}, mMode);
        preset.SetChunkData(bytes.data(), static_cast<unsigned int>(bytes.size()));
        preset.SetVersion(GetCurrentPresetVersion());
        preset.SetPresetType(PresetData::ChunkPreset);
        return true;
    }

    bool LoadChunkData(const PresetData& preset) override
    {
        PresetData::ChunkBytes bytes;
        if (!preset.GetChunkData(bytes) || bytes.size() < sizeof(kMagic) + 4 ||
            std::memcmp(bytes.data(), kMagic, sizeof(kMagic)) != 0) {
            return false;
        }
        std::uint32_t count = 0;
        std::memcpy(&count, bytes.data() + sizeof(kMagic), sizeof(count));
        if (count != 2 || bytes.size() != sizeof(kMagic) + 4 + count * sizeof(float) + 1) {
            return false;
        }
        std::array<float, 2> values{};
        std::memcpy(values.data(), bytes.data() + sizeof(kMagic) + 4, sizeof(values));
        const std::uint8_t mode = bytes.back();
        if (mode > 2 || !std::isfinite(values[0]) || !std::isfinite(values[1])) {
            return false;
        }
        mValues = values;
        mMode = mode;
        return true;
    }

    void Resume() override
    {
        mMemory.assign(GetNumberOfOutputChannels(), 0.0f);
        AudioFilter::Resume();
    }

    void Process(float** inputs, float** outputs, int frameCount) override
    {
        for (std::size_t c = 0; c < mMemory.size(); ++c) {
            float& y = mMemory[c];
            for (int i = 0; i < frameCount; ++i) {
                const float x = inputs[c][i] * 1e-5f;
                y += mValues[0] * (x - y);
                const float low = mMode == 1 ? x - y : y;
                outputs[c][i] = mMode == 2 ? std::tanh(mValues[1] * low) : low * mValues[1];
            }
        }
    }

private:
    std::array<float, 2> mValues{0.25f, 1.0f};
    std::uint8_t mMode = 0;
    std::vector<float> mMemory;
};

/// Resumes the filter with the given block size and runs a stereo test signal through Process.
inline std::vector<std::vector<float>> RunStereo(AudioFilter& filter, int totalFrames, int blockSize = 64)
{
    filter.SetBlockSize(blockSize);
    filter.Resume();
    std::vector<std::vector<float>> in(2, std::vector<float>(static_cast<std::size_t>(totalFrames)));
    std::vector<std::vector<float>> out(2, std::vector<float>(static_cast<std::size_t>(totalFrames), -7.0f));
    for (int c = 0; c < 2; ++c) {
        for (int i = 0; i < totalFrames; ++i) {
            in[static_cast<std::size_t>(c)][static_cast<std::size_t>(i)] = TestSample(c, i);
        }
    }
    for (int start = 0; start < totalFrames; start += blockSize) {
        const int frames = std::min(blockSize, totalFrames - start);
        float* inputs[] = {in[0].data() + start, in[1].data() + start};
        float* outputs[] = {out[0].data() + start, out[1].data() + start};
        filter.Process(inputs, outputs, frames);
    }
    filter.Suspend();
    return out;
}

/// Bit-for-bit equality of two runs (NaN and signed zeros included).
inline bool BitIdentical(const std::vector<std::vector<float>>& a, const std::vector<std::vector<float>>& b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t c = 0; c < a.size(); ++c) {
        if (a[c].size() != b[c].size() ||
            (!a[c].empty() && std::memcmp(a[c].data(), b[c].data(), a[c].size() * sizeof(float)) != 0)) {
            return false;
        }
    }
    return true;
}

} // namespace kelaudiofilterhost::testing
