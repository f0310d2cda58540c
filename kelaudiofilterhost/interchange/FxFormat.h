// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kelaudiofilterhost::interchange {

/// One VST 2 program as program files (.fxp) and banks (.fxb) store it: a list of parameter values
/// or the plug-in's own opaque chunk. All integers of the files are big-endian.
struct FxProgram {
    std::int32_t pluginID = 0;
    std::int32_t pluginVersion = 0;
    /// Up to 27 bytes; longer names are cut when written.
    std::string name;
    bool isChunk = false;
    std::vector<float> parameters;
    std::vector<std::uint8_t> chunk;
};

/// A VST 2 bank: programs with parameter values, or the plug-in's opaque bank chunk.
struct FxBank {
    std::int32_t pluginID = 0;
    std::int32_t pluginVersion = 0;
    /// Bank format 2 records the current program; format 1 files read as 0.
    std::int32_t currentProgram = 0;
    bool isChunk = false;
    /// The plug-in's program count, which a chunk bank records beside its chunk.
    std::int32_t chunkProgramCount = 1;
    std::vector<FxProgram> programs;
    std::vector<std::uint8_t> chunk;
};

/// The whole file. Parameter counts, chunk sizes and program counts past what the data holds, or
/// past sane limits, are refused with a one-line reason.
bool ParseFxProgram(std::span<const std::uint8_t> bytes, FxProgram& program, std::string& error);
std::vector<std::uint8_t> WriteFxProgram(const FxProgram& program);
bool ParseFxBank(std::span<const std::uint8_t> bytes, FxBank& bank, std::string& error);
std::vector<std::uint8_t> WriteFxBank(const FxBank& bank);

/// A four-character code as a big-endian integer ('CcnK').
constexpr std::int32_t FourCC(const char (&code)[5])
{
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(static_cast<unsigned char>(code[0])) << 24
                                     | static_cast<std::uint32_t>(static_cast<unsigned char>(code[1])) << 16
                                     | static_cast<std::uint32_t>(static_cast<unsigned char>(code[2])) << 8
                                     | static_cast<std::uint32_t>(static_cast<unsigned char>(code[3])));
}

} // namespace kelaudiofilterhost::interchange
