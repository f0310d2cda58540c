// SPDX-License-Identifier: GPL-3.0-or-later
// Scans in the test's own process, and what the catalogue then holds for a module.
#pragma once

#include "kelaudiofilterhost/catalogue/AudioFilterDescriptorManager.h"
#include "kelaudiofilterhost/catalogue/PluginModuleScanner.h"
#include "kelaudiofilterhost/services/Strings.h"

#include <string>
#include <vector>

namespace kelaudiofilterhost::testing {

/// Scans the modules one step at a time; the progress suffixes shown between the steps.
inline std::vector<std::string> ScanInProcess(const std::vector<PluginLocator>& modules)
{
    std::vector<std::string> suffixes;
    boost::intrusive_ptr<PluginModuleScanner> scanner = new PluginModuleScanner(modules);
    scanner->BeginScan();
    do {
        PluginLocator module;
        UTF16String suffix;
        int current = 0, total = 0;
        if (scanner->GetCurrentProgressInfo(module, suffix, current, total) && !suffix.empty()) {
            suffixes.push_back(kelcore::UTF16to8(suffix));
        }
    } while (scanner->ContinueScan());
    scanner->EndScan();
    return suffixes;
}

/// The catalogued filters of the module.
inline std::vector<AudioFilterDescriptorManager::DescriptorPtr> DescriptorsOf(const PluginLocator& locator)
{
    std::vector<AudioFilterDescriptorManager::DescriptorPtr> found;
    const auto& descriptors = AudioFilterDescriptorManager::GetInstance();
    for (auto it = descriptors.InfoBegin(); it != descriptors.InfoEnd(); ++it) {
        if ((*it)->GetLocator() == locator) {
            found.push_back(*it);
        }
    }
    return found;
}

} // namespace kelaudiofilterhost::testing
