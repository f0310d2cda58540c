// SPDX-License-Identifier: GPL-3.0-or-later
// KafhSynth: an instrument (effFlagsIsSynth, no inputs, two outputs). It takes note on and note off
// from effProcessEvents, sample-accurately at each event's deltaFrames, and renders one sine per
// held note (testplugins/NoteSines.h) with amplitude Level x velocity / 127 on both outputs, so a test
// can check pitch, timing and silence after note off to the sample. It says yes to
// "receiveVstEvents" and "receiveVstMidiEvent".
#include "testplugins/NoteSines.h"
#include "testplugins/vst2/TestEffect.h"

namespace {

using namespace kafhtest;

constexpr std::int32_t kLevel = 0;

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
        mParams[kLevel] = 0.25f;
    }

protected:
    void ProcessReplacing(float** /*inputs*/, float** outputs, std::int32_t frames) override
    {
        mSines.Render(outputs, 2, frames);
    }

    std::intptr_t ProcessEvents(const abi::VstEvents& events) override
    {
        for (std::int32_t i = 0; i < events.numEvents; ++i)
        {
            const abi::VstEvent* event = events.events[i];
            if (event == nullptr || event->type != abi::kVstMidiType)
            {
                continue;
            }
            abi::VstMidiEvent midi{};
            std::memcpy(&midi, event, sizeof midi);
            const int kind = static_cast<std::uint8_t>(midi.midiData[0]) & 0xF0;
            const int note = midi.midiData[1] & 0x7F;
            const int velocity = midi.midiData[2] & 0x7F;
            const std::int32_t frame = std::max(midi.deltaFrames, 0);
            if (kind == 0x90 && velocity > 0)
            {
                mSines.Queue({frame, true, note, mParams[kLevel] * static_cast<float>(velocity) / 127.0f});
            }
            else if (kind == 0x80 || kind == 0x90)
            {
                mSines.Queue({frame, false, note, 0.0f});
            }
            else if (kind == 0xB0 && (note == 120 || note == 123))
            {
                mSines.Queue({frame, false, -1, 0.0f});
            }
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
        mSines.SetSampleRate(mSampleRate);
        mSines.Reset();
    }

private:
    NoteSines mSines;
};

} // namespace

KAFH_VST2_EXPORT abi::AEffect* VSTPluginMain(abi::AudioMasterCallback host)
{
    return CreateEffect<KafhSynth>(host);
}
