// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/catalogue/PluginModuleInfo.h"

#include "kelaudiofilterhost/catalogue/IndexedRecords.h"
#include "kelaudiofilterhost/services/PropList.h"

namespace kelaudiofilterhost {

PluginModuleInfo::PluginModuleInfo(const PluginLocator& locator, const UTF16String& name, const UTF16String& vendor,
                                   std::uint32_t version, TechnologyType type, bool enabled, bool isShell)
    : mLocator(locator), mName(name), mVendor(vendor), mVersion(version), mType(type), mEnabled(enabled),
      mIsShell(isShell)
{
}

PluginModuleInfo::PluginModuleInfo(const kelcore::proplist::PropList& record)
{
    Read(record);
}

PluginModuleInfo::~PluginModuleInfo() = default;

void PluginModuleInfo::Read(const kelcore::proplist::PropList& record)
{
    enum { kEnabled, kIsShell, kLocator, kName, kType, kVendor, kVersion };
    const records::RecordValues<7> values(record, {"enabled", "isShell", "locator", "name", "type", "vendor", "version"});
    UTF16String locatorText;
    values.Get(kLocator, locatorText);
    mLocator.FromString(locatorText);
    values.Get(kName, mName);
    values.Get(kVendor, mVendor);
    values.Get(kVersion, mVersion);
    std::int32_t type = 0;
    values.Get(kType, type);
    mType = static_cast<TechnologyType>(type);
    values.Get(kEnabled, mEnabled);
    values.Get(kIsShell, mIsShell);
}

void PluginModuleInfo::Write(kelcore::proplist::PropList& record) const
{
    records::RecordWriter writer(record, 7);
    writer.Set("enabled", mEnabled);
    writer.Set("isShell", mIsShell);
    writer.Set("locator", mLocator.ToString());
    writer.Set("name", mName);
    writer.Set("type", static_cast<std::int32_t>(mType));
    writer.Set("vendor", mVendor);
    writer.Set("version", mVersion);
}

} // namespace kelaudiofilterhost
