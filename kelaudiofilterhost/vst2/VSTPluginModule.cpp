// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/vst2/VSTPluginModule.h"

#include "kelaudiofilterhost/catalogue/BannedPluginManager.h"
#include "kelaudiofilterhost/services/File.h"
#include "kelaudiofilterhost/services/Trace.h"
#include "kelaudiofilterhost/vst2/VSTAudioFilter.h"
#include "kelaudiofilterhost/vst2/VSTDispatcherBase.h"
#include "kelaudiofilterhost/vst2/VSTStrings.h"

#include <atomic>
#include <map>

namespace kelaudiofilterhost::vst {

namespace {

std::atomic<std::uint32_t> sCurrentShellID{0};

std::map<UTF16String, boost::intrusive_ptr<VSTPluginModule>>& ModuleCache()
{
    static std::map<UTF16String, boost::intrusive_ptr<VSTPluginModule>> cache;
    return cache;
}

// Channel arrays are sized for the effect's counts; beyond the limit it is refused rather than cut down
// to counts it would not keep to. Closes the refused effect.
bool HasHostableChannelCounts(const VSTDispatcherBase& gate)
{
    if (gate.HasChannelCountsWithin(VSTAudioFilter::kMaximumChannels)) {
        return true;
    }
    gate.Dispatch(abi::effClose);
    return false;
}

} // namespace

std::uint32_t GetCurrentShellID()
{
    return sCurrentShellID.load();
}

void SetCurrentShellID(std::uint32_t id)
{
    sCurrentShellID.store(id);
}

UTF16String MakeComponentID(std::uint32_t uniqueID, const UTF16String& modulePath)
{
    return u"2:" + kelcore::NumberToString(uniqueID) + u" " + kelcore::filesupport::File(modulePath).GetTitle();
}

std::uint32_t ParseUniqueID(const UTF16String& componentID)
{
    UTF16String text = componentID;
    if (text.size() > 2 && text[1] == u':') {
        text.erase(0, 2);
    }
    // Leading white space skipped, reading stops at the first non-digit; nothing read gives 0.
    std::size_t i = 0;
    while (i < text.size() && (text[i] == u' ' || text[i] == u'\t' || text[i] == u'\n' || text[i] == u'\r')) {
        ++i;
    }
    std::uint64_t value = 0;
    bool any = false;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        value = value * 10 + static_cast<std::uint64_t>(text[i] - u'0');
        any = true;
        if (value > 0xFFFFFFFFull) {
            return 0; // out of range reads as nothing
        }
    }
    return any ? static_cast<std::uint32_t>(value) : 0;
}

VSTPluginModule::VSTPluginModule(const UTF16String& path) : PluginModule(path, true)
{
}

VSTPluginModule::~VSTPluginModule() = default;

bool VSTPluginModule::Load()
{
    if (GetOSModule() != nullptr) {
        return false;
    }
    if (!PluginModule::Load()) {
        return false;
    }
    // Effects may leave threads behind that run the library's code after effClose, and late calls
    // reach the host then: once loaded, a plug-in library stays mapped. Unload stays a logical step.
    UTF8String error;
    if (!kelcore::platform::KeepModuleMapped(GetPath(), error)) {
        KAFH_TRACE("VSTPluginModule::Load", 5, "\"" << GetPath() << "\": cannot keep it mapped: " << error);
    }
    mEntryName = "VSTPluginMain";
    mEntryPoint = kelcore::GetFunctionPointerFromModule<abi::PluginEntryProc>(GetOSModule(), mEntryName);
    if (mEntryPoint == nullptr) {
        mEntryName = "main";
        mEntryPoint = kelcore::GetFunctionPointerFromModule<abi::PluginEntryProc>(GetOSModule(), mEntryName);
    }
    if (mEntryPoint == nullptr) {
        KAFH_TRACE("VSTPluginModule::Load", 5, "\"" << GetPath() << "\": exports neither VSTPluginMain nor main");
        PluginModule::Unload();
        return false;
    }
    return true;
}

void VSTPluginModule::Unload()
{
    mDescribingFilter.reset();
    if (GetOSModule() != nullptr) {
        PluginModule::Unload();
    }
    mEntryPoint = nullptr;
}

abi::AEffect* VSTPluginModule::Instantiate(std::uint32_t shellID)
{
    if (mEntryPoint == nullptr) {
        return nullptr;
    }
    SetCurrentShellID(shellID);
    return VSTDispatcherBase::CallEntryPoint(mEntryPoint, mEntryName, &VSTAudioFilter::StaticAudioMasterCallback,
                                             GetPath());
}

boost::intrusive_ptr<AudioFilter> VSTPluginModule::CreateAudioFilter(UTF16String componentID)
{
    if (mEntryPoint == nullptr) {
        return {};
    }
    const auto uniqueID = ParseUniqueID(componentID);
    const auto canonicalID = MakeComponentID(uniqueID, GetPath());
    if (mDescribingFilter && mDescribingFilter->GetComponentID() == canonicalID) {
        boost::intrusive_ptr<AudioFilter> described = mDescribingFilter;
        mDescribingFilter.reset();
        return described;
    }
    abi::AEffect* effect = Instantiate(uniqueID);
    if (effect == nullptr) {
        KAFH_TRACE("VSTPluginModule::CreateAudioFilter", 5, "\"" << GetPath() << "\": the entry point returned null");
        return {};
    }
    const VSTDispatcherBase gate(effect, GetPath());
    if (!gate.HasEffectMagic() || !HasHostableChannelCounts(gate)) {
        return {};
    }
    return new VSTAudioFilter(canonicalID, GetPath(), effect, !mIsShell);
}

boost::intrusive_ptr<AudioFilter> VSTPluginModule::CreateInstrument(std::uint32_t uniqueID)
{
    abi::AEffect* effect = Instantiate(uniqueID);
    if (effect == nullptr) {
        KAFH_TRACE("VSTPluginModule::CreateInstrument", 5, "\"" << GetPath() << "\": the entry point returned null");
        return {};
    }
    const VSTDispatcherBase gate(effect, GetPath());
    if (!gate.HasEffectMagic() || !HasHostableChannelCounts(gate)) {
        return {};
    }
    const auto id = uniqueID != 0 ? uniqueID : static_cast<std::uint32_t>(effect->uniqueID);
    return new VSTAudioFilter(MakeComponentID(id, GetPath()), GetPath(), effect, uniqueID == 0);
}

boost::intrusive_ptr<PluginModuleInfo> VSTPluginModule::GetPluginInfo(std::vector<UTF16String>& componentIDs)
{
    componentIDs.clear();
    mDescribingFilter.reset();
    if (mEntryPoint == nullptr) {
        return {};
    }
    abi::AEffect* effect = Instantiate(0);
    if (effect == nullptr) {
        KAFH_TRACE("VSTPluginModule::GetPluginInfo", 5, "\"" << GetPath() << "\": the entry point returned null");
        return {};
    }
    const VSTDispatcherBase gate(effect, GetPath());
    if (!gate.HasEffectMagic() || !HasHostableChannelCounts(gate)) {
        return {};
    }
    const auto uniqueID = static_cast<std::uint32_t>(effect->uniqueID);
    const bool synth = (effect->flags & abi::effFlagsIsSynth) != 0;
    // The describing instance opens the effect; it closes it when released, at the end of this call or,
    // for a single-effect module, when the filter it becomes is released.
    boost::intrusive_ptr<VSTAudioFilter> filter =
        new VSTAudioFilter(MakeComponentID(uniqueID, GetPath()), GetPath(), effect, true);
    const kelcore::filesupport::File file(GetPath());
    UTF16String name = gate.ReadString(abi::effGetEffectName, 0, kEffectStringLength);
    if (name.empty()) {
        name = file.GetTitle();
    }
    const UTF16String vendor = gate.ReadString(abi::effGetVendorString, 0, kEffectStringLength);
    const auto vstVersion = static_cast<std::uint32_t>(gate.Dispatch(abi::effGetVstVersion));

    if (BannedPluginManager::GetInstance().IsPluginBannedStatically(file.GetName(), kelcore::NumberToString(uniqueID),
                                                                     kelcore::NumberToString(vstVersion)) &&
        !synth) {
        KAFH_TRACE("VSTPluginModule::GetPluginInfo", 5, "\"" << GetPath() << "\": banned statically");
        return {};
    }
    mIsShell = vstVersion > 1 && gate.Dispatch(abi::effGetPlugCategory) == abi::kPlugCategShell;
    boost::intrusive_ptr<PluginModuleInfo> info =
        new PluginModuleInfo(PluginLocator(VST, GetPath()), name, vendor, vstVersion, VST, true, mIsShell);

    if (!mIsShell) {
        if (!synth) {
            componentIDs.push_back(MakeComponentID(uniqueID, GetPath()));
            mDescribingFilter = filter;
        }
        return info;
    }
    SetCurrentShellID(0);
    // A shell lists its effects until it answers 0; a misbehaving one that never stops is cut off.
    constexpr int kMaximumShellEffects = 10000;
    for (int listed = 0; !gate.IsShellListRunaway(listed, kMaximumShellEffects); ++listed) {
        char buffer[kStringBufferSize] = {};
        const auto next = static_cast<std::uint32_t>(gate.Dispatch(abi::effShellGetNextPlugin, 0, 0, buffer));
        if (next == 0) {
            break;
        }
        componentIDs.push_back(MakeComponentID(next, GetPath()));
    }
    return info;
}

boost::intrusive_ptr<VSTPluginModule> GetOrLoadModule(const UTF16String& path)
{
    auto& cache = ModuleCache();
    const auto cached = cache.find(path);
    if (cached != cache.end()) {
        if (cached->second->GetOSModule() != nullptr || cached->second->Load()) {
            return cached->second;
        }
        return {};
    }
    boost::intrusive_ptr<VSTPluginModule> module = new VSTPluginModule(path);
    if (!module->Load()) {
        return {};
    }
    cache.emplace(path, module);
    return module;
}

} // namespace kelaudiofilterhost::vst
