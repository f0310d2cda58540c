// SPDX-License-Identifier: GPL-3.0-or-later
// VSTAudioFilter's buses, speaker-arrangement negotiation and processing.
#include "kelaudiofilterhost/vst2/VSTAudioFilter.h"

#include "kelaudiofilterhost/services/FloatBlock.h"
#include "kelaudiofilterhost/services/Trace.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>

namespace kelaudiofilterhost::vst {

namespace {

using Bus = AudioFilterBusDescription;

float Radians(float degrees)
{
    const float pi = 4.0f * std::atan(1.0f);
    return degrees * pi / 180.0f;
}

struct SpeakerLayout {
    const char* name;
    std::int32_t type;
    float azimuth;
    float elevation;
    float radius;
};

constexpr SpeakerLayout kSpeakers51[] = {
    {"L", abi::kSpeakerL, 120.0f, 0.0f, 1.0f},   {"R", abi::kSpeakerR, 60.0f, 0.0f, 1.0f},
    {"C", abi::kSpeakerC, 90.0f, 0.0f, 1.0f},    {"Lfe", abi::kSpeakerLfe, 10.0f, 10.0f, 0.0f},
    {"Ls", abi::kSpeakerLs, -160.0f, 0.0f, 1.0f}, {"Rs", abi::kSpeakerRs, -20.0f, 0.0f, 1.0f},
    {"Lc", abi::kSpeakerLc, -120.0f, 0.0f, 1.0f}, {"Rc", abi::kSpeakerRc, 20.0f, 0.0f, 1.0f},
};

void SetSpeaker(abi::VstSpeakerProperties& speaker, const SpeakerLayout& layout)
{
    std::strncpy(speaker.name, layout.name, sizeof speaker.name - 1);
    speaker.type = layout.type;
    // The LFE's position is stored as given, not as angles.
    const bool lfe = layout.type == abi::kSpeakerLfe;
    speaker.azimuth = lfe ? layout.azimuth : Radians(layout.azimuth);
    speaker.elevation = lfe ? layout.elevation : Radians(layout.elevation);
    speaker.radius = layout.radius;
}

Bus MakeBus(std::int32_t arrangementType, int channels, bool input)
{
    const char16_t* suffix = input ? u" In" : u" Out";
    if (arrangementType == abi::kSpeakerArrStereo && channels == 2) {
        return Bus::CreateStereo(UTF16String(u"Stereo") + suffix, Bus::kMain);
    }
    if (arrangementType == abi::kSpeakerArr51 && channels == 6) {
        return Bus::CreateSurround51(UTF16String(u"Surround 5.1") + suffix, Bus::kMain);
    }
    if (arrangementType == abi::kSpeakerArrMono && channels == 1) {
        return Bus::CreateMono(UTF16String(u"Mono") + suffix, Bus::kMain);
    }
    return Bus(UTF16String(u"Multi-mono") + suffix,
               std::vector<AudioChannelDescription>(static_cast<std::size_t>(std::max(channels, 0))), Bus::kMain);
}

// The arrangement type that a plain channel count stands for when buses come from counts.
std::int32_t TypeForCount(int channels)
{
    switch (channels) {
    case 1:
        return abi::kSpeakerArrMono;
    case 2:
        return abi::kSpeakerArrStereo;
    case 6:
        return abi::kSpeakerArr51;
    default:
        return abi::kSpeakerArrUserDefined;
    }
}

std::size_t ArrangementBytes(std::size_t channels)
{
    return offsetof(abi::VstSpeakerArrangement, speakers) +
           std::max<std::size_t>(8, channels) * sizeof(abi::VstSpeakerProperties);
}

} // namespace

void VSTAudioFilter::SpeakerArrangementDeleter::operator()(abi::VstSpeakerArrangement* arrangement) const
{
    std::free(arrangement);
}

VSTAudioFilter::SpeakerArrangementPtr VSTAudioFilter::MakeArrangement(std::size_t channels)
{
    if (channels == 0) {
        return {};
    }
    SpeakerArrangementPtr arrangement(static_cast<abi::VstSpeakerArrangement*>(std::calloc(1, ArrangementBytes(channels))));
    if (!arrangement) {
        return {};
    }
    arrangement->numChannels = static_cast<std::int32_t>(channels);
    if (channels == 1) {
        arrangement->type = abi::kSpeakerArrMono;
        SetSpeaker(arrangement->speakers[0], {"M", abi::kSpeakerM, 90.0f, 0.0f, 1.0f});
    } else if (channels == 2) {
        arrangement->type = abi::kSpeakerArrStereo;
        SetSpeaker(arrangement->speakers[0], kSpeakers51[0]);
        SetSpeaker(arrangement->speakers[1], kSpeakers51[1]);
    } else if (channels == 6 || channels == 8) {
        arrangement->type = channels == 6 ? abi::kSpeakerArr51 : abi::kSpeakerArr71Cine;
        for (std::size_t c = 0; c < channels; ++c) {
            SetSpeaker(arrangement->speakers[c], kSpeakers51[c]);
        }
    } else {
        arrangement->type = abi::kSpeakerArrUserDefined;
        for (std::size_t c = 0; c < channels; ++c) {
            const std::string name = std::to_string(c + 1);
            SetSpeaker(arrangement->speakers[c], {name.c_str(), abi::kSpeakerM, 90.0f, 0.0f, 1.0f});
        }
    }
    return arrangement;
}

VSTAudioFilter::SpeakerArrangementPtr VSTAudioFilter::CopyArrangement(const abi::VstSpeakerArrangement& source)
{
    const auto channels = static_cast<std::size_t>(std::clamp(source.numChannels, 0, kMaximumChannels));
    SpeakerArrangementPtr copy(static_cast<abi::VstSpeakerArrangement*>(std::calloc(1, ArrangementBytes(channels))));
    if (copy) {
        copy->type = source.type;
        copy->numChannels = static_cast<std::int32_t>(channels);
        std::memcpy(copy->speakers, source.speakers, channels * sizeof(abi::VstSpeakerProperties));
    }
    return copy;
}

int VSTAudioFilter::EffectInputs() const
{
    return InputCountInRange(kMaximumChannels);
}

int VSTAudioFilter::EffectOutputs() const
{
    return OutputCountInRange(kMaximumChannels);
}

void VSTAudioFilter::BuildIOConfiguration()
{
    ClearBusConfiguration();
    if (mInputArrangement && mOutputArrangement) {
        AddInputBus(MakeBus(mInputArrangement->type, mInputArrangement->numChannels, true));
        AddOutputBus(MakeBus(mOutputArrangement->type, mOutputArrangement->numChannels, false));
        return;
    }
    KAFH_TRACE("VST", 5,
               "BuildIOConfiguration(), using numInputs/numOutputs, numInputs=" << EffectInputs()
                                                                                << ", numOutputs=" << EffectOutputs());
    AddInputBus(MakeBus(TypeForCount(EffectInputs()), EffectInputs(), true));
    AddOutputBus(MakeBus(TypeForCount(EffectOutputs()), EffectOutputs(), false));
}

void VSTAudioFilter::RequestIOConfiguration(const std::vector<std::vector<AudioChannelDescription>>& inputs,
                                            const std::vector<std::vector<AudioChannelDescription>>& outputs)
{
    mMonoThroughStereo = false;
    mInputArrangement.reset();
    mOutputArrangement.reset();
    if (inputs.size() != 1 || outputs.size() != 1) {
        return;
    }
    const auto& in = inputs.front();
    const auto& out = outputs.front();
    const auto vstVersion = Dispatch(abi::effGetVstVersion);
    bool negotiated = false;
    if (vstVersion >= 2300 && in.size() == out.size() && !in.empty() &&
        in.size() <= static_cast<std::size_t>(kMaximumChannels)) {
        auto inputArrangement = MakeArrangement(in.size());
        auto outputArrangement = MakeArrangement(out.size());
        if (inputArrangement && outputArrangement) {
            if (Dispatch(abi::effSetSpeakerArrangement, 0, reinterpret_cast<std::intptr_t>(inputArrangement.get()),
                         outputArrangement.get()) == 0) {
                KAFH_TRACE("VSTAudioFilter::RequestIOConfiguration()", 5,
                           "effSetSpeakerArrangement failed, inputs= " << in.size() << ", outputs= " << out.size());
            } else {
                KAFH_TRACE("VSTAudioFilter::RequestIOConfiguration()", 5,
                           "effSetSpeakerArrangement succeeded, inputs= " << in.size() << ", outputs= " << out.size());
                abi::VstSpeakerArrangement* acceptedInput = nullptr;
                abi::VstSpeakerArrangement* acceptedOutput = nullptr;
                if (Dispatch(abi::effGetSpeakerArrangement, 0, reinterpret_cast<std::intptr_t>(&acceptedInput),
                             &acceptedOutput) == 0) {
                    KAFH_TRACE("VSTAudioFilter::RequestIOConfiguration()", 5, "effGetSpeakerArrangement failed");
                } else {
                    KAFH_TRACE("VSTAudioFilter::RequestIOConfiguration()", 5, "effGetSpeakerArrangement succeeded");
                    const bool inputSane = IsArrangementSane(acceptedInput, kMaximumChannels, "input");
                    const bool outputSane = IsArrangementSane(acceptedOutput, kMaximumChannels, "output");
                    if (inputSane && outputSane) {
                        mInputArrangement = CopyArrangement(*acceptedInput);
                        mOutputArrangement = CopyArrangement(*acceptedOutput);
                        negotiated = mInputArrangement && mOutputArrangement;
                    }
                }
            }
        }
    }
    if (negotiated) {
        BuildIOConfiguration();
    } else {
        mInputArrangement.reset();
        mOutputArrangement.reset();
        BuildIOConfiguration();
    }
    if (GetNumberOfInputChannels() == 2 && GetNumberOfOutputChannels() == 2 && mEffect != nullptr &&
        (mEffect->flags & abi::effFlagsCanMono) != 0 && in.size() == 1 && out.size() == 1) {
        KAFH_TRACE("VSTAudioFilter::RequestIOConfiguration()", 5, "CanMono");
        mMonoThroughStereo = true;
        ClearBusConfiguration();
        AddInputBus(Bus::CreateMono(u"Mono In", Bus::kMain));
        AddOutputBus(Bus::CreateMono(u"Mono Out", Bus::kMain));
    }
    PrepareChannels();
}

bool VSTAudioFilter::CanUseSideChaining() const
{
    const auto in = GetNumberOfInputChannels();
    const auto out = GetNumberOfOutputChannels();
    return (in == 2 && out == 1) || (in == 3 && out == 2) || (in == 4 && out == 2);
}

void VSTAudioFilter::PrepareChannels()
{
    const int inputs = mEffect != nullptr ? mEffect->numInputs : 0;
    const int outputs = mEffect != nullptr ? mEffect->numOutputs : 0;
    if (mIOChanged.exchange(false)) {
        KAFH_TRACE("VST", 5, "\"" << mModulePath << "\": the effect changed its I/O, now numInputs=" << inputs
                                 << ", numOutputs=" << outputs);
    }
    mCallerInputs = GetNumberOfInputChannels();
    mCallerOutputs = GetNumberOfOutputChannels();
    if (!HasChannelCountsWithin(kMaximumChannels)) {
        // Empty arrays: Process then leaves such an effect alone rather than let it overrun them.
        mEffectInputs.clear();
        mEffectOutputs.clear();
        return;
    }
    const auto effectInputs = static_cast<std::size_t>(std::max(inputs, 0));
    const auto effectOutputs = static_cast<std::size_t>(std::max(outputs, 0));
    // Never empty: an effect without inputs that still reads the first one finds silence.
    mEffectInputs.assign(std::max({effectInputs, mCallerInputs, std::size_t{1}}), nullptr);
    mEffectOutputs.assign(std::max({effectOutputs, mCallerOutputs, std::size_t{1}}), nullptr);
    mChannelsPadded = mEffectInputs.size() > mCallerInputs || mEffectOutputs.size() > mCallerOutputs;
    const auto frames = mChannelsPadded ? static_cast<std::size_t>(std::max(GetBlockSize(), 0)) : 0;
    mSilentChannel.assign(frames, 0.0f);
    mDiscardChannel.assign(frames, 0.0f);
}

void VSTAudioFilter::Process(float** inputs, float** outputs, int frameCount)
{
    if (mEffect == nullptr || frameCount <= 0) {
        return;
    }
    // Counts that grew since the arrays were sized (or were never sane) would take the effect past them.
    if (!ChannelCountsFit(mEffectInputs.size(), mEffectOutputs.size())) {
        return;
    }
    const std::size_t callerInputs = inputs != nullptr ? mCallerInputs : 0;
    const std::size_t callerOutputs = outputs != nullptr ? mCallerOutputs : 0;
    bool silenceHandedOver = false;
    for (std::size_t c = 0; c < mEffectInputs.size(); ++c) {
        if (c < callerInputs) {
            mEffectInputs[c] = inputs[c];
        } else if (mMonoThroughStereo && callerInputs == 1) {
            // Mono through stereo: the one input feeds both of the effect's.
            mEffectInputs[c] = inputs[0];
        } else {
            mEffectInputs[c] = mSilentChannel.data();
            silenceHandedOver = true;
        }
    }
    const bool discarding = mEffectOutputs.size() > callerOutputs;
    for (std::size_t c = 0; c < mEffectOutputs.size(); ++c) {
        mEffectOutputs[c] = c < callerOutputs ? outputs[c] : mDiscardChannel.data();
    }
    // The padding channels hold as many frames as the block size at the last Resume (none when the
    // caller's arrays were expected to cover the effect's).
    const auto frames = static_cast<std::size_t>(frameCount);
    if ((silenceHandedOver && frames > mSilentChannel.size()) || (discarding && frames > mDiscardChannel.size())) {
        return;
    }
    // The effect may have written into its inputs or added into its outputs last time; only what is
    // handed over this block needs clearing.
    if (silenceHandedOver) {
        kelcore::FloatZero(mSilentChannel.data(), frameCount);
    }
    if (discarding) {
        kelcore::FloatZero(mDiscardChannel.data(), frameCount);
    }
    SendQueuedEvents(frameCount);
    float** effectInputs = mEffectInputs.data();
    float** effectOutputs = mEffectOutputs.data();
    // A plug-in's exception ends the block in the gate; the outputs keep what it wrote so far.
    if ((mEffect->flags & abi::effFlagsCanReplacing) != 0 && mEffect->processReplacing != nullptr) {
        ProcessReplacing(effectInputs, effectOutputs, frameCount);
    } else if (mEffect->process != nullptr) {
        // The accumulating call adds to what the outputs hold: start them from the inputs.
        const int through = std::min(EffectInputs(), EffectOutputs());
        for (int i = 0; i < through; ++i) {
            kelcore::FloatCopy(effectInputs[i], effectOutputs[i], frameCount);
        }
        ProcessAccumulating(effectInputs, effectOutputs, frameCount);
    }
    // Positions from a tempo map follow the blocks.
    if (GetTempoMap() != nullptr) {
        mCurrentOffset += frameCount;
    }
}

bool VSTAudioFilter::QueueEvent(const AudioFilterEvent& event)
{
    if (mQueuedEvents.size() >= mQueuedEvents.capacity()) {
        return false;
    }
    abi::VstMidiEvent midi{};
    midi.type = abi::kVstMidiType;
    midi.byteSize = static_cast<std::int32_t>(sizeof(abi::VstMidiEvent));
    midi.deltaFrames = std::max(event.sampleOffset, 0);
    midi.flags = 1; // kVstMidiEventIsRealtime
    midi.midiData[0] = static_cast<char>(event.status);
    midi.midiData[1] = static_cast<char>(event.data1);
    midi.midiData[2] = static_cast<char>(event.data2);
    mQueuedEvents.push_back(midi);
    return true;
}

bool VSTAudioFilter::TakesEvents() const
{
    if (mEffect == nullptr) {
        return false;
    }
    if ((mEffect->flags & abi::effFlagsIsSynth) != 0) {
        return true;
    }
    char what[] = "receiveVstMidiEvent";
    return Dispatch(abi::effCanDo, 0, 0, what) > 0;
}

void VSTAudioFilter::SendQueuedEvents(int frameCount)
{
    if (mQueuedEvents.empty()) {
        return;
    }
    // Effects expect events in time order; insertion keeps equal times in the order queued.
    for (std::size_t i = 1; i < mQueuedEvents.size(); ++i) {
        for (std::size_t j = i; j > 0 && mQueuedEvents[j - 1].deltaFrames > mQueuedEvents[j].deltaFrames; --j) {
            std::swap(mQueuedEvents[j - 1], mQueuedEvents[j]);
        }
    }
    auto* record = reinterpret_cast<abi::VstEvents*>(mEventRecord.data());
    record->numEvents = static_cast<std::int32_t>(mQueuedEvents.size());
    record->reserved = 0;
    // The pointers run on past the record's declared two.
    auto* slots = reinterpret_cast<abi::VstEvent**>(mEventRecord.data() + offsetof(abi::VstEvents, events) /
                                                                              sizeof(std::intptr_t));
    for (std::size_t i = 0; i < mQueuedEvents.size(); ++i) {
        mQueuedEvents[i].deltaFrames = std::min(mQueuedEvents[i].deltaFrames, frameCount - 1);
        slots[i] = reinterpret_cast<abi::VstEvent*>(&mQueuedEvents[i]);
    }
    Dispatch(abi::effProcessEvents, 0, 0, record);
    mQueuedEvents.clear();
}

} // namespace kelaudiofilterhost::vst
