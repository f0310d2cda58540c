// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/vst2/VSTTechnology.h"

#include "kelaudiofilterhost/catalogue/AudioFilterDescriptorManager.h"
#include "kelaudiofilterhost/catalogue/BannedPluginManager.h"
#include "kelaudiofilterhost/catalogue/PluginModuleInfoManager.h"
#include "kelaudiofilterhost/framework/AudioFilterFactory.h"
#include "kelaudiofilterhost/services/Trace.h"
#include "kelaudiofilterhost/vst2/VSTAudioFilter.h"
#include "kelaudiofilterhost/vst2/VSTPluginModule.h"
#include "kelaudiofilterhost/vst2/VSTScanContext.h"

#include <cstdlib>
#include <string_view>

namespace kelaudiofilterhost::vst {

namespace {

using kelcore::filesupport::CompareFileNames;
using kelcore::filesupport::Dir;

void AddIfNew(std::vector<UTF16String>& directories, const UTF16String& directory)
{
    for (const auto& known : directories) {
        if (CompareFileNames(known, directory) == 0) {
            return;
        }
    }
    directories.push_back(directory);
}

struct StaticRegistration {
    StaticRegistration() { RegisterVSTTechnology(); }
};
const StaticRegistration sRegistration;

} // namespace

std::vector<UTF16String> GetDefaultVSTDirectories()
{
    std::vector<UTF16String> directories;
    if (const char* list = std::getenv("VST_PATH"); list != nullptr) {
        std::string_view rest(list);
        while (!rest.empty()) {
            const auto colon = rest.find(':');
            const auto entry = rest.substr(0, colon);
            rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
            if (entry.empty()) {
                continue;
            }
            // Would be stored mangled (U+FFFD) and name another directory.
            if (!kelcore::IsValidUtf8(entry)) {
                KAFH_TRACE("VST", 5, "VST_PATH entry \"" << entry << "\" is not UTF-8; skipped");
                continue;
            }
            const Dir dir(kelcore::UTF8to16(entry));
            if (dir.Exists()) {
                AddIfNew(directories, dir.FullPath());
            }
        }
    }
    for (const char16_t* system : {u"/usr/lib/vst", u"/usr/lib/lxvst", u"/usr/local/lib/vst", u"/usr/local/lib/lxvst"}) {
        const Dir dir{UTF16String(system)};
        if (dir.Exists()) {
            AddIfNew(directories, dir.FullPath());
        }
    }
    const char* home = std::getenv("HOME");
    if (home != nullptr && !kelcore::IsValidUtf8(home)) {
        KAFH_TRACE("VST", 5, "HOME \"" << home << "\" is not UTF-8; its .vst folder skipped");
        home = nullptr;
    }
    if (home != nullptr && *home != 0) {
        const auto own = Dir(Dir(kelcore::UTF8to16(home)), u".vst").FullPath();
        bool listed = false;
        for (const auto& known : directories) {
            listed = listed || kelcore::EqualIgnoringAsciiCase(known, own);
        }
        if (!listed) {
            directories.push_back(own);
        }
    }
    return directories;
}

std::vector<PluginLocator> CollectVSTPlugins(const kelcore::filesupport::Dir& directory)
{
    return PluginTechnology::CollectModuleFiles(directory, VST, u".so", false, [](const PluginLocator& locator) {
        return BannedPluginManager::GetInstance().IsPluginBanned(locator);
    });
}

boost::intrusive_ptr<AudioFilter> CreateVSTAudioFilter(const UTF16String& componentID)
{
    auto& descriptors = AudioFilterDescriptorManager::GetInstance();
    auto descriptor = descriptors.GetComponentDescriptorForID(componentID);
    if (!descriptor) {
        descriptor = descriptors.GetComponentDescriptorForID(u"2:" + componentID);
    }
    if (!descriptor) {
        return {};
    }
    const auto path = descriptor->GetLocator().GetPath();
    KAFH_TRACE("VST", 5, "CreateAudioFilter(), path:" << path);
    auto module = GetOrLoadModule(path);
    if (!module) {
        KAFH_TRACE("VST", 5, "\"" << path << "\": the module cannot be loaded");
        return {};
    }
    auto filter = module->CreateAudioFilter(componentID);
    if (filter) {
        filter->SetDisplayName(descriptor->GetName());
    }
    return filter;
}

void RegisterVSTTechnology()
{
    static bool registered = false;
    if (registered) {
        return;
    }
    registered = true;
    AudioFilterFactory::GetInstance().RegisterFactoryFunction(GetVSTFactoryGuid(), &CreateVSTAudioFilter);
    PluginModuleInfoManager::GetInstance().AddPluginTechnology(new PluginTechnology(
        VST, &CollectVSTPlugins,
        [](const std::vector<kelcore::filesupport::Dir>&) {
            return boost::intrusive_ptr<PluginScanContext>(new VSTScanContext);
        },
        &GetDefaultVSTDirectories, [](const UTF16String& path) { return path; }, true));
}

} // namespace kelaudiofilterhost::vst
