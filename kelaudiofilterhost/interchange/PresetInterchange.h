// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/framework/AudioFilter.h"

#include <filesystem>
#include <optional>
#include <string>

namespace kelaudiofilterhost::interchange {

/// The preset files other hosts and plug-ins read and write.
enum class PresetFileFormat {
    Fxp, ///< a VST 2 program
    Fxb, ///< a VST 2 bank
    VstPreset, ///< a VST 3 preset
};

/// The format a file name's extension (".fxp", ".fxb", ".vstpreset", any case) names.
std::optional<PresetFileFormat> PresetFileFormatFor(const std::filesystem::path& path);

/// Loads a program, bank or VST 3 preset file into the filter. False with a one-line reason for a
/// file of another plug-in or format, a damaged file or a filter that cannot take it; warning tells
/// what was taken with a doubt (a file of another plug-in version, a different parameter count).
/// Banks of parameters load their current program.
bool ImportPresetFile(AudioFilter& filter, const std::filesystem::path& path, std::string& error,
                      std::string& warning);

/// Writes the filter's current settings as the file the extension names, replacing it atomically.
/// A bank holds the one current program, or the plug-in's bank chunk for plug-ins that keep chunks.
bool ExportPresetFile(AudioFilter& filter, const std::filesystem::path& path, std::string& error);

} // namespace kelaudiofilterhost::interchange
