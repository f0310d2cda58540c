// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kelaudiofilterhost {

/// Where a sample falls in musical time.
struct MusicalPosition {
    double tempo = 120.0;
    std::int32_t numerator = 4;
    std::int32_t denominator = 4;
    /// Quarter notes since sample 0.
    double quarters = 0.0;
    /// Quarter notes from sample 0 to the start of the bar holding the sample.
    double barStart = 0.0;
};

/// Tempo and time-signature changes at sample positions. A change of time signature starts a new
/// bar where it lies; a tempo-only change leaves the bar grid as it runs.
class TempoMap {
public:
    explicit TempoMap(double sampleRate, double tempo = 120.0, std::int32_t numerator = 4,
                      std::int32_t denominator = 4);

    /// Adds a change at a sample after the last one; 0 replaces the start. False with a message for
    /// a position before the last change, a tempo not above 0 or a time signature that is not n/2^k.
    bool AddChange(std::int64_t sample, double tempo, std::int32_t numerator, std::int32_t denominator,
                   std::string& error);
    MusicalPosition At(std::int64_t sample) const;
    double GetSampleRate() const { return mSampleRate; }

private:
    struct Segment {
        std::int64_t sample = 0;
        double tempo = 120.0;
        std::int32_t numerator = 4;
        std::int32_t denominator = 4;
        double quarters = 0.0;
        /// Where the bar grid of the segment starts, in quarter notes.
        double barOrigin = 0.0;
    };

    double mSampleRate;
    std::vector<Segment> mSegments;
};

} // namespace kelaudiofilterhost
