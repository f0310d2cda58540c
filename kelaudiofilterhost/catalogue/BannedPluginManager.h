// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/catalogue/PluginLocator.h"
#include "kelaudiofilterhost/services/XmlParser.h"

#include <set>
#include <vector>

namespace kelcore::filesupport {
class File;
}
namespace kelcore::proplist {
class PropList;
}

namespace kelaudiofilterhost {

/// Keeps plug-ins out of the catalogue: the banned set (modules never collected for scanning, kept in
/// the dynamic list file) and the static list (file name, unique ID, version entries from an XML file
/// of its own format). The library only reads both; the application fills the set and saves it.
/// Not locked: do not change the set while a collection runs.
class BannedPluginManager {
public:
    /// One static list entry; an empty unique ID or version matches any.
    struct StaticEntry {
        UTF16String fileName;
        UTF16String uniqueID;
        UTF16String version;
    };
    using const_iterator = std::set<PluginLocator>::const_iterator;

    static BannedPluginManager& GetInstance();

    BannedPluginManager(const BannedPluginManager&) = delete;
    BannedPluginManager& operator=(const BannedPluginManager&) = delete;

    void SetSettingsFileName(const UTF16String& name) { mDynamicFileName = name; }
    UTF16String GetSettingsFileName() const { return mDynamicFileName; }
    void SetPermanentBannedSettingsFileName(const UTF16String& name) { mPermanentFileName = name; }
    UTF16String GetPermanentBannedSettingsFileName() const { return mPermanentFileName; }

    void AddBannedPlugin(const PluginLocator& locator);
    void RemoveBannedPlugin(const PluginLocator& locator);
    bool IsPluginBanned(const PluginLocator& locator) const;
    const_iterator BannedBegin() const { return mBanned.begin(); }
    const_iterator BannedEnd() const { return mBanned.end(); }

    /// Saves the banned set atomically; false when the file could not be written (the old one stays).
    bool SaveConfiguration(kelcore::filesupport::File& file) const;
    /// Replaces the set by the file's; a missing, unreadable or other-version file changes nothing.
    void LoadConfiguration(kelcore::filesupport::File& file);
    /// Whether the last LoadConfiguration met a file it did not read whole: entries past the stored
    /// count (a negative count leaves them all out), or a file ignored as a whole (unreadable,
    /// malformed or of another version). The next save drops what was not read, so a caller may
    /// keep a copy of the file first.
    bool WasReadIncompletely() const { return mReadIncompletely; }
    /// Replaces the static list; false (list unchanged) for a missing or malformed file.
    bool LoadStaticConfiguration(kelcore::filesupport::File& file);
    /// Whether a static entry matches; names compare with only A to Z folded.
    bool IsPluginBannedStatically(const UTF16String& fileName, const UTF16String& uniqueID,
                                  const UTF16String& version) const;

private:
    BannedPluginManager();

    void WriteBannedPlugins(kelcore::proplist::PropList& list) const;
    void ReadBannedPlugins(const kelcore::proplist::PropList& list);

    std::set<PluginLocator> mBanned;
    std::vector<StaticEntry> mStaticList;
    UTF16String mDynamicFileName;
    UTF16String mPermanentFileName;
    bool mReadIncompletely = false;
};

/// Reads the static list format: "plugin" elements with "filename", "uniqueid" and "version"
/// attributes, wherever they stand; everything else is ignored.
class UnsupportedVSTParseHandler : public kelcore::xml::AbstractParseHandler {
public:
    explicit UnsupportedVSTParseHandler(std::vector<BannedPluginManager::StaticEntry>& list) : mList(list) {}
    void StartElement(const UTF8String& name, const kelcore::xml::AttributeMap& attributes) override;
    void EndElement(const UTF8String& name) override;
    void Characters(const UTF8String& text) override;

private:
    std::vector<BannedPluginManager::StaticEntry>& mList;
    std::vector<int> mStates;
};

} // namespace kelaudiofilterhost
