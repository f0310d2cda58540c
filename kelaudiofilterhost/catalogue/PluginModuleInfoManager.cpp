// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/catalogue/PluginModuleInfoManager.h"

#include "kelaudiofilterhost/catalogue/AudioFilterDescriptorManager.h"
#include "kelaudiofilterhost/catalogue/IndexedRecords.h"
#include "kelaudiofilterhost/services/File.h"
#include "kelaudiofilterhost/services/Trace.h"

#include <algorithm>
#include <set>

namespace kelaudiofilterhost {

using kelcore::proplist::PropList;

namespace {

constexpr std::uint32_t kConfigurationVersion = 2;

// Whether a record list holds records its counts leave unread.
bool HoldsUnreadRecords(const PropList& list)
{
    const auto pastCount = [](const PropList& records, const char* countKey, std::string_view base) {
        std::int32_t count = 0;
        records.GetValue(countKey, count);
        return records::HasIndexedEntriesFrom(records, base, count);
    };
    if (pastCount(list, "num_tech_infos", "tech_info") || pastCount(list, "num_plugin_infos", "plugin_info") ||
        pastCount(list, "num_descriptors", "descriptor")) {
        return true;
    }
    std::int32_t count = 0;
    list.GetValue("num_tech_infos", count);
    for (const PropList::Entry* entry : records::FindIndexedEntries(list, "tech_info", count)) {
        const PropList* record = records::ChildOf(*entry);
        if (record && pastCount(*record, "num_directories", "directories")) {
            return true;
        }
    }
    return false;
}

} // namespace

PluginModuleInfoManager& PluginModuleInfoManager::GetInstance()
{
    static PluginModuleInfoManager instance;
    return instance;
}

PluginModuleInfoManager::PluginModuleInfoManager() : mSettingsFileName(u"AudioPluginManagerSettings.xml")
{
}

bool PluginModuleInfoManager::SetPrivatePluginConfiguration(const UTF8String& xml)
{
    mPrivatePluginConfiguration.Clear();
    if (xml.empty()) {
        return true;
    }
    if (!kelcore::proplist::utils::ReadPropList(xml, mPrivatePluginConfiguration)) {
        KAFH_TRACE("PluginModuleInfoManager::SetPrivatePluginConfiguration", 5, "malformed XML; configuration left empty");
        return false;
    }
    return true;
}

void PluginModuleInfoManager::AddPluginTechnology(TechnologyPtr technology)
{
    if (!technology) {
        KAFH_TRACE("PluginModuleInfoManager::AddPluginTechnology", 5, "null technology ignored");
        return;
    }
    const TechnologyType type = technology->GetType();
    if (!mTechnologies.emplace(type, std::move(technology)).second) {
        KAFH_TRACE("PluginModuleInfoManager::AddPluginTechnology", 5, "technology " << type << " already registered; kept");
    }
}

PluginModuleInfoManager::TechnologyPtr PluginModuleInfoManager::GetPluginTechnology(TechnologyType type) const
{
    const auto found = mTechnologies.find(type);
    return found != mTechnologies.end() ? found->second : TechnologyPtr();
}

std::vector<PluginModuleInfoManager::TechnologyPtr> PluginModuleInfoManager::GetPluginTechnologies() const
{
    std::vector<TechnologyPtr> result;
    result.reserve(mTechnologies.size());
    for (const auto& [type, technology] : mTechnologies) {
        result.push_back(technology);
    }
    return result;
}

void PluginModuleInfoManager::ResetToDefaultFolders()
{
    for (const auto& [type, technology] : mTechnologies) {
        technology->ResetDirectoriesToDefault();
    }
}

void PluginModuleInfoManager::AddPluginModuleInfo(InfoPtr info)
{
    if (!info) {
        KAFH_TRACE("PluginModuleInfoManager::AddPluginModuleInfo", 5, "null module info ignored");
        return;
    }
    const PluginLocator locator = info->GetLocator();
    const auto found = mModuleMap.find(locator);
    if (found != mModuleMap.end()) {
        mModuleMap.erase(found);
        const auto listed = std::find_if(mModuleList.begin(), mModuleList.end(),
                                         [&locator](const InfoPtr& i) { return i->GetLocator() == locator; });
        if (listed != mModuleList.end()) {
            mModuleList.erase(listed);
        }
    }
    mModuleMap.emplace(locator, info);
    mModuleList.push_back(std::move(info));
    mPluginInfosChangedSignal();
}

PluginModuleInfoManager::InfoPtr PluginModuleInfoManager::FindPluginInfo(const PluginLocator& locator) const
{
    const auto found = mModuleMap.find(locator);
    return found != mModuleMap.end() ? found->second : InfoPtr();
}

bool PluginModuleInfoManager::IsPluginEnabled(const PluginLocator& locator, bool unknownFlag) const
{
    const auto found = mModuleMap.find(locator);
    return found != mModuleMap.end() ? found->second->IsEnabled() : !unknownFlag;
}

void PluginModuleInfoManager::SetPluginEnabled(const PluginLocator& locator, bool enabled)
{
    const auto found = mModuleMap.find(locator);
    if (found != mModuleMap.end()) {
        found->second->SetEnabled(enabled);
    }
}

UTF16String PluginModuleInfoManager::GetDisplayStringForLocator(const PluginLocator& locator) const
{
    UTF16String text;
    if (const TechnologyPtr technology = GetPluginTechnology(locator.GetTechnologyType())) {
        text = technology->GetPathDisplayString(locator.GetPath());
    }
    return text.empty() ? locator.GetPath() : text;
}

std::vector<PluginLocator> PluginModuleInfoManager::GetPluginLocators() const
{
    std::vector<PluginLocator> result;
    result.reserve(mModuleMap.size());
    for (const auto& [locator, info] : mModuleMap) {
        result.push_back(locator);
    }
    return result;
}

std::vector<PluginLocator> PluginModuleInfoManager::GetEnabledPlugins() const
{
    std::vector<PluginLocator> result;
    for (const auto& [locator, info] : mModuleMap) {
        if (info->IsEnabled()) {
            result.push_back(locator);
        }
    }
    return result;
}

std::vector<PluginLocator> PluginModuleInfoManager::CollectPotentialPlugins(bool onlyNew,
                                                                            std::vector<PluginLocator>& removed) const
{
    std::vector<PluginLocator> all;
    for (const auto& [type, technology] : mTechnologies) {
        std::vector<PluginLocator> found = technology->CollectPlugins();
        all.insert(all.end(), std::make_move_iterator(found.begin()), std::make_move_iterator(found.end()));
    }
    removed.clear();
    if (!onlyNew) {
        return all;
    }
    std::vector<PluginLocator> result;
    for (const PluginLocator& locator : all) {
        if (mModuleMap.find(locator) == mModuleMap.end()) {
            result.push_back(locator);
        }
    }
    const std::set<PluginLocator> onDisk(all.begin(), all.end());
    for (const auto& [locator, info] : mModuleMap) {
        if (onDisk.find(locator) == onDisk.end()) {
            removed.push_back(locator);
        }
    }
    return result;
}

void PluginModuleInfoManager::RemovePluginLocators(const std::vector<PluginLocator>& locators)
{
    // One pass over the list and the descriptors for all locators: removing thousands of vanished
    // modules one by one would cost a pass per module.
    std::set<const PluginModuleInfo*> removedInfos;
    std::set<PluginLocator> removedLocators;
    for (const PluginLocator& locator : locators) {
        const auto found = mModuleMap.find(locator);
        if (found != mModuleMap.end()) {
            removedInfos.insert(found->second.get());
            removedLocators.insert(found->first);
            mModuleMap.erase(found);
        }
    }
    if (removedLocators.empty()) {
        return;
    }
    std::erase_if(mModuleList, [&removedInfos](const InfoPtr& info) { return removedInfos.count(info.get()) != 0; });
    AudioFilterDescriptorManager::GetInstance().ClearInfosForLocators(removedLocators);
    mPluginInfosChangedSignal();
}

void PluginModuleInfoManager::ClearAll(bool skipPrivate)
{
    mModuleMap.clear();
    mModuleList.clear();
    AudioFilterDescriptorManager& descriptors = AudioFilterDescriptorManager::GetInstance();
    descriptors.ClearExternalInfos();
    if (!skipPrivate) {
        descriptors.ReadExternalComponentDescriptors(mPrivatePluginConfiguration, false);
    }
}

void PluginModuleInfoManager::BuildConfigurationPropList(PropList& list, bool withDirectories) const
{
    list.SetValue("version", kConfigurationVersion);
    if (withDirectories) {
        WriteDirectories(list);
    }
    WritePluginInfos(list);
    AudioFilterDescriptorManager::GetInstance().WriteExternalComponentDescriptors(list);
}

bool PluginModuleInfoManager::SaveConfiguration(kelcore::filesupport::File& file, bool withDirectories) const
{
    PropList list;
    BuildConfigurationPropList(list, withDirectories);
    if (!kelcore::proplist::utils::SavePropList(file, list)) {
        KAFH_TRACE("PluginModuleInfoManager::SaveConfiguration", 5,
                   "\"" << file.FullPath() << "\": could not be saved; the previous file is kept");
        return false;
    }
    return true;
}

UTF8String PluginModuleInfoManager::GetConfigurationAsXML() const
{
    PropList list;
    BuildConfigurationPropList(list, true);
    UTF8String xml;
    if (!kelcore::proplist::utils::WritePropList(list, xml)) {
        KAFH_TRACE("PluginModuleInfoManager::GetConfigurationAsXML", 5, "could not write the configuration");
        return {};
    }
    return xml;
}

void PluginModuleInfoManager::WriteDirectories(PropList& list) const
{
    list.SetValue("num_tech_infos", static_cast<std::int32_t>(mTechnologies.size()));
    std::vector<PropList> records(mTechnologies.size());
    std::size_t i = 0;
    for (const auto& [type, technology] : mTechnologies) {
        PropList& record = records[i++];
        record.SetValue("tech_type", static_cast<std::int32_t>(type));
        const std::vector<UTF16String> directories(technology->DirectoryBegin(), technology->DirectoryEnd());
        record.SetValue("num_directories", static_cast<std::int32_t>(directories.size()));
        for (std::size_t j = 0; j < directories.size(); ++j) {
            record.SetValue(records::IndexedKey("directories", static_cast<std::int32_t>(j)), directories[j]);
        }
    }
    records::SetIndexedChildren(list, "tech_info", std::move(records));
}

void PluginModuleInfoManager::WritePluginInfos(PropList& list) const
{
    list.SetValue("num_plugin_infos", static_cast<std::int32_t>(mModuleList.size()));
    std::vector<PropList> records(mModuleList.size());
    for (std::size_t i = 0; i < mModuleList.size(); ++i) {
        mModuleList[i]->Write(records[i]);
    }
    records::SetIndexedChildren(list, "plugin_info", std::move(records));
}

bool PluginModuleInfoManager::LoadConfiguration(kelcore::filesupport::File& file)
{
    AudioFilterDescriptorManager& descriptors = AudioFilterDescriptorManager::GetInstance();
    mReadIncompletely = false;
    if (file.Exists()) {
        PropList list;
        if (!kelcore::proplist::utils::LoadPropList(file.FullPath(), list, false)) {
            KAFH_TRACE("PluginModuleInfoManager::LoadConfiguration", 5,
                       "\"" << file.FullPath() << "\": empty, truncated or malformed; ignored");
        }
        std::uint32_t version = 0;
        list.GetValue("version", version);
        if (version == kConfigurationVersion) {
            mReadIncompletely = HoldsUnreadRecords(list);
            if (mReadIncompletely) {
                KAFH_TRACE("PluginModuleInfoManager::LoadConfiguration", 5,
                           "\"" << file.FullPath() << "\": holds records past its counts; they are not read");
            }
            ReadDirectories(list);
            ReadPluginInfos(list, mModuleMap, mModuleList, false);
            // The application's own descriptors come first, so their identifiers win over the file's.
            descriptors.ReadExternalComponentDescriptors(mPrivatePluginConfiguration, false);
            descriptors.ReadExternalComponentDescriptors(list, true);
            mPluginInfosChangedSignal();
            return true;
        }
        mReadIncompletely = true;
        KAFH_TRACE("PluginModuleInfoManager::LoadConfiguration", 5,
                   "\"" << file.FullPath() << "\": version " << version << " is not " << kConfigurationVersion
                        << "; ignored");
    }
    descriptors.ReadExternalComponentDescriptors(mPrivatePluginConfiguration, false);
    mPluginInfosChangedSignal();
    if (mModuleList.empty()) {
        ResetToDefaultFolders();
    }
    return false;
}

bool PluginModuleInfoManager::AddConfiguration(const UTF8String& xml, bool notify)
{
    PropList list;
    const bool parsed = kelcore::proplist::utils::ReadPropList(xml, list);
    if (!parsed) {
        KAFH_TRACE("PluginModuleInfoManager::AddConfiguration", 5, "malformed XML; nothing added");
    }
    ReadPluginInfos(list, mModuleMap, mModuleList, true);
    AudioFilterDescriptorManager::GetInstance().ReadExternalComponentDescriptors(list, true);
    if (notify) {
        mPluginInfosChangedSignal();
    }
    return parsed;
}

void PluginModuleInfoManager::ReadDirectories(const PropList& list)
{
    std::int32_t count = 0;
    list.GetValue("num_tech_infos", count);
    for (const PropList::Entry* entry : records::FindIndexedEntries(list, "tech_info", count)) {
        const PropList* record = records::ChildOf(*entry);
        if (!record) {
            continue;
        }
        std::int32_t type = 0;
        record->GetValue("tech_type", type);
        const TechnologyPtr technology = GetPluginTechnology(static_cast<TechnologyType>(type));
        if (!technology) {
            KAFH_TRACE("PluginModuleInfoManager::ReadDirectories", 5, "no technology " << type << "; record skipped");
            continue;
        }
        std::int32_t directoryCount = 0;
        record->GetValue("num_directories", directoryCount);
        std::vector<UTF16String> directories;
        for (const PropList::Entry* directoryEntry : records::FindIndexedEntries(*record, "directories", directoryCount)) {
            UTF16String directory;
            record->GetValue(directoryEntry->key, directory);
            if (!directory.empty()) {
                directories.push_back(std::move(directory));
            }
        }
        technology->RemoveAllPluginDirectories();
        technology->AddPluginDirectories(directories);
    }
}

void PluginModuleInfoManager::ReadPluginInfos(const PropList& list, ModuleMap& map, ModuleList& moduleList,
                                              bool add) const
{
    if (!add) {
        map.clear();
        moduleList.clear();
    }
    std::int32_t count = 0;
    list.GetValue("num_plugin_infos", count);
    const auto entries = records::FindIndexedEntries(list, "plugin_info", count);
    if (count < 0 || entries.size() != static_cast<std::size_t>(count)) {
        KAFH_TRACE("PluginModuleInfoManager::ReadPluginInfos", 5,
                   "\"num_plugin_infos\" is " << count << ", " << entries.size() << " records present");
    }
    for (const PropList::Entry* entry : entries) {
        const PropList* record = records::ChildOf(*entry);
        if (!record) {
            KAFH_TRACE("PluginModuleInfoManager::ReadPluginInfos", 5, "\"" << entry->key << "\" is not a record; skipped");
            continue;
        }
        InfoPtr info(new PluginModuleInfo(*record));
        const PluginLocator locator = info->GetLocator();
        auto [position, inserted] = map.try_emplace(locator, info);
        if (!inserted) {
            // A later record of the same module replaces the earlier one and moves to the end.
            KAFH_TRACE("PluginModuleInfoManager::ReadPluginInfos", 5,
                       "\"" << locator.ToString() << "\" listed again; the later record wins");
            const auto listed = std::find_if(moduleList.begin(), moduleList.end(),
                                             [&locator](const InfoPtr& i) { return i->GetLocator() == locator; });
            if (listed != moduleList.end()) {
                moduleList.erase(listed);
            }
            map.erase(position);
            map.emplace(locator, info);
        }
        moduleList.push_back(std::move(info));
    }
}

} // namespace kelaudiofilterhost
