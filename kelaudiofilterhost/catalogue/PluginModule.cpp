// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/catalogue/PluginModule.h"

#include "kelaudiofilterhost/services/Trace.h"

namespace kelaudiofilterhost {

UTF16String PluginModule::sLocale;
UTF8String PluginModule::sThemeXML;

PluginModule::PluginModule(const UTF16String& path, bool freeOnUnload) : mPath(path), mFreeOnUnload(freeOnUnload)
{
}

PluginModule::~PluginModule()
{
    // Not the virtual Unload(): the derived part is already destroyed here.
    ReleaseLibrary();
}

bool PluginModule::Load()
{
    return LoadLibraryFile(mPath);
}

bool PluginModule::LoadLibraryFile(const UTF16String& libraryPath)
{
    if (mOSModule) {
        return true;
    }
    UTF8String error;
    mOSModule = kelcore::platform::LoadModule(libraryPath, error);
    if (!mOSModule) {
        KAFH_TRACE("PluginModule::Load", 5, "\"" << libraryPath << "\": " << error);
    }
    return mOSModule != nullptr;
}

void PluginModule::Unload()
{
    ReleaseLibrary();
}

void PluginModule::ReleaseLibrary()
{
    if (mFreeOnUnload && mOSModule) {
        UTF8String error;
        if (!kelcore::platform::UnloadModule(mOSModule, error)) {
            KAFH_TRACE("PluginModule::Unload", 5, "\"" << mPath << "\": " << error);
        }
        mOSModule = nullptr;
    }
}

void PluginModule::SetLocaleIdentifier(const UTF16String& locale)
{
    sLocale = locale;
}

UTF16String PluginModule::GetLocaleIdentifier()
{
    return sLocale;
}

std::int32_t PluginModule::GetLocaleCode()
{
    static const std::pair<const char16_t*, std::int32_t> kCodes[] = {
        {u"de_DE", 1}, {u"fr_FR", 2}, {u"ja_JP", 3}, {u"es_ES", 4}, {u"it_IT", 5}, {u"ko_KR", 6}};
    const UTF16String locale = GetLocaleIdentifier();
    for (const auto& [identifier, code] : kCodes) {
        if (locale == identifier) {
            return code;
        }
    }
    return 0;
}

void PluginModule::SetThemeXML(const UTF8String& themeXML)
{
    sThemeXML = themeXML;
}

const UTF8String& PluginModule::GetThemeXML()
{
    return sThemeXML;
}

} // namespace kelaudiofilterhost
