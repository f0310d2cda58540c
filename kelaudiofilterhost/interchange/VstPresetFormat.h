// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/vst3/VST3ClassID.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kelaudiofilterhost::interchange {

/// What a VST 3 preset file (.vstpreset) holds for us: the class it belongs to, the component's and
/// the controller's state, and the optional meta information (XML text).
struct VstPreset {
    vst3::VST3ClassID classID{};
    std::vector<std::uint8_t> componentState;
    std::vector<std::uint8_t> controllerState;
    std::string metaInfo;
};

/// Reads a whole file through the SDK's preset-file code; false with a one-line reason for anything
/// that is not a complete preset file.
bool ParseVstPreset(std::span<const std::uint8_t> bytes, VstPreset& preset, std::string& error);
/// The file's bytes, written by the SDK's preset-file code; empty when it fails.
std::vector<std::uint8_t> WriteVstPreset(const VstPreset& preset);

} // namespace kelaudiofilterhost::interchange
