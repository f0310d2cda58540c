// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/catalogue/ModuleScanContextBase.h"

namespace kelaudiofilterhost::vst {

/// Scans VST 2 modules one effect per step (see ModuleScanContextBase); each module is unloaded once
/// its last effect is done.
class VSTScanContext : public ModuleScanContextBase {
public:
    VSTScanContext();

protected:
    boost::intrusive_ptr<PluginModule> LoadModule(const UTF16String& path) override;
    boost::intrusive_ptr<AudioFilterDescriptor> DescribeFilter(PluginModule& module, const UTF16String& componentID,
                                                               const PluginLocator& locator,
                                                               bool applicationPlugin) override;
};

} // namespace kelaudiofilterhost::vst
