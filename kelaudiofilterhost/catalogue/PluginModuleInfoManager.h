// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/catalogue/PluginLocator.h"
#include "kelaudiofilterhost/catalogue/PluginModuleInfo.h"
#include "kelaudiofilterhost/catalogue/PluginTechnology.h"
#include "kelaudiofilterhost/services/PropList.h"

#include <boost/intrusive_ptr.hpp>
#include <boost/signals2/signal.hpp>

#include <map>
#include <vector>

namespace kelcore::filesupport {
class File;
}

namespace kelaudiofilterhost {

/// The module catalogue: registered technologies, one info per known module, and the configuration
/// file that keeps them (with the technologies' directories and the plug-in descriptors) between runs.
/// Used from the thread that configures and scans; not locked. Signals fire on the calling thread.
class PluginModuleInfoManager {
public:
    using TechnologyPtr = boost::intrusive_ptr<PluginTechnology>;
    using InfoPtr = boost::intrusive_ptr<PluginModuleInfo>;
    using ModuleMap = std::map<PluginLocator, InfoPtr>;
    using ModuleList = std::vector<InfoPtr>;
    using const_iterator = ModuleList::const_iterator;
    using PluginInfosChangedSignal = boost::signals2::signal<void()>;

    static PluginModuleInfoManager& GetInstance();

    PluginModuleInfoManager(const PluginModuleInfoManager&) = delete;
    PluginModuleInfoManager& operator=(const PluginModuleInfoManager&) = delete;

    /// The stored name only ("AudioPluginManagerSettings.xml" until set); the application makes the File.
    void SetSettingsFileName(const UTF16String& name) { mSettingsFileName = name; }
    UTF16String GetSettingsFileName() const { return mSettingsFileName; }
    /// Replaces the application's own descriptor records by those of the XML text; false (and an
    /// empty configuration) when the text is malformed.
    bool SetPrivatePluginConfiguration(const UTF8String& xml);

    /// Registers a technology under its type; a type already registered keeps its first technology.
    void AddPluginTechnology(TechnologyPtr technology);
    TechnologyPtr GetPluginTechnology(TechnologyType type) const;
    /// In ascending type.
    std::vector<TechnologyPtr> GetPluginTechnologies() const;
    void ResetToDefaultFolders();

    /// Adds or replaces the info of its module (a replaced one moves to the end); always signals.
    void AddPluginModuleInfo(InfoPtr info);
    InfoPtr FindPluginInfo(const PluginLocator& locator) const;
    /// Module infos in the order they were added.
    const_iterator PluginInfoBegin() const { return mModuleList.begin(); }
    const_iterator PluginInfoEnd() const { return mModuleList.end(); }

    /// The module's enabled flag; for a module without info, the negation of unknownFlag
    /// (so with false an unknown module counts as enabled).
    bool IsPluginEnabled(const PluginLocator& locator, bool unknownFlag) const;
    /// Does nothing for a module without info; no signal.
    void SetPluginEnabled(const PluginLocator& locator, bool enabled);
    UTF16String GetDisplayStringForLocator(const PluginLocator& locator) const;
    /// Locators of all (or of the enabled) module infos, in locator order.
    std::vector<PluginLocator> GetPluginLocators() const;
    std::vector<PluginLocator> GetEnabledPlugins() const;

    /// Every technology's candidates, in ascending type. With onlyNew, only the modules without info,
    /// and removed receives the catalogued modules no longer found; otherwise removed is emptied.
    std::vector<PluginLocator> CollectPotentialPlugins(bool onlyNew, std::vector<PluginLocator>& removed) const;
    /// Drops the infos and descriptors of the modules; signals once when any was known.
    void RemovePluginLocators(const std::vector<PluginLocator>& locators);
    /// Forgets every module and plug-in descriptor; unless skipPrivate, re-reads the private
    /// configuration's descriptors. No signal.
    void ClearAll(bool skipPrivate);

    /// Saves atomically (the old file stays whole when any step fails); false when saving failed.
    bool SaveConfiguration(kelcore::filesupport::File& file, bool withDirectories) const;
    /// The configuration, directories included, as XML text; empty when it cannot be written.
    UTF8String GetConfigurationAsXML() const;
    /// Reads a version-2 file and returns true. A missing, unreadable or other-version file is
    /// ignored as a whole (false): the catalogue keeps only the private descriptors and, when it knows
    /// no module, the technologies get their default directories. Always signals.
    bool LoadConfiguration(kelcore::filesupport::File& file);
    /// Whether the last LoadConfiguration met a file it did not read whole: records past a stored
    /// count (a negative count leaves them all out), or a file ignored as a whole (unreadable,
    /// malformed or of another version). The next save drops what was not read, so a caller may
    /// keep a copy of the file first.
    bool WasReadIncompletely() const { return mReadIncompletely; }
    /// Merges the module infos and descriptors of the XML text (version and directories are not
    /// looked at). False when the text is malformed; then nothing is merged.
    bool AddConfiguration(const UTF8String& xml, bool notify);

    PluginInfosChangedSignal& GetPluginInfosChangedSignal() { return mPluginInfosChangedSignal; }

private:
    PluginModuleInfoManager();

    void BuildConfigurationPropList(kelcore::proplist::PropList& list, bool withDirectories) const;
    void WritePluginInfos(kelcore::proplist::PropList& list) const;
    void WriteDirectories(kelcore::proplist::PropList& list) const;
    void ReadPluginInfos(const kelcore::proplist::PropList& list, ModuleMap& map, ModuleList& moduleList,
                         bool add) const;
    void ReadDirectories(const kelcore::proplist::PropList& list);

    std::map<TechnologyType, TechnologyPtr> mTechnologies;
    ModuleMap mModuleMap;
    ModuleList mModuleList;
    PluginInfosChangedSignal mPluginInfosChangedSignal;
    kelcore::proplist::PropList mPrivatePluginConfiguration;
    UTF16String mSettingsFileName;
    bool mReadIncompletely = false;
};

} // namespace kelaudiofilterhost
