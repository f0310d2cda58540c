// SPDX-License-Identifier: GPL-3.0-or-later
// MIDI files played into our test instruments of both kinds: every note starts on its sample across
// tempo changes, and a VST 2 instrument is made from its module alone.
#include "kelaudiofilterhost/render/Renderer.h"
#include "kelaudiofilterhost/vst2/VSTPluginModule.h"
#include "kelaudiofilterhost/vst2/VSTTechnology.h"
#include "testplugins/vst2/TestPluginIds.h"
#include "testplugins/vst3/TestVst3Ids.h"
#include "tests/support/Vst2TestSupport.h"
#include "tests/support/Vst3TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

namespace kelaudiofilterhost::render {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr double kRate = 48000.0;

void Chunk(Bytes& file, const char* type, const Bytes& body)
{
    file.insert(file.end(), type, type + 4);
    for (int shift = 24; shift >= 0; shift -= 8) {
        file.push_back(static_cast<std::uint8_t>(body.size() >> shift));
    }
    file.insert(file.end(), body.begin(), body.end());
}

// Events of one track as (delta ticks below 128 x 128, bytes); ends the track.
Bytes Track(std::initializer_list<std::pair<int, Bytes>> events)
{
    Bytes track;
    for (const auto& [delta, bytes] : events) {
        track.push_back(static_cast<std::uint8_t>(0x80 | (delta >> 7)));
        track.push_back(static_cast<std::uint8_t>(delta & 0x7F));
        track.insert(track.end(), bytes.begin(), bytes.end());
    }
    track.insert(track.end(), {0, 0xFF, 0x2F, 0});
    return track;
}

Bytes Tempo(int microseconds)
{
    return {0xFF, 0x51, 3, static_cast<std::uint8_t>(microseconds >> 16), static_cast<std::uint8_t>(microseconds >> 8),
            static_cast<std::uint8_t>(microseconds)};
}

// Format 1, 480 ticks a quarter: a tempo track (120, 90 from tick 960, 150 from 1920) and a note track.
Bytes TwoTrackSong()
{
    Bytes file;
    Chunk(file, "MThd", {0, 1, 0, 2, 0x01, 0xE0});
    Chunk(file, "MTrk", Track({{0, Tempo(500000)}, {960, Tempo(666667)}, {960, Tempo(400000)}}));
    Chunk(file, "MTrk", Track({{480, {0x90, 69, 127}}, {720, {0x80, 69, 0}}, {300, {0x90, 72, 64}},
                               {500, {0x90, 60, 100}}, {400, {0x80, 72, 0}}, {100, {0x90, 60, 0}}}));
    return file;
}

struct Note {
    int note;
    int velocity;
    std::int64_t on;
    std::int64_t off;
};
// Worked out by hand from the tempos at 48 kHz: 0.5 s, 1.3333 s, 1.75 s, 2.4 s, 2.7333 s, 2.8167 s.
const Note kNotes[] = {{69, 127, 24000, 64000}, {72, 64, 84000, 131200}, {60, 100, 115200, 135200}};

float Expected(std::int64_t frame)
{
    double sum = 0.0;
    for (const Note& note : kNotes) {
        if (frame >= note.on && frame < note.off) {
            const double hz = 440.0 * std::pow(2.0, (note.note - 69) / 12.0);
            sum += note.velocity / 127.0 * 0.25 * std::sin(2.0 * std::numbers::pi * hz * static_cast<double>(frame - note.on) / kRate);
        }
    }
    return static_cast<float>(sum);
}

boost::intrusive_ptr<AudioFilter> MultiSynth()
{
    return testing::OpenTestBundle("KafhVst3Multi", kafh_testplugins_vst3::kMultiSynth);
}

TEST(MidiRender, NotesOfATwoTrackFileStartOnTheirSamplesAcrossTempoChanges)
{
    MidiFile midi;
    std::string error;
    ASSERT_TRUE(midi.Parse(TwoTrackSong(), 44100.0, error)) << error;
    EXPECT_EQ(midi.GetTrackCount(), 2);
    // A VST 2 instrument the catalogue would keep as a module only, and a VST 3 instrument.
    const auto vst2Path = testing::TestPlugin("KafhSynth");
    for (auto filter : {vst::CreateVSTInstrument(vst2Path), MultiSynth()}) {
        ASSERT_TRUE(filter);
        SCOPED_TRACE(kelcore::UTF16to8(filter->GetComponentID()));
        EXPECT_TRUE(filter->TakesEvents());
        RenderOptions options;
        options.blockSize = 1000;
        options.sampleRate = kRate;
        SetMidi(midi, kRate, options);
        ASSERT_EQ(options.events.size(), 6u);
        EXPECT_EQ(options.tempoMap->At(112000).tempo, 150.0);
        Renderer renderer;
        ASSERT_TRUE(renderer.Prepare(filter, 2, options, error)) << error;
        SilenceSource silence(2, kRate, 140000);
        BufferSink sink(2);
        RenderReport report;
        ASSERT_TRUE(renderer.Run(silence, sink, report, error)) << error;
        const auto& out = sink.GetBuffer();
        ASSERT_EQ(out[0].size(), 140000u);
        for (std::size_t k = 0; k < out[0].size(); ++k) {
            ASSERT_NEAR(out[0][k], Expected(static_cast<std::int64_t>(k)), 2e-5) << "frame " << k;
        }
    }
    EXPECT_EQ(vst::CreateVSTInstrument(vst2Path)->GetComponentID(),
              vst::MakeComponentID(static_cast<std::uint32_t>(kafhtest::kSynthId), vst2Path));
}

TEST(MidiRender, EffectsWithoutEventInputSayTheyTakeNone)
{
    EXPECT_FALSE(testing::OpenTestEffect("KafhGain", kafhtest::kGainId)->TakesEvents());
    EXPECT_TRUE(testing::OpenTestEffect("KafhRecorder", kafhtest::kRecorderId)->TakesEvents());
}

} // namespace
} // namespace kelaudiofilterhost::render
