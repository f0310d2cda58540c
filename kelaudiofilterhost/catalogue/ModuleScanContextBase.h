// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/catalogue/AudioFilterDescriptor.h"
#include "kelaudiofilterhost/catalogue/PluginModule.h"
#include "kelaudiofilterhost/catalogue/PluginModuleInfo.h"
#include "kelaudiofilterhost/catalogue/PluginScanContext.h"

#include <boost/intrusive_ptr.hpp>

#include <vector>

namespace kelaudiofilterhost {

/// Scans modules one filter per step: the first step of a module loads and describes it, every filter
/// of it is instantiated once for its descriptor, and the module is recorded when its last filter is
/// done. A module that cannot be loaded or described takes one step and records nothing. Back ends
/// supply how a module is loaded and how one of its filters is described.
class ModuleScanContextBase : public PluginScanContext {
public:
    ~ModuleScanContextBase() override;

    void BeginScan(const std::vector<PluginLocator>& locators) override;
    bool GetCurrentPlugin(PluginLocator& locator, UTF16String& progressSuffix, std::uint32_t& index) const override;
    bool ScanNextPlugin() override;

protected:
    /// traceCategory names the trace lines of modules that cannot be loaded; modules in the folder
    /// applicationFolder under the application's folder are catalogued as the application's plug-ins;
    /// with unloadModules a module is unloaded once its filters are done.
    ModuleScanContextBase(const char* traceCategory, UTF16String applicationFolder, bool unloadModules);

    /// The module at path, loaded; null when it cannot be loaded.
    virtual boost::intrusive_ptr<PluginModule> LoadModule(const UTF16String& path) = 0;
    /// The descriptor of the module's filter componentID; null when it cannot be made.
    virtual boost::intrusive_ptr<AudioFilterDescriptor> DescribeFilter(PluginModule& module,
                                                                       const UTF16String& componentID,
                                                                       const PluginLocator& locator,
                                                                       bool applicationPlugin) = 0;

private:
    void ReleaseModule();
    bool IsInApplicationFolder(const UTF16String& modulePath) const;

    const char* mTraceCategory;
    UTF16String mApplicationFolder;
    bool mUnloadModules;
    std::vector<PluginLocator> mLocators;
    std::uint32_t mLocatorIndex = 0;
    boost::intrusive_ptr<PluginModule> mModule;
    boost::intrusive_ptr<PluginModuleInfo> mModuleInfo;
    std::vector<UTF16String> mComponentIDs;
    std::vector<boost::intrusive_ptr<AudioFilterDescriptor>> mDescriptors;
    std::uint32_t mComponentIndex = 0;
};

} // namespace kelaudiofilterhost
