// SPDX-License-Identifier: GPL-3.0-or-later
// KafhVst3Faulty: stereo pass-through classes that misbehave in one way each, for the host's error
// paths: a controller class the factory does not know, a controller that refuses to initialise, a
// processor that refuses every setup call, empty saved states, and a processor that throws.
#include "testplugins/vst3/TestVst3.h"

#include <stdexcept>

using namespace kafh_testplugins_vst3;

namespace {

class MissingController final : public BasicProcessor<> {
public:
    MissingController() : BasicProcessor(&kMissingControllerUnknown) {}
};

class ControllerRefusesProcessor final : public BasicProcessor<> {
public:
    ControllerRefusesProcessor() : BasicProcessor(&kControllerRefusesController) {}
};

class RefusingController final : public BasicController<> {
public:
    tresult PLUGIN_API initialize(FUnknown* /*context*/) override { return kResultFalse; }
};

// Refuses setup, activation, arrangements, processing and saving; still writes silence when run.
class RefusesEverything final : public BasicProcessor<> {
public:
    RefusesEverything() : BasicProcessor(&kRefusesEverythingController) {}

    tresult PLUGIN_API setupProcessing(Vst::ProcessSetup& /*setup*/) override { return kResultFalse; }
    tresult PLUGIN_API setActive(TBool /*state*/) override { return kResultFalse; }
    tresult PLUGIN_API setBusArrangements(Vst::SpeakerArrangement*, int32, Vst::SpeakerArrangement*, int32) override
    {
        return kResultFalse;
    }
    tresult PLUGIN_API setProcessing(TBool /*state*/) override { return kResultFalse; }
    tresult PLUGIN_API getState(IBStream* /*state*/) override { return kResultFalse; }
    tresult PLUGIN_API process(Vst::ProcessData& data) override
    {
        for (int32 b = 0; b < data.numOutputs; ++b) {
            for (int32 c = 0; data.outputs[b].channelBuffers32 != nullptr && c < data.outputs[b].numChannels; ++c) {
                std::memset(data.outputs[b].channelBuffers32[c], 0, sizeof(float) * static_cast<std::size_t>(data.numSamples));
            }
        }
        return kResultFalse;
    }
};

// Its controller's state refuses too.
class RefusesEverythingController final : public BasicController<> {
public:
    tresult PLUGIN_API getState(IBStream* /*state*/) override { return kResultFalse; }
    tresult PLUGIN_API setState(IBStream* /*state*/) override { return kResultFalse; }
};

// Both halves save successfully, and nothing (the base classes write nothing).
class EmptyStateProcessor final : public BasicProcessor<> {
public:
    EmptyStateProcessor() : BasicProcessor(&kEmptyStateController) {}
};

class Throws final : public BasicProcessor<> {
public:
    Throws() : BasicProcessor(&kThrowsController) {}

    tresult PLUGIN_API process(Vst::ProcessData& /*data*/) override { throw std::runtime_error(kThrowsWhat); }
    tresult PLUGIN_API getState(IBStream* /*state*/) override { throw std::runtime_error(kThrowsWhat); }
    tresult PLUGIN_API setState(IBStream* /*state*/) override { throw std::runtime_error(kThrowsWhat); }
};

const ParamDef kThrowsParams[] = {
    {0, "Level", "", 0, 1.0, Vst::ParameterInfo::kCanAutomate},
};

class ThrowsController final : public TableController<> {
public:
    ThrowsController() : TableController(kThrowsParams) {}

    Vst::ParamValue PLUGIN_API getParamNormalized(Vst::ParamID /*id*/) override
    {
        throw std::runtime_error(kThrowsWhat);
    }
};

const ClassEntry kClasses[] = {
    {&kMissingControllerProcessor, kVstAudioEffectClass, "Kafh Missing Controller", "Fx", &Create<MissingController>},
    {&kControllerRefusesProcessor, kVstAudioEffectClass, "Kafh Controller Refuses", "Fx",
     &Create<ControllerRefusesProcessor>},
    {&kControllerRefusesController, kVstComponentControllerClass, "Kafh Controller Refuses Controller", "",
     &Create<RefusingController>},
    {&kRefusesEverythingProcessor, kVstAudioEffectClass, "Kafh Refuses Everything", "Fx", &Create<RefusesEverything>},
    {&kRefusesEverythingController, kVstComponentControllerClass, "Kafh Refuses Everything Controller", "",
     &Create<RefusesEverythingController>},
    {&kEmptyStateProcessor, kVstAudioEffectClass, "Kafh Empty State", "Fx", &Create<EmptyStateProcessor>},
    {&kEmptyStateController, kVstComponentControllerClass, "Kafh Empty State Controller", "",
     &Create<BasicController<>>},
    {&kThrowsProcessor, kVstAudioEffectClass, "Kafh Throws", "Fx", &Create<Throws>},
    {&kThrowsController, kVstComponentControllerClass, "Kafh Throws Controller", "", &Create<ThrowsController>},
};

} // namespace

KAFH_VST3_DEFAULT_ENTRY_EXIT
KAFH_VST3_FACTORY(kClasses)
