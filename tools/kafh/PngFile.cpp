// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/kafh/PngFile.h"

#include "kelaudiofilterhost/services/File.h"
#include "tools/kafh/Console.h"

#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstring>

namespace kafh {

namespace {

// libpng reports errors by longjmp: the encoder holds nothing that needs a destructor across it.
bool EncodePng(const RgbImage& image, std::string& encoded)
{
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
    if (info == nullptr) {
        png_destroy_write_struct(&png, nullptr);
        return false;
    }
    if (setjmp(png_jmpbuf(png)) != 0) {
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_set_write_fn(
        png, &encoded,
        [](png_structp writer, png_bytep data, png_size_t size) {
            static_cast<std::string*>(png_get_io_ptr(writer))->append(reinterpret_cast<const char*>(data), size);
        },
        nullptr);
    png_set_IHDR(png, info, static_cast<png_uint_32>(image.width), static_cast<png_uint_32>(image.height), 8,
                 PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(png, info);
    const auto stride = static_cast<std::size_t>(image.width) * 3;
    for (int y = 0; y < image.height; ++y) {
        png_write_row(png, const_cast<png_bytep>(image.pixels.data() + static_cast<std::size_t>(y) * stride));
    }
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

} // namespace

bool WritePngFile(const RgbImage& image, const std::filesystem::path& path, std::string& error)
{
    std::string encoded;
    if (image.width <= 0 || image.height <= 0 ||
        image.pixels.size() != static_cast<std::size_t>(image.width) * static_cast<std::size_t>(image.height) * 3 ||
        !EncodePng(image, encoded)) {
        error = "cannot encode the image for " + Quoted(path.string());
        return false;
    }
    if (!kelcore::filesupport::WriteFileAtomically(path, encoded)) {
        error = "cannot write " + Quoted(path.string()) + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

} // namespace kafh
