// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/vst2/VSTDispatcherBase.h"

#include "kelaudiofilterhost/services/PluginCallTrail.h"
#include "kelaudiofilterhost/services/PluginGuard.h"
#include "kelaudiofilterhost/services/Trace.h"
#include "kelaudiofilterhost/vst2/VSTStrings.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace kelaudiofilterhost::vst {

namespace {

using kelcore::debug::TraceSite;
using kelcore::Demangle;
using kelcore::DescribeCurrentException;
using kelcore::TraceModule;

TraceSite sDispatchSite("VSTAudioFilter::Dispatch", 5);
TraceSite sProcessSite("VSTAudioFilter::Process", 5);
TraceSite sSetParameterSite("VSTAudioFilter::SetParameter", 5);
TraceSite sGetParameterSite("VSTAudioFilter::GetParameter", 5);
TraceSite sEntrySite("VSTPluginModule::Instantiate", 5);
TraceSite sMisbehaviourSite("VSTAudioFilter::Misbehaviour", 5);

// The published opcode names, by number.
constexpr const char* kOpcodeNames[] = {
    "effOpen", "effClose", "effSetProgram", "effGetProgram", "effSetProgramName", "effGetProgramName",
    "effGetParamLabel", "effGetParamDisplay", "effGetParamName", "effGetVu", "effSetSampleRate", "effSetBlockSize",
    "effMainsChanged", "effEditGetRect", "effEditOpen", "effEditClose", "effEditDraw", "effEditMouse", "effEditKey",
    "effEditIdle", "effEditTop", "effEditSleep", "effIdentify", "effGetChunk", "effSetChunk", "effProcessEvents",
    "effCanBeAutomated", "effString2Parameter", "effGetNumProgramCategories", "effGetProgramNameIndexed",
    "effCopyProgram", "effConnectInput", "effConnectOutput", "effGetInputProperties", "effGetOutputProperties",
    "effGetPlugCategory", "effGetCurrentPosition", "effGetDestinationBuffer", "effOfflineNotify",
    "effOfflinePrepare", "effOfflineRun", "effProcessVarIo", "effSetSpeakerArrangement",
    "effSetBlockSizeAndSampleRate", "effSetBypass", "effGetEffectName", "effGetErrorText", "effGetVendorString",
    "effGetProductString", "effGetVendorVersion", "effVendorSpecific", "effCanDo", "effGetTailSize", "effIdle",
    "effGetIcon", "effSetViewPosition", "effGetParameterProperties", "effKeysRequired", "effGetVstVersion",
    "effEditKeyDown", "effEditKeyUp", "effSetEditKnobMode", "effGetMidiProgramName", "effGetCurrentMidiProgram",
    "effGetMidiProgramCategory", "effHasMidiProgramsChanged", "effGetMidiKeyName", "effBeginSetProgram",
    "effEndSetProgram", "effGetSpeakerArrangement", "effShellGetNextPlugin", "effStartProcess", "effStopProcess",
    "effSetTotalSampleToProcess", "effSetPanLaw", "effBeginLoadBank", "effBeginLoadProgram",
    "effSetProcessPrecision", "effGetNumMidiInputChannels", "effGetNumMidiOutputChannels"};
static_assert(std::size(kOpcodeNames) == 80);

} // namespace

enum class VSTDispatcherBase::AudioFault : int {
    ProcessReplacingThrew,
    ProcessThrew,
    SetParameterThrew,
    GetParameterThrew,
    InputCount,
    OutputCount,
    ParameterCount,
    ChannelCounts,
    Count
};

namespace {

struct AudioFaultKind {
    TraceSite* site;
    const char* name; // the call, or the check
    const char* field; // the effect's field a check read; null for calls
};

constexpr AudioFaultKind kAudioFaultKinds[] = {
    {&sProcessSite, "processReplacing", nullptr},    {&sProcessSite, "process", nullptr},
    {&sSetParameterSite, "setParameter", nullptr},   {&sGetParameterSite, "getParameter", nullptr},
    {&sMisbehaviourSite, "InputCountInRange", "numInputs"}, {&sMisbehaviourSite, "OutputCountInRange", "numOutputs"},
    {&sMisbehaviourSite, "ParameterCountInRange", "numParams"}, {&sMisbehaviourSite, "ChannelCountsFit", nullptr},
};

std::string FormatAudioFault(const AudioFaultKind& kind, const char* type, std::string_view what, long long first,
                             long long second, std::uint32_t times)
{
    std::string text;
    if (kind.field != nullptr) {
        text = std::string(kind.name) + ": " + kind.field + " " + std::to_string(first) + " is out of range; read as " +
               std::to_string(second);
    } else if (kind.site == &sMisbehaviourSite) {
        text = std::string(kind.name) + ": numInputs " + std::to_string(first) + " and numOutputs " +
               std::to_string(second) + " exceed the channels prepared at the last Resume; block skipped";
    } else {
        text = kind.name;
        if (kind.site == &sSetParameterSite || kind.site == &sGetParameterSite) {
            text += "(" + std::to_string(first) + ")";
        }
        text += " threw " + Demangle(type);
        if (!what.empty()) {
            text += ": ";
            text += what;
        }
    }
    if (times > 1) {
        text += " (" + std::to_string(times) + " times since the last report)";
    }
    return text;
}

} // namespace

// Written by the audio thread without allocating or locking, read by the next non-audio call. The
// detail of a fault is that of the first one since the last report.
struct VSTDispatcherBase::AudioFaults {
    struct Record {
        std::atomic<std::uint32_t> count{0};
        std::atomic<bool> detailReady{false};
        std::atomic<const char*> type{nullptr};
        std::atomic<long long> first{0};
        std::atomic<long long> second{0};
        char what[120] = {};
    };
    std::atomic<bool> pending{false};
    Record records[static_cast<int>(AudioFault::Count)];
};

VSTDispatcherBase::VSTDispatcherBase(abi::AEffect* effect, const UTF16String& modulePath, bool audioCalls)
    : mEffect(effect), mModulePath(kelcore::InternModulePath(modulePath)),
      mAudioFaults(audioCalls ? std::make_unique<AudioFaults>() : nullptr)
{
}

VSTDispatcherBase::VSTDispatcherBase(const VSTDispatcherBase& gate, SameEffect)
    : mEffect(gate.mEffect), mModulePath(gate.mModulePath)
{
}

// Faults still unreported are traced by the effClose that precedes the end of a filter's gate.
VSTDispatcherBase::~VSTDispatcherBase() = default;

const char* VSTDispatcherBase::GetOpcodeName(std::int32_t opcode)
{
    return opcode >= 0 && static_cast<std::size_t>(opcode) < std::size(kOpcodeNames)
               ? kOpcodeNames[static_cast<std::size_t>(opcode)]
               : "dispatcher";
}

std::intptr_t VSTDispatcherBase::Dispatch(std::int32_t opcode, std::int32_t index, std::intptr_t value, void* ptr,
                                          float opt) const
{
    ReportAudioFaults();
    if (mEffect == nullptr || mEffect->dispatcher == nullptr) {
        return 0;
    }
    const char* name = GetOpcodeName(opcode);
    try {
        const kelcore::trail::CallScope scope(mModulePath, name);
        return mEffect->dispatcher(mEffect, opcode, index, value, ptr, opt);
    } catch (...) {
        TraceModule(sDispatchSite, mModulePath,
             std::string(name) + " (" + std::to_string(opcode) + ") threw " + DescribeCurrentException());
    }
    return 0;
}

bool VSTDispatcherBase::ProcessReplacing(float** inputs, float** outputs, std::int32_t frames) const
{
    if (mEffect == nullptr || mEffect->processReplacing == nullptr) {
        return false;
    }
    try {
        const kelcore::trail::CallScope scope(mModulePath, "processReplacing");
        mEffect->processReplacing(mEffect, inputs, outputs, frames);
        return true;
    } catch (...) {
        RecordAudioThrow(AudioFault::ProcessReplacingThrew, 0);
    }
    return false;
}

bool VSTDispatcherBase::ProcessAccumulating(float** inputs, float** outputs, std::int32_t frames) const
{
    if (mEffect == nullptr || mEffect->process == nullptr) {
        return false;
    }
    try {
        const kelcore::trail::CallScope scope(mModulePath, "process");
        mEffect->process(mEffect, inputs, outputs, frames);
        return true;
    } catch (...) {
        RecordAudioThrow(AudioFault::ProcessThrew, 0);
    }
    return false;
}

bool VSTDispatcherBase::SetParameter(std::int32_t index, float value) const
{
    if (mEffect == nullptr || mEffect->setParameter == nullptr) {
        return false;
    }
    try {
        const kelcore::trail::CallScope scope(mModulePath, "setParameter");
        mEffect->setParameter(mEffect, index, value);
        return true;
    } catch (...) {
        RecordAudioThrow(AudioFault::SetParameterThrew, index);
    }
    return false;
}

float VSTDispatcherBase::GetParameter(std::int32_t index) const
{
    if (mEffect == nullptr || mEffect->getParameter == nullptr) {
        return 0.0f;
    }
    try {
        const kelcore::trail::CallScope scope(mModulePath, "getParameter");
        return mEffect->getParameter(mEffect, index);
    } catch (...) {
        RecordAudioThrow(AudioFault::GetParameterThrew, index);
    }
    return 0.0f;
}

abi::AEffect* VSTDispatcherBase::CallEntryPoint(abi::PluginEntryProc entryPoint, const char* entryName,
                                                abi::AudioMasterCallback host, const UTF16String& modulePath)
{
    const char* path = kelcore::InternModulePath(modulePath);
    if (entryPoint == nullptr) {
        return nullptr;
    }
    try {
        const kelcore::trail::CallScope scope(path, entryName);
        return entryPoint(host);
    } catch (...) {
        TraceModule(sEntrySite, path, std::string(entryName) + " threw " + DescribeCurrentException());
    }
    return nullptr;
}

void VSTDispatcherBase::RecordAudioThrow(AudioFault fault, long long index) const
{
    // Inside the guard's handler: the exception is still alive, so its text can be copied out.
    const kelcore::ThrownException thrown = kelcore::GetCurrentException();
    RecordAudioFault(fault, thrown.type, thrown.what != nullptr ? thrown.what : "", index, 0);
}

void VSTDispatcherBase::RecordAudioFault(AudioFault fault, const char* type, const char* what, long long first,
                                         long long second) const
{
    const auto& kind = kAudioFaultKinds[static_cast<int>(fault)];
    if (!mAudioFaults) {
        TraceModule(*kind.site, mModulePath, FormatAudioFault(kind, type, what, first, second, 1));
        return;
    }
    auto& record = mAudioFaults->records[static_cast<int>(fault)];
    if (record.count.fetch_add(1) == 0) {
        record.type.store(type);
        record.first.store(first);
        record.second.store(second);
        const std::size_t n = std::min(std::strlen(what), sizeof record.what - 1);
        for (std::size_t i = 0; i <= n; ++i) {
            std::atomic_ref<char>(record.what[i]).store(i < n ? what[i] : 0, std::memory_order_relaxed);
        }
        record.detailReady.store(true);
    }
    mAudioFaults->pending.store(true);
}

void VSTDispatcherBase::ReportAudioFaults() const
{
    if (!mAudioFaults || !mAudioFaults->pending.exchange(false)) {
        return;
    }
    for (int i = 0; i < static_cast<int>(AudioFault::Count); ++i) {
        auto& record = mAudioFaults->records[i];
        if (record.count.load() == 0) {
            continue;
        }
        std::string what;
        const char* type = nullptr;
        long long first = 0;
        long long second = 0;
        if (record.detailReady.exchange(false)) {
            for (std::size_t c = 0; c < sizeof record.what; ++c) {
                const char ch = std::atomic_ref<char>(record.what[c]).load(std::memory_order_relaxed);
                if (ch == 0) {
                    break;
                }
                what += ch;
            }
            type = record.type.load();
            first = record.first.load();
            second = record.second.load();
        }
        const std::uint32_t times = record.count.exchange(0);
        TraceModule(*kAudioFaultKinds[i].site, mModulePath,
             FormatAudioFault(kAudioFaultKinds[i], type, what, first, second, times));
    }
}

UTF16String VSTDispatcherBase::ReadString(std::int32_t opcode, std::int32_t index, std::size_t maxLength) const
{
    char buffer[kStringBufferSize] = {};
    Dispatch(opcode, index, 0, buffer);
    const std::size_t length = std::min(maxLength, kStringBufferSize);
    IsStringTerminated(buffer, length, opcode);
    return TextFromBuffer(buffer, length);
}

bool VSTDispatcherBase::HasEffectMagic() const
{
    if (mEffect != nullptr && mEffect->magic == abi::kEffectMagic) {
        return true;
    }
    if (mEffect != nullptr) {
        TraceModule(sMisbehaviourSite, mModulePath,
             "HasEffectMagic: the entry point returned an effect with magic " + std::to_string(mEffect->magic) +
                 " instead of " + std::to_string(abi::kEffectMagic));
    }
    return false;
}

bool VSTDispatcherBase::HasChannelCountsWithin(int maximum) const
{
    if (mEffect == nullptr || (mEffect->numInputs <= maximum && mEffect->numOutputs <= maximum)) {
        return true;
    }
    TraceModule(sMisbehaviourSite, mModulePath,
         "HasChannelCountsWithin: " + std::to_string(mEffect->numInputs) + " inputs and " +
             std::to_string(mEffect->numOutputs) + " outputs; at most " + std::to_string(maximum) +
             " are supported");
    return false;
}

int VSTDispatcherBase::InputCountInRange(int maximum) const
{
    if (mEffect == nullptr) {
        return 0;
    }
    const int count = std::clamp(mEffect->numInputs, 0, maximum);
    if (count != mEffect->numInputs) {
        RecordAudioFault(AudioFault::InputCount, nullptr, "", mEffect->numInputs, count);
    }
    return count;
}

int VSTDispatcherBase::OutputCountInRange(int maximum) const
{
    if (mEffect == nullptr) {
        return 0;
    }
    const int count = std::clamp(mEffect->numOutputs, 0, maximum);
    if (count != mEffect->numOutputs) {
        RecordAudioFault(AudioFault::OutputCount, nullptr, "", mEffect->numOutputs, count);
    }
    return count;
}

int VSTDispatcherBase::ParameterCountInRange(int maximum) const
{
    if (mEffect == nullptr) {
        return 0;
    }
    const int count = std::clamp(mEffect->numParams, 0, maximum);
    if (count != mEffect->numParams) {
        RecordAudioFault(AudioFault::ParameterCount, nullptr, "", mEffect->numParams, count);
    }
    return count;
}

int VSTDispatcherBase::ProgramCountInRange() const
{
    if (mEffect == nullptr) {
        return 0;
    }
    if (mEffect->numPrograms < 0) {
        TraceModule(sMisbehaviourSite, mModulePath,
             "ProgramCountInRange: numPrograms " + std::to_string(mEffect->numPrograms) + " is negative; read as 0");
        return 0;
    }
    return mEffect->numPrograms;
}

int VSTDispatcherBase::LatencyInRange() const
{
    if (mEffect == nullptr) {
        return 0;
    }
    if (mEffect->initialDelay < 0) {
        TraceModule(sMisbehaviourSite, mModulePath,
             "LatencyInRange: initialDelay " + std::to_string(mEffect->initialDelay) + " is negative; read as 0");
        return 0;
    }
    return mEffect->initialDelay;
}

bool VSTDispatcherBase::IsStringTerminated(const char* buffer, std::size_t maxLength, std::int32_t opcode) const
{
    if (::strnlen(buffer, maxLength) < maxLength) {
        return true;
    }
    TraceModule(sMisbehaviourSite, mModulePath,
         std::string("IsStringTerminated: ") + GetOpcodeName(opcode) + " wrote " + std::to_string(maxLength) +
             " bytes without a terminating zero; the text is cut there");
    return false;
}

bool VSTDispatcherBase::IsChunkSane(const void* chunk, std::intptr_t size, std::intptr_t maximum) const
{
    if (chunk != nullptr && size > 0 && size <= maximum) {
        return true;
    }
    if (size != 0 || chunk != nullptr) {
        TraceModule(sMisbehaviourSite, mModulePath,
             "IsChunkSane: effGetChunk gave " + std::to_string(size) + " bytes at " +
                 (chunk != nullptr ? "a buffer" : "no buffer") + "; not stored");
    }
    return false;
}

bool VSTDispatcherBase::IsArrangementSane(const abi::VstSpeakerArrangement* arrangement, int maximum,
                                          const char* side) const
{
    if (arrangement == nullptr || arrangement->numChannels < 1) {
        TraceModule(sMisbehaviourSite, mModulePath,
             std::string("IsArrangementSane: effGetSpeakerArrangement gave ") +
                 (arrangement == nullptr ? std::string("no ") + side + " arrangement"
                                         : std::string("an ") + side + " arrangement of " +
                                               std::to_string(arrangement->numChannels) + " channels"));
        return false;
    }
    if (arrangement->numChannels > maximum) {
        TraceModule(sMisbehaviourSite, mModulePath,
             std::string("IsArrangementSane: effGetSpeakerArrangement gave an ") + side + " arrangement of " +
                 std::to_string(arrangement->numChannels) + " channels; only the first " + std::to_string(maximum) +
                 " are read");
    }
    return true;
}

bool VSTDispatcherBase::ChannelCountsFit(std::size_t inputs, std::size_t outputs) const
{
    if (mEffect == nullptr || (mEffect->numInputs <= static_cast<long long>(inputs) &&
                               mEffect->numOutputs <= static_cast<long long>(outputs))) {
        return true;
    }
    RecordAudioFault(AudioFault::ChannelCounts, nullptr, "", mEffect->numInputs, mEffect->numOutputs);
    return false;
}

bool VSTDispatcherBase::IsShellListRunaway(int listed, int maximum) const
{
    if (listed < maximum) {
        return false;
    }
    TraceModule(sMisbehaviourSite, mModulePath,
         "IsShellListRunaway: effShellGetNextPlugin listed " + std::to_string(listed) +
             " effects without ending the list; cut off there");
    return true;
}

} // namespace kelaudiofilterhost::vst
