// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/services/Strings.h"

#include <pluginterfaces/base/funknown.h>

#include <array>
#include <cstdint>

namespace kelaudiofilterhost::vst3 {

using kelcore::UTF16String;

/// The 16 bytes of a VST 3 class identifier, in the byte order of a TUID.
using VST3ClassID = std::array<std::uint8_t, 16>;

VST3ClassID ClassIDFromTUID(const Steinberg::TUID tuid);
void ClassIDToTUID(const VST3ClassID& classID, Steinberg::TUID tuid);

/// Four lower-case hex words separated by single spaces; only the first is padded to eight
/// digits. Catalogue records store this text: its digit counts must never change.
UTF16String FormatVST3ClassID(const VST3ClassID& classID);

/// "3:" followed by FormatVST3ClassID.
UTF16String MakeVST3ComponentID(const VST3ClassID& classID);

/// Reads a component ID (the "3:" prefix optional) back into a class ID. A word that cannot be
/// read is 0, and so is every word after it; words past the fourth are ignored.
VST3ClassID ParseVST3ComponentID(const UTF16String& componentID);

} // namespace kelaudiofilterhost::vst3
