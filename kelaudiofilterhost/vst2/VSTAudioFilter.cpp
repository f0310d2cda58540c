// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/vst2/VSTAudioFilter.h"

#include "kelaudiofilterhost/catalogue/PluginModule.h"
#include "kelaudiofilterhost/presets/PresetData.h"
#include "kelaudiofilterhost/presets/PresetList.h"
#include "kelaudiofilterhost/services/Config.h"
#include "kelaudiofilterhost/services/Debug.h"
#include "kelaudiofilterhost/services/File.h"
#include "kelaudiofilterhost/services/PropList.h"
#include "kelaudiofilterhost/services/Trace.h"
#include "kelaudiofilterhost/vst2/VSTAudioFilterEditor.h"
#include "kelaudiofilterhost/vst2/VSTEffectRegistry.h"
#include "kelaudiofilterhost/vst2/VSTParameterInfo.h"
#include "kelaudiofilterhost/vst2/VSTPluginModule.h"
#include "kelaudiofilterhost/vst2/VSTStrings.h"

#include <algorithm>
#include <cstring>
#include <sstream>

namespace kelaudiofilterhost::vst {

namespace {

constexpr std::intptr_t kVendorSpecificAnswer = 0x11005678;
constexpr std::int32_t kVendorIdentify = 0x2E903F43;
constexpr std::int32_t kVendorLocale = 0x70400000;
constexpr std::int32_t kVendorTheme = 0x70400002;
// Effects reporting more parameters than this are described only up to it.
constexpr std::int32_t kMaximumParameters = 65536;

const UTF16String& HighCpuComponentID()
{
    static const UTF16String id = u"2:1517179725 QuickPolishTone";
    return id;
}

std::intptr_t CopyHostString(void* ptr, const char* text)
{
    if (ptr != nullptr) {
        std::memcpy(ptr, text, std::strlen(text) + 1);
    }
    return 1;
}

} // namespace

const kelcore::Guid& GetVSTFactoryGuid()
{
    static const kelcore::Guid guid(0xE84E3BDD, 0xB4E2, 0x416C, 0x8B, 0x6D, 0x5C, 0x0D, 0xD7, 0x6D, 0x19, 0x7F);
    return guid;
}

VSTAudioFilter::VSTAudioFilter(const UTF16String& componentID, const UTF16String& modulePath, abi::AEffect* effect,
                               bool fileTitleAsName)
    : AudioFilter(componentID, UTF16String()), VSTDispatcherBase(effect, modulePath, true), mModulePath(modulePath)
{
    if (componentID == HighCpuComponentID()) {
        SetHasHighCPU(true);
    }
    mTimeInfo.tempo = 120.0;
    mTimeInfo.timeSigNumerator = 4;
    mTimeInfo.timeSigDenominator = 4;
    mTimeInfo.smpteFrameRate = 1;
    mTimeInfo.flags = abi::kVstNanosValid | abi::kVstPpqPosValid | abi::kVstTempoValid | abi::kVstBarsValid |
                      abi::kVstTimeSigValid;
    mQueuedEvents.reserve(kEventCapacity);
    // The record's two header fields, then a pointer per event.
    mEventRecord.assign(2 + kEventCapacity, 0);
    VSTEffectRegistry::Register(mEffect, this);
    Dispatch(abi::effOpen);
    Dispatch(abi::effSetSampleRate, 0, 0, nullptr, 44100.0f);
    Dispatch(abi::effSetBlockSize, 0, 2048);

    UTF16String name = ReadString(abi::effGetEffectName, 0, kEffectStringLength);
    if (name.empty() || fileTitleAsName) {
        name = kelcore::filesupport::File(modulePath).GetTitle();
    }
    SetDisplayName(name);

    const auto parameters = GetParameterCount();
    mParameterInfos.reserve(static_cast<std::size_t>(parameters));
    for (std::int32_t i = 0; i < parameters; ++i) {
        mParameterInfos.push_back(new VSTParameterInfo(*this, i));
    }
    BuildIOConfiguration();
    PrepareChannels();
}

VSTAudioFilter::~VSTAudioFilter()
{
    // Calls the effect makes from now on, while closing or from threads it leaves behind, are answered
    // as from an unknown effect.
    VSTEffectRegistry::Unregister(mEffect);
    Dispatch(abi::effClose);
    // Unregistered above: no callback of the effect can still be reading the lists.
    mPublishedExtraCallbacks.store(nullptr);
    mRetiredExtraCallbacks.clear();
    mExtraCallbacks.reset();
    mParameterInfos.clear();
}

std::intptr_t VSTAudioFilter::StaticAudioMasterCallback(abi::AEffect* effect, std::int32_t opcode, std::int32_t index,
                                                        std::intptr_t value, void* ptr, float opt)
{
    {
        const VSTEffectRegistry::Lease lease(effect);
        if (VSTAudioFilter* filter = lease.GetFilter(); filter != nullptr) {
            if (const auto answer = filter->AudioMasterCallback(opcode, index, value, ptr, opt); answer != 0) {
                return answer;
            }
        }
    }
    switch (opcode) {
    case abi::audioMasterVersion:
        return 2400;
    case abi::audioMasterCurrentId:
        return static_cast<std::intptr_t>(GetCurrentShellID());
    case abi::audioMasterGetVendorString:
        return CopyHostString(ptr, "Quelo Systems");
    case abi::audioMasterGetProductString:
        return CopyHostString(ptr, "Opal");
    case abi::audioMasterGetVendorVersion:
        return 4;
    case abi::audioMasterVendorSpecific:
        if (index == kVendorIdentify) {
            return kVendorSpecificAnswer;
        }
        if (index == kVendorLocale) {
            if (ptr == nullptr) {
                return 0;
            }
            const std::int32_t code = PluginModule::GetLocaleCode();
            std::memcpy(ptr, &code, sizeof code);
            return kVendorSpecificAnswer;
        }
        if (index == kVendorTheme) {
            if (ptr == nullptr) {
                return 0;
            }
            const char* text = PluginModule::GetThemeXML().c_str();
            std::memcpy(ptr, &text, sizeof text);
            return kVendorSpecificAnswer;
        }
        return 0;
    case abi::audioMasterCanDo: {
        const char* text = static_cast<const char*>(ptr);
        const std::string_view asked = text != nullptr ? std::string_view(text, ::strnlen(text, 256)) : std::string_view();
        KAFH_TRACE("VSTAudioFilter::StaticAudioMasterCallback", 5, "audioMasterCanDo->" << asked);
        return asked == "shellCategory" || asked == "sendVstTimeInfo" ? 1 : 0;
    }
    case abi::audioMasterGetLanguage:
        return 1;
    default:
        return 0;
    }
}

std::intptr_t VSTAudioFilter::AudioMasterCallback(std::int32_t opcode, std::int32_t index, std::intptr_t value,
                                                  void* ptr, float opt)
{
    {
        mExtraCallbackReaders.fetch_add(1);
        struct ReaderDone {
            std::atomic<std::uint32_t>& readers;
            ~ReaderDone() { readers.fetch_sub(1, std::memory_order_release); }
        } done{mExtraCallbackReaders};
        if (const ExtraCallbackList* callbacks = mPublishedExtraCallbacks.load(); callbacks != nullptr) {
            for (const auto& [key, callback] : *callbacks) {
                if (const std::intptr_t answer = callback(opcode, index, value, ptr, opt); answer != 0) {
                    return answer;
                }
            }
        }
    }
    switch (opcode) {
    case abi::audioMasterAutomate:
        SetParameterAutomated(index, opt);
        return 0;
    case abi::audioMasterPinConnected: {
        const auto& buses = value == 0 ? GetInputBuses() : GetOutputBuses();
        const std::int32_t channels = buses.empty() ? 0 : static_cast<std::int32_t>(buses.front().GetChannelCount());
        return (value == 0 || value == 1) && index >= 0 && index < channels ? 0 : 1;
    }
    case abi::audioMasterIOChanged:
        // Taken at the next Resume, which reads the counts again.
        mIOChanged.store(true);
        return 1;
    case abi::audioMasterGetCurrentProcessLevel:
        // Asked by effects that work differently when not bound to real time.
        return IsOfflineRendering() ? abi::kVstProcessLevelOffline : 0;
    case abi::audioMasterGetTime:
        if (IsSuspended()) {
            return 0;
        }
        UpdateTimeInfo();
        return reinterpret_cast<std::intptr_t>(&mTimeInfo);
    default:
        return 0;
    }
}

void VSTAudioFilter::AddExtraCallback(std::int32_t key, const ExtraCallback& callback)
{
    if (callback.empty()) {
        RemoveExtraCallback(key);
        return;
    }
    const std::lock_guard lock(mExtraCallbackMutex);
    auto list = mExtraCallbacks ? std::make_unique<ExtraCallbackList>(*mExtraCallbacks)
                                : std::make_unique<ExtraCallbackList>();
    const auto at = std::lower_bound(list->begin(), list->end(), key,
                                     [](const auto& entry, std::int32_t k) { return entry.first < k; });
    if (at != list->end() && at->first == key) {
        at->second = callback;
    } else {
        list->emplace(at, key, callback);
    }
    PublishExtraCallbacks(std::move(list));
}

void VSTAudioFilter::RemoveExtraCallback(std::int32_t key)
{
    const std::lock_guard lock(mExtraCallbackMutex);
    if (!mExtraCallbacks) {
        return;
    }
    auto list = std::make_unique<ExtraCallbackList>(*mExtraCallbacks);
    std::erase_if(*list, [key](const auto& entry) { return entry.first == key; });
    PublishExtraCallbacks(list->empty() ? nullptr : std::move(list));
}

void VSTAudioFilter::PublishExtraCallbacks(std::unique_ptr<ExtraCallbackList> list)
{
    mPublishedExtraCallbacks.store(list.get());
    if (mExtraCallbacks) {
        mRetiredExtraCallbacks.push_back(std::move(mExtraCallbacks));
    }
    mExtraCallbacks = std::move(list);
    ReclaimExtraCallbacks();
}

void VSTAudioFilter::ReclaimExtraCallbacks()
{
    // Sequentially consistent with the readers: a reader not counted here started after the list it
    // would read was published, so it cannot hold a retired one.
    if (!mRetiredExtraCallbacks.empty() && mExtraCallbackReaders.load() == 0) {
        mRetiredExtraCallbacks.clear();
    }
}

void VSTAudioFilter::UpdateTimeInfo()
{
    if (mTransportChanged) {
        mTimeInfo.flags |= abi::kVstTransportChanged;
        mTransportChanged = false;
    } else {
        mTimeInfo.flags &= ~abi::kVstTransportChanged;
    }
    mTimeInfo.nanoSeconds = static_cast<double>(
        kelcore::utility::HighPrecisionTime::ConvertToNanos(kelcore::utility::HighPrecisionTime::GetTickCount()));
    if (const TempoMap* map = GetTempoMap(); map != nullptr) {
        const MusicalPosition position = map->At(mCurrentOffset);
        mTimeInfo.tempo = position.tempo;
        mTimeInfo.timeSigNumerator = position.numerator;
        mTimeInfo.timeSigDenominator = position.denominator;
        mTimeInfo.samplePos = static_cast<double>(mCurrentOffset);
        mTimeInfo.ppqPos = position.quarters;
        mTimeInfo.barStartPos = position.barStart;
    } else if (IAudioFilterHost* host = GetAudioFilterHost(); host != nullptr) {
        int a = -1;
        int b = 0;
        int c = 0;
        HostTempoRecord record{};
        host->GetTempoAndTimeSignature(&a, &b, &c, &record);
        mTimeInfo.tempo = record.tempo;
        mTimeInfo.timeSigDenominator = record.denominator;
        mTimeInfo.timeSigNumerator = record.numerator;
        mTimeInfo.samplePos = static_cast<double>(mCurrentOffset);
        const double samplesPerBeat = static_cast<double>(GetSampleRate()) * 60.0 / mTimeInfo.tempo;
        mTimeInfo.ppqPos = mTimeInfo.samplePos / samplesPerBeat + 1.0;
        mTimeInfo.barStartPos = mTimeInfo.ppqPos;
    }
}

void VSTAudioFilter::Suspend()
{
    {
        const std::lock_guard lock(mExtraCallbackMutex);
        ReclaimExtraCallbacks();
    }
    mTimeInfo.flags &= ~abi::kVstTransportPlaying;
    mTransportChanged = true;
    Dispatch(abi::effStopProcess);
    Dispatch(abi::effMainsChanged, 0, 0);
    AudioFilter::Suspend();
}

void VSTAudioFilter::Resume()
{
    AudioFilter::Resume();
    mTimeInfo.flags |= abi::kVstTransportPlaying;
    mTransportChanged = true;
    Dispatch(abi::effMainsChanged, 0, 1);
    Dispatch(abi::effStartProcess);
    // Some effects settle their I/O only once switched on.
    PrepareChannels();
    mTimeInfo.samplePos = 0.0;
}

void VSTAudioFilter::SetSampleRate(float sampleRate)
{
    AudioFilter::SetSampleRate(sampleRate);
    mTimeInfo.sampleRate = sampleRate;
    Dispatch(abi::effSetSampleRate, 0, 0, nullptr, sampleRate);
}

void VSTAudioFilter::SetBlockSize(int blockSize)
{
    AudioFilter::SetBlockSize(blockSize);
    Dispatch(abi::effSetBlockSize, 0, blockSize);
}

int VSTAudioFilter::GetMaxProcessingBlockSize() const
{
    return 1024;
}

void VSTAudioFilter::SetCurrentOffset(long long offset)
{
    mCurrentOffset = offset;
}

int VSTAudioFilter::GetParameterCount() const
{
    return ParameterCountInRange(kMaximumParameters);
}

void VSTAudioFilter::SetParameter(int index, float value)
{
    if (index >= 0 && index < GetParameterCount()) {
        VSTDispatcherBase::SetParameter(index, value);
    }
    AudioFilter::SetParameter(index, value);
}

float VSTAudioFilter::GetParameter(int index) const
{
    if (index < 0 || index >= GetParameterCount()) {
        return 0.0f;
    }
    return VSTDispatcherBase::GetParameter(index);
}

boost::intrusive_ptr<AudioFilterParameterInfo> VSTAudioFilter::GetParameterInfo(int index) const
{
    if (index < 0 || static_cast<std::size_t>(index) >= mParameterInfos.size()) {
        return {};
    }
    return mParameterInfos[static_cast<std::size_t>(index)];
}

UTF16String VSTAudioFilter::GetParameterString(int index) const
{
    // Zeroed whole, so a text the effect leaves unterminated still ends inside the buffer.
    char buffer[kStringBufferSize] = {};
    Dispatch(abi::effGetParamDisplay, index, 0, buffer);
    IsStringTerminated(buffer, kParameterStringLength, abi::effGetParamDisplay);
    if (buffer[0] == 0) {
        kelcore::oUTF16StringStream text;
        text << GetParameter(index);
        return text.str();
    }
    // Each byte widened as it is: effects write Latin-1 as often as UTF-8 here.
    UTF16String text;
    for (std::size_t i = 0; i < kParameterStringLength && buffer[i] != 0; ++i) {
        text.push_back(static_cast<char16_t>(static_cast<unsigned char>(buffer[i])));
    }
    return text;
}

bool VSTAudioFilter::DoPresetsUseChunkData() const
{
    return mEffect != nullptr && (mEffect->flags & abi::effFlagsProgramChunks) != 0;
}

int VSTAudioFilter::GetNumFactoryPresets() const
{
    return ProgramCountInRange();
}

UTF16String VSTAudioFilter::GetFactoryPresetName(int index) const
{
    if (index < 0 || index >= GetNumFactoryPresets()) {
        return {};
    }
    return ReadString(abi::effGetProgramNameIndexed, index, kProgramNameLength);
}

void VSTAudioFilter::GetFactoryDefaultPresets(PresetList& list) const
{
    list.Clear();
    for (int i = 0; i < GetNumFactoryPresets(); ++i) {
        const auto name = GetFactoryPresetName(i);
        if (name.empty()) {
            continue;
        }
        auto preset = list.AppendPreset(name);
        if (!preset) {
            continue;
        }
        if (i == 0) {
            SaveSettings(*preset);
        } else {
            preset->SetVersion(GetCurrentPresetVersion());
            preset->SetPresetType(PresetData::FactoryReferencePreset);
            preset->SetFactoryPresetName(name);
        }
    }
}

void VSTAudioFilter::SetFactoryPreset(int index)
{
    if (index < 1 || index >= GetNumFactoryPresets()) {
        return;
    }
    Dispatch(abi::effSetProgram, 0, index);
    kelcore::proplist::PropList captured;
    PresetData capture(captured);
    SaveSettings(capture);
    Dispatch(abi::effSetProgram, 0, 0);
    LoadSettings(capture);
}

bool VSTAudioFilter::SaveChunkData(PresetData& preset) const
{
    if (!DoPresetsUseChunkData()) {
        return false;
    }
    void* chunk = nullptr;
    const auto size = Dispatch(abi::effGetChunk, 1, 0, &chunk);
    // A chunk claimed larger than a plug-in state can sensibly be is not trusted.
    constexpr std::intptr_t kMaximumChunk = std::intptr_t{1} << 30;
    if (IsChunkSane(chunk, size, kMaximumChunk)) {
        preset.SetChunkData(static_cast<const unsigned char*>(chunk), static_cast<unsigned int>(size));
    }
    preset.SetVersion(GetCurrentPresetVersion());
    preset.SetPresetType(PresetData::ChunkPreset);
    return true;
}

bool VSTAudioFilter::LoadChunkData(const PresetData& preset)
{
    if (!DoPresetsUseChunkData()) {
        return false;
    }
    PresetData::ChunkBytes bytes;
    if (!preset.GetChunkData(bytes)) {
        KAFH_TRACE("VSTAudioFilter::LoadChunkData", 5, "\"" << mModulePath << "\": the preset holds no chunk");
        return false;
    }
    Dispatch(abi::effSetChunk, 1, static_cast<std::intptr_t>(bytes.size()), bytes.data());
    return true;
}

int VSTAudioFilter::GetInitialDelay() const
{
    return LatencyInRange();
}

bool VSTAudioFilter::HasCustomEditor() const
{
    if (mEffect == nullptr || (mEffect->flags & abi::effFlagsHasEditor) == 0) {
        return false;
    }
    // Only the alphabetic form switches editors off: "true", not "1" or "yes".
    std::istringstream text(kelcore::debug::DebugDatabase::Instance().GetEntry("DisableVSTCustomUI", "false"));
    bool disabled = false;
    text >> std::boolalpha >> disabled;
    return !disabled;
}

boost::intrusive_ptr<AudioFilterEditor> VSTAudioFilter::CreateCustomEditor()
{
    // The debug switch only hides editors (HasCustomEditor); one asked for is still made.
    if (mEffect == nullptr || (mEffect->flags & abi::effFlagsHasEditor) == 0) {
        return {};
    }
    return new VSTAudioFilterEditor(*this, *this);
}

boost::intrusive_ptr<AudioFilterDescriptor> VSTAudioFilter::CreateFilterDescriptor(const PluginLocator& locator,
                                                                                   bool isApplicationPlugIn)
{
    const auto version = static_cast<std::uint32_t>(Dispatch(abi::effGetVstVersion));
    const bool synth = mEffect != nullptr && (mEffect->flags & abi::effFlagsIsSynth) != 0;
    const UTF16String name = GetDisplayName();
    const UTF16String vendor = ReadString(abi::effGetVendorString, 0, kEffectStringLength);
    ComponentCategory category = Uncategorized;
    if (isApplicationPlugIn) {
        category = ApplicationPlugIn;
    } else if (version > 1) {
        const auto plugCategory = Dispatch(abi::effGetPlugCategory);
        if (plugCategory >= 1 && plugCategory <= 9) {
            category = static_cast<ComponentCategory>(plugCategory);
        } else if (plugCategory == abi::kPlugCategGenerator) {
            category = Generator;
        }
    }
    KAFH_TRACE("VST", 5, "CreateFilterDescriptor, Effectname: " << name);
    const auto uniqueID = mEffect != nullptr ? static_cast<std::uint32_t>(mEffect->uniqueID) : 0u;
    return new AudioFilterDescriptor(PluginLocator(VST, locator.GetPath()), name, vendor, version, category,
                                     MakeComponentID(uniqueID, locator.GetPath()), GetVSTFactoryGuid(), synth);
}

} // namespace kelaudiofilterhost::vst
