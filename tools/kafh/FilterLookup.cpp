// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/kafh/FilterLookup.h"

#include "kelaudiofilterhost/catalogue/AudioFilterDescriptorManager.h"
#include "kelaudiofilterhost/catalogue/PluginModuleInfoManager.h"
#include "kelaudiofilterhost/framework/AudioFilterFactory.h"
#include "kelaudiofilterhost/services/Trace.h"
#include "tools/kafh/Console.h"

#include <exception>
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

FilterPtr CreateFilter(const std::string& id, std::string& error, DescriptorPtr* found)
{
    const auto descriptor = FindDescriptor(id, error);
    if (!descriptor) {
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
