// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/vst3/VST3ScanContext.h"

#include "kelaudiofilterhost/vst3/VST3PluginModule.h"

namespace kelaudiofilterhost::vst3 {

// The module cache keeps every module loaded: a later filter creation must find it ready.
VST3ScanContext::VST3ScanContext() : ModuleScanContextBase("VST3ScanContext::ScanNextPlugin", u"Plug-Ins/VST3", false)
{
}

boost::intrusive_ptr<PluginModule> VST3ScanContext::LoadModule(const UTF16String& path)
{
    return GetOrLoadModule(path);
}

boost::intrusive_ptr<AudioFilterDescriptor> VST3ScanContext::DescribeFilter(PluginModule& module,
                                                                            const UTF16String& componentID,
                                                                            const PluginLocator& locator,
                                                                            bool applicationPlugin)
{
    // LoadModule hands out VST 3 modules only.
    return static_cast<VST3PluginModule&>(module).DescribeAudioFilter(componentID, locator, applicationPlugin);
}

} // namespace kelaudiofilterhost::vst3
