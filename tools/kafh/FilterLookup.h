// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/catalogue/AudioFilterDescriptor.h"
#include "kelaudiofilterhost/catalogue/PluginModuleInfo.h"
#include "kelaudiofilterhost/framework/AudioFilter.h"

#include <boost/intrusive_ptr.hpp>

#include <string>
#include <vector>

namespace kafh {

using DescriptorPtr = boost::intrusive_ptr<kelaudiofilterhost::AudioFilterDescriptor>;
using FilterPtr = boost::intrusive_ptr<kelaudiofilterhost::AudioFilter>;

/// "internal", "vst2", "vst3"; "none" for anything else.
std::string TechnologyName(kelaudiofilterhost::TechnologyType type);

/// The descriptor a user's filter ID names: the component identifier itself, the identifier
/// without its technology prefix, a filter name that only one filter has, or the name of a module
/// with one filter (letter case ignored in names).
/// Null with a message (unknown, or which filters share the name) otherwise.
DescriptorPtr FindDescriptor(const std::string& id, std::string& error);

/// Whether the filter may be created: its descriptor and, for plug-ins, its module are enabled.
bool IsDescriptorEnabled(const kelaudiofilterhost::AudioFilterDescriptor& descriptor);

/// A new filter of the ID through the library's creation entry; null with a message naming the
/// filter (and its module) when it is unknown, disabled or cannot be created. The descriptor found
/// is handed out when asked for; only callers that do not ask get VST 2 instruments (CreateInstrument).
FilterPtr CreateFilter(const std::string& id, std::string& error, DescriptorPtr* found = nullptr);

/// VST 2 instruments: the catalogue keeps them as modules without filters (shells excepted).
std::vector<boost::intrusive_ptr<kelaudiofilterhost::PluginModuleInfo>> FindInstrumentModules();

/// The VST 2 instrument of a module record an ID names: "2:UNIQUEID NAME" as kafh list --instruments
/// shows, the same without "2:", or the module's name or file title. Null with a message when it cannot be created;
/// null with no message when the ID names no such module.
FilterPtr CreateInstrument(const std::string& id, std::string& error);

/// The channel count of the first main bus (of the first bus when none is marked main).
unsigned int MainChannelCount(const std::vector<kelaudiofilterhost::AudioFilterBusDescription>& buses);

} // namespace kafh
