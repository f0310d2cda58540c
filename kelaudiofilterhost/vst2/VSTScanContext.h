// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/catalogue/AudioFilterDescriptor.h"
#include "kelaudiofilterhost/catalogue/PluginModuleInfo.h"
#include "kelaudiofilterhost/catalogue/PluginScanContext.h"
#include "kelaudiofilterhost/vst2/VSTPluginModule.h"

#include <boost/intrusive_ptr.hpp>

#include <vector>

namespace kelaudiofilterhost::vst {

/// Scans VST 2 modules one effect per step: the first step of a module loads and describes it, every
/// effect of it is instantiated once for its descriptor, and the module is recorded when its last
/// effect is done. A module that cannot be loaded or described takes one step and records nothing.
class VSTScanContext : public PluginScanContext {
public:
    VSTScanContext();
    ~VSTScanContext() override;

    void BeginScan(const std::vector<PluginLocator>& locators) override;
    bool GetCurrentPlugin(PluginLocator& locator, UTF16String& progressSuffix, std::uint32_t& index) const override;
    bool ScanNextPlugin() override;

private:
    void ReleaseModule();

    std::vector<PluginLocator> mLocators;
    std::uint32_t mLocatorIndex = 0;
    boost::intrusive_ptr<VSTPluginModule> mModule;
    boost::intrusive_ptr<PluginModuleInfo> mModuleInfo;
    std::vector<UTF16String> mComponentIDs;
    std::vector<boost::intrusive_ptr<AudioFilterDescriptor>> mDescriptors;
    std::uint32_t mComponentIndex = 0;
};

} // namespace kelaudiofilterhost::vst
