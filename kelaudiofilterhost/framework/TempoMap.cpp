// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/framework/TempoMap.h"

#include <algorithm>
#include <cmath>

namespace kelaudiofilterhost {

namespace {

bool IsValidSignature(std::int32_t numerator, std::int32_t denominator)
{
    return numerator > 0 && numerator <= 64 && denominator > 0 && denominator <= 64 &&
           (denominator & (denominator - 1)) == 0;
}

double QuartersPerBar(std::int32_t numerator, std::int32_t denominator)
{
    return 4.0 * numerator / denominator;
}

} // namespace

TempoMap::TempoMap(double sampleRate, double tempo, std::int32_t numerator, std::int32_t denominator)
    : mSampleRate(sampleRate > 0.0 ? sampleRate : 48000.0)
{
    Segment first;
    first.tempo = tempo > 0.0 && std::isfinite(tempo) ? tempo : 120.0;
    if (IsValidSignature(numerator, denominator)) {
        first.numerator = numerator;
        first.denominator = denominator;
    }
    mSegments.push_back(first);
}

bool TempoMap::AddChange(std::int64_t sample, double tempo, std::int32_t numerator, std::int32_t denominator,
                         std::string& error)
{
    if (!(tempo > 0.0) || !std::isfinite(tempo) || tempo > 10000.0) {
        error = "tempo " + std::to_string(tempo) + " is not a tempo in beats per minute";
        return false;
    }
    if (!IsValidSignature(numerator, denominator)) {
        error = "time signature " + std::to_string(numerator) + "/" + std::to_string(denominator) +
                " is not a time signature";
        return false;
    }
    if (sample < mSegments.back().sample || (sample == mSegments.back().sample && sample != 0)) {
        error = "tempo change at sample " + std::to_string(sample) + " is not after the previous one";
        return false;
    }
    if (sample == 0) {
        mSegments.front() = Segment{0, tempo, numerator, denominator, 0.0, 0.0};
        return true;
    }
    const Segment& last = mSegments.back();
    Segment next;
    next.sample = sample;
    next.tempo = tempo;
    next.numerator = numerator;
    next.denominator = denominator;
    next.quarters = last.quarters + static_cast<double>(sample - last.sample) * last.tempo / (60.0 * mSampleRate);
    const bool newSignature = numerator != last.numerator || denominator != last.denominator;
    next.barOrigin = newSignature ? next.quarters : last.barOrigin;
    mSegments.push_back(next);
    return true;
}

MusicalPosition TempoMap::At(std::int64_t sample) const
{
    auto after = std::upper_bound(mSegments.begin(), mSegments.end(), sample,
                                  [](std::int64_t s, const Segment& segment) { return s < segment.sample; });
    const Segment& segment = after == mSegments.begin() ? mSegments.front() : *(after - 1);
    MusicalPosition position;
    position.tempo = segment.tempo;
    position.numerator = segment.numerator;
    position.denominator = segment.denominator;
    position.quarters =
        segment.quarters + static_cast<double>(sample - segment.sample) * segment.tempo / (60.0 * mSampleRate);
    const double bar = QuartersPerBar(segment.numerator, segment.denominator);
    // A hair of slack: a bar line computed as 7.9999999 still starts the bar at 8.
    const double bars = std::floor((position.quarters - segment.barOrigin) / bar + 1e-9);
    position.barStart = segment.barOrigin + std::max(bars, 0.0) * bar;
    return position;
}

} // namespace kelaudiofilterhost
