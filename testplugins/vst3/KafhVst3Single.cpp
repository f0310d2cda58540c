// SPDX-License-Identifier: GPL-3.0-or-later
// KafhVst3Single: one object that is component, processor and edit controller at once, so it names
// no controller class. Its one parameter scales the audio. IComponent and IEditController share
// getState and setState, so a host saving both halves gets the same bytes twice. The exported
// KafhVst3SingleLifecycle counts initialize and terminate calls over every instance.
#include "testplugins/vst3/TestVst3.h"

using namespace kafh_testplugins_vst3;

namespace {

std::atomic<int> gInitializeCalls{0};
std::atomic<int> gTerminateCalls{0};

const ParamDef kParams[] = {
    {kSingleLevelParam, "Level", "", 0, 1.0, Vst::ParameterInfo::kCanAutomate},
};

class Single final : public ParameterController<BasicProcessor<Vst::IEditController>> {
public:
    Single() : ParameterController(kParams, nullptr) {}

    tresult PLUGIN_API initialize(FUnknown* /*context*/) override
    {
        ++gInitializeCalls;
        return kResultOk;
    }
    // Called once through each interface by a careless host: nothing to undo, so twice is harmless.
    tresult PLUGIN_API terminate() override
    {
        ++gTerminateCalls;
        return setComponentHandler(nullptr);
    }

    // One level for both halves: the processor's changes are what the controller reports.
    tresult PLUGIN_API process(Vst::ProcessData& data) override
    {
        ChangeCursor changes(data.inputParameterChanges, kSingleLevelParam);
        double level = Value(kSingleLevelParam);
        const bool audio = data.numInputs > 0 && data.numOutputs > 0 && data.inputs[0].channelBuffers32 != nullptr
            && data.outputs[0].channelBuffers32 != nullptr;
        const int32 channels = audio ? std::min(data.inputs[0].numChannels, data.outputs[0].numChannels) : 0;
        for (int32 i = 0; audio && i < data.numSamples; ++i) {
            changes.Advance(i, level);
            for (int32 c = 0; c < channels; ++c) {
                data.outputs[0].channelBuffers32[c][i] = data.inputs[0].channelBuffers32[c][i] * static_cast<float>(level);
            }
        }
        changes.Finish(level);
        SetValue(kSingleLevelParam, level);
        return kResultOk;
    }

    tresult PLUGIN_API getState(IBStream* state) override
    {
        const double level[] = {Value(kSingleLevelParam)};
        return WriteTaggedDoubles(state, kSingleStateMagic, level) ? kResultOk : kResultFalse;
    }
    tresult PLUGIN_API setState(IBStream* state) override
    {
        double level[1];
        if (!ReadTaggedDoubles(state, kSingleStateMagic, level)) {
            return kResultFalse;
        }
        SetValue(kSingleLevelParam, level[0]);
        return kResultOk;
    }
    tresult PLUGIN_API setComponentState(IBStream* state) override { return setState(state); }
};

const ClassEntry kClasses[] = {
    {&kSingle, kVstAudioEffectClass, "Kafh Single", "Fx", &Create<Single>},
};

} // namespace

KAFH_VST3_DEFAULT_ENTRY_EXIT
KAFH_VST3_FACTORY(kClasses)

KAFH_VST3_EXPORT void KafhVst3SingleLifecycle(int* initializeCalls, int* terminateCalls)
{
    *initializeCalls = gInitializeCalls;
    *terminateCalls = gTerminateCalls;
}
