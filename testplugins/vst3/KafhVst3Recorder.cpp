// SPDX-License-Identifier: GPL-3.0-or-later
// KafhVst3Recorder: a pass-through processor that records what the host hands it (parameter changes,
// block sizes, process context and setup, state switches) in a RecorderLog, which is its component
// state, so a test reads it by saving the state. Each block it reports channel 0's input peak
// through the output parameter changes.
#include "testplugins/vst3/TestVst3.h"

#include "pluginterfaces/vst/ivsteditcontroller.h"
#include "pluginterfaces/vst/ivstevents.h"
#include "pluginterfaces/vst/ivstmidicontrollers.h"
#include "pluginterfaces/vst/ivstprocesscontext.h"

#include <algorithm>
#include <optional>

using namespace kafh_testplugins_vst3;

namespace {

class Processor final : public BasicProcessor<> {
public:
    Processor() : BasicProcessor(&kRecorderController) { mLog.magic = kRecorderStateMagic; }

    // An event input beside the audio, so that hosts can hand it notes to record.
    int32 PLUGIN_API getBusCount(Vst::MediaType type, Vst::BusDirection dir) override
    {
        return type == Vst::kEvent ? (dir == Vst::kInput ? 1 : 0) : BasicProcessor::getBusCount(type, dir);
    }

    tresult PLUGIN_API setupProcessing(Vst::ProcessSetup& setup) override
    {
        ++mLog.setupCount;
        mLog.processMode = setup.processMode;
        mLog.symbolicSampleSize = setup.symbolicSampleSize;
        mLog.maxSamplesPerBlock = setup.maxSamplesPerBlock;
        mLog.setupSampleRate = setup.sampleRate;
        return kResultOk;
    }
    tresult PLUGIN_API setActive(TBool state) override
    {
        ++(state ? mLog.activeOn : mLog.activeOff);
        return kResultOk;
    }
    tresult PLUGIN_API setProcessing(TBool state) override
    {
        ++(state ? mLog.processingOn : mLog.processingOff);
        return kResultOk;
    }

    tresult PLUGIN_API process(Vst::ProcessData& data) override
    {
        const int64 projectTime = data.processContext != nullptr ? data.processContext->projectTimeSamples : 0;
        RecordChanges(data.inputParameterChanges, projectTime);
        RecordEvents(data.inputEvents, projectTime);
        const float* first = data.numInputs > 0 && data.inputs[0].numChannels > 0 && data.inputs[0].channelBuffers32 != nullptr
            ? data.inputs[0].channelBuffers32[0]
            : nullptr;
        if (mLog.processCount < kRecorderMaxBlocks) {
            const Vst::ProcessContext* context = data.processContext;
            mLog.blocks[mLog.processCount] = {data.numSamples, first != nullptr && data.numSamples > 0 ? first[0] : 0.0f,
                                              context != nullptr ? context->projectTimeSamples : 0,
                                              context != nullptr ? context->projectTimeMusic : 0.0,
                                              context != nullptr ? context->barPositionMusic : 0.0,
                                              context != nullptr ? context->tempo : 0.0};
        }
        ++mLog.processCount;
        if (const Vst::ProcessContext* context = data.processContext) {
            ++mLog.contextCount;
            mLog.contextState = context->state;
            mLog.tempo = context->tempo;
            mLog.projectTimeSamples = context->projectTimeSamples;
            mLog.contextSampleRate = context->sampleRate;
            mLog.timeSigNumerator = context->timeSigNumerator;
            mLog.timeSigDenominator = context->timeSigDenominator;
        }
        float peak = 0.0f;
        for (int32 i = 0; first != nullptr && i < data.numSamples; ++i) {
            peak = std::max(peak, std::fabs(first[i]));
        }
        if (data.outputParameterChanges == nullptr) {
            ++mLog.noOutputChanges;
        } else {
            int32 index = 0;
            if (Vst::IParamValueQueue* queue = data.outputParameterChanges->addParameterData(kRecorderPeakParam, index)) {
                queue->addPoint(0, std::min(peak, 1.0f), index);
            }
            // Echoes a new value of A as B, so that hosts can see a listed output change arrive.
            if (const auto echo = LastValue(data.inputParameterChanges, kRecorderParamA)) {
                if (Vst::IParamValueQueue* queue = data.outputParameterChanges->addParameterData(kRecorderParamB, index)) {
                    queue->addPoint(0, *echo, index);
                }
            }
        }
        return BasicProcessor::process(data);
    }

    static std::optional<Vst::ParamValue> LastValue(Vst::IParameterChanges* changes, Vst::ParamID id)
    {
        const int32 count = changes != nullptr ? changes->getParameterCount() : 0;
        for (int32 q = 0; q < count; ++q) {
            Vst::IParamValueQueue* queue = changes->getParameterData(q);
            int32 offset = 0;
            Vst::ParamValue value = 0.0;
            if (queue != nullptr && queue->getParameterId() == id && queue->getPointCount() > 0
                && queue->getPoint(queue->getPointCount() - 1, offset, value) == kResultOk) {
                return value;
            }
        }
        return std::nullopt;
    }

    tresult PLUGIN_API getState(IBStream* state) override
    {
        return WriteValue(state, mLog) ? kResultOk : kResultFalse;
    }
    // Exactly one log, nothing more or less.
    tresult PLUGIN_API setState(IBStream* state) override
    {
        unsigned char bytes[sizeof(RecorderLog) + 1];
        int32 got = 0;
        if (state == nullptr || state->read(bytes, sizeof bytes, &got) != kResultOk || got != sizeof(RecorderLog)) {
            return kResultFalse;
        }
        RecorderLog log;
        std::memcpy(&log, bytes, sizeof log);
        if (log.magic != kRecorderStateMagic) {
            return kResultFalse;
        }
        mLog = log;
        return kResultOk;
    }

private:
    void RecordEvents(Vst::IEventList* events, int64 projectTime)
    {
        const int32 count = events != nullptr ? events->getEventCount() : 0;
        for (int32 i = 0; i < count; ++i) {
            Vst::Event event{};
            if (events->getEvent(i, event) != kResultOk) {
                continue;
            }
            const bool note = event.type == Vst::Event::kNoteOnEvent || event.type == Vst::Event::kNoteOffEvent;
            if (mLog.eventCount < kRecorderMaxEvents) {
                mLog.events[mLog.eventCount] = {projectTime + event.sampleOffset, event.type,
                                                note ? event.noteOn.pitch : 0};
            }
            ++mLog.eventCount;
        }
    }

    void RecordChanges(Vst::IParameterChanges* changes, int64 projectTime)
    {
        const int32 count = changes != nullptr ? changes->getParameterCount() : 0;
        for (int32 p = 0; p < count; ++p) {
            Vst::IParamValueQueue* queue = changes->getParameterData(p);
            const int32 points = queue != nullptr ? queue->getPointCount() : 0;
            for (int32 i = 0; i < points; ++i) {
                int32 offset = 0;
                Vst::ParamValue value = 0.0;
                if (queue->getPoint(i, offset, value) != kResultOk) {
                    continue;
                }
                if (mLog.pointCount < kRecorderMaxPoints) {
                    mLog.points[mLog.pointCount] = {queue->getParameterId(), offset, value, projectTime};
                }
                ++mLog.pointCount;
            }
        }
    }

    RecorderLog mLog{};
};

const ParamDef kParams[] = {
    {kRecorderParamA, "A", "", 0, 0.0, Vst::ParameterInfo::kCanAutomate},
    {kRecorderParamB, "B", "", 0, 0.0, Vst::ParameterInfo::kCanAutomate},
    {kRecorderPeakParam, "Peak", "", 0, 0.0, Vst::ParameterInfo::kIsReadOnly},
};

// Its own state is empty: getState writes nothing. Controller 7 on channel 0 moves A and pitch bend
// on any channel B, so hosts can show how they turn MIDI into parameter changes.
class Controller final : public TableController<Vst::IMidiMapping> {
public:
    Controller() : TableController(kParams) {}

    tresult PLUGIN_API getMidiControllerAssignment(int32 busIndex, int16 channel, Vst::CtrlNumber number,
                                                   Vst::ParamID& id) override
    {
        if (busIndex == 0 && number == 7 && channel == 0) {
            id = kRecorderParamA;
            return kResultOk;
        }
        if (busIndex == 0 && number == Vst::kPitchBend) {
            id = kRecorderParamB;
            return kResultOk;
        }
        return kResultFalse;
    }
};

const ClassEntry kClasses[] = {
    {&kRecorderProcessor, kVstAudioEffectClass, "Kafh Recorder", "Fx|Tools", &Create<Processor>},
    {&kRecorderController, kVstComponentControllerClass, "Kafh Recorder Controller", "", &Create<Controller>},
};

} // namespace

KAFH_VST3_DEFAULT_ENTRY_EXIT
KAFH_VST3_FACTORY(kClasses)
