// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/render/MidiTempoMap.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace kelaudiofilterhost {

/// One channel message of a MIDI file, placed in ticks, seconds and samples.
struct MidiFileEvent {
    enum class Type : std::uint8_t {
        NoteOff,         ///< data1 note, data2 release velocity; a note-on of velocity 0 reads as this
        NoteOn,          ///< data1 note, data2 velocity 1..127
        PolyPressure,    ///< data1 note, data2 pressure
        Controller,      ///< data1 controller, data2 value
        ProgramChange,   ///< data1 program
        ChannelPressure, ///< data1 pressure
        PitchBend,       ///< data1 low seven bits, data2 high seven bits; see GetPitchBend
    };

    std::int64_t tick = 0;
    double seconds = 0.0;
    /// At the sample rate the file was read for (or last given to SetSampleRate).
    std::int64_t sample = 0;
    /// The track it came from, counting the file's track chunks from 0.
    int track = 0;
    Type type = Type::NoteOn;
    std::uint8_t channel = 0;
    std::uint8_t data1 = 0;
    std::uint8_t data2 = 0;

    /// 0..16383, 8192 at rest.
    int GetPitchBend() const { return data1 | (data2 << 7); }
    /// The message as sent on the wire: status byte and up to two data bytes (GetSize of them in all).
    std::array<std::uint8_t, 3> GetBytes() const;
    int GetSize() const;
};

/// A Standard MIDI File (format 0 or 1) read whole: its channel messages merged from all tracks in
/// time order, its tempo map and its length. Events at the same tick keep track order, then file order.
/// System exclusive messages and meta events other than tempo, time signature and end of track are
/// skipped.
class MidiFile {
public:
    /// Reads and parses a file. False with a one-line reason in `error` (the object is then empty).
    bool Read(const std::filesystem::path& path, double sampleRate, std::string& error);
    /// Parses a file's bytes; as Read.
    bool Parse(std::span<const std::uint8_t> bytes, double sampleRate, std::string& error);

    /// Places events and the length on the sample grid of another rate.
    void SetSampleRate(double sampleRate);
    double GetSampleRate() const { return mSampleRate; }

    int GetFormat() const { return mFormat; }
    int GetTrackCount() const { return mTrackCount; }
    const std::vector<MidiFileEvent>& GetEvents() const { return mEvents; }
    const MidiTempoMap& GetTempoMap() const { return mTempoMap; }

    /// The end of the last track (its end-of-track event, or its last event when it has none).
    std::int64_t GetLengthInTicks() const { return mLengthTicks; }
    double GetLengthInSeconds() const { return mLengthSeconds; }
    std::int64_t GetLengthInSamples() const { return MidiTempoMap::SecondsToSample(mLengthSeconds, mSampleRate); }

private:
    void Clear();

    int mFormat = 0;
    int mTrackCount = 0;
    double mSampleRate = 44100.0;
    std::vector<MidiFileEvent> mEvents;
    MidiTempoMap mTempoMap;
    std::int64_t mLengthTicks = 0;
    double mLengthSeconds = 0.0;
};

} // namespace kelaudiofilterhost
