// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/framework/AudioFilter.h"

#include <filesystem>
#include <string>

namespace kafh {

/// Saves the filter's settings (SaveSettings) as a preset file: a property list naming the filter's
/// component identifier, with the preset record in a child. Written atomically; false with a
/// message naming the file when it could not be written.
bool SavePresetFile(kelaudiofilterhost::AudioFilter& filter, const std::filesystem::path& path, std::string& error);

/// Restores settings from a preset file made for the same filter. False with a message naming the
/// file when it is missing, malformed, made for another filter, or refused by the filter; the
/// filter is then unchanged, as LoadSettings leaves it.
bool LoadPresetFile(kelaudiofilterhost::AudioFilter& filter, const std::filesystem::path& path, std::string& error);

} // namespace kafh
