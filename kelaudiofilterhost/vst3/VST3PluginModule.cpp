// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/vst3/VST3PluginModule.h"

#include "kelaudiofilterhost/catalogue/BannedPluginManager.h"
#include "kelaudiofilterhost/framework/AudioFilter.h"
#include "kelaudiofilterhost/services/File.h"
#include "kelaudiofilterhost/services/Trace.h"
#include "kelaudiofilterhost/vst3/VST3AudioFilter.h"
#include "kelaudiofilterhost/vst3/VST3ClassID.h"
#include "kelaudiofilterhost/vst3/VST3PluginGate.h"
#include "kelaudiofilterhost/vst3/VST3Technology.h"

#include <pluginterfaces/vst/ivstaudioprocessor.h>

#include <cstring>
#include <map>
#include <set>

namespace kelaudiofilterhost::vst3 {

namespace {

using ModuleEntryProc = bool (*)(void*);
using ModuleExitProc = bool (*)();
using GetFactoryProc = Steinberg::IPluginFactory* (*)();

// More classes than any module offers: a larger count is a broken factory, not a catalogue.
constexpr Steinberg::int32 kMaximumClasses = 4096;

std::map<UTF16String, boost::intrusive_ptr<VST3PluginModule>>& ModuleCache()
{
    // Never destroyed: modules stay loaded until the process ends, and destroying them at exit would
    // run plug-in code (factory release) after the plug-in's own statics may be gone.
    static auto* cache = new std::map<UTF16String, boost::intrusive_ptr<VST3PluginModule>>();
    return *cache;
}

// Libraries whose ModuleEntry succeeded in this process. Many plug-in frameworks cannot start again
// after ModuleExit (their statics stay torn down), so a started library is never stopped and never
// started twice: it stays mapped, so its handle names it for the life of the process.
std::set<kelcore::ModuleHandle>& StartedLibraries()
{
    static auto* started = new std::set<kelcore::ModuleHandle>();
    return *started;
}

KAFH_VST3_PLUGIN_CALL Steinberg::int32 CountClasses(const VST3PluginGate& gate, Steinberg::IPluginFactory* factory)
{
    if (factory == nullptr) {
        return 0;
    }
    const auto count = gate.Call("IPluginFactory::countClasses", [&]() KAFH_VST3_PLUGIN_CALL {
        return factory->countClasses();
    }, Steinberg::int32{0});
    return gate.ClassCountInRange(count, kMaximumClasses);
}

/// The factory's vendor; empty when it gives none or a broken text.
KAFH_VST3_PLUGIN_CALL UTF16String ReadVendor(const VST3PluginGate& gate, Steinberg::IPluginFactory& factory)
{
    Steinberg::PFactoryInfo info; // zeroed by its constructor
    const auto result = gate.Call("IPluginFactory::getFactoryInfo", [&]() KAFH_VST3_PLUGIN_CALL {
        return factory.getFactoryInfo(&info);
    }, Steinberg::tresult{Steinberg::kInternalError});
    return result == Steinberg::kResultOk && gate.IsFactoryInfoTerminated(info) ? kelcore::UTF8to16(info.vendor)
                                                                                : UTF16String();
}

/// Whether the factory described the class with texts that end inside their fields.
KAFH_VST3_PLUGIN_CALL bool ReadClassInfo(const VST3PluginGate& gate, Steinberg::IPluginFactory& factory,
                                         Steinberg::int32 index, Steinberg::PClassInfo& info)
{
    const auto result = gate.Call("IPluginFactory::getClassInfo", [&]() KAFH_VST3_PLUGIN_CALL {
        return factory.getClassInfo(index, &info);
    }, Steinberg::tresult{Steinberg::kInternalError});
    return result == Steinberg::kResultOk && gate.IsClassInfoTerminated(info, index);
}

} // namespace

bool InitPluginModule(kelcore::ModuleHandle library, const UTF16String& modulePath)
{
    const auto entry = kelcore::GetFunctionPointerFromModule<ModuleEntryProc>(library, "ModuleEntry");
    if (entry == nullptr) {
        return true;
    }
    KAFH_TRACE("InitPluginModule", 5, "Calling InitDll");
    const VST3PluginGate gate(modulePath, "InitPluginModule");
    return gate.Call("ModuleEntry", [&] { return entry(library); }, false);
}

void TerminatePluginModule(kelcore::ModuleHandle library, const UTF16String& modulePath)
{
    const auto exit = kelcore::GetFunctionPointerFromModule<ModuleExitProc>(library, "ModuleExit");
    if (exit == nullptr) {
        return;
    }
    KAFH_TRACE("TerminatePluginModule", 5, "Calling ExitDll");
    const VST3PluginGate gate(modulePath, "TerminatePluginModule");
    gate.Call("ModuleExit", [&] { return exit(); }, false);
}

VST3PluginModule::VST3PluginModule(const UTF16String& modulePath) : PluginModule(modulePath, true)
{
}

// The factory reference of a module still loaded is left alone: see ModuleCache.
VST3PluginModule::~VST3PluginModule() = default;

bool VST3PluginModule::Load()
{
    KAFH_TRACE("VST3PluginModule::Load", 5, "Path:" << GetPath());
    if (GetOSModule() != nullptr) {
        return false;
    }
    const UTF16String library = ResolveVST3ModuleLibrary(GetPath());
    if (library.empty() || !LoadLibraryFile(library)) {
        KAFH_TRACE("VST3PluginModule::Load", 5, "\"" << GetPath() << "\": cannot load its library");
        return false;
    }
    // A plug-in may leave threads behind that run its code: once loaded, a library stays mapped.
    // Unload stays a logical step.
    UTF8String error;
    const bool kept = kelcore::platform::KeepModuleMapped(library, error);
    if (!kept) {
        KAFH_TRACE("VST3PluginModule::Load", 5, "\"" << GetPath() << "\": cannot keep it mapped: " << error);
    }
    auto& started = StartedLibraries();
    bool ready = started.contains(GetOSModule());
    if (ready) {
        KAFH_TRACE("VST3PluginModule::Load", 5, "\"" << GetPath() << "\": ModuleEntry already ran in this process");
    } else if (InitPluginModule(GetOSModule(), GetPath())) {
        // A library that may be unmapped could come back as a fresh copy under the same handle.
        if (kept) {
            started.insert(GetOSModule());
        }
        ready = true;
    }
    if (ready) {
        const auto getFactory =
            kelcore::GetFunctionPointerFromModule<GetFactoryProc>(GetOSModule(), "GetPluginFactory");
        if (getFactory != nullptr) {
            const VST3PluginGate gate(GetPath(), "VST3PluginModule::Load");
            mFactory = gate.Call("GetPluginFactory", [&] { return getFactory(); },
                                 static_cast<Steinberg::IPluginFactory*>(nullptr));
            if (mFactory != nullptr) {
                return true;
            }
        }
    }
    KAFH_TRACE("VST3PluginModule::Load", 5, "\"" << GetPath() << "\": Unloading due to error");
    PluginModule::Unload();
    return false;
}

void VST3PluginModule::Unload()
{
    KAFH_TRACE("VST3PluginModule::Unload", 5, "Path:" << GetPath());
    if (GetOSModule() == nullptr) {
        return;
    }
    if (mFactory != nullptr) {
        const VST3PluginGate gate(GetPath(), "VST3PluginModule::Unload");
        Steinberg::IPluginFactory* factory = mFactory;
        mFactory = nullptr;
        gate.Run("IPluginFactory::release", [&]() KAFH_VST3_PLUGIN_CALL { factory->release(); });
    }
    // The library stays started: see StartedLibraries.
    KAFH_TRACE("VST3PluginModule::Unload", 5, "\"" << GetPath() << "\": library stays started, no ModuleExit");
    PluginModule::Unload();
}

boost::intrusive_ptr<AudioFilter> VST3PluginModule::CreateAudioFilter(UTF16String componentID)
{
    return MakeFilter(componentID, false);
}

boost::intrusive_ptr<AudioFilterDescriptor> VST3PluginModule::DescribeAudioFilter(const UTF16String& componentID,
                                                                                  const PluginLocator& locator,
                                                                                  bool applicationPlugin)
{
    const auto filter = MakeFilter(componentID, true);
    return filter ? filter->CreateFilterDescriptor(locator, applicationPlugin) : nullptr;
}

boost::intrusive_ptr<VST3AudioFilter> VST3PluginModule::MakeFilter(const UTF16String& componentID, bool describeOnly)
{
    KAFH_TRACE("VST3PluginModule::CreateAudioFilter", 5, "componentID=" << componentID);
    const VST3ClassID classID = ParseVST3ComponentID(componentID);
    if (classID == VST3ClassID{}) {
        KAFH_TRACE("VST3PluginModule::CreateAudioFilter", 1, "unreadable component ID: " << componentID);
        return {};
    }
    const VST3PluginGate gate(GetPath(), "VST3PluginModule::CreateAudioFilter");
    const Steinberg::int32 count = CountClasses(gate, mFactory);
    for (Steinberg::int32 i = 0; i < count; ++i) {
        Steinberg::PClassInfo info;
        if (ReadClassInfo(gate, *mFactory, i, info) && ClassIDFromTUID(info.cid) == classID) {
            return new VST3AudioFilter(GetPath(), mFactory, info, describeOnly);
        }
    }
    KAFH_TRACE("VST3PluginModule::CreateAudioFilter", 1,
               "no class " << componentID << " in \"" << GetPath() << "\"");
    return {};
}

boost::intrusive_ptr<PluginModuleInfo> VST3PluginModule::GetPluginInfo(std::vector<UTF16String>& componentIDs)
{
    KAFH_TRACE("VST3PluginModule::GetPluginInfo", 5, "entry");
    componentIDs.clear();
    boost::intrusive_ptr<PluginModuleInfo> info;
    const VST3PluginGate gate(GetPath(), "VST3PluginModule::GetPluginInfo");
    const Steinberg::int32 count = CountClasses(gate, mFactory);
    const kelcore::filesupport::File file(GetPath());
    if (count <= 0) {
        // No factory or no classes: nothing to describe.
    } else if (BannedPluginManager::GetInstance().IsPluginBannedStatically(file.GetName(), u"none", u"0")) {
        KAFH_TRACE("VST3PluginModule::GetPluginInfo", 5, "\"" << GetPath() << "\": banned statically");
    } else {
        const UTF16String vendor = ReadVendor(gate, *mFactory);
        for (Steinberg::int32 index = 0; index < count; ++index) {
            Steinberg::PClassInfo classInfo; // zeroed by its constructor
            if (ReadClassInfo(gate, *mFactory, index, classInfo) &&
                std::strcmp(classInfo.category, kVstAudioEffectClass) == 0) {
                componentIDs.push_back(MakeVST3ComponentID(ClassIDFromTUID(classInfo.cid)));
            }
        }
        info = new PluginModuleInfo(PluginLocator(VST3, GetPath()), file.GetTitle(), vendor, 0, VST3, true,
                                    componentIDs.size() > 1);
    }
    KAFH_TRACE("VST3PluginModule::GetPluginInfo", 5, "done");
    return info;
}

boost::intrusive_ptr<VST3PluginModule> GetOrLoadModule(const UTF16String& modulePath)
{
    auto& cache = ModuleCache();
    if (const auto cached = cache.find(modulePath); cached != cache.end()) {
        return cached->second;
    }
    boost::intrusive_ptr<VST3PluginModule> module = new VST3PluginModule(modulePath);
    if (!module->Load()) {
        return {};
    }
    cache.emplace(modulePath, module);
    return module;
}

} // namespace kelaudiofilterhost::vst3
