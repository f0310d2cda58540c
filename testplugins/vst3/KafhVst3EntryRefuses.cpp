// SPDX-License-Identifier: GPL-3.0-or-later
// KafhVst3EntryRefuses: ModuleEntry answers false, so a host must not use its (otherwise valid)
// factory.
#include "testplugins/vst3/TestVst3.h"

using namespace kafh_testplugins_vst3;

namespace {

class Effect final : public BasicProcessor<> {
public:
    Effect() : BasicProcessor(nullptr) {}
};

const ClassEntry kClasses[] = {
    {&kEntryRefusesEffect, kVstAudioEffectClass, "Kafh Entry Refuses", "Fx", &Create<Effect>},
};

} // namespace

KAFH_VST3_EXPORT bool ModuleEntry(void*) { return false; }
KAFH_VST3_EXPORT bool ModuleExit() { return true; }
KAFH_VST3_FACTORY(kClasses)
