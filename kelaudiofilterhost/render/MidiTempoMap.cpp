// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/render/MidiTempoMap.h"

#include <algorithm>
#include <cmath>

namespace kelaudiofilterhost {

namespace {

// Positions computed from a sample count land a rounding error away from the tempo or signature
// that starts there; that error must not put them in the one before.
constexpr double kSecondsSlack = 1e-9;
constexpr double kPpqSlack = 1e-9;

} // namespace

MidiTempoMap::MidiTempoMap(int ticksPerQuarter)
    : mTicksPerQuarter(std::max(ticksPerQuarter, 1)), mTempos(1), mSignatures(1)
{
}

MidiTempoMap::MidiTempoMap(double framesPerSecond, int ticksPerFrame)
    : mTicksPerQuarter(0), mTicksPerSecond(framesPerSecond * std::max(ticksPerFrame, 1)), mTempos(1),
      mSignatures(1)
{
}

void MidiTempoMap::AddTempo(std::int64_t tick, std::uint32_t microsecondsPerQuarter)
{
    if (microsecondsPerQuarter == 0) {
        return;
    }
    if (mTempos.back().tick >= tick) {
        mTempos.back().microsecondsPerQuarter = microsecondsPerQuarter;
        return;
    }
    const double seconds = TicksToSeconds(tick);
    mTempos.push_back({tick, seconds, IsSmpte() ? SecondsToPpq(seconds) : TicksToPpq(tick), microsecondsPerQuarter});
}

void MidiTempoMap::AddTimeSignature(std::int64_t tick, int numerator, int denominator)
{
    if (mSignatures.back().tick >= tick) {
        mSignatures.back().numerator = numerator;
        mSignatures.back().denominator = denominator;
        return;
    }
    mSignatures.push_back({tick, TicksToSeconds(tick), TicksToPpq(tick), numerator, denominator});
}

const MidiTempoChange& MidiTempoMap::TempoAtTick(std::int64_t tick) const
{
    const auto after = std::upper_bound(mTempos.begin() + 1, mTempos.end(), tick,
                                        [](std::int64_t t, const MidiTempoChange& change) { return t < change.tick; });
    return *(after - 1);
}

const MidiTempoChange& MidiTempoMap::TempoAtSeconds(double seconds) const
{
    const auto after = std::upper_bound(
        mTempos.begin() + 1, mTempos.end(), seconds + kSecondsSlack,
        [](double s, const MidiTempoChange& change) { return s < change.seconds; });
    return *(after - 1);
}

double MidiTempoMap::TicksToSeconds(std::int64_t tick) const
{
    if (IsSmpte()) {
        return static_cast<double>(tick) / mTicksPerSecond;
    }
    const MidiTempoChange& tempo = TempoAtTick(tick);
    return tempo.seconds + static_cast<double>(tick - tempo.tick) * tempo.microsecondsPerQuarter /
                               (1e6 * mTicksPerQuarter);
}

double MidiTempoMap::TicksToPpq(std::int64_t tick) const
{
    return IsSmpte() ? SecondsToPpq(TicksToSeconds(tick)) : static_cast<double>(tick) / mTicksPerQuarter;
}

double MidiTempoMap::SecondsToPpq(double seconds) const
{
    const MidiTempoChange& tempo = TempoAtSeconds(seconds);
    return tempo.ppq + (seconds - tempo.seconds) * 1e6 / tempo.microsecondsPerQuarter;
}

std::int64_t MidiTempoMap::SecondsToSample(double seconds, double sampleRate)
{
    // Beyond this no render reaches; the clamp keeps a hostile file's times inside the integer range.
    constexpr double kLimit = 4.0e18;
    return std::llround(std::clamp(seconds * sampleRate, -kLimit, kLimit));
}

MidiTransportPosition MidiTempoMap::GetPositionAtSample(std::int64_t sample, double sampleRate) const
{
    MidiTransportPosition position;
    position.seconds = sampleRate > 0.0 ? static_cast<double>(std::max<std::int64_t>(sample, 0)) / sampleRate : 0.0;
    position.ppq = SecondsToPpq(position.seconds);
    position.beatsPerMinute = TempoAtSeconds(position.seconds).GetBeatsPerMinute();

    const auto after = std::upper_bound(
        mSignatures.begin() + 1, mSignatures.end(), position.ppq + kPpqSlack,
        [](double ppq, const MidiTimeSignature& signature) { return ppq < signature.ppq; });
    const MidiTimeSignature& signature = *(after - 1);
    position.numerator = signature.numerator;
    position.denominator = signature.denominator;
    const double bar = signature.GetBarLengthInQuarters();
    position.barStartPpq =
        signature.ppq + std::floor((position.ppq - signature.ppq) / bar + kPpqSlack) * bar;
    return position;
}

} // namespace kelaudiofilterhost
