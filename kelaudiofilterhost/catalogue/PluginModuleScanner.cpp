// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/catalogue/PluginModuleScanner.h"

#include "kelaudiofilterhost/catalogue/PluginModuleInfoManager.h"
#include "kelaudiofilterhost/services/Trace.h"

namespace kelaudiofilterhost {

PluginModuleScanner::PluginModuleScanner(const std::vector<PluginLocator>& locators)
{
    auto& catalogue = PluginModuleInfoManager::GetInstance();
    mEnabledBefore = catalogue.GetEnabledPlugins();
    for (const auto& technology : catalogue.GetPluginTechnologies()) {
        std::vector<PluginLocator> picked;
        for (const auto& locator : locators) {
            if (locator.GetTechnologyType() == technology->GetType()) {
                picked.push_back(locator);
            }
        }
        if (picked.empty()) {
            continue;
        }
        auto context = technology->CreateScanContext();
        if (!context) {
            KAFH_TRACE("PluginModuleScanner", 5,
                       "technology " << static_cast<int>(technology->GetType()) << " made no scan context; "
                                     << picked.size() << " modules not scanned");
            continue;
        }
        context->BeginScan(picked);
        const auto count = static_cast<std::int32_t>(picked.size());
        mTotal += count;
        mEntries.push_back({technology, context, count});
    }
}

PluginModuleScanner::~PluginModuleScanner() = default;

void PluginModuleScanner::BeginScan()
{
    mContextIndex = 0;
}

bool PluginModuleScanner::ContinueScan()
{
    while (mContextIndex < mEntries.size()) {
        if (mEntries[mContextIndex].context->ScanNextPlugin()) {
            break;
        }
        mDone += mEntries[mContextIndex].count;
        ++mContextIndex;
    }
    return mContextIndex < mEntries.size();
}

bool PluginModuleScanner::GetCurrentProgressInfo(PluginLocator& module, UTF16String& suffix, int& current,
                                                 int& total) const
{
    if (mContextIndex >= mEntries.size()) {
        return false;
    }
    std::uint32_t index = 0;
    const bool remaining = mEntries[mContextIndex].context->GetCurrentPlugin(module, suffix, index);
    current = mDone + static_cast<int>(index) + 1;
    total = mTotal;
    return remaining;
}

void PluginModuleScanner::EndScan()
{
    auto& catalogue = PluginModuleInfoManager::GetInstance();
    for (const auto& locator : mEnabledBefore) {
        catalogue.SetPluginEnabled(locator, true);
    }
}

} // namespace kelaudiofilterhost
