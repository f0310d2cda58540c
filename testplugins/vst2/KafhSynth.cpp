// SPDX-License-Identifier: GPL-3.0-or-later
// KafhSynth: an instrument (effFlagsIsSynth, no inputs, two outputs). It takes note on and note off
// from effProcessEvents, sample-accurately at each event's deltaFrames, and renders one sine per
// held note with amplitude Level x velocity / 127 on both outputs, so a test can check pitch, timing
// and silence after note off. It says yes to "receiveVstEvents" and "receiveVstMidiEvent".
#include "testplugins/vst2/TestEffect.h"

#include <cmath>
#include <numbers>

namespace {

using namespace kafhtest;

constexpr std::int32_t kLevel = 0;
constexpr float kTwoPi = 2.0f * std::numbers::pi_v<float>;

class KafhSynth final : public TestEffect
{
public:
    explicit KafhSynth(abi::AudioMasterCallback host)
        : TestEffect(host, {.name = "Kafh Synth",
                            .uniqueId = kSynthId,
                            .numInputs = 0,
                            .numOutputs = 2,
                            .numParams = 1,
                            .flags = abi::effFlagsCanReplacing | abi::effFlagsIsSynth,
                            .category = abi::kPlugCategSynth})
    {
        mParams[kLevel] = 0.5f;
    }

protected:
    void ProcessReplacing(float** /*inputs*/, float** outputs, std::int32_t frames) override
    {
        std::fill_n(outputs[0], frames, 0.0f);
        std::fill_n(outputs[1], frames, 0.0f);
        std::size_t next = 0;
        std::int32_t position = 0;
        while (position < frames)
        {
            while (next < mPendingCount && mPending[next].frame <= position)
            {
                Apply(mPending[next++]);
            }
            const std::int32_t end = next < mPendingCount ? std::min(mPending[next].frame, frames) : frames;
            Render(outputs, position, end);
            position = end;
        }
        // Events past the block's end take effect at once: the host was wrong to send them here.
        while (next < mPendingCount)
        {
            Apply(mPending[next++]);
        }
        mPendingCount = 0;
    }

    std::intptr_t ProcessEvents(const abi::VstEvents& events) override
    {
        for (std::int32_t i = 0; i < events.numEvents; ++i)
        {
            const abi::VstEvent* event = events.events[i];
            if (event == nullptr || event->type != abi::kVstMidiType || mPendingCount == mPending.size())
            {
                continue;
            }
            abi::VstMidiEvent midi{};
            std::memcpy(&midi, event, sizeof midi);
            mPending[mPendingCount++] = {std::max(midi.deltaFrames, 0), static_cast<std::uint8_t>(midi.midiData[0]),
                                         static_cast<std::uint8_t>(midi.midiData[1]),
                                         static_cast<std::uint8_t>(midi.midiData[2])};
        }
        return 1;
    }

    std::intptr_t CanDo(std::string_view what) override
    {
        return what == "receiveVstEvents" || what == "receiveVstMidiEvent" ? 1 : 0;
    }

    std::string_view ParameterName(std::int32_t /*index*/) override { return "Level"; }

    void MainsChanged(bool /*resumed*/) override
    {
        for (Voice& voice : mVoices)
        {
            voice.note = -1;
        }
        mPendingCount = 0;
    }

private:
    struct Voice
    {
        int note = -1;
        float phase = 0.0f;
        float step = 0.0f;
        float amplitude = 0.0f;
    };
    struct PendingEvent
    {
        std::int32_t frame;
        std::uint8_t status;
        std::uint8_t data1;
        std::uint8_t data2;
    };

    void Apply(const PendingEvent& event)
    {
        const int kind = event.status & 0xF0;
        if (kind == 0x90 && event.data2 > 0)
        {
            Voice* voice = std::find_if(mVoices.begin(), mVoices.end(), [](const Voice& v) { return v.note < 0; });
            if (voice == mVoices.end())
            {
                voice = mVoices.begin();
            }
            const float frequency = 440.0f * std::exp2((static_cast<float>(event.data1) - 69.0f) / 12.0f);
            *voice = {event.data1, 0.0f, kTwoPi * frequency / mSampleRate,
                      mParams[kLevel] * static_cast<float>(event.data2) / 127.0f};
        }
        else if (kind == 0x80 || kind == 0x90)
        {
            for (Voice& voice : mVoices)
            {
                if (voice.note == event.data1)
                {
                    voice.note = -1;
                }
            }
        }
        else if (kind == 0xB0 && (event.data1 == 120 || event.data1 == 123))
        {
            for (Voice& voice : mVoices)
            {
                voice.note = -1;
            }
        }
    }

    void Render(float** outputs, std::int32_t from, std::int32_t to)
    {
        for (Voice& voice : mVoices)
        {
            if (voice.note < 0)
            {
                continue;
            }
            for (std::int32_t i = from; i < to; ++i)
            {
                const float sample = voice.amplitude * std::sin(voice.phase);
                outputs[0][i] += sample;
                outputs[1][i] += sample;
                voice.phase += voice.step;
                if (voice.phase >= kTwoPi)
                {
                    voice.phase -= kTwoPi;
                }
            }
        }
    }

    std::array<Voice, 16> mVoices{};
    std::array<PendingEvent, 256> mPending{};
    std::size_t mPendingCount = 0;
};

} // namespace

KAFH_VST2_EXPORT abi::AEffect* VSTPluginMain(abi::AudioMasterCallback host)
{
    return CreateEffect<KafhSynth>(host);
}
