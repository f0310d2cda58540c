// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/render/MidiFile.h"

#include <gtest/gtest.h>

#include <initializer_list>

namespace {

using namespace kelaudiofilterhost;
using Bytes = std::vector<std::uint8_t>;
using Type = MidiFileEvent::Type;

void Append(Bytes& to, std::initializer_list<int> bytes)
{
    for (int byte : bytes) {
        to.push_back(static_cast<std::uint8_t>(byte));
    }
}

void AppendVariableLength(Bytes& to, std::uint32_t value)
{
    Bytes groups{static_cast<std::uint8_t>(value & 0x7F)};
    while ((value >>= 7) != 0) {
        groups.insert(groups.begin(), static_cast<std::uint8_t>(0x80 | (value & 0x7F)));
    }
    to.insert(to.end(), groups.begin(), groups.end());
}

Bytes Header(int format, int tracks, int division)
{
    Bytes bytes{'M', 'T', 'h', 'd', 0, 0, 0, 6};
    Append(bytes, {0, format, tracks >> 8, tracks & 0xFF, division >> 8, division & 0xFF});
    return bytes;
}

void AppendTrack(Bytes& file, const Bytes& events)
{
    Append(file, {'M', 'T', 'r', 'k'});
    const auto size = static_cast<std::uint32_t>(events.size());
    Append(file, {static_cast<int>(size >> 24), static_cast<int>((size >> 16) & 0xFF),
                  static_cast<int>((size >> 8) & 0xFF), static_cast<int>(size & 0xFF)});
    file.insert(file.end(), events.begin(), events.end());
}

// A delta time and the event's bytes.
void Event(Bytes& track, std::uint32_t delta, std::initializer_list<int> bytes)
{
    AppendVariableLength(track, delta);
    Append(track, bytes);
}

// Two tracks at 480 ticks per quarter: the first holds the tempo map (120 bpm and 3/4 from the
// start, 60 bpm from tick 960, 6/8 from tick 1920, in the middle of a bar); the second holds notes.
Bytes TwoTrackFile(const Bytes& notes)
{
    Bytes file = Header(1, 2, 480);
    Bytes tempo;
    Event(tempo, 0, {0xFF, 0x51, 3, 0x07, 0xA1, 0x20});
    Event(tempo, 0, {0xFF, 0x58, 4, 3, 2, 24, 8});
    Event(tempo, 960, {0xFF, 0x51, 3, 0x0F, 0x42, 0x40});
    Event(tempo, 960, {0xFF, 0x58, 4, 6, 3, 24, 8});
    Event(tempo, 0, {0xFF, 0x2F, 0});
    AppendTrack(file, tempo);
    AppendTrack(file, notes);
    return file;
}

TEST(MidiFile, ReadsEveryChannelMessageWithRunningStatusAndSkipsTheRest)
{
    Bytes track;
    Event(track, 0, {0x91, 60, 100});
    Event(track, 0, {0xF0, 3, 0x7E, 0x7F, 0xF7}); // system exclusive, skipped
    Event(track, 480, {60, 0});                    // running status: a note-on of velocity 0
    Event(track, 0, {0xFF, 0x01, 2, 'h', 'i'});    // text, skipped; running status survives it
    Event(track, 0, {61, 90});
    Event(track, 10, {0x81, 61, 64});
    Event(track, 0, {0xA2, 62, 5});
    Event(track, 0, {0xB3, 7, 99});
    Event(track, 0, {0xC4, 12});
    Event(track, 0, {13});                         // running status on a one-byte message
    Event(track, 0, {0xD5, 33});
    Event(track, 0, {0xE6, 0x7F, 0x7F});
    Event(track, 0, {0xE6, 0x00, 0x40});
    Event(track, 470, {0xFF, 0x2F, 0});
    Event(track, 100, {0x90, 70, 1}); // after the end of the track: not read
    Bytes file = Header(0, 1, 480);
    AppendTrack(file, track);

    MidiFile midi;
    std::string error;
    ASSERT_TRUE(midi.Parse(file, 48000.0, error)) << error;
    EXPECT_EQ(midi.GetFormat(), 0);
    struct Expected {
        std::int64_t tick;
        Type type;
        int channel, data1, data2;
    };
    const Expected expected[] = {
        {0, Type::NoteOn, 1, 60, 100},        {480, Type::NoteOff, 1, 60, 0},     {480, Type::NoteOn, 1, 61, 90},
        {490, Type::NoteOff, 1, 61, 64},      {490, Type::PolyPressure, 2, 62, 5}, {490, Type::Controller, 3, 7, 99},
        {490, Type::ProgramChange, 4, 12, 0}, {490, Type::ProgramChange, 4, 13, 0},
        {490, Type::ChannelPressure, 5, 33, 0}, {490, Type::PitchBend, 6, 0x7F, 0x7F},
        {490, Type::PitchBend, 6, 0x00, 0x40},
    };
    const auto& events = midi.GetEvents();
    ASSERT_EQ(events.size(), std::size(expected));
    for (std::size_t i = 0; i < events.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(events[i].tick, expected[i].tick);
        EXPECT_EQ(events[i].type, expected[i].type);
        EXPECT_EQ(events[i].channel, expected[i].channel);
        EXPECT_EQ(events[i].data1, expected[i].data1);
        EXPECT_EQ(events[i].data2, expected[i].data2);
    }
    EXPECT_EQ(events[1].sample, 24000); // 480 ticks at 120 bpm: half a second
    EXPECT_DOUBLE_EQ(events[1].seconds, 0.5);
    EXPECT_EQ(events[9].GetPitchBend(), 16383);
    EXPECT_EQ(events[10].GetPitchBend(), 8192);
    EXPECT_EQ(events[1].GetBytes(), (std::array<std::uint8_t, 3>{0x81, 60, 0}));
    EXPECT_EQ(events[6].GetSize(), 2);
    EXPECT_EQ(events[6].GetBytes(), (std::array<std::uint8_t, 3>{0xC4, 12, 0}));
    EXPECT_EQ(midi.GetLengthInTicks(), 960);
    EXPECT_EQ(midi.GetLengthInSamples(), 48000);
}

TEST(MidiFile, MergesTracksInTimeOrderAndTimesNotesThroughTheTempoMap)
{
    Bytes notes;
    Event(notes, 0, {0x90, 60, 127});
    Event(notes, 1440, {0x80, 60, 0});   // 960 ticks at 120 bpm (1 s), then 480 at 60 bpm (1 s)
    Event(notes, 0, {0x90, 64, 127});
    Event(notes, 0, {0xFF, 0x2F, 0});
    Bytes file = TwoTrackFile(notes);
    Bytes third; // equal times: the third track's events follow the second's
    Event(third, 0, {0x90, 72, 1});
    Event(third, 1440, {0x80, 72, 0});
    AppendTrack(file, third);
    file[11] = 3;

    MidiFile midi;
    std::string error;
    ASSERT_TRUE(midi.Parse(file, 44100.0, error)) << error;
    EXPECT_EQ(midi.GetTrackCount(), 3);
    const auto& events = midi.GetEvents();
    ASSERT_EQ(events.size(), 5u);
    const int order[][2] = {{1, 60}, {2, 72}, {1, 60}, {1, 64}, {2, 72}};
    for (std::size_t i = 0; i < events.size(); ++i) {
        EXPECT_EQ(events[i].track, order[i][0]) << i;
        EXPECT_EQ(events[i].data1, order[i][1]) << i;
    }
    EXPECT_EQ(events[2].sample, 88200);
    EXPECT_EQ(midi.GetLengthInTicks(), 1920); // the tempo track ends last
    EXPECT_DOUBLE_EQ(midi.GetLengthInSeconds(), 3.0);
    midi.SetSampleRate(48000.0);
    EXPECT_EQ(events[2].sample, 96000);
    EXPECT_EQ(midi.GetLengthInSamples(), 144000);
}

TEST(MidiTempoMap, GivesTempoSignatureAndBarAtSamplePositions)
{
    MidiFile midi;
    std::string error;
    ASSERT_TRUE(midi.Parse(TwoTrackFile({}), 48000.0, error)) << error;
    const MidiTempoMap& map = midi.GetTempoMap();
    ASSERT_EQ(map.GetTempoChanges().size(), 2u);
    EXPECT_DOUBLE_EQ(map.GetTempoChanges()[1].seconds, 1.0);
    ASSERT_EQ(map.GetTimeSignatures().size(), 2u);
    EXPECT_DOUBLE_EQ(map.GetTimeSignatures()[1].seconds, 3.0);
    const auto positions = map.MakeTempoMap(48000.0);

    struct Case {
        double seconds, ppq, bpm;
        int numerator, denominator;
        double barStart;
    };
    for (const Case& c : {Case{0.0, 0.0, 120, 3, 4, 0.0}, Case{0.75, 1.5, 120, 3, 4, 0.0},
                          Case{1.0, 2.0, 60, 3, 4, 0.0}, Case{2.0, 3.0, 60, 3, 4, 3.0},
                          Case{3.0, 4.0, 60, 6, 8, 4.0}, Case{5.5, 6.5, 60, 6, 8, 4.0},
                          Case{6.0, 7.0, 60, 6, 8, 7.0}}) {
        SCOPED_TRACE(c.seconds);
        const auto position = positions->At(static_cast<std::int64_t>(c.seconds * 48000));
        EXPECT_DOUBLE_EQ(position.quarters, c.ppq);
        EXPECT_DOUBLE_EQ(position.tempo, c.bpm);
        EXPECT_EQ(position.numerator, c.numerator);
        EXPECT_EQ(position.denominator, c.denominator);
        EXPECT_DOUBLE_EQ(position.barStart, c.barStart);
    }
}

TEST(MidiFile, TimesSmpteDivisionsInFramesAndTicks)
{
    Bytes track;
    Event(track, 0, {0xFF, 0x51, 3, 0x0F, 0x42, 0x40}); // 60 bpm
    Event(track, 1500, {0x90, 60, 100});
    Bytes file = Header(0, 1, 0xE728); // 25 frames per second, 40 ticks each
    AppendTrack(file, track);
    MidiFile midi;
    std::string error;
    ASSERT_TRUE(midi.Parse(file, 48000.0, error)) << error;
    ASSERT_EQ(midi.GetEvents().size(), 1u);
    EXPECT_EQ(midi.GetEvents()[0].sample, 72000);
    EXPECT_DOUBLE_EQ(midi.GetTempoMap().MakeTempoMap(48000.0)->At(72000).quarters, 1.5);
}

TEST(MidiFile, RefusesDamagedAndForeignFilesWithOneLineReasons)
{
    const auto file = [](int format, const Bytes& events) {
        Bytes bytes = Header(format, 1, 96);
        AppendTrack(bytes, events);
        return bytes;
    };
    Bytes cutTrack = file(0, {0, 0x90, 60, 1});
    cutTrack.pop_back();
    const struct {
        Bytes bytes;
        const char* reason;
    } cases[] = {
        {{}, "not a MIDI file"},
        {{'R', 'I', 'F', 'F', 0, 0, 0, 0, 'W', 'A', 'V', 'E'}, "not a MIDI file"},
        {{'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 0}, "header is cut short"},
        {file(2, {0, 0xFF, 0x2F, 0}), "format 2"},
        {Header(1, 2, 96), "it has 0 of its 2 tracks"},
        {cutTrack, "track 1 is cut short"},
        {file(0, {0, 0x90, 60}), "track 1: the last event is cut short"},
        {file(0, {0, 60, 100}), "data byte without a status"},
        {file(0, {0xFF, 0xFF, 0xFF, 0xFF, 0x00}), "delta time longer than four bytes"},
        {file(0, {0, 0xF2, 1, 2}), "unexpected status byte 0xF2"},
        {file(0, {0, 0xFF, 0x51, 0x83}), "the last event is cut short"},
        {Header(0, 1, 0), "zero ticks per quarter note"},
    };
    for (const auto& c : cases) {
        MidiFile midi;
        std::string error;
        EXPECT_FALSE(midi.Parse(c.bytes, 44100.0, error)) << c.reason;
        EXPECT_NE(error.find(c.reason), std::string::npos) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
        EXPECT_TRUE(midi.GetEvents().empty());
    }
    MidiFile midi;
    std::string error;
    EXPECT_FALSE(midi.Read("/nonexistent/song.mid", 44100.0, error));
    EXPECT_NE(error.find("cannot read"), std::string::npos) << error;
}

} // namespace
