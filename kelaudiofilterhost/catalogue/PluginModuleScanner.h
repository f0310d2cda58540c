// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/catalogue/PluginLocator.h"
#include "kelaudiofilterhost/catalogue/PluginScanContext.h"
#include "kelaudiofilterhost/catalogue/PluginTechnology.h"
#include "kelaudiofilterhost/services/RefCountedObject.h"

#include <boost/intrusive_ptr.hpp>

#include <cstdint>
#include <vector>

namespace kelaudiofilterhost {

/// Scans a list of modules one small step per ContinueScan call, technology by technology in ascending
/// type, so the application can show progress and stop between steps. Modules finished so far stay
/// recorded in the catalogue. Never bans a module; runs on the caller's thread.
class PluginModuleScanner : public kelcore::utility::RefCountedObject {
public:
    /// Locators of a type without a registered technology are neither scanned nor counted.
    explicit PluginModuleScanner(const std::vector<PluginLocator>& locators);
    ~PluginModuleScanner() override;

    void BeginScan();
    /// One step; true while work remains.
    bool ContinueScan();
    /// The module of the coming step, its progress suffix, its number (from 1) and the total;
    /// false (outputs untouched) once the scan is finished.
    bool GetCurrentProgressInfo(PluginLocator& module, UTF16String& suffix, int& current, int& total) const;
    /// Re-enables the modules that were enabled before the scan.
    void EndScan();

private:
    struct Entry {
        boost::intrusive_ptr<PluginTechnology> technology;
        boost::intrusive_ptr<PluginScanContext> context;
        std::int32_t count = 0;
    };

    std::uint32_t mContextIndex = 0;
    std::int32_t mDone = 0;
    std::int32_t mTotal = 0;
    std::vector<PluginLocator> mEnabledBefore;
    std::vector<Entry> mEntries;
};

} // namespace kelaudiofilterhost
