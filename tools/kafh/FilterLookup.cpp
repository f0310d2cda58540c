// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/kafh/FilterLookup.h"

#include "kelaudiofilterhost/catalogue/AudioFilterDescriptorManager.h"
#include "kelaudiofilterhost/catalogue/PluginModuleInfoManager.h"
#include "kelaudiofilterhost/framework/AudioFilterFactory.h"
#include "kelaudiofilterhost/services/File.h"
#include "kelaudiofilterhost/services/Trace.h"
#include "kelaudiofilterhost/vst2/VSTPluginModule.h"
#include "kelaudiofilterhost/vst2/VSTTechnology.h"
#include "tools/kafh/Console.h"

#include <algorithm>
#include <exception>
#include <set>
#include <vector>

namespace kafh {

using namespace kelaudiofilterhost;

std::string TechnologyName(TechnologyType type)
{
    switch (type) {
    case Internal:
        return "internal";
    case VST:
        return "vst2";
    case VST3:
        return "vst3";
    default:
        return "none";
    }
}

DescriptorPtr FindDescriptor(const std::string& id, std::string& error)
{
    const auto& manager = AudioFilterDescriptorManager::GetInstance();
    const auto wanted = kelcore::UTF8to16(id);
    if (wanted.empty()) {
        error = "an empty filter ID";
        return {};
    }
    for (const auto& candidate : {wanted, u"2:" + wanted, u"3:" + wanted, u"4:" + wanted}) {
        if (auto descriptor = manager.GetComponentDescriptorForID(candidate)) {
            return descriptor;
        }
    }
    std::vector<DescriptorPtr> byName;
    for (auto it = manager.InfoBegin(); it != manager.InfoEnd(); ++it) {
        if (kelcore::EqualIgnoringAsciiCase((*it)->GetName(), wanted)) {
            byName.push_back(*it);
        }
    }
    if (byName.empty()) {
        // Plug-in filters are often named after their module file; people know the module's own name.
        const auto& catalogue = PluginModuleInfoManager::GetInstance();
        for (auto it = manager.InfoBegin(); it != manager.InfoEnd(); ++it) {
            const auto info = catalogue.FindPluginInfo((*it)->GetLocator());
            if (!(*it)->IsInternal() && info && kelcore::EqualIgnoringAsciiCase(info->GetName(), wanted)) {
                byName.push_back(*it);
            }
        }
    }
    if (byName.size() == 1) {
        return byName.front();
    }
    if (byName.empty()) {
        error = "unknown filter " + Quoted(id) + " (kafh list shows the filters; kafh scan finds plug-ins)";
    } else {
        error = "several filters are named " + Quoted(id) + "; give one of their IDs:";
        for (const auto& descriptor : byName) {
            error += " " + Quoted(descriptor->GetUniqueID());
        }
    }
    return {};
}

bool IsDescriptorEnabled(const AudioFilterDescriptor& descriptor)
{
    return descriptor.IsEnabled() &&
           (descriptor.IsInternal() ||
            PluginModuleInfoManager::GetInstance().IsPluginEnabled(descriptor.GetLocator(), false));
}

std::vector<boost::intrusive_ptr<PluginModuleInfo>> FindInstrumentModules()
{
    std::set<UTF16String> withFilters;
    const auto& descriptors = AudioFilterDescriptorManager::GetInstance();
    for (auto it = descriptors.InfoBegin(); it != descriptors.InfoEnd(); ++it) {
        if ((*it)->GetLocator().GetTechnologyType() == VST) {
            withFilters.insert((*it)->GetLocator().GetPath());
        }
    }
    std::vector<boost::intrusive_ptr<PluginModuleInfo>> modules;
    const auto& catalogue = PluginModuleInfoManager::GetInstance();
    for (auto it = catalogue.PluginInfoBegin(); it != catalogue.PluginInfoEnd(); ++it) {
        const auto& info = *it;
        if (info->GetType() == VST && !info->IsShell() && withFilters.count(info->GetLocator().GetPath()) == 0) {
            modules.push_back(info);
        }
    }
    return modules;
}

FilterPtr CreateInstrument(const std::string& id, std::string& error)
{
    error.clear();
    const auto wanted = kelcore::UTF8to16(id);
    // "2:UNIQUEID TITLE" or "UNIQUEID TITLE": the title is the module file's, as in effects' IDs.
    UTF16String rest = wanted.rfind(u"2:", 0) == 0 ? wanted.substr(2) : wanted;
    const auto space = rest.find(u' ');
    const bool numbered = space != UTF16String::npos && space > 0 &&
                          std::all_of(rest.begin(), rest.begin() + static_cast<std::ptrdiff_t>(space),
                                      [](char16_t c) { return c >= u'0' && c <= u'9'; });
    const UTF16String title = numbered ? rest.substr(space + 1) : UTF16String();
    for (const auto& info : FindInstrumentModules()) {
        const auto path = info->GetLocator().GetPath();
        const auto fileTitle = kelcore::filesupport::File(path).GetTitle();
        const bool named = numbered ? fileTitle == title
                                    : kelcore::EqualIgnoringAsciiCase(info->GetName(), wanted) ||
                                          kelcore::EqualIgnoringAsciiCase(fileTitle, wanted);
        if (!named) {
            continue;
        }
        if (!PluginModuleInfoManager::GetInstance().IsPluginEnabled(info->GetLocator(), false)) {
            error = "instrument module " + Quoted(kelcore::UTF16to8(path)) + " is disabled in the catalogue";
            return {};
        }
        FilterPtr filter;
        try {
            filter = vst::CreateVSTInstrument(path);
        } catch (const std::exception& exception) {
            error = "creating instrument " + Quoted(id) + " failed: " + exception.what();
            return {};
        }
        if (!filter) {
            error = "cannot create instrument " + Quoted(id) + " from module " + Quoted(kelcore::UTF16to8(path)) +
                    " (missing, changed or refused to open; kafh scan --rescan)";
            return {};
        }
        if (numbered && vst::ParseUniqueID(filter->GetComponentID()) != vst::ParseUniqueID(rest)) {
            error = "module " + Quoted(kelcore::UTF16to8(path)) + " holds instrument " +
                    Quoted(filter->GetComponentID()) + ", not " + Quoted(id);
            return {};
        }
        filter->SetDisplayName(info->GetName());
        return filter;
    }
    return {};
}

FilterPtr CreateFilter(const std::string& id, std::string& error, DescriptorPtr* found)
{
    const auto descriptor = FindDescriptor(id, error);
    if (!descriptor) {
        // VST 2 instruments have no descriptors; their module records name them. Callers that want
        // the descriptor cannot use one.
        std::string instrumentError;
        if (found != nullptr) {
            return {};
        }
        if (auto instrument = CreateInstrument(id, instrumentError)) {
            return instrument;
        }
        if (!instrumentError.empty()) {
            error = instrumentError;
        }
        return {};
    }
    if (found != nullptr) {
        *found = descriptor;
    }
    const auto componentID = descriptor->GetUniqueID();
    const auto module = descriptor->GetLocator().GetPath();
    if (!IsDescriptorEnabled(*descriptor)) {
        error = "filter " + Quoted(componentID) + " is disabled in the catalogue";
        return {};
    }
    FilterPtr filter;
    // Creating a plug-in filter runs the plug-in's code; what it throws past the back end ends here.
    try {
        filter = utility::CreateAudioFilter(componentID);
    } catch (const std::exception& exception) {
        KAFH_TRACE("kafh::CreateFilter", 5, "\"" << componentID << "\": " << exception.what());
        error = "creating filter " + Quoted(componentID) + " failed: " + exception.what();
        return {};
    } catch (...) {
        KAFH_TRACE("kafh::CreateFilter", 5, "\"" << componentID << "\": unknown exception");
        error = "creating filter " + Quoted(componentID) + " failed with an unknown exception";
        return {};
    }
    if (!filter) {
        error = "cannot create filter " + Quoted(componentID);
        if (!descriptor->IsInternal()) {
            error += " from module " + Quoted(module) + " (missing, changed or refused to open; kafh scan --rescan)";
        }
        return {};
    }
    return filter;
}

unsigned int MainChannelCount(const std::vector<AudioFilterBusDescription>& buses)
{
    for (const auto& bus : buses) {
        if (bus.GetType() == AudioFilterBusDescription::kMain) {
            return bus.GetChannelCount();
        }
    }
    return buses.empty() ? 0u : buses.front().GetChannelCount();
}

} // namespace kafh
