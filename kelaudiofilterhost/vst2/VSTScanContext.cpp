// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/vst2/VSTScanContext.h"

#include "kelaudiofilterhost/framework/AudioFilter.h"
#include "kelaudiofilterhost/vst2/VSTPluginModule.h"

namespace kelaudiofilterhost::vst {

VSTScanContext::VSTScanContext() : ModuleScanContextBase("VSTScanContext::ScanNextPlugin", u"Plug-Ins/VST", true) {}

boost::intrusive_ptr<PluginModule> VSTScanContext::LoadModule(const UTF16String& path)
{
    return GetOrLoadModule(path);
}

boost::intrusive_ptr<AudioFilterDescriptor> VSTScanContext::DescribeFilter(PluginModule& module,
                                                                           const UTF16String& componentID,
                                                                           const PluginLocator& locator,
                                                                           bool applicationPlugin)
{
    auto filter = module.CreateAudioFilter(componentID);
    return filter ? filter->CreateFilterDescriptor(locator, applicationPlugin) : nullptr;
}

} // namespace kelaudiofilterhost::vst
