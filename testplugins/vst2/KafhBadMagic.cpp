// SPDX-License-Identifier: GPL-3.0-or-later
// KafhBadMagic: the entry point returns an effect whose magic is "VstP" in the wrong byte order, a
// mistake of hand-written plug-ins. The effect is a static object (never freed, never leaked) whose
// functions all do nothing, so a host that goes ahead anyway still does not crash on it.
#include "testplugins/vst2/TestEffect.h"

namespace {

using namespace kafhtest;

std::intptr_t Dispatcher(abi::AEffect* /*effect*/, std::int32_t /*opcode*/, std::int32_t /*index*/,
                         std::intptr_t /*value*/, void* /*ptr*/, float /*opt*/)
{
    return 0;
}
void Process(abi::AEffect* /*effect*/, float** /*inputs*/, float** /*outputs*/, std::int32_t /*frames*/) {}
void SetParameter(abi::AEffect* /*effect*/, std::int32_t /*index*/, float /*value*/) {}
float GetParameter(abi::AEffect* /*effect*/, std::int32_t /*index*/)
{
    return 0.0f;
}

abi::AEffect MakeEffect()
{
    abi::AEffect effect{};
    effect.magic = static_cast<std::int32_t>(__builtin_bswap32(static_cast<std::uint32_t>(abi::kEffectMagic)));
    effect.dispatcher = &Dispatcher;
    effect.process = &Process;
    effect.setParameter = &SetParameter;
    effect.getParameter = &GetParameter;
    effect.numInputs = 2;
    effect.numOutputs = 2;
    effect.flags = abi::effFlagsCanReplacing;
    effect.uniqueID = kBadMagicId;
    effect.processReplacing = &Process;
    return effect;
}

abi::AEffect sEffect = MakeEffect();

} // namespace

KAFH_VST2_EXPORT abi::AEffect* VSTPluginMain(abi::AudioMasterCallback /*host*/)
{
    return &sEffect;
}
