// SPDX-License-Identifier: GPL-3.0-or-later
// kafh render and --midi: instruments listed with the IDs render takes, renders that repeat
// exactly, and bad MIDI input refused without output.
#include "testplugins/vst2/TestPluginIds.h"
#include "tests/tools/KafhTestSupport.h"

#include <cmath>
#include <numbers>

namespace kafhtest {
namespace {

// Format 1, 96 ticks a quarter at 120 bpm: a tempo track and a track with A4 from 0.25 s to 0.75 s.
const std::string kSong{"MThd\0\0\0\6\0\1\0\2\0\x60"
                        "MTrk\0\0\0\13\0\xFF\x51\3\7\xA1\x20\0\xFF\x2F\0"
                        "MTrk\0\0\0\14\x30\x90\x45\x7F\x60\x80\x45\0\0\xFF\x2F\0",
                        14 + 8 + 11 + 8 + 12};

class KafhRender : public KafhScannedTest {};

TEST_F(KafhRender, ListsInstrumentsWithIdsThatRenderTakesAndRendersTheSameTwice)
{
    const auto listed = Kafh({"list", "--instruments", "--json"});
    ASSERT_EQ(listed.exitCode, 0) << listed.err;
    const std::string id = "2:" + std::to_string(static_cast<std::uint32_t>(kSynthId)) + " KafhSynth";
    EXPECT_NE(listed.out.find("\"id\": \"" + id + "\""), std::string::npos) << listed.out;
    EXPECT_EQ(listed.out.find("KafhGain"), std::string::npos) << listed.out;

    const auto song = mFolder / "song.mid";
    WriteText(song, kSong);
    std::string first;
    for (const char* name : {"a.wav", "b.wav"}) {
        const auto out = mFolder / name;
        const auto result = Kafh({"render", id, out.string(), "--midi", song.string(), "--tempo", "100"});
        ASSERT_EQ(result.exitCode, 0) << result.err;
        const auto audio = ReadAudio(out);
        ASSERT_EQ(audio.size(), 2u);
        // The file's length; A4 sounds from frame 12000 on.
        ASSERT_EQ(audio[0].size(), 36000u);
        EXPECT_EQ(audio[0][12000], 0.0f);
        EXPECT_NEAR(audio[0][12001], 0.25 * std::sin(2 * std::numbers::pi * 440 / 48000), 1e-6);
        const auto bytes = ReadText(out);
        EXPECT_TRUE(first.empty() || bytes == first);
        first = bytes;
    }
}

TEST_F(KafhRender, BadMidiInputGivesOneLineAndNoOutput)
{
    const auto in = (mFolder / "in.wav").string();
    ASSERT_TRUE(WriteAudio(in, TestSignal(2, 1000), 48000));
    const auto song = (mFolder / "song.mid").string();
    WriteText(song, kSong);
    const auto cut = (mFolder / "cut.mid").string();
    WriteText(cut, kSong.substr(0, kSong.size() - 5));
    const auto text = (mFolder / "text.mid").string();
    WriteText(text, "not MIDI at all\n");
    const auto out = (mFolder / "out.wav").string();
    const std::string synth = "KafhSynth";
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"render", synth, out, "--midi", cut}, "cut.mid"},
        {{"render", synth, out, "--midi", text}, "text.mid"},
        {{"render", synth, out}, "--midi"},
        {{"render", synth, out, "--midi", song, "--time-signature", "3/5"}, "--time-signature"},
        {{"process", "KafhGain", in, out, "--midi", song}, "takes no MIDI events"},
    };
    for (const auto& [arguments, names] : cases) {
        ExpectRefused(arguments, 2, names);
        EXPECT_FALSE(std::filesystem::exists(out));
    }
    // An effect that listens to MIDI takes the file.
    EXPECT_EQ(Kafh({"process", "KafhRecorder", in, out, "--midi", song, "-q"}).exitCode, 0);
}

} // namespace
} // namespace kafhtest
