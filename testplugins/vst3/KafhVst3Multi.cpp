// SPDX-License-Identifier: GPL-3.0-or-later
// KafhVst3Multi: two audio classes and a controller class. The delay's sub-categories name two
// filed categories (the analyzer wins by the table's order); the synth is an instrument without a
// controller class. Only the two audio classes are catalogued.
#include "testplugins/vst3/TestVst3.h"

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
