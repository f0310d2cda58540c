// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/framework/TempoMap.h"

#include <cstdint>
#include <memory>
#include <vector>

namespace kelaudiofilterhost {

/// A tempo from a MIDI file's set-tempo event, in force from its tick on.
struct MidiTempoChange {
    std::int64_t tick = 0;
    double seconds = 0.0;
    /// Quarter notes from the start of the file.
    double ppq = 0.0;
    std::uint32_t microsecondsPerQuarter = 500000;

    double GetBeatsPerMinute() const { return 60'000'000.0 / microsecondsPerQuarter; }
};

/// A time signature, in force from its tick on; a change starts a new bar there.
struct MidiTimeSignature {
    std::int64_t tick = 0;
    double seconds = 0.0;
    double ppq = 0.0;
    int numerator = 4;
    int denominator = 4;

    double GetBarLengthInQuarters() const { return numerator * 4.0 / denominator; }
};

/// The tempo map of a MIDI file: tick, second and quarter-note positions converted into one another.
/// Positions at samples come from the map MakeTempoMap makes, as everywhere else in the library.
/// Before the first tempo and time signature the file's defaults hold: 120 bpm and 4/4.
class MidiTempoMap {
public:
    /// Ticks per quarter note (the common division).
    explicit MidiTempoMap(int ticksPerQuarter = 480);
    /// SMPTE division: frames per second (24, 25, 29.97 or 30) times ticks per frame.
    MidiTempoMap(double framesPerSecond, int ticksPerFrame);

    /// Adds a tempo at `tick`; call in time order. A later one at the same tick replaces the earlier.
    void AddTempo(std::int64_t tick, std::uint32_t microsecondsPerQuarter);
    /// Adds a time signature at `tick`; call in time order, after the tempos up to that tick.
    void AddTimeSignature(std::int64_t tick, int numerator, int denominator);

    double TicksToSeconds(std::int64_t tick) const;
    double TicksToPpq(std::int64_t tick) const;
    double SecondsToPpq(double seconds) const;
    /// Seconds on the sample grid: the nearest sample, ties away from zero.
    static std::int64_t SecondsToSample(double seconds, double sampleRate);

    /// The same tempos and time signatures on the sample grid of a rate, as the framework's map
    /// that tells plug-ins where they are. Signatures plug-ins cannot be told keep the one before.
    std::shared_ptr<const TempoMap> MakeTempoMap(double sampleRate) const;

    bool IsSmpte() const { return mTicksPerSecond > 0.0; }
    int GetTicksPerQuarter() const { return mTicksPerQuarter; }
    /// Never empty: the first entry is the default at tick 0 unless the file sets its own there.
    const std::vector<MidiTempoChange>& GetTempoChanges() const { return mTempos; }
    const std::vector<MidiTimeSignature>& GetTimeSignatures() const { return mSignatures; }

private:
    const MidiTempoChange& TempoAtTick(std::int64_t tick) const;
    const MidiTempoChange& TempoAtSeconds(double seconds) const;

    int mTicksPerQuarter = 480;
    double mTicksPerSecond = 0.0;
    std::vector<MidiTempoChange> mTempos;
    std::vector<MidiTimeSignature> mSignatures;
};

} // namespace kelaudiofilterhost
