// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/catalogue/PluginLocator.h"
#include "kelaudiofilterhost/framework/AudioFilter.h"
#include "kelaudiofilterhost/services/File.h"

#include <vector>

namespace kelaudiofilterhost::vst3 {

/// Where VST 3 modules are looked for: exactly the entries of VST3_PATH (colon-separated) when it is
/// set, otherwise ~/.vst3, /usr/lib/vst3 and /usr/local/lib/vst3. Folders need not exist; each is
/// listed once; entries that are not UTF-8 are skipped with a trace line.
std::vector<UTF16String> GetDefaultVST3Directories();

/// Candidate modules below the given folders, in folder order, each path once: bundle directories and
/// plain files whose names end in ".vst3" (A to Z folded). A bundle is one module and is not searched
/// further. Banned modules are skipped; links are followed, each folder searched once, and unreadable
/// folders skipped with a trace line.
std::vector<PluginLocator> CollectVST3PluginsIn(const std::vector<UTF16String>& folders);

/// The technology's collection function: the default VST 3 folders (the catalogue's directory list is
/// not used, so the argument is ignored).
std::vector<PluginLocator> CollectVST3Plugins(const kelcore::filesupport::Dir& ignored);

/// The shared library a module path names: for a bundle directory Contents/<arch>-linux/<Name>.so
/// inside it (<arch> of this process, <Name> the bundle's name without ".vst3"); a plain file is the
/// library itself. Empty, with a trace line, when the bundle lacks that folder or library.
UTF16String ResolveVST3ModuleLibrary(const UTF16String& modulePath);

/// The bundle folder of this process's architecture, such as "x86_64-linux".
UTF16String GetVST3ArchitectureFolder();

/// Registers the VST 3 technology with the catalogue and its creation function with the filter
/// factory. Runs when the library is loaded; later calls do nothing.
void RegisterVST3Technology();

/// The creation function: the filter for a catalogued VST 3 class, null when the catalogue does not
/// hold the ID or its module cannot be loaded.
boost::intrusive_ptr<AudioFilter> CreateVST3AudioFilter(const UTF16String& componentID);

} // namespace kelaudiofilterhost::vst3
