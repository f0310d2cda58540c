// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/vst3/VST3Technology.h"

#include "kelaudiofilterhost/catalogue/AudioFilterDescriptorManager.h"
#include "kelaudiofilterhost/catalogue/BannedPluginManager.h"
#include "kelaudiofilterhost/catalogue/PluginModuleInfoManager.h"
#include "kelaudiofilterhost/catalogue/PluginTechnology.h"
#include "kelaudiofilterhost/framework/AudioFilterFactory.h"
#include "kelaudiofilterhost/vst3/VST3AudioFilter.h"
#include "kelaudiofilterhost/vst3/VST3PluginModule.h"
#include "kelaudiofilterhost/vst3/VST3ScanContext.h"
#include "kelaudiofilterhost/services/Trace.h"

#include <cstdlib>
#include <filesystem>
#include <set>
#include <string_view>

#include <sys/utsname.h>

namespace kelaudiofilterhost::vst3 {

namespace {

using kelcore::filesupport::Dir;

void AddIfNew(std::vector<UTF16String>& directories, const UTF16String& directory)
{
    for (const auto& known : directories) {
        if (known == directory) {
            return;
        }
    }
    directories.push_back(directory);
}

std::string ArchitectureName()
{
    // The process's own ABI decides, not the kernel's: a 32-bit host on a 64-bit kernel loads i386 libraries.
#if defined(__x86_64__)
    return "x86_64";
#elif defined(__i386__)
    return "i386";
#elif defined(__aarch64__)
    return "aarch64";
#elif defined(__arm__)
    return "armv7l";
#else
    utsname machine{};
    return ::uname(&machine) == 0 ? std::string(machine.machine) : std::string("unknown");
#endif
}

struct StaticRegistration {
    StaticRegistration() { RegisterVST3Technology(); }
};
const StaticRegistration sRegistration;

} // namespace

std::vector<UTF16String> GetDefaultVST3Directories()
{
    std::vector<UTF16String> directories;
    // Set means exactly these folders, even when none is usable.
    if (auto listed = PluginTechnology::GetSearchPathVariable("VST3_PATH", "VST3")) {
        return *listed;
    }
    if (auto own = PluginTechnology::GetHomeSubfolder(".vst3", "VST3"); !own.empty()) {
        directories.push_back(own);
    }
    AddIfNew(directories, u"/usr/lib/vst3");
    AddIfNew(directories, u"/usr/local/lib/vst3");
    return directories;
}

std::vector<PluginLocator> CollectVST3PluginsIn(const std::vector<UTF16String>& folders)
{
    // On Linux a folder named "Name.vst3" is a bundle, one module whose library sits in
    // Contents/<arch>-linux: it is a candidate itself and is not searched, so the library and any
    // resources inside never become modules of their own. Only folders not ending in ".vst3" are
    // searched for further candidates.
    std::vector<PluginLocator> result;
    // One folder may lie below another, or be reached through a link: list each module once.
    std::set<std::filesystem::path> seen;
    for (const UTF16String& folder : folders) {
        const auto found = PluginTechnology::CollectModuleFiles(
            Dir(folder), VST3, u".vst3", true,
            [](const PluginLocator& locator) { return BannedPluginManager::GetInstance().IsPluginBanned(locator); });
        for (const PluginLocator& locator : found) {
            std::error_code error;
            auto canonical = std::filesystem::canonical(kelcore::UTF16to8(locator.GetPath()), error);
            if (error || seen.insert(std::move(canonical)).second) {
                result.push_back(locator);
            }
        }
    }
    return result;
}

std::vector<PluginLocator> CollectVST3Plugins(const kelcore::filesupport::Dir&)
{
    return CollectVST3PluginsIn(GetDefaultVST3Directories());
}

UTF16String GetVST3ArchitectureFolder()
{
    return kelcore::UTF8to16(ArchitectureName() + "-linux");
}

UTF16String ResolveVST3ModuleLibrary(const UTF16String& modulePath)
{
    const std::filesystem::path path(kelcore::UTF16to8(modulePath));
    std::error_code error;
    if (!std::filesystem::is_directory(path, error)) {
        // A plain module file is its own library; whether it loads is the loader's question.
        return modulePath;
    }
    const std::string name = path.filename().string();
    const std::string stem = name.size() > 5 ? name.substr(0, name.size() - 5) : name; // without ".vst3"
    const auto architecture = path / "Contents" / kelcore::UTF16to8(GetVST3ArchitectureFolder());
    if (!std::filesystem::is_directory(architecture, error)) {
        KAFH_TRACE("VST3", 5, "\"" << path.native() << "\": no folder " << architecture.filename().native()
                                    << " for this machine; not loadable");
        return {};
    }
    const auto library = architecture / (stem + ".so");
    if (!std::filesystem::is_regular_file(library, error)) {
        KAFH_TRACE("VST3", 5, "\"" << path.native() << "\": no library " << library.native() << "; not loadable");
        return {};
    }
    return kelcore::UTF8to16(library.native());
}

boost::intrusive_ptr<AudioFilter> CreateVST3AudioFilter(const UTF16String& componentID)
{
    const auto descriptor = AudioFilterDescriptorManager::GetInstance().GetComponentDescriptorForID(componentID);
    if (!descriptor) {
        return {};
    }
    const auto path = descriptor->GetLocator().GetPath();
    KAFH_TRACE("VST3", 5, "CreateAudioFilter(), path:" << path);
    auto module = GetOrLoadModule(path);
    if (!module) {
        KAFH_TRACE("VST3", 5, "\"" << path << "\": the module cannot be loaded");
        return {};
    }
    // The filter keeps the name its class reports.
    return module->CreateAudioFilter(componentID);
}

void RegisterVST3Technology()
{
    static bool registered = false;
    if (registered) {
        return;
    }
    registered = true;
    AudioFilterFactory::GetInstance().RegisterFactoryFunction(GetVST3FactoryGuid(), &CreateVST3AudioFilter);
    // The technology finds its own folders (VST3_PATH or the defaults), so it keeps no directory list.
    PluginModuleInfoManager::GetInstance().AddPluginTechnology(new PluginTechnology(
        VST3, &CollectVST3Plugins,
        [](const std::vector<kelcore::filesupport::Dir>&) {
            return boost::intrusive_ptr<PluginScanContext>(new VST3ScanContext);
        },
        [] { return std::vector<UTF16String>(); }, [](const UTF16String& path) { return path; }, false));
}

} // namespace kelaudiofilterhost::vst3
