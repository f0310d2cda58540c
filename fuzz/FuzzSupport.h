// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include <unistd.h>

namespace kafhfuzz {

/// A folder of this process's own, removed at exit, for readers that only take paths. In memory
/// where it can be: a disk file system may flush a file rewritten in place on every close.
inline const std::filesystem::path& InputFolder()
{
    static const std::filesystem::path folder = [] {
        std::error_code status;
        const auto base = std::filesystem::is_directory("/dev/shm", status) && ::access("/dev/shm", W_OK) == 0
                              ? std::filesystem::path("/dev/shm")
                              : std::filesystem::temp_directory_path();
        auto path = base / ("kafh-fuzz-" + std::to_string(::getpid()));
        std::filesystem::create_directories(path);
        std::atexit([] { std::filesystem::remove_all(InputFolder()); });
        return path;
    }();
    return folder;
}

/// Writes the input to "input<extension>" in that folder and returns its path.
inline std::filesystem::path WriteInput(const std::uint8_t* data, std::size_t size, const char* extension = ".xml")
{
    auto path = InputFolder() / (std::string("input") + extension);
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr || (size != 0 && std::fwrite(data, 1, size, file) != size)) {
        std::abort();
    }
    std::fclose(file);
    return path;
}

} // namespace kafhfuzz
