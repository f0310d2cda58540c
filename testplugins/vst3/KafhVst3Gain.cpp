// SPDX-License-Identifier: GPL-3.0-or-later
// KafhVst3Gain: a gain processor and its controller, with automatable, stepped, read-only, bypass and
// program-change parameters and one factory program list. The processor applies parameter changes
// from their sample offsets on; both halves save and restore their state.
#include "testplugins/vst3/TestVst3.h"

#include "pluginterfaces/vst/ivstunits.h"

using namespace kafh_testplugins_vst3;

namespace {

constexpr int32 kProgramCount = 4;

double ProgramGain(double programNormalized)
{
    const auto index = static_cast<int>(std::lround(std::clamp(programNormalized, 0.0, 1.0) * (kProgramCount - 1)));
    return kGainProgramValues[index];
}

class Processor final : public BasicProcessor<> {
public:
    Processor() : BasicProcessor(&kGainController) {}

    tresult PLUGIN_API process(Vst::ProcessData& data) override
    {
        ChangeCursor gain(data.inputParameterChanges, kGainParam);
        ChangeCursor mode(data.inputParameterChanges, kGainModeParam);
        ChangeCursor bypass(data.inputParameterChanges, kGainBypassParam);
        ChangeCursor program(data.inputParameterChanges, kGainProgramParam);
        const bool audio = data.numInputs > 0 && data.numOutputs > 0 && data.inputs[0].channelBuffers32 != nullptr
            && data.outputs[0].channelBuffers32 != nullptr;
        const int32 channels = audio ? std::min(data.inputs[0].numChannels, data.outputs[0].numChannels) : 0;
        for (int32 i = 0; audio && i < data.numSamples; ++i) {
            Advance(i, gain, mode, bypass, program);
            const auto factor = static_cast<float>(mValues[2] >= 0.5 ? 1.0 : 2.0 * mValues[0]);
            for (int32 c = 0; c < channels; ++c) {
                data.outputs[0].channelBuffers32[c][i] = data.inputs[0].channelBuffers32[c][i] * factor;
            }
        }
        Advance(std::numeric_limits<int32>::max(), gain, mode, bypass, program);
        return kResultOk;
    }

    tresult PLUGIN_API getState(IBStream* state) override
    {
        return WriteTaggedDoubles(state, kGainStateMagic, mValues) ? kResultOk : kResultFalse;
    }
    tresult PLUGIN_API setState(IBStream* state) override
    {
        return ReadTaggedDoubles(state, kGainStateMagic, mValues) ? kResultOk : kResultFalse;
    }

private:
    void Advance(int32 sample, ChangeCursor& gain, ChangeCursor& mode, ChangeCursor& bypass, ChangeCursor& program)
    {
        double selected = 0.0;
        if (program.Advance(sample, selected)) {
            mValues[0] = ProgramGain(selected);
        }
        gain.Advance(sample, mValues[0]);
        mode.Advance(sample, mValues[1]);
        bypass.Advance(sample, mValues[2]);
    }

    double mValues[3] = {0.5, 0.0, 0.0}; // gain, mode, bypass: the state's layout
};

const ParamDef kParams[] = {
    {kGainParam, "Gain", "x", 0, 0.5, Vst::ParameterInfo::kCanAutomate, Vst::kRootUnitId, 0.0, 2.0},
    {kGainModeParam, "Mode", "", 3, 0.0, Vst::ParameterInfo::kCanAutomate},
    {kGainMeterParam, "Meter", "", 0, 0.0, Vst::ParameterInfo::kIsReadOnly},
    {kGainBypassParam, "Bypass", "", 1, 0.0, Vst::ParameterInfo::kIsBypass | Vst::ParameterInfo::kCanAutomate},
    {kGainProgramParam, "Program", "", kProgramCount - 1, 0.0, Vst::ParameterInfo::kIsProgramChange},
};

class Controller final : public TableController<Vst::IUnitInfo> {
public:
    Controller() : TableController(kParams) {}

    tresult PLUGIN_API setComponentState(IBStream* state) override
    {
        double values[3];
        if (!ReadTaggedDoubles(state, kGainStateMagic, values)) {
            return kResultFalse;
        }
        SetValue(kGainParam, values[0]);
        SetValue(kGainModeParam, values[1]);
        SetValue(kGainBypassParam, values[2]);
        return kResultOk;
    }
    // Restores the program selection only: the gain comes with the component state.
    tresult PLUGIN_API setState(IBStream* state) override
    {
        std::uint32_t magic = 0;
        std::uint32_t program = 0;
        if (!ReadValue(state, magic) || magic != kGainControllerStateMagic || !ReadValue(state, program)
            || program >= kProgramCount) {
            return kResultFalse;
        }
        SetValue(kGainProgramParam, static_cast<double>(program) / (kProgramCount - 1));
        return kResultOk;
    }
    tresult PLUGIN_API getState(IBStream* state) override
    {
        const auto program = static_cast<std::uint32_t>(std::lround(Value(kGainProgramParam) * (kProgramCount - 1)));
        return WriteValue(state, kGainControllerStateMagic) && WriteValue(state, program) ? kResultOk : kResultFalse;
    }
    tresult PLUGIN_API setParamNormalized(Vst::ParamID id, Vst::ParamValue value) override
    {
        if (id == kGainProgramParam) {
            SetValue(kGainParam, ProgramGain(value));
        }
        return TableController::setParamNormalized(id, value);
    }

    int32 PLUGIN_API getUnitCount() override { return 1; }
    tresult PLUGIN_API getUnitInfo(int32 index, Vst::UnitInfo& info) override
    {
        if (index != 0) {
            return kInvalidArgument;
        }
        info = {};
        info.id = Vst::kRootUnitId;
        info.parentUnitId = Vst::kNoParentUnitId;
        CopyText(info.name, "Root");
        info.programListId = kGainProgramListId;
        return kResultOk;
    }
    int32 PLUGIN_API getProgramListCount() override { return 1; }
    tresult PLUGIN_API getProgramListInfo(int32 index, Vst::ProgramListInfo& info) override
    {
        if (index != 0) {
            return kInvalidArgument;
        }
        info = {};
        info.id = kGainProgramListId;
        CopyText(info.name, "Factory");
        info.programCount = kProgramCount;
        return kResultOk;
    }
    tresult PLUGIN_API getProgramName(Vst::ProgramListID list, int32 index, Vst::String128 name) override
    {
        if (list != kGainProgramListId || index < 0 || index >= kProgramCount || name == nullptr) {
            return kInvalidArgument;
        }
        char16 text[128];
        CopyText(text, kGainProgramNames[index]);
        std::memcpy(name, text, sizeof text);
        return kResultOk;
    }
    tresult PLUGIN_API getProgramInfo(Vst::ProgramListID, int32, Vst::CString, Vst::String128) override
    {
        return kResultFalse;
    }
    tresult PLUGIN_API hasProgramPitchNames(Vst::ProgramListID, int32) override { return kResultFalse; }
    tresult PLUGIN_API getProgramPitchName(Vst::ProgramListID, int32, int16, Vst::String128) override
    {
        return kResultFalse;
    }
    Vst::UnitID PLUGIN_API getSelectedUnit() override { return Vst::kRootUnitId; }
    tresult PLUGIN_API selectUnit(Vst::UnitID id) override
    {
        return id == Vst::kRootUnitId ? kResultOk : kInvalidArgument;
    }
    tresult PLUGIN_API getUnitByBus(Vst::MediaType, Vst::BusDirection, int32, int32, Vst::UnitID&) override
    {
        return kResultFalse;
    }
    tresult PLUGIN_API setUnitProgramData(int32, int32, IBStream*) override { return kResultFalse; }
};

const ClassEntry kClasses[] = {
    {&kGainProcessor, kVstAudioEffectClass, "Kafh Gain", "Fx|Dynamics", &Create<Processor>},
    {&kGainController, kVstComponentControllerClass, "Kafh Gain Controller", "", &Create<Controller>},
};

} // namespace

KAFH_VST3_DEFAULT_ENTRY_EXIT
KAFH_VST3_FACTORY(kClasses)
