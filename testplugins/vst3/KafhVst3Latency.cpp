// SPDX-License-Identifier: GPL-3.0-or-later
// KafhVst3Latency: two delays that report their delay as latency. "Kafh Latency" delays by a fixed 64
// samples with a tail; "Kafh Latency Change" delays by 64 or 128 samples by its "Long" parameter,
// and its controller tells the host through restartComponent when the latency changes.
#include "testplugins/vst3/TestVst3.h"

using namespace kafh_testplugins_vst3;

namespace {

class Delay : public BasicProcessor<> {
public:
    Delay(const Uid* controller, uint32 tail, bool switchable)
        : BasicProcessor(controller), mTail(tail), mSwitchable(switchable)
    {
    }

    uint32 PLUGIN_API getLatencySamples() override { return mDelay; }
    uint32 PLUGIN_API getTailSamples() override { return mTail; }
    tresult PLUGIN_API setActive(TBool /*state*/) override
    {
        std::memset(mLines, 0, sizeof mLines);
        return kResultOk;
    }

    tresult PLUGIN_API process(Vst::ProcessData& data) override
    {
        ChangeCursor changes(mSwitchable ? data.inputParameterChanges : nullptr, kLatencyLongParam);
        const bool audio = data.numInputs > 0 && data.numOutputs > 0 && data.inputs[0].channelBuffers32 != nullptr
            && data.outputs[0].channelBuffers32 != nullptr;
        const int32 channels = audio ? std::min({data.inputs[0].numChannels, data.outputs[0].numChannels, 2}) : 0;
        for (int32 i = 0; audio && i < data.numSamples; ++i) {
            if (changes.Advance(i, mLong)) {
                Switch();
            }
            for (int32 c = 0; c < channels; ++c) {
                mLines[c][mWrite] = data.inputs[0].channelBuffers32[c][i];
                data.outputs[0].channelBuffers32[c][i] = mLines[c][(mWrite - mDelay) & kMask];
            }
            mWrite = (mWrite + 1) & kMask;
        }
        if (changes.Finish(mLong)) {
            Switch();
        }
        return kResultOk;
    }

protected:
    void Switch() { mDelay = mLong >= 0.5 ? kLatencyLongSamples : kLatencySamples; }

    double mLong = 0.0;

private:
    static constexpr uint32 kMask = 255; // a power of two above the longest delay

    uint32 mTail;
    bool mSwitchable;
    uint32 mDelay = kLatencySamples;
    uint32 mWrite = 0;
    float mLines[2][kMask + 1] = {};
};

class FixedDelay final : public Delay {
public:
    FixedDelay() : Delay(&kLatencyController, kLatencyTailSamples, false) {}
};

class ChangingDelay final : public Delay {
public:
    ChangingDelay() : Delay(&kLatencyChangeController, Vst::kNoTail, true) {}

    tresult PLUGIN_API getState(IBStream* state) override
    {
        const double values[] = {mLong};
        return WriteTaggedDoubles(state, kLatencyStateMagic, values) ? kResultOk : kResultFalse;
    }
    tresult PLUGIN_API setState(IBStream* state) override
    {
        double values[1];
        if (!ReadTaggedDoubles(state, kLatencyStateMagic, values)) {
            return kResultFalse;
        }
        mLong = values[0];
        Switch();
        return kResultOk;
    }
};

class FixedController final : public BasicController<> {};

const ParamDef kParams[] = {
    {kLatencyLongParam, "Long", "", 1, 0.0, Vst::ParameterInfo::kCanAutomate},
};

class ChangingController final : public TableController<> {
public:
    ChangingController() : TableController(kParams) {}

    tresult PLUGIN_API setComponentState(IBStream* state) override
    {
        double values[1];
        if (!ReadTaggedDoubles(state, kLatencyStateMagic, values)) {
            return kResultFalse;
        }
        SetValue(kLatencyLongParam, values[0]);
        return kResultOk;
    }
    tresult PLUGIN_API setParamNormalized(Vst::ParamID id, Vst::ParamValue value) override
    {
        const bool wasLong = Value(kLatencyLongParam) >= 0.5;
        const tresult result = TableController::setParamNormalized(id, value);
        if (result == kResultOk && id == kLatencyLongParam && (value >= 0.5) != wasLong && Handler() != nullptr) {
            Handler()->restartComponent(Vst::kLatencyChanged);
        }
        return result;
    }
};

const ClassEntry kClasses[] = {
    {&kLatencyProcessor, kVstAudioEffectClass, "Kafh Latency", "Fx|Delay", &Create<FixedDelay>},
    {&kLatencyController, kVstComponentControllerClass, "Kafh Latency Controller", "", &Create<FixedController>},
    {&kLatencyChangeProcessor, kVstAudioEffectClass, "Kafh Latency Change", "Fx|Delay", &Create<ChangingDelay>},
    {&kLatencyChangeController, kVstComponentControllerClass, "Kafh Latency Change Controller", "",
     &Create<ChangingController>},
};

} // namespace

KAFH_VST3_DEFAULT_ENTRY_EXIT
KAFH_VST3_FACTORY(kClasses)
