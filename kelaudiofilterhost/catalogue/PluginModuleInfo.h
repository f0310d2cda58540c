// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/catalogue/PluginLocator.h"
#include "kelaudiofilterhost/services/RefCountedObject.h"

#include <cstdint>

namespace kelcore::proplist {
class PropList;
}

namespace kelaudiofilterhost {

/// The catalogue record of one scanned module. Held through boost::intrusive_ptr.
class PluginModuleInfo : public kelcore::utility::RefCountedObject {
public:
    PluginModuleInfo(const PluginLocator& locator, const UTF16String& name, const UTF16String& vendor,
                     std::uint32_t version, TechnologyType type, bool enabled, bool isShell);
    /// Defaults (locator (0, empty), disabled, type 0), then Read.
    explicit PluginModuleInfo(const kelcore::proplist::PropList& record);
    ~PluginModuleInfo() override;

    PluginLocator GetLocator() const { return mLocator; }
    UTF16String GetName() const { return mName; }
    UTF16String GetVendor() const { return mVendor; }
    std::uint32_t GetVersion() const { return mVersion; }
    TechnologyType GetType() const { return mType; }
    bool IsEnabled() const { return mEnabled; }
    void SetEnabled(bool enabled) { mEnabled = enabled; }
    bool IsShell() const { return mIsShell; }

    /// Keys missing from the record keep the current values, except "locator" and "type", which
    /// fall back to (0, empty path) and 0. Values of the wrong type count as missing.
    void Read(const kelcore::proplist::PropList& record);
    void Write(kelcore::proplist::PropList& record) const;

private:
    PluginLocator mLocator;
    UTF16String mName;
    UTF16String mVendor;
    std::uint32_t mVersion = 0;
    TechnologyType mType = NoTechnology;
    bool mEnabled = false;
    bool mIsShell = false;
};

} // namespace kelaudiofilterhost
