// SPDX-License-Identifier: GPL-3.0-or-later
// Reads screenshots back for tests: a PNG file as 8-bit red, green and blue samples.
#pragma once

#include <png.h>

#include <cstdint>
#include <filesystem>
#include <vector>

namespace kelaudiofilterhost::testing {

struct PngPixels {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> rgb;

    /// 0xRRGGBB of the pixel.
    std::uint32_t At(int x, int y) const
    {
        const auto* p =
            &rgb[(static_cast<std::size_t>(y) * static_cast<std::size_t>(width) + static_cast<std::size_t>(x)) * 3];
        return static_cast<std::uint32_t>(p[0]) << 16 | static_cast<std::uint32_t>(p[1]) << 8 | p[2];
    }

    bool IsOneColour() const
    {
        for (std::size_t i = 3; i < rgb.size(); ++i) {
            if (rgb[i] != rgb[i % 3]) {
                return false;
            }
        }
        return true;
    }
};

/// Empty (0 x 0) when the file is no readable PNG.
inline PngPixels ReadPng(const std::filesystem::path& path)
{
    png_image image{};
    image.version = PNG_IMAGE_VERSION;
    PngPixels png;
    if (png_image_begin_read_from_file(&image, path.c_str()) == 0) {
        return png;
    }
    image.format = PNG_FORMAT_RGB;
    png.rgb.resize(PNG_IMAGE_SIZE(image));
    if (png_image_finish_read(&image, nullptr, png.rgb.data(), 0, nullptr) == 0) {
        return {};
    }
    png.width = static_cast<int>(image.width);
    png.height = static_cast<int>(image.height);
    return png;
}

} // namespace kelaudiofilterhost::testing
