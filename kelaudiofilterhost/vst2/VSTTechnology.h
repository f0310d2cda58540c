// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/catalogue/PluginLocator.h"
#include "kelaudiofilterhost/framework/AudioFilter.h"
#include "kelaudiofilterhost/services/File.h"

#include <vector>

namespace kelaudiofilterhost::vst {

/// Registers the VST 2 creation function and technology; runs when the library is loaded and may be
/// called again at no cost.
void RegisterVSTTechnology();

/// Existing folders of VST_PATH, then the existing system folders, then ~/.vst (not tested).
std::vector<UTF16String> GetDefaultVSTDirectories();
/// Every ".so" file below the directory (A to Z folded), banned modules skipped.
std::vector<PluginLocator> CollectVSTPlugins(const kelcore::filesupport::Dir& directory);
/// The factory's creation function for VST 2 component identifiers.
boost::intrusive_ptr<AudioFilter> CreateVSTAudioFilter(const UTF16String& componentID);

} // namespace kelaudiofilterhost::vst
