// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/catalogue/AudioFilterDescriptor.h"
#include "kelaudiofilterhost/catalogue/PluginModuleInfo.h"
#include "kelaudiofilterhost/catalogue/PluginScanContext.h"
#include "kelaudiofilterhost/vst3/VST3PluginModule.h"

#include <boost/intrusive_ptr.hpp>

#include <vector>

namespace kelaudiofilterhost::vst3 {

/// Scans VST 3 modules one class per step: the first step of a module loads and describes it, every
/// audio class of it is instantiated once for its descriptor, and the module is recorded when its last
/// class is done. A module that cannot be loaded or described takes one step and records nothing.
class VST3ScanContext : public PluginScanContext {
public:
    VST3ScanContext();
    ~VST3ScanContext() override;

    void BeginScan(const std::vector<PluginLocator>& locators) override;
    bool GetCurrentPlugin(PluginLocator& locator, UTF16String& progressSuffix, std::uint32_t& index) const override;
    bool ScanNextPlugin() override;

private:
    void ReleaseModule();

    std::vector<PluginLocator> mLocators;
    std::uint32_t mLocatorIndex = 0;
    boost::intrusive_ptr<VST3PluginModule> mModule;
    boost::intrusive_ptr<PluginModuleInfo> mModuleInfo;
    std::vector<UTF16String> mComponentIDs;
    std::vector<boost::intrusive_ptr<AudioFilterDescriptor>> mDescriptors;
    std::uint32_t mComponentIndex = 0;
};

} // namespace kelaudiofilterhost::vst3
