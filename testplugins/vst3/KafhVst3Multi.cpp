// SPDX-License-Identifier: GPL-3.0-or-later
// KafhVst3Multi: two audio classes and a controller class. The delay's sub-categories name two
// filed categories (the analyzer wins by the table's order); the synth is an instrument without a
// controller class. Only the two audio classes are catalogued. The synth plays one sine per held
// note (testplugins/NoteSines.h) of amplitude velocity x 0.25 from each event's sampleOffset, so a
// test can check note timing to the sample.
#include "testplugins/NoteSines.h"
#include "testplugins/vst3/TestVst3.h"

#include "pluginterfaces/vst/ivstevents.h"

using namespace kafh_testplugins_vst3;

namespace {

class DelayProcessor final : public BasicProcessor<> {
public:
    DelayProcessor() : BasicProcessor(&kMultiDelayController) {}
};

class DelayController final : public BasicController<> {};

class SynthProcessor final : public BasicProcessor<> {
public:
    SynthProcessor() : BasicProcessor(nullptr, true) {}

    tresult PLUGIN_API setupProcessing(Vst::ProcessSetup& setup) override
    {
        mSines.SetSampleRate(setup.sampleRate);
        return kResultOk;
    }
    tresult PLUGIN_API setActive(TBool /*state*/) override
    {
        mSines.Reset();
        return kResultOk;
    }
    tresult PLUGIN_API process(Vst::ProcessData& data) override
    {
        const int32 count = data.inputEvents != nullptr ? data.inputEvents->getEventCount() : 0;
        for (int32 i = 0; i < count; ++i) {
            Vst::Event event{};
            if (data.inputEvents->getEvent(i, event) != kResultOk) {
                continue;
            }
            if (event.type == Vst::Event::kNoteOnEvent && event.noteOn.velocity > 0.0f) {
                mSines.Queue({event.sampleOffset, true, event.noteOn.pitch, event.noteOn.velocity * 0.25f});
            } else if (event.type == Vst::Event::kNoteOnEvent) {
                mSines.Queue({event.sampleOffset, false, event.noteOn.pitch, 0.0f});
            } else if (event.type == Vst::Event::kNoteOffEvent) {
                mSines.Queue({event.sampleOffset, false, event.noteOff.pitch, 0.0f});
            }
        }
        if (data.numOutputs < 1 || data.outputs[0].channelBuffers32 == nullptr) {
            return kResultOk;
        }
        mSines.Render(data.outputs[0].channelBuffers32, data.outputs[0].numChannels, data.numSamples);
        return kResultOk;
    }

private:
    kafhtest::NoteSines mSines;
};

const ClassEntry kClasses[] = {
    {&kMultiDelayProcessor, kVstAudioEffectClass, "Kafh Multi Delay", "Fx|Delay|Fx|Analyzer",
     &Create<DelayProcessor>},
    {&kMultiDelayController, kVstComponentControllerClass, "Kafh Multi Delay Controller", "",
     &Create<DelayController>},
    {&kMultiSynth, kVstAudioEffectClass, "Kafh Multi Synth", "Instrument|Synth", &Create<SynthProcessor>},
};

} // namespace

KAFH_VST3_DEFAULT_ENTRY_EXIT
KAFH_VST3_FACTORY(kClasses)
