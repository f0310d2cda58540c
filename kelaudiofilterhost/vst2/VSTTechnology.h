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
/// A VST 2 instrument from the module record the catalogue keeps for it (instruments have no filter
/// records): the module's effect for unique ID 0, else the effect of that ID in a shell. Its
/// component identifier has an effect's form, "2:UNIQUEID NAME". Null when the module cannot be
/// loaded or the effect cannot be opened.
boost::intrusive_ptr<AudioFilter> CreateVSTInstrument(const UTF16String& modulePath, std::uint32_t uniqueID = 0);

} // namespace kelaudiofilterhost::vst
