// SPDX-License-Identifier: GPL-3.0-or-later
// The numbers our VST 2 test plug-ins are known by: their unique IDs and the vendor-specific calls
// they answer. The plug-ins and the tests that load them both include this header, so neither side
// spells a number twice. It depends on nothing, not even the binary-interface header.
#pragma once

#include <cstdint>

namespace kafhtest {

/// A unique ID spelled as four characters, the way VST 2 plug-ins choose them.
constexpr std::int32_t FourCC(const char (&code)[5])
{
    return static_cast<std::int32_t>((static_cast<std::uint32_t>(static_cast<unsigned char>(code[0])) << 24)
                                     | (static_cast<std::uint32_t>(static_cast<unsigned char>(code[1])) << 16)
                                     | (static_cast<std::uint32_t>(static_cast<unsigned char>(code[2])) << 8)
                                     | static_cast<std::uint32_t>(static_cast<unsigned char>(code[3])));
}

inline constexpr std::int32_t kGainId = FourCC("KfGn");
inline constexpr std::int32_t kChunkId = FourCC("KfCk");
inline constexpr std::int32_t kShellId = FourCC("KfSh");
inline constexpr std::int32_t kShellQuarterId = FourCC("KfS1");
inline constexpr std::int32_t kShellHalfId = FourCC("KfS2");
inline constexpr std::int32_t kShellThreeQuartersId = FourCC("KfS3");
inline constexpr std::int32_t kSynthId = FourCC("KfSy");
inline constexpr std::int32_t kSurroundId = FourCC("KfSr");
inline constexpr std::int32_t kLatencyId = FourCC("KfLt");
inline constexpr std::int32_t kAccumulateId = FourCC("KfAc");
inline constexpr std::int32_t kLateLatencyId = FourCC("KfLl");
inline constexpr std::int32_t kOddTextId = FourCC("KfOt");
/// How many programs KafhOddText claims.
inline constexpr std::int32_t kOddTextPrograms = 1000000;
inline constexpr std::int32_t kOldMainId = FourCC("KfOm");
inline constexpr std::int32_t kBadMagicId = FourCC("KfBm");
inline constexpr std::int32_t kThrowsId = FourCC("KfTh");
/// Asked for with this shell ID (audioMasterCurrentId), KafhThrows's entry point throws.
inline constexpr std::int32_t kThrowsOnEntryId = FourCC("KfTe");
inline constexpr std::int32_t kStrayId = FourCC("KfSt");
inline constexpr std::int32_t kCrashProcessId = FourCC("KfCp");
inline constexpr std::int32_t kOverrunId = FourCC("KfOr");
inline constexpr std::int32_t kSpinStateId = FourCC("KfSs");
inline constexpr std::int32_t kEditorId = FourCC("KfEd");
inline constexpr std::int32_t kRecorderId = FourCC("KfRc");
/// KafhEditor's editor size when opened, and the size it asks the host for on its first idle.
inline constexpr std::int16_t kEditorWidth = 320;
inline constexpr std::int16_t kEditorHeight = 200;
inline constexpr std::int16_t kEditorGrownWidth = 400;
inline constexpr std::int16_t kEditorGrownHeight = 240;
// Misbehave in one way each, for the plug-in checker to catch.
inline constexpr std::int32_t kLatencyLiarId = FourCC("KfLy");
inline constexpr std::int32_t kOverreadId = FourCC("KfOv");
inline constexpr std::int32_t kForgetfulId = FourCC("KfFg");
inline constexpr std::int32_t kNanAtMaxId = FourCC("KfNm");
/// Has the top bit set, so it is negative as a signed number: hosts must read it as unsigned.
inline constexpr std::int32_t kLiarId = static_cast<std::int32_t>(0xCAFEF00Du);

/// KafhGain, effVendorSpecific index: copies the VstTimeInfo of the last audioMasterGetTime answer
/// to the pointer; returns 1 when the last processing call got an answer, 0 when it got null.
inline constexpr std::int32_t kGainGetLastTimeInfo = FourCC("KfTm");
/// KafhGain, effVendorSpecific index: sets parameter `value` to `opt` as a user gesture would, and
/// tells the host (audioMasterBeginEdit, audioMasterAutomate, audioMasterEndEdit); returns 1.
inline constexpr std::int32_t kGainAutomate = FourCC("KfAu");

/// KafhChunk's chunk: this header (native byte order) followed by one float per parameter.
struct ChunkHeader
{
    std::uint32_t magic;
    std::uint32_t version;
    std::uint32_t size; ///< whole chunk in bytes, header included
};
inline constexpr std::uint32_t kChunkMagic = static_cast<std::uint32_t>(FourCC("KfCS"));
inline constexpr std::uint32_t kChunkVersion = 1;

/// The latencies KafhLatency switches between with its parameter.
inline constexpr std::int32_t kLatencyShort = 64;
inline constexpr std::int32_t kLatencyLong = 128;
/// The latency KafhLateLatency reports once switched on (none before).
inline constexpr std::size_t kLateLatency = 100;

/// KafhRecorder's chunk: what reached it, each at the frame it took effect (frames processed so far
/// plus, for events, their deltaFrames). Native byte order.
enum class RecorderEntryKind : std::int32_t { Parameter, Event, Block };
struct RecorderEntry
{
    RecorderEntryKind kind;
    /// The parameter index, the event's status byte, or the block's frame count.
    std::int32_t what;
    std::int64_t frame;
    /// The parameter value or the event's first data byte; for blocks the quarter-note position.
    double value;
    /// Blocks: tempo and bar start as the time info gave them, 0 without one.
    double tempo;
    double barStart;
};
inline constexpr std::int32_t kRecorderMaxEntries = 2048;
struct RecorderChunk
{
    std::int32_t count; ///< entries recorded, also those past the array
    std::int32_t processLevel; ///< audioMasterGetCurrentProcessLevel at the last block
    RecorderEntry entries[kRecorderMaxEntries];
};

} // namespace kafhtest
