// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/catalogue/PluginModuleInfo.h"
#include "kelaudiofilterhost/services/Platform.h"
#include "kelaudiofilterhost/services/RefCountedObject.h"

#include <boost/intrusive_ptr.hpp>

#include <cstdint>
#include <vector>

namespace kelaudiofilterhost {

class AudioFilter;

/// One plug-in library loaded into the process; each technology derives its own module class.
/// Held through boost::intrusive_ptr; used by one thread at a time.
class PluginModule : public kelcore::utility::RefCountedObject {
public:
    /// Nothing is loaded yet. With freeOnUnload false the library stays in the process once loaded.
    PluginModule(const UTF16String& path, bool freeOnUnload);
    /// Releases the library when it is loaded and freeOnUnload is set.
    ~PluginModule() override;

    /// Loads the library at the path (RTLD_NOW | RTLD_LOCAL); true at once when already loaded.
    /// False, traced with the loader's text, when it cannot be loaded.
    virtual bool Load();
    /// Releases the library when loaded and freeOnUnload is set; otherwise nothing.
    virtual void Unload();
    /// One filter instance for the component identifier; empty when the module cannot make it.
    virtual boost::intrusive_ptr<AudioFilter> CreateAudioFilter(UTF16String componentID) = 0;
    /// The module's info record; fills componentIDs with the identifiers of the filters it offers.
    virtual boost::intrusive_ptr<PluginModuleInfo> GetPluginInfo(std::vector<UTF16String>& componentIDs) = 0;

    UTF16String GetPath() const { return mPath; }
    /// Null while not loaded.
    kelcore::ModuleHandle GetOSModule() const { return mOSModule; }

    /// Process-wide texts handed to plug-ins that ask; set by the application before creating filters.
    static void SetLocaleIdentifier(const UTF16String& locale);
    static UTF16String GetLocaleIdentifier();
    /// The locale as the number plug-ins are told: "de_DE" 1, "fr_FR" 2, "ja_JP" 3, "es_ES" 4,
    /// "it_IT" 5, "ko_KR" 6, any other 0.
    static std::int32_t GetLocaleCode();
    static void SetThemeXML(const UTF8String& themeXML);
    static const UTF8String& GetThemeXML();

protected:
    /// Loads libraryPath as this module's library, for modules whose library is not the path itself
    /// (bundles). True when loaded (also when it already was).
    bool LoadLibraryFile(const UTF16String& libraryPath);

private:
    void ReleaseLibrary();

    UTF16String mPath;
    kelcore::ModuleHandle mOSModule = nullptr;
    bool mFreeOnUnload;

    static UTF16String sLocale;
    static UTF8String sThemeXML;
};

} // namespace kelaudiofilterhost
