// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/catalogue/ModuleScanContextBase.h"

namespace kelaudiofilterhost::vst3 {

/// Scans VST 3 modules one audio class per step (see ModuleScanContextBase); modules stay loaded.
class VST3ScanContext : public ModuleScanContextBase {
public:
    VST3ScanContext();

protected:
    boost::intrusive_ptr<PluginModule> LoadModule(const UTF16String& path) override;
    boost::intrusive_ptr<AudioFilterDescriptor> DescribeFilter(PluginModule& module, const UTF16String& componentID,
                                                               const PluginLocator& locator,
                                                               bool applicationPlugin) override;
};

} // namespace kelaudiofilterhost::vst3
