// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/render/MidiTempoMap.h"

#include <algorithm>
#include <cmath>
#include <string>

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

std::shared_ptr<const TempoMap> MidiTempoMap::MakeTempoMap(double sampleRate) const
{
    // Tempo and signature in force from each change on, merged in time order; changes that round
    // to the same sample leave the last word to the later one.
    struct Change {
        std::int64_t sample;
        double tempo;
        int numerator;
        int denominator;
    };
    std::vector<Change> changes;
    std::size_t t = 0;
    std::size_t s = 0;
    while (t < mTempos.size() || s < mSignatures.size()) {
        const double tempoAt = t < mTempos.size() ? mTempos[t].seconds : HUGE_VAL;
        const double signatureAt = s < mSignatures.size() ? mSignatures[s].seconds : HUGE_VAL;
        const double seconds = std::min(tempoAt, signatureAt);
        t += tempoAt == seconds ? 1 : 0;
        s += signatureAt == seconds ? 1 : 0;
        const MidiTempoChange& tempo = mTempos[t - 1 < mTempos.size() ? t - 1 : 0];
        const MidiTimeSignature& signature = mSignatures[s - 1 < mSignatures.size() ? s - 1 : 0];
        const Change change{SecondsToSample(seconds, sampleRate), tempo.GetBeatsPerMinute(), signature.numerator,
                            signature.denominator};
        if (!changes.empty() && changes.back().sample >= change.sample) {
            changes.back() = {changes.back().sample, change.tempo, change.numerator, change.denominator};
        } else {
            changes.push_back(change);
        }
    }
    auto map = std::make_shared<TempoMap>(sampleRate);
    std::string error;
    int numerator = 4;
    int denominator = 4;
    for (const Change& change : changes) {
        if (map->AddChange(change.sample, change.tempo, change.numerator, change.denominator, error)) {
            numerator = change.numerator;
            denominator = change.denominator;
        } else {
            map->AddChange(change.sample, change.tempo, numerator, denominator, error);
        }
    }
    return map;
}

} // namespace kelaudiofilterhost
