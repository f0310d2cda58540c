// SPDX-License-Identifier: GPL-3.0-or-later
// The processing half of the VST 3 filter: buses from speaker arrangements, activation and blocks.
#include "kelaudiofilterhost/services/ChannelLayouts.h"
#include "kelaudiofilterhost/services/Config.h"
#include "kelaudiofilterhost/services/Trace.h"
#include "kelaudiofilterhost/vst3/VST3AudioFilter.h"
#include "kelaudiofilterhost/vst3/VST3FieldText.h"

#include <pluginterfaces/vst/ivstmidicontrollers.h>

#include <algorithm>
#include <bit>
#include <climits>
#include <cstring>

namespace kelaudiofilterhost::vst3 {

using namespace Steinberg;

namespace {

using kelmediatypes::ChannelLayout;

struct ArrangementRow {
    Vst::SpeakerArrangement arrangement;
    const char16_t* name;
    ChannelLayout (*layout)();
};

// Bus names and layouts by speaker arrangement; a row without a layout function gets a generic one.
constexpr ArrangementRow kArrangements[] = {
    {0x80000, u"Mono", kelmediatypes::CreateMonoChannelLayout},
    {0x3, u"Stereo", kelmediatypes::CreateStereoChannelLayout},
    {0x7, u"LRC", kelmediatypes::Create_L_R_C_ChannelLayout},
    {0xC, u"Stereo (C Lfe)", kelmediatypes::Create_C_LFE_ChannelLayout},
    {0xF, u"LRC+Lfe", kelmediatypes::Create_L_R_C_LFE_ChannelLayout},
    {0x30, u"Stereo (Ls Rs)", nullptr},
    {0x33, u"Quadro", kelmediatypes::CreateQuadraphonicChannelLayout},
    {0x37, u"5.0", kelmediatypes::Create_L_R_C_Ls_Rs_ChannelLayout},
    {0x3B, u"Quadro+Lfe", kelmediatypes::Create_L_R_LFE_Ls_Rs_ChannelLayout},
    {0x3F, u"5.1", kelmediatypes::CreateBroadcast51ChannelLayout},
    {0xC0, u"Stereo (Lc Rc)", kelmediatypes::Create_Lc_Rc_ChannelLayout},
    {0xF7, u"7.0 Cine", kelmediatypes::Create_L_R_C_Ls_Rs_Lc_Rc_ChannelLayout},
    {0xFF, u"7.1 Cine", kelmediatypes::Create7_1ChannelLayout},
    {0x103, u"LRS", kelmediatypes::Create_L_R_Cs_ChannelLayout},
    {0x107, u"LRCS", kelmediatypes::Create_L_R_C_Cs_ChannelLayout},
    {0x10B, u"LRS+Lfe", kelmediatypes::Create_L_R_LFE_Cs_ChannelLayout},
    {0x10F, u"LRCS+Lfe", kelmediatypes::Create_L_R_C_LFE_Cs_ChannelLayout},
    {0x137, u"6.0 Cine", kelmediatypes::Create_L_R_C_Ls_Rs_Cs_ChannelLayout},
    {0x13F, u"6.1 Cine", kelmediatypes::Create_L_R_C_LFE_Ls_Rs_Cs_ChannelLayout},
    {0x1F7, u"8.0 Cine", kelmediatypes::Create_L_R_C_Ls_Rs_Lc_Rc_Cs_ChannelLayout},
    {0x1FF, u"8.1 Cine", kelmediatypes::Create_L_R_C_LFE_Ls_Rs_Lc_Rc_Cs_ChannelLayout},
    {0x600, u"Stereo (Sl Sr)", kelmediatypes::Create_Lsd_Rsd_ChannelLayout},
    {0x633, u"6.0 Music", kelmediatypes::Create_L_R_Ls_Rs_Lsd_Rsd_ChannelLayout},
    {0x637, u"7.0 Music", kelmediatypes::Create_L_R_C_Ls_Rs_Lsd_Rsd_ChannelLayout},
    {0x63B, u"6.1 Music", kelmediatypes::Create_L_R_LFE_Ls_Rs_Lsd_Rsd_ChannelLayout},
    {0x63F, u"7.1 Music", kelmediatypes::Create_L_R_C_LFE_Ls_Rs_Lsd_Rsd_ChannelLayout},
    {0x737, u"8.0 Music", kelmediatypes::Create_L_R_C_Ls_Rs_Cs_Lsd_Rsd_ChannelLayout},
    {0x73F, u"8.1 Music", kelmediatypes::Create_L_R_C_LFE_Ls_Rs_Cs_Lsd_Rsd_ChannelLayout},
    {0x93F, u"7.1 Cine Top Center", kelmediatypes::Create_VST_7_1_Cine_Top_Center_Layout},
    {0x213F, u"7.1 Cine Center High", kelmediatypes::Create_VST_7_1_Cine_Center_High_Layout},
    {0x503F, u"7.1 Cine Front High", kelmediatypes::Create_VST_7_1_Cine_Front_High_Layout},
    {0x2D033, u"Cube", kelmediatypes::CreateCubeChannelLayout},
    {0x6F03F, u"10.2", kelmediatypes::CreateVST10_2ChannelLayout},
    {0x6F0FF, u"12.2", kelmediatypes::CreateVST10_2_PlusChannelLayout},
    {0xF00000, u"BFormat", kelmediatypes::CreateAmbisonicsBFormatChannelLayout},
    {0x300003F, u"7.1 Cine Side High", kelmediatypes::Create_VST_7_1_Cine_Side_High_Layout},
    {0xC00003F, u"7.1 Cine Full Rear", kelmediatypes::Create7_1ItuChannelLayout},
};

const ArrangementRow* FindArrangement(Vst::SpeakerArrangement arrangement)
{
    for (const auto& row : kArrangements) {
        if (row.arrangement == arrangement) {
            return &row;
        }
    }
    return nullptr;
}


/// The arrangement asked for a layout of this many channels; 0 when there is none.
Vst::SpeakerArrangement ArrangementForChannels(std::size_t channels)
{
    switch (channels) {
    case 1:
        return 0x80000;
    case 2:
        return 0x3;
    case 4:
        return 0x33;
    case 6:
        return 0x3F;
    case 8:
        return 0xFF;
    default:
        return 0;
    }
}

int ClampToInt(uint32 value)
{
    return value > static_cast<uint32>(INT_MAX) ? INT_MAX : static_cast<int>(value);
}

} // namespace

AudioFilterBusDescription MakeVST3BusDescription(Vst::SpeakerArrangement arrangement, int32 busType,
                                                 const UTF16String& name)
{
    const ArrangementRow* row = FindArrangement(arrangement);
    UTF16String busName = name;
    if (busName.empty() && row != nullptr) {
        busName = row->name;
    }
    if (busName.empty()) {
        busName = u"Unknown";
    }
    ChannelLayout layout;
    if (row != nullptr && row->layout != nullptr) {
        layout = row->layout();
    } else {
        layout.resize(static_cast<std::size_t>(std::popcount(static_cast<std::uint64_t>(arrangement))));
    }
    return AudioFilterBusDescription(busName, std::move(layout),
                                     busType != Vst::kMain ? AudioFilterBusDescription::kSideChain
                                                           : AudioFilterBusDescription::kMain);
}

KAFH_VST3_PLUGIN_CALL void VST3AudioFilter::BuildIOConfiguration()
{
    ClearBusConfiguration();
    for (VST3EventList** list : {&mInputEvents, &mOutputEvents}) {
        if (*list != nullptr) {
            (*list)->release();
            *list = nullptr;
        }
    }
    if (mComponent == nullptr) {
        return;
    }
    const VST3PluginGate& gate = mGate;
    for (const Vst::BusDirection direction : {Vst::kInput, Vst::kOutput}) {
        const int32 count = gate.Call("IComponent::getBusCount", [&]() KAFH_VST3_PLUGIN_CALL {
            return mComponent->getBusCount(Vst::kEvent, direction);
        }, int32{0});
        if (count > 0) {
            (direction == Vst::kInput ? mInputEvents : mOutputEvents) = new VST3EventList(kEventListCapacity);
        }
        if (direction == Vst::kInput && count > 0) {
            mStagedEvents.reserve(static_cast<std::size_t>(kEventListCapacity));
        }
    }
    if (!mInitialised) {
        return;
    }
    for (const Vst::BusDirection direction : {Vst::kInput, Vst::kOutput}) {
        const int32 count = gate.Call("IComponent::getBusCount", [&]() KAFH_VST3_PLUGIN_CALL {
            return mComponent->getBusCount(Vst::kAudio, direction);
        }, int32{0});
        for (int32 index = 0; index < count; ++index) {
            Vst::BusInfo info;
            std::memset(&info, 0, sizeof(info));
            const auto hasInfo = gate.Call("IComponent::getBusInfo", [&]() KAFH_VST3_PLUGIN_CALL {
                return mComponent->getBusInfo(Vst::kAudio, direction, index, info);
            }, tresult{kInternalError});
            const UTF16String name = hasInfo == kResultOk ? FieldText(info.name) : UTF16String();
            const int32 busType = hasInfo == kResultOk ? info.busType : Vst::kMain;
            Vst::SpeakerArrangement arrangement = 0;
            const auto hasArrangement = gate.Call("IAudioProcessor::getBusArrangement", [&]() KAFH_VST3_PLUGIN_CALL {
                return mAudioProcessor->getBusArrangement(direction, index, arrangement);
            }, tresult{kInternalError});
            // An arrangement without speakers makes no bus.
            if (hasArrangement != kResultOk || arrangement == 0) {
                continue;
            }
            const auto bus = MakeVST3BusDescription(arrangement, busType, name);
            if (direction == Vst::kInput) {
                AddInputBus(bus);
            } else {
                AddOutputBus(bus);
            }
        }
    }
}


KAFH_VST3_PLUGIN_CALL void VST3AudioFilter::RequestIOConfiguration(
    const std::vector<std::vector<AudioChannelDescription>>& inputs,
    const std::vector<std::vector<AudioChannelDescription>>& outputs)
{
    if (!mInitialised) {
        return;
    }
    std::vector<Vst::SpeakerArrangement> in;
    std::vector<Vst::SpeakerArrangement> out;
    for (const auto& layout : inputs) {
        if (const auto arrangement = ArrangementForChannels(layout.size()); arrangement != 0) {
            in.push_back(arrangement);
        }
    }
    for (const auto& layout : outputs) {
        if (const auto arrangement = ArrangementForChannels(layout.size()); arrangement != 0) {
            out.push_back(arrangement);
        }
    }
    if (in.empty() || out.empty()) {
        return;
    }
    const auto accepted = mGate.Call("IAudioProcessor::setBusArrangements", [&]() KAFH_VST3_PLUGIN_CALL {
        return mAudioProcessor->setBusArrangements(in.data(), static_cast<int32>(in.size()), out.data(),
                                                   static_cast<int32>(out.size()));
    }, tresult{kInternalError});
    if (accepted == kResultOk) {
        BuildIOConfiguration();
    } else {
        KAFH_TRACE("VST3AudioFilter", 5, "\"" << mGate.GetModulePath() << "\": setBusArrangements refused ("
                                              << accepted << "); buses unchanged");
    }
}

// ---- Setup and activation ----

void VST3AudioFilter::SetSampleRate(float sampleRate)
{
    AudioFilter::SetSampleRate(sampleRate);
    mProcessContext.sampleRate = sampleRate;
    SetUpProcessing();
}

void VST3AudioFilter::SetOfflineRendering(bool offline)
{
    if (offline == IsOfflineRendering()) {
        return;
    }
    AudioFilter::SetOfflineRendering(offline);
    SetUpProcessing();
}

void VST3AudioFilter::SetBlockSize(int blockSize)
{
    AudioFilter::SetBlockSize(blockSize);
    SetUpProcessing();
}

KAFH_VST3_PLUGIN_CALL void VST3AudioFilter::SetUpProcessing()
{
    if (mAudioProcessor == nullptr || !mInitialised) {
        return;
    }
    // A plug-in may be set up only while inactive, and cannot prepare for 0 Hz: wait for Resume.
    if (mActive || GetSampleRate() <= 0.0f) {
        mSetupPending = true;
        return;
    }
    const int blockSize = GetBlockSize() > 0 ? GetBlockSize() : kMaxProcessingBlockSize;
    const int32 mode = IsOfflineRendering() ? Vst::kOffline : Vst::kRealtime;
    Vst::ProcessSetup setup{mode, Vst::kSample32, blockSize, static_cast<double>(GetSampleRate())};
    const auto result = mGate.Call("IAudioProcessor::setupProcessing", [&]() KAFH_VST3_PLUGIN_CALL {
        return mAudioProcessor->setupProcessing(setup);
    }, tresult{kInternalError});
    if (result != kResultOk) {
        KAFH_TRACE("VST3AudioFilter", 5, "\"" << mGate.GetModulePath() << "\": setupProcessing failed with result "
                                              << result);
    }
    // Never hand the plug-in more frames at once than it was told to expect.
    mPieceLimit = std::min(blockSize, kMaxProcessingBlockSize);
    mSetupPending = false;
}

void VST3AudioFilter::FreeBusBuffers()
{
    mInputBusBuffers.clear();
    mOutputBusBuffers.clear();
    mInputChannelPointers.clear();
    mOutputChannelPointers.clear();
}

void VST3AudioFilter::AllocateBusBuffers()
{
    FreeBusBuffers();
    const auto allocate = [](const std::vector<AudioFilterBusDescription>& buses,
                             std::vector<Vst::AudioBusBuffers>& buffers, std::vector<Vst::Sample32*>& pointers) {
        std::size_t channels = 0;
        for (const auto& bus : buses) {
            channels += bus.GetChannelCount();
        }
        pointers.assign(channels, nullptr);
        std::size_t next = 0;
        for (const auto& bus : buses) {
            Vst::AudioBusBuffers buffer{};
            buffer.numChannels = static_cast<int32>(bus.GetChannelCount());
            buffer.silenceFlags = 0;
            buffer.channelBuffers32 = pointers.data() + next;
            next += bus.GetChannelCount();
            buffers.push_back(buffer);
        }
    };
    allocate(GetInputBuses(), mInputBusBuffers, mInputChannelPointers);
    allocate(GetOutputBuses(), mOutputBusBuffers, mOutputChannelPointers);
    mProcessData = Vst::ProcessData{};
    mProcessData.processMode = IsOfflineRendering() ? Vst::kOffline : Vst::kRealtime;
    mProcessData.symbolicSampleSize = Vst::kSample32;
    mProcessData.numSamples = 0;
    mProcessData.numInputs = static_cast<int32>(mInputBusBuffers.size());
    mProcessData.numOutputs = static_cast<int32>(mOutputBusBuffers.size());
    mProcessData.inputs = mInputBusBuffers.empty() ? nullptr : mInputBusBuffers.data();
    mProcessData.outputs = mOutputBusBuffers.empty() ? nullptr : mOutputBusBuffers.data();
    mProcessData.inputParameterChanges = mInputChanges;
    mProcessData.outputParameterChanges = mOutputChanges;
    mProcessData.inputEvents = mInputEvents;
    mProcessData.outputEvents = mOutputEvents;
    mProcessData.processContext = &mProcessContext;
}

// Buses are switched on or off only while the plug-in is inactive, as plug-ins expect.
KAFH_VST3_PLUGIN_CALL void VST3AudioFilter::ActivateBuses()
{
    const auto activate = [&](Vst::MediaType type, int32 index, bool state) KAFH_VST3_PLUGIN_CALL {
        return mGate.Call("IComponent::activateBus", [&]() KAFH_VST3_PLUGIN_CALL {
            return mComponent->activateBus(type, Vst::kInput, index, state);
        }, tresult{kInternalError});
    };
    const bool sideChain = GetSideChainTargetBusChannelCount() != 0;
    const int32 count = mGate.Call("IComponent::getBusCount", [&]() KAFH_VST3_PLUGIN_CALL {
        return mComponent->getBusCount(Vst::kAudio, Vst::kInput);
    }, int32{0});
    for (int32 index = 0; index < count; ++index) {
        Vst::BusInfo info{};
        const auto found = mGate.Call("IComponent::getBusInfo", [&]() KAFH_VST3_PLUGIN_CALL {
            return mComponent->getBusInfo(Vst::kAudio, Vst::kInput, index, info);
        }, tresult{kInternalError});
        if (found != kResultOk || info.busType != Vst::kAux) {
            continue;
        }
        const auto activated = std::find(mActivatedAuxBuses.begin(), mActivatedAuxBuses.end(), index);
        if (sideChain && activated == mActivatedAuxBuses.end()) {
            activate(Vst::kAudio, index, true);
            mActivatedAuxBuses.push_back(index);
        } else if (!sideChain && activated != mActivatedAuxBuses.end()) {
            activate(Vst::kAudio, index, false);
            mActivatedAuxBuses.erase(activated);
        }
    }
    // Instruments hear nothing through an event bus they left switched off.
    if (mInputEvents != nullptr) {
        activate(Vst::kEvent, 0, true);
    }
}

KAFH_VST3_PLUGIN_CALL void VST3AudioFilter::Resume()
{
    DeliverProcessorParameterChanges();
    const bool wasActive = mActive;
    Activate();
    // Parameters set while suspended can change what the filter reports (its latency, say): the
    // processor takes them now, so that what is asked after Resume answers for them.
    if (!wasActive && mActive && !mPendingInputChanges.IsEmpty()) {
        ProcessParameterChangesOnly();
        DeliverProcessorParameterChanges();
    }
    mProcessFailureReported = false;
    AudioFilter::Resume();
}

KAFH_VST3_PLUGIN_CALL void VST3AudioFilter::Activate()
{
    const int32 restart = mRestartFlags.exchange(0, std::memory_order_relaxed);
    if ((restart & Vst::kIoChanged) != 0) {
        BuildIOConfiguration();
    }
    if ((restart & (Vst::kParamValuesChanged | Vst::kParamTitlesChanged)) != 0) {
        SizeParameterQueues();
    }
    if (mInitialised && !mActive) {
        if (mSetupPending || GetSampleRate() <= 0.0f) {
            // Plug-ins cannot prepare for 0 Hz: a filter nobody gave a rate runs at the usual one.
            if (GetSampleRate() <= 0.0f) {
                AudioFilter::SetSampleRate(44100.0f);
                mProcessContext.sampleRate = 44100.0;
            }
            SetUpProcessing();
        }
        AllocateBusBuffers();
        ActivateBuses();
        ReadMidiMapping();
        mStagedChanges.reserve(mPendingInputChanges.GetCapacity());
        const auto activated = mGate.Call("IComponent::setActive", [&]() KAFH_VST3_PLUGIN_CALL {
            return mComponent->setActive(true);
        }, tresult{kInternalError});
        if (activated != kResultOk) {
            KAFH_TRACE("VST3AudioFilter", 5, "\"" << mGate.GetModulePath() << "\": setActive (true) failed with result "
                                                  << activated);
        }
        mActive = true;
    }
}

KAFH_VST3_PLUGIN_CALL void VST3AudioFilter::FlushParameterChanges()
{
    if (!mInitialised || mAudioProcessor == nullptr || mActive || mPendingInputChanges.IsEmpty()) {
        return;
    }
    // Plug-ins take parameter changes only in process, and only while active. Some ignore a call
    // without samples, so they get one frame of silence, which moves no later audio; the song
    // position stays where it was.
    Activate();
    const auto projectTime = mProcessContext.projectTimeSamples;
    const auto continuousTime = mProcessContext.continousTimeSamples;
    Process(nullptr, nullptr, 1);
    mProcessContext.projectTimeSamples = projectTime;
    mProcessContext.continousTimeSamples = continuousTime;
    Deactivate();
    FreeBusBuffers();
    DeliverProcessorParameterChanges();
}

KAFH_VST3_PLUGIN_CALL void VST3AudioFilter::ProcessParameterChangesOnly()
{
    if (mAudioProcessor == nullptr) {
        return;
    }
    std::vector<ParameterChange> changes;
    ParameterChange change;
    while (mPendingInputChanges.Pop(change)) {
        changes.push_back(change);
    }
    // No buses and no samples: how a host hands changes over while nothing is processed.
    Vst::ProcessData flush{};
    flush.processMode = IsOfflineRendering() ? Vst::kOffline : Vst::kRealtime;
    flush.symbolicSampleSize = Vst::kSample32;
    flush.inputParameterChanges = mInputChanges;
    flush.outputParameterChanges = mOutputChanges;
    flush.processContext = &mProcessContext;
    mOutputChanges->Clear();
    for (const auto& pending : changes) {
        int32 queueIndex = 0;
        if (Vst::IParamValueQueue* queue = mInputChanges->addParameterData(pending.id, queueIndex)) {
            int32 pointIndex = 0;
            queue->addPoint(0, pending.value, pointIndex);
        }
    }
    mGate.Call("IAudioProcessor::process", [&]() KAFH_VST3_PLUGIN_CALL { return mAudioProcessor->process(flush); },
               tresult{kInternalError});
    CollectOutputParameterChanges();
    mInputChanges->Clear();
    // Some plug-ins ignore a call without samples: the first block hands the same values over again.
    for (const auto& pending : changes) {
        mPendingInputChanges.Push(pending);
    }
}

KAFH_VST3_PLUGIN_CALL void VST3AudioFilter::Deactivate()
{
    if (mProcessing) {
        mGate.Call("IAudioProcessor::setProcessing", [&]() KAFH_VST3_PLUGIN_CALL {
            return mAudioProcessor->setProcessing(false);
        }, tresult{kInternalError});
        mProcessing = false;
    }
    mGate.Call("IComponent::setActive", [&]() KAFH_VST3_PLUGIN_CALL { return mComponent->setActive(false); },
               tresult{kInternalError});
    mActive = false;
}

void VST3AudioFilter::Suspend()
{
    AudioFilter::Suspend();
    if (mActive) {
        Deactivate();
    }
    FreeBusBuffers();
    DeliverProcessorParameterChanges();
    if (mSetupPending) {
        SetUpProcessing();
    }
}

KAFH_VST3_PLUGIN_CALL int VST3AudioFilter::GetTail() const
{
    if (mAudioProcessor == nullptr || !mInitialised) {
        return 0;
    }
    return ClampToInt(mGate.Call("IAudioProcessor::getTailSamples", [&]() KAFH_VST3_PLUGIN_CALL {
        return mAudioProcessor->getTailSamples();
    }, uint32{0}));
}

KAFH_VST3_PLUGIN_CALL int VST3AudioFilter::GetInitialDelay() const
{
    if (mAudioProcessor == nullptr || !mInitialised) {
        return 0;
    }
    return ClampToInt(mGate.Call("IAudioProcessor::getLatencySamples", [&]() KAFH_VST3_PLUGIN_CALL {
        return mAudioProcessor->getLatencySamples();
    }, uint32{0}));
}

void VST3AudioFilter::SetCurrentOffset(long long offset)
{
    mProcessContext.projectTimeSamples = offset;
}

// ---- The audio thread ----

void VST3AudioFilter::UpdateProcessContext()
{
    IAudioFilterHost* host = GetAudioFilterHost();
    if (host == nullptr) {
        return;
    }
    using Context = Vst::ProcessContext;
    mProcessContext.systemTime = kelcore::utility::HighPrecisionTime::ConvertToNanos(
        kelcore::utility::HighPrecisionTime::GetTickCount());
    mProcessContext.state = Context::kSystemTimeValid;
    int a = -1;
    int b = 0;
    int c = 0;
    HostTempoRecord record{};
    if (host->GetTempoAndTimeSignature(&a, &b, &c, &record)) {
        mProcessContext.tempo = record.tempo;
        mProcessContext.timeSigNumerator = record.numerator;
        mProcessContext.timeSigDenominator = record.denominator;
        mProcessContext.state |=
            Context::kProjectTimeMusicValid | Context::kTempoValid | Context::kBarPositionValid | Context::kTimeSigValid;
        // Positions need a rate; without one they stay where they were.
        if (mProcessContext.sampleRate > 0.0) {
            const double quarters = static_cast<double>(mProcessContext.projectTimeSamples) * record.tempo /
                                        (60.0 * mProcessContext.sampleRate) + 1.0;
            mProcessContext.projectTimeMusic = quarters;
            mProcessContext.barPositionMusic = quarters;
        }
    }
    bool playing = false;
    bool recording = false;
    bool looping = false;
    if (host->GetTransportState(&playing, &recording, &looping)) {
        if (playing) {
            mProcessContext.state |= Context::kPlaying;
        }
        if (recording) {
            mProcessContext.state |= Context::kRecording;
        }
        if (looping) {
            mProcessContext.state |= Context::kCycleActive;
        }
    }
}

void VST3AudioFilter::PointChannels(float** inputs, float** outputs, int offset)
{
    bool silenceHandedOver = false;
    for (std::size_t k = 0; k < mInputChannelPointers.size(); ++k) {
        float* channel = inputs != nullptr ? inputs[k] : nullptr;
        if (channel == nullptr) {
            // Plug-ins may write into their inputs: the silence is cleared for every piece.
            channel = mSilentChannel.data() - offset;
            silenceHandedOver = true;
        }
        mInputChannelPointers[k] = channel + offset;
    }
    if (silenceHandedOver) {
        std::fill(mSilentChannel.begin(), mSilentChannel.end(), 0.0f);
    }
    for (std::size_t k = 0; k < mOutputChannelPointers.size(); ++k) {
        float* channel = outputs != nullptr ? outputs[k] : nullptr;
        mOutputChannelPointers[k] = channel != nullptr ? channel + offset : mDiscardChannel.data();
    }
}

void VST3AudioFilter::StageParameterChanges()
{
    ParameterChange change;
    while (mStagedChanges.size() < mStagedChanges.capacity() && mPendingInputChanges.Pop(change)) {
        mStagedChanges.push_back(change);
    }
}

void VST3AudioFilter::PrepareParameterChanges(int first, int frames, bool lastPiece)
{
    mOutputChanges->Clear();
    const int end = first + frames;
    const auto inPiece = [&](int32 offset) { return offset < end || lastPiece; };
    for (const auto& change : mStagedChanges) {
        if (change.sampleOffset < first || !inPiece(change.sampleOffset)) {
            continue;
        }
        int32 queueIndex = 0;
        if (Vst::IParamValueQueue* queue = mInputChanges->addParameterData(change.id, queueIndex)) {
            int32 pointIndex = 0;
            queue->addPoint(std::min(change.sampleOffset, end - 1) - first, change.value, pointIndex);
        }
    }
    if (mInputEvents != nullptr) {
        for (auto event : mStagedEvents) {
            if (event.sampleOffset < first || !inPiece(event.sampleOffset)) {
                continue;
            }
            event.sampleOffset = std::min(event.sampleOffset, end - 1) - first;
            mInputEvents->addEvent(event);
        }
    }
}

void VST3AudioFilter::QueueParameterChange(int index, float value, int sampleOffset)
{
    if (index < 0 || index >= GetParameterCount()) {
        return;
    }
    mPendingInputChanges.Push(
        {mParameterInfos[static_cast<std::size_t>(index)]->GetID(), value, std::max(sampleOffset, 0)});
}

bool VST3AudioFilter::QueueEvent(const AudioFilterEvent& event)
{
    const int32 offset = std::max(event.sampleOffset, 0);
    const int16 channel = static_cast<int16>(event.GetChannel());
    const int type = event.GetType();
    if (type == 0x80 || type == 0x90 || type == 0xA0) {
        if (mInputEvents == nullptr || mStagedEvents.size() >= mStagedEvents.capacity()) {
            return false;
        }
        Vst::Event out{};
        out.sampleOffset = offset;
        out.flags = Vst::Event::kIsLive;
        if (type == 0xA0) {
            out.type = Vst::Event::kPolyPressureEvent;
            out.polyPressure = {channel, static_cast<int16>(event.data1), event.data2 / 127.0f, -1};
        } else if (type == 0x90 && event.data2 > 0) {
            out.type = Vst::Event::kNoteOnEvent;
            out.noteOn = {channel, static_cast<int16>(event.data1), 0.0f, event.data2 / 127.0f, 0, -1};
        } else {
            out.type = Vst::Event::kNoteOffEvent;
            out.noteOff = {channel, static_cast<int16>(event.data1), event.data2 / 127.0f, -1, 0.0f};
        }
        mStagedEvents.push_back(out);
        return true;
    }
    int controller = -1;
    double value = 0.0;
    switch (type) {
    case 0xB0:
        controller = event.data1;
        value = event.data2 / 127.0;
        break;
    case 0xD0:
        controller = Vst::kAfterTouch;
        value = event.data1 / 127.0;
        break;
    case 0xE0:
        controller = Vst::kPitchBend;
        value = ((event.data2 << 7) | event.data1) / 16383.0;
        break;
    case 0xC0:
        controller = Vst::kCtrlProgramChange;
        value = event.data1;
        break;
    default:
        return false;
    }
    const std::size_t slot = static_cast<std::size_t>(channel) * (Vst::kCtrlProgramChange + 1) +
                             static_cast<std::size_t>(controller);
    if (slot >= mMidiMapping.size() || mMidiMapping[slot] == Vst::kNoParamId) {
        return false;
    }
    const Vst::ParamID id = mMidiMapping[slot];
    if (type == 0xC0) {
        // A program number counts steps of the program parameter.
        const int found = FindParameterIndex(id);
        const int steps = found >= 0 ? mParameterInfos[static_cast<std::size_t>(found)]->GetStepCount() : 0;
        value = steps > 0 ? std::min(value / steps, 1.0) : value / 127.0;
    }
    return mPendingInputChanges.Push({id, value, offset});
}

KAFH_VST3_PLUGIN_CALL void VST3AudioFilter::ReadMidiMapping()
{
    if (mMidiMappingRead || mEditController == nullptr) {
        return;
    }
    mMidiMappingRead = true;
    Vst::IMidiMapping* mapping = nullptr;
    mGate.Call("FUnknown::queryInterface", [&]() KAFH_VST3_PLUGIN_CALL {
        return mEditController->queryInterface(Vst::IMidiMapping::iid, reinterpret_cast<void**>(&mapping));
    }, tresult{kNoInterface});
    if (mapping == nullptr) {
        return;
    }
    constexpr int kControllers = Vst::kCtrlProgramChange + 1;
    std::vector<Vst::ParamID> table(16 * kControllers, Vst::kNoParamId);
    bool any = false;
    mGate.Call("IMidiMapping::getMidiControllerAssignment", [&]() KAFH_VST3_PLUGIN_CALL {
        for (int16 channel = 0; channel < 16; ++channel) {
            for (int controller = 0; controller < kControllers; ++controller) {
                Vst::ParamID id = Vst::kNoParamId;
                if (mapping->getMidiControllerAssignment(0, channel, static_cast<Vst::CtrlNumber>(controller), id) ==
                    kResultOk) {
                    table[static_cast<std::size_t>(channel * kControllers + controller)] = id;
                    any = true;
                }
            }
        }
        return kResultOk;
    }, tresult{kInternalError});
    mGate.Call("FUnknown::release", [&]() KAFH_VST3_PLUGIN_CALL { return mapping->release(); }, uint32{0});
    if (any) {
        mMidiMapping = std::move(table);
    }
}

void VST3AudioFilter::CollectOutputParameterChanges()
{
    const int32 count = mOutputChanges->getParameterCount();
    for (int32 q = 0; q < count; ++q) {
        Vst::IParamValueQueue* queue = mOutputChanges->getParameterData(q);
        const int32 points = queue != nullptr ? queue->getPointCount() : 0;
        int32 offset = 0;
        Vst::ParamValue value = 0.0;
        // The controller needs where the parameter ended up, not every step on the way.
        if (points > 0 && queue->getPoint(points - 1, offset, value) == kResultOk) {
            mProcessorOutputChanges.Push({queue->getParameterId(), value, offset});
        }
    }
}

KAFH_VST3_PLUGIN_CALL void VST3AudioFilter::Process(float** inputs, float** outputs, int frameCount)
{
    if (!mInitialised || mAudioProcessor == nullptr || !mActive || frameCount <= 0) {
        return;
    }
    UpdateProcessContext();
    StageParameterChanges();
    const char* module = mGate.GetModulePath();
    try {
        for (int done = 0; done < frameCount;) {
            const int frames = std::min(frameCount - done, mPieceLimit);
            ApplyTempoMap();
            PointChannels(inputs, outputs, done);
            mProcessData.numSamples = frames;
            PrepareParameterChanges(done, frames, done + frames >= frameCount);
            if (!mProcessing) {
                const kelcore::trail::CallScope scope(module, "IAudioProcessor::setProcessing");
                mAudioProcessor->setProcessing(true);
                mProcessing = true;
            }
            tresult result = kResultOk;
            {
                const kelcore::trail::CallScope scope(module, "IAudioProcessor::process");
                result = mAudioProcessor->process(mProcessData);
            }
            if (result != kResultOk && !mProcessFailureReported) {
                mProcessFailureReported = true;
                mProcessFailure.store(result, std::memory_order_relaxed);
            }
            CollectOutputParameterChanges();
            mInputChanges->Clear();
            if (mInputEvents != nullptr) {
                mInputEvents->Clear();
            }
            if (mOutputEvents != nullptr) {
                mOutputEvents->Clear();
            }
            mProcessContext.projectTimeSamples += frames;
            mProcessContext.continousTimeSamples += frames;
            done += frames;
        }
    } catch (...) {
        // The rest of the block is dropped; what the plug-in threw is traced off the audio thread.
        mInputChanges->Clear();
        if (mInputEvents != nullptr) {
            mInputEvents->Clear();
        }
        mProcessThrows.fetch_add(1, std::memory_order_relaxed);
    }
    mStagedChanges.clear();
    mStagedEvents.clear();
}

void VST3AudioFilter::ApplyTempoMap()
{
    const TempoMap* map = GetTempoMap();
    if (map == nullptr) {
        return;
    }
    using Context = Vst::ProcessContext;
    const MusicalPosition position = map->At(mProcessContext.projectTimeSamples);
    mProcessContext.tempo = position.tempo;
    mProcessContext.timeSigNumerator = position.numerator;
    mProcessContext.timeSigDenominator = position.denominator;
    mProcessContext.projectTimeMusic = position.quarters;
    mProcessContext.barPositionMusic = position.barStart;
    mProcessContext.state |= Context::kPlaying | Context::kProjectTimeMusicValid | Context::kTempoValid |
                             Context::kBarPositionValid | Context::kTimeSigValid;
}

void VST3AudioFilter::ReportAudioThreadFaults()
{
    if (const tresult failure = mProcessFailure.exchange(kResultOk, std::memory_order_relaxed); failure != kResultOk) {
        KAFH_TRACE("VST3AudioFilter::Process", 5, "failed with result: " << static_cast<uint32>(failure));
    }
    if (const auto throws = mProcessThrows.exchange(0, std::memory_order_relaxed); throws != 0) {
        KAFH_TRACE("VST3AudioFilter::Process", 3, "\"" << mGate.GetModulePath() << "\": process threw " << throws
                                                       << " time(s); those blocks were cut short");
    }
    if (const auto dropped = mPendingInputChanges.TakeDropCount(); dropped != 0) {
        KAFH_TRACE("VST3AudioFilter", 3, "\"" << mGate.GetModulePath() << "\": " << dropped
                                              << " parameter change(s) dropped: more than the next block could take");
    }
    if (const auto dropped = mProcessorOutputChanges.TakeDropCount(); dropped != 0) {
        KAFH_TRACE("VST3AudioFilter", 3, "\"" << mGate.GetModulePath() << "\": " << dropped
                                              << " parameter change(s) reported by the processor were not delivered");
    }
    mInputChanges->TraceRefusals("VST3AudioFilter input parameter changes");
    mOutputChanges->TraceRefusals("VST3AudioFilter output parameter changes");
}

} // namespace kelaudiofilterhost::vst3
