// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace kafh {

/// An image of 8-bit red, green and blue samples, row by row from the top.
struct RgbImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels;

    bool operator==(const RgbImage&) const = default;
};

/// Writes the image as a PNG file, atomically; false with a message naming the file.
bool WritePngFile(const RgbImage& image, const std::filesystem::path& path, std::string& error);

} // namespace kafh
