// SPDX-License-Identifier: GPL-3.0-or-later
// KafhVst3SideChain: a main stereo input, an auxiliary stereo input that starts inactive, and a
// stereo output. The output is the main input, plus the side input once the host has activated its
// bus and hands it over. Any arrangement other than the current all-stereo one is refused.
#include "testplugins/vst3/TestVst3.h"

using namespace kafh_testplugins_vst3;

namespace {

class Processor final : public BasicProcessor<> {
public:
    Processor() : BasicProcessor(nullptr) {}

    int32 PLUGIN_API getBusCount(Vst::MediaType type, Vst::BusDirection dir) override
    {
        return type != Vst::kAudio ? 0 : dir == Vst::kInput ? 2 : 1;
    }
    tresult PLUGIN_API getBusInfo(Vst::MediaType type, Vst::BusDirection dir, int32 index, Vst::BusInfo& bus) override
    {
        if (index < 0 || index >= getBusCount(type, dir)) {
            return kInvalidArgument;
        }
        bus = {};
        bus.mediaType = type;
        bus.direction = dir;
        bus.channelCount = 2;
        const bool side = dir == Vst::kInput && index == 1;
        CopyText(bus.name, side ? "Side In" : dir == Vst::kInput ? "Main In" : "Main Out");
        bus.busType = side ? Vst::kAux : Vst::kMain;
        bus.flags = side ? 0 : Vst::BusInfo::kDefaultActive;
        return kResultOk;
    }
    tresult PLUGIN_API activateBus(Vst::MediaType type, Vst::BusDirection dir, int32 index, TBool state) override
    {
        if (index < 0 || index >= getBusCount(type, dir)) {
            return kInvalidArgument;
        }
        if (dir == Vst::kInput && index == 1) {
            mSideActive = state != 0;
        }
        return kResultOk;
    }
    tresult PLUGIN_API setBusArrangements(Vst::SpeakerArrangement* inputs, int32 numIns,
                                          Vst::SpeakerArrangement* outputs, int32 numOuts) override
    {
        const bool current = numIns == 2 && numOuts == 1 && inputs[0] == Vst::SpeakerArr::kStereo
            && inputs[1] == Vst::SpeakerArr::kStereo && outputs[0] == Vst::SpeakerArr::kStereo;
        return current ? kResultOk : kResultFalse;
    }
    tresult PLUGIN_API getBusArrangement(Vst::BusDirection dir, int32 index, Vst::SpeakerArrangement& arr) override
    {
        if (index < 0 || index >= getBusCount(Vst::kAudio, dir)) {
            return kInvalidArgument;
        }
        arr = Vst::SpeakerArr::kStereo;
        return kResultOk;
    }

    tresult PLUGIN_API process(Vst::ProcessData& data) override
    {
        BasicProcessor::process(data);
        const bool side = mSideActive && data.numInputs > 1 && data.inputs[1].channelBuffers32 != nullptr;
        if (!side || data.numOutputs < 1 || data.outputs[0].channelBuffers32 == nullptr) {
            return kResultOk;
        }
        const int32 channels = std::min(data.inputs[1].numChannels, data.outputs[0].numChannels);
        for (int32 c = 0; c < channels; ++c) {
            for (int32 i = 0; i < data.numSamples; ++i) {
                data.outputs[0].channelBuffers32[c][i] += data.inputs[1].channelBuffers32[c][i];
            }
        }
        return kResultOk;
    }

private:
    bool mSideActive = false;
};

const ClassEntry kClasses[] = {
    {&kSideChain, kVstAudioEffectClass, "Kafh Side Chain", "Fx|Dynamics", &Create<Processor>},
};

} // namespace

KAFH_VST3_DEFAULT_ENTRY_EXIT
KAFH_VST3_FACTORY(kClasses)
