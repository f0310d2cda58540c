// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/framework/AudioFilter.h"
#include "kelaudiofilterhost/services/PropList.h"

#include <boost/intrusive_ptr.hpp>

#include <atomic>
#include <vector>

namespace kelaudiofilterhost::testing {

/// An internal filter for tests: buses as given; output channel c = input channel c (or 0 when the
/// filter has fewer inputs) times a gain, delayed by a settable latency. Keeps its own delay
/// memory sized in Resume, so Process allocates nothing.
class DelayingGainFilter : public AudioFilter {
public:
    DelayingGainFilter(std::vector<AudioFilterBusDescription> inputs, std::vector<AudioFilterBusDescription> outputs,
                       int latency = 0)
        : AudioFilter(u"test:delaying-gain", u"Delaying gain"), mLatency(latency)
    {
        AddInputBuses(inputs);
        AddOutputBuses(outputs);
    }

    void SetLatency(int latency) { mLatency = latency; }
    int GetInitialDelay() const override { return mLatency; }
    int GetParameterCount() const override { return 1; }
    void SetParameter(int index, float value) override
    {
        if (index == 0) {
            mGain.store(value, std::memory_order_relaxed);
        }
        AudioFilter::SetParameter(index, value);
    }
    float GetParameter(int index) const override { return index == 0 ? mGain.load(std::memory_order_relaxed) : 0.0f; }

    void Resume() override
    {
        const auto channels = GetNumberOfOutputChannels();
        mHistory.assign(channels, std::vector<float>(static_cast<std::size_t>(mLatency) + 1, 0.0f));
        mHistoryPosition = 0;
        AudioFilter::Resume();
    }

    void Process(float** inputs, float** outputs, int frameCount) override
    {
        ++mProcessCalls;
        const auto inputChannels = GetNumberOfInputChannels();
        const auto length = mHistory.empty() ? 0 : mHistory.front().size();
        const float gain = mGain.load(std::memory_order_relaxed);
        for (int i = 0; i < frameCount; ++i) {
            for (std::size_t c = 0; c < mHistory.size(); ++c) {
                const float in = c < inputChannels ? inputs[c][i] * gain : 0.0f;
                auto& ring = mHistory[c];
                ring[mHistoryPosition] = in;
                outputs[c][i] = ring[(mHistoryPosition + 1) % length];
            }
            mHistoryPosition = length > 0 ? (mHistoryPosition + 1) % length : 0;
        }
    }

    int GetProcessCalls() const { return mProcessCalls; }

private:
    int mLatency;
    // Set from any thread while another processes.
    std::atomic<float> mGain{1.0f};
    std::vector<std::vector<float>> mHistory;
    std::size_t mHistoryPosition = 0;
    int mProcessCalls = 0;
};

/// A host with a fixed tempo and time signature whose transport, when it has one, plays (and loops).
class TempoHost : public IAudioFilterHost {
public:
    TempoHost(double tempo, int numerator, int denominator, bool playing = false, bool looping = false)
        : mTempo(tempo), mNumerator(numerator), mDenominator(denominator), mPlaying(playing), mLooping(looping)
    {
    }
    bool GetTempoAndTimeSignature(int*, int*, int*, HostTempoRecord* record) override
    {
        record->tempo = mTempo;
        record->numerator = mNumerator;
        record->denominator = mDenominator;
        return true;
    }
    bool GetTransportState(bool* playing, bool* recording, bool* looping) override
    {
        *playing = true;
        *recording = false;
        *looping = mLooping;
        return mPlaying;
    }
    void HostSpecific() override {}

private:
    double mTempo;
    int mNumerator;
    int mDenominator;
    bool mPlaying;
    bool mLooping;
};

/// A preset record with its own storage, optionally holding a chunk.
struct PresetRecord {
    PresetRecord() = default;
    explicit PresetRecord(const std::vector<std::uint8_t>& chunk)
    {
        preset.SetChunkData(chunk.data(), static_cast<unsigned int>(chunk.size()));
        preset.SetPresetType(PresetData::ChunkPreset);
    }
    kelcore::proplist::PropList list;
    PresetData preset{list};
};

inline AudioFilterBusDescription StereoBus(AudioFilterBusDescription::Type type = AudioFilterBusDescription::kMain)
{
    return AudioFilterBusDescription::CreateStereo(u"Stereo", type);
}

inline AudioFilterBusDescription MonoBus(AudioFilterBusDescription::Type type = AudioFilterBusDescription::kMain)
{
    return AudioFilterBusDescription::CreateMono(u"Mono", type);
}

} // namespace kelaudiofilterhost::testing
