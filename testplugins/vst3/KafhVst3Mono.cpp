// SPDX-License-Identifier: GPL-3.0-or-later
// KafhVst3Mono: one mono input and one mono output, at half the level; it takes no other arrangement.
#include "testplugins/vst3/TestVst3.h"

using namespace kafh_testplugins_vst3;

namespace {

class Processor final : public BasicProcessor<> {
public:
    Processor() : BasicProcessor(nullptr, false, Vst::SpeakerArr::kMono) {}

    tresult PLUGIN_API process(Vst::ProcessData& data) override
    {
        if (data.numInputs < 1 || data.numOutputs < 1 || data.inputs[0].numChannels < 1 || data.outputs[0].numChannels < 1
            || data.inputs[0].channelBuffers32 == nullptr || data.outputs[0].channelBuffers32 == nullptr) {
            return BasicProcessor::process(data);
        }
        for (int32 i = 0; i < data.numSamples; ++i) {
            data.outputs[0].channelBuffers32[0][i] = 0.5f * data.inputs[0].channelBuffers32[0][i];
        }
        return kResultOk;
    }
};

const ClassEntry kClasses[] = {
    {&kMono, kVstAudioEffectClass, "Kafh Mono", "Fx", &Create<Processor>},
};

} // namespace

KAFH_VST3_DEFAULT_ENTRY_EXIT
KAFH_VST3_FACTORY(kClasses)
