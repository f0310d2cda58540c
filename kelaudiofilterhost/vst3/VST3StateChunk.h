// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace kelaudiofilterhost::vst3 {

/// The saved state of a VST 3 filter: the component's state and the controller's, each as its
/// plug-in wrote it, behind two unsigned 64-bit little-endian lengths:
/// [component length][controller length][component bytes][controller bytes].
struct VST3StateChunk {
    static constexpr std::size_t kHeaderSize = 16;

    /// The bytes of the chunk.
    static std::vector<std::uint8_t> Make(std::span<const std::uint8_t> component,
                                          std::span<const std::uint8_t> controller);

    /// Reads a chunk's two parts. False when the header is incomplete. A part whose length reaches
    /// past the data is left empty and flagged, so a short chunk still gives what it holds.
    static bool Parse(std::span<const std::uint8_t> chunk, VST3StateChunk& parts);

    std::span<const std::uint8_t> component;
    std::span<const std::uint8_t> controller;
    std::uint64_t componentLength = 0;
    std::uint64_t controllerLength = 0;
    bool componentTruncated = false;
    bool controllerTruncated = false;
};

} // namespace kelaudiofilterhost::vst3
