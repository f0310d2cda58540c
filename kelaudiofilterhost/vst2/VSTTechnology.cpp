// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/vst2/VSTTechnology.h"

#include "kelaudiofilterhost/catalogue/AudioFilterDescriptorManager.h"
#include "kelaudiofilterhost/catalogue/BannedPluginManager.h"
#include "kelaudiofilterhost/catalogue/PluginModuleInfoManager.h"
#include "kelaudiofilterhost/framework/AudioFilterFactory.h"
#include "kelaudiofilterhost/services/File.h"
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

// A VST 3 bundle's library is never a VST 2 module: loading it as one would run its code for nothing
// (a folder given for both technologies holds both kinds).
bool InsideVst3Bundle(const PluginLocator& locator)
{
    for (const auto& part : kelcore::filesupport::ToPath(locator.GetPath()).parent_path()) {
        const auto name = part.native();
        if (name.size() > 5 && name.compare(name.size() - 5, 5, ".vst3") == 0) {
            return true;
        }
    }
    return false;
}

struct StaticRegistration {
    StaticRegistration() { RegisterVSTTechnology(); }
};
const StaticRegistration sRegistration;

} // namespace

std::vector<UTF16String> GetDefaultVSTDirectories()
{
    std::vector<UTF16String> directories;
    const auto fromVariable = PluginTechnology::GetSearchPathVariable("VST_PATH", "VST");
    for (const auto& entry : fromVariable.value_or(std::vector<UTF16String>())) {
        const Dir dir(entry);
        if (dir.Exists()) {
            AddIfNew(directories, dir.FullPath());
        }
    }
    for (const char16_t* system : {u"/usr/lib/vst", u"/usr/lib/lxvst", u"/usr/local/lib/vst", u"/usr/local/lib/lxvst"}) {
        const Dir dir{UTF16String(system)};
        if (dir.Exists()) {
            AddIfNew(directories, dir.FullPath());
        }
    }
    const auto own = PluginTechnology::GetHomeSubfolder(".vst", "VST");
    if (!own.empty()) {
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
        return InsideVst3Bundle(locator) || BannedPluginManager::GetInstance().IsPluginBanned(locator);
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

boost::intrusive_ptr<AudioFilter> CreateVSTInstrument(const UTF16String& modulePath, std::uint32_t uniqueID)
{
    auto module = GetOrLoadModule(modulePath);
    if (!module) {
        KAFH_TRACE("VST", 5, "\"" << modulePath << "\": the module cannot be loaded");
        return {};
    }
    return module->CreateInstrument(uniqueID);
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
