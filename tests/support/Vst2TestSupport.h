// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/services/Strings.h"
#include "kelaudiofilterhost/vst2/VSTAudioFilter.h"
#include "kelaudiofilterhost/vst2/VSTPluginModule.h"

#include "testplugins/vst2/TestPluginIds.h"

#include <boost/intrusive_ptr.hpp>

#include <string>

namespace kelaudiofilterhost::testing {

/// Full path of one of our VST 2 test plug-ins ("KafhGain").
inline kelcore::UTF16String TestPlugin(const std::string& title)
{
    return kelcore::UTF8to16(std::string(KAFH_TESTPLUGINS_VST2_DIR) + "/" + title + ".so");
}

inline kelcore::UTF16String TestPluginsDir()
{
    return kelcore::UTF8to16(KAFH_TESTPLUGINS_VST2_DIR);
}

/// A filter made by the module for the effect with the unique ID, without the catalogue.
inline boost::intrusive_ptr<vst::VSTAudioFilter> OpenTestEffect(const std::string& title, std::int32_t uniqueID)
{
    const auto path = TestPlugin(title);
    auto module = vst::GetOrLoadModule(path);
    if (!module) {
        return {};
    }
    auto filter = module->CreateAudioFilter(vst::MakeComponentID(static_cast<std::uint32_t>(uniqueID), path));
    return boost::static_pointer_cast<vst::VSTAudioFilter>(filter);
}

} // namespace kelaudiofilterhost::testing
