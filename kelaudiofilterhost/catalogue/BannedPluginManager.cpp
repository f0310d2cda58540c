// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/catalogue/BannedPluginManager.h"

#include "kelaudiofilterhost/catalogue/IndexedRecords.h"
#include "kelaudiofilterhost/services/File.h"
#include "kelaudiofilterhost/services/PropList.h"
#include "kelaudiofilterhost/services/Trace.h"

#include <algorithm>
#include <string>

namespace kelaudiofilterhost {

namespace {

constexpr std::uint32_t kFileVersion = 1;
constexpr int kPluginListState = 1;
constexpr int kPluginState = 2;

UTF16String Attribute(const kelcore::xml::AttributeMap& attributes, const char* name)
{
    const auto it = attributes.find(name);
    return it == attributes.end() ? UTF16String() : kelcore::UTF8to16(it->second);
}

} // namespace

BannedPluginManager& BannedPluginManager::GetInstance()
{
    static BannedPluginManager instance;
    return instance;
}

BannedPluginManager::BannedPluginManager()
    : mDynamicFileName(u"DynamicAudioPlugInBlacklist.xml"), mPermanentFileName(u"PermanentAudioPlugInBlacklist.xml")
{
}

void BannedPluginManager::AddBannedPlugin(const PluginLocator& locator)
{
    mBanned.insert(locator);
}

void BannedPluginManager::RemoveBannedPlugin(const PluginLocator& locator)
{
    mBanned.erase(locator);
}

bool BannedPluginManager::IsPluginBanned(const PluginLocator& locator) const
{
    return mBanned.count(locator) != 0;
}

void BannedPluginManager::WriteBannedPlugins(kelcore::proplist::PropList& list) const
{
    list.SetValue("num_banned_plugin_files", static_cast<std::int32_t>(mBanned.size()));
    std::int32_t index = 0;
    for (const auto& locator : mBanned) {
        list.SetValue("banned_plugin_files" + std::to_string(index++), locator.ToString());
    }
}

void BannedPluginManager::ReadBannedPlugins(const kelcore::proplist::PropList& list)
{
    std::set<PluginLocator> banned;
    std::int32_t count = 0;
    list.GetValue("num_banned_plugin_files", count);
    // Every index below the count is read, missing ones skipped; the cost follows the entries
    // present, so a huge count from a damaged file costs no more than the file's size.
    for (const auto* entry : records::FindIndexedEntries(list, "banned_plugin_files", count)) {
        UTF16String text;
        records::GetValue(&entry->value, text);
        if (!text.empty()) {
            PluginLocator locator;
            locator.FromString(text);
            banned.insert(locator);
        }
    }
    mBanned.swap(banned);
}

bool BannedPluginManager::SaveConfiguration(kelcore::filesupport::File& file) const
{
    kelcore::proplist::PropList list;
    list.SetValue("version", kFileVersion);
    WriteBannedPlugins(list);
    if (!kelcore::proplist::utils::SavePropList(file, list)) {
        KAFH_TRACE("BannedPluginManager::SaveConfiguration", 5, "\"" << file.FullPath() << "\": not saved");
        return false;
    }
    return true;
}

void BannedPluginManager::LoadConfiguration(kelcore::filesupport::File& file)
{
    mReadIncompletely = false;
    if (!file.Exists()) {
        return;
    }
    mReadIncompletely = true;
    kelcore::proplist::PropList list;
    if (!kelcore::proplist::utils::LoadPropList(file.FullPath(), list, false)) {
        KAFH_TRACE("BannedPluginManager::LoadConfiguration", 5, "\"" << file.FullPath() << "\": not readable");
        return;
    }
    std::uint32_t version = 0;
    list.GetValue("version", version);
    if (version != kFileVersion) {
        KAFH_TRACE("BannedPluginManager::LoadConfiguration", 5,
                   "\"" << file.FullPath() << "\": version " << version << " ignored");
        return;
    }
    ReadBannedPlugins(list);
    std::int32_t count = 0;
    list.GetValue("num_banned_plugin_files", count);
    mReadIncompletely = records::HasIndexedEntriesFrom(list, "banned_plugin_files", count);
    if (mReadIncompletely) {
        KAFH_TRACE("BannedPluginManager::LoadConfiguration", 5,
                   "\"" << file.FullPath() << "\": holds entries past \"num_banned_plugin_files\" = " << count
                        << "; they are not read");
    }
}

bool BannedPluginManager::LoadStaticConfiguration(kelcore::filesupport::File& file)
{
    if (!file.Exists()) {
        return false;
    }
    std::vector<StaticEntry> entries;
    UnsupportedVSTParseHandler handler(entries);
    auto parser = kelcore::xml::GetParser(handler);
    if (parser->ParseFile(file.FullPath()) != 0) {
        KAFH_TRACE("BannedPluginManager::LoadStaticConfiguration", 5, "\"" << file.FullPath() << "\": malformed");
        return false;
    }
    mStaticList.swap(entries);
    return true;
}

bool BannedPluginManager::IsPluginBannedStatically(const UTF16String& fileName, const UTF16String& uniqueID,
                                                   const UTF16String& version) const
{
    for (const auto& entry : mStaticList) {
        if (kelcore::EqualIgnoringAsciiCase(entry.fileName, fileName) &&
            (entry.uniqueID.empty() || kelcore::EqualIgnoringAsciiCase(entry.uniqueID, uniqueID)) &&
            (entry.version.empty() || kelcore::EqualIgnoringAsciiCase(entry.version, version))) {
            return true;
        }
    }
    return false;
}

void UnsupportedVSTParseHandler::StartElement(const UTF8String& name, const kelcore::xml::AttributeMap& attributes)
{
    if (name == "pluginlist") {
        mStates.push_back(kPluginListState);
    } else if (name == "plugin") {
        mStates.push_back(kPluginState);
        BannedPluginManager::StaticEntry entry{Attribute(attributes, "filename"), Attribute(attributes, "uniqueid"),
                                               Attribute(attributes, "version")};
        if (!entry.fileName.empty()) {
            mList.push_back(std::move(entry));
        }
    }
}

void UnsupportedVSTParseHandler::EndElement(const UTF8String& /*name*/)
{
    if (!mStates.empty()) {
        mStates.pop_back();
    }
}

void UnsupportedVSTParseHandler::Characters(const UTF8String& /*text*/)
{
}

} // namespace kelaudiofilterhost
