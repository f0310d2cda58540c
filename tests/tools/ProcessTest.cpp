// SPDX-License-Identifier: GPL-3.0-or-later
// kafh process: the samples that come out of real plug-ins and internal filters.
#include "tests/tools/KafhTestSupport.h"

#include <array>
#include <tuple>

#include <sys/stat.h>
#include <unistd.h>

namespace kafhtest {
namespace {

constexpr int kRate = 44100;

using KafhProcess = KafhScannedTest;

TEST_F(KafhProcess, GainPluginScalesEverySampleAndKeepsTheLength)
{
    const auto signal = TestSignal(2, 10007);
    // Gain 50 of 0..200 is a quarter of the range: a linear gain of 0.5.
    ExpectScaled(signal, Process(signal, {"--param", "Gain=50"}, "2:1264994158 KafhGain"), {0.5f, 0.5f});
    // The internal gain takes decibels.
    ExpectScaled(signal, Process(signal, {"--param", "Gain=-6.0206"}, "kafh.example.gain"), {0.5f, 0.5f});
}

TEST_F(KafhProcess, AutomationChangesLandOnTheirSamples)
{
    const auto signal = TestSignal(2, 3000);
    const auto points = mFolder / "points.txt";
    // Halved from frame 500 (off every block boundary), back to unity at 0.05 s (2205 frames).
    for (const auto& [id, half, unity] : {std::tuple{"KafhGain", "50", "100"},
                                          std::tuple{"kafh.example.gain", "-6.0206", "0"}}) {
        WriteText(points, std::string("500s Gain ") + half + "\n0.05 Gain " + unity + "\n");
        const auto out = Process(signal, {"--automation", points.string(), "--block", "64"}, id);
        ASSERT_EQ(out.size(), 2u) << id;
        for (const int frame : {0, 499, 500, 2204, 2205}) {
            const float gain = frame >= 500 && frame < 2205 ? 0.5f : 1.0f;
            EXPECT_FLOAT_EQ(out[1][static_cast<std::size_t>(frame)], signal[1][static_cast<std::size_t>(frame)] * gain)
                << id << " frame " << frame;
        }
    }
}

TEST_F(KafhProcess, LatencyIsCompensatedWhateverTheBlockSize)
{
    const auto signal = TestSignal(2, 5000);
    // 64 and 128 frames of latency against blocks smaller than, equal to and larger than it.
    for (const auto& options : std::vector<std::vector<std::string>>{{"--block", "32"},
                                                                     {"--block", "64"},
                                                                     {"--block", "100", "--param", "Latency=1"}}) {
        SCOPED_TRACE(options.size() == 2 ? options[1] : options[1] + " long latency");
        ExpectScaled(signal, Process(signal, options, "KafhLatency"), {1.0f, 1.0f});
    }
    // A latency reported only once switched on still delays the pass-through channel 1 with it.
    ExpectScaled(signal, Process(signal, {"--map", "0=0"}, "KafhLateLatency"), {1.0f, 1.0f});
    // The internal delay reports its delay as latency too.
    ExpectScaled(signal, Process(signal, {"--param", "Delay=10"}, "kafh.example.delay"), {1.0f, 1.0f});
}

TEST_F(KafhProcess, NarrowFilterRunsOncePerChannelGroupUnlessMapped)
{
    const auto signal = TestSignal(3, 3000);
    // A stereo plug-in on three channels: two instances (channels 0-1 and 2), the same settings.
    ExpectScaled(signal, Process(signal, {"--param", "Gain=50"}, "KafhGain"), {0.5f, 0.5f, 0.5f});
    ExpectScaled(signal, Process(signal, {"--param", "Gain=50", "--map", "0=2"}, "KafhGain"), {1.0f, 1.0f, 0.5f});
    // An explicit map runs one instance; the unmapped channels pass through, delayed like the
    // processed one so that all stay aligned.
    ExpectScaled(signal, Process(signal, {"--map", "1=0", "--block", "50"}, "KafhLatency"), {1.0f, 1.0f, 1.0f});
}

TEST_F(KafhProcess, OutputsAreFreshEveryBlockForAccumulatingEffects)
{
    // KafhAccumulate (one input, two outputs, accumulating processing only) adds a quarter of its
    // input to output 1, which the library does not pre-fill: kafh clears it before each block.
    auto signal = TestSignal(2, 3000);
    const auto output = Process(signal, {"--block", "100"}, "KafhAccumulate");
    ASSERT_EQ(output.size(), 2u);
    ASSERT_EQ(output[1].size(), signal[0].size());
    for (std::size_t i = 0; i < output[1].size(); ++i) {
        ASSERT_FLOAT_EQ(output[0][i], 1.5f * signal[0][i]) << i;
        ASSERT_FLOAT_EQ(output[1][i], 0.25f * signal[0][i]) << i;
    }
}

TEST_F(KafhProcess, TailRendersPastTheEndAndOtherFormatsAreReadAndWritten)
{
    const auto signal = TestSignal(2, 4410);
    // auto: no reported tail, so until 100 ms of silence.
    const auto output = Process(signal, {"--tail", "auto"}, "KafhLatency", "in.flac", "out.aiff");
    const auto reference = ReadAudio(mFolder / "in.flac");
    ASSERT_EQ(output.size(), 2u);
    ASSERT_EQ(output[1].size(), signal[1].size() + kRate / 10);
    for (std::size_t i = 0; i < output[1].size(); ++i) {
        ASSERT_EQ(output[1][i], i < reference[1].size() ? reference[1][i] : 0.0f) << i;
    }
}

TEST_F(KafhProcess, PresetSavedWithParametersLoadsIntoProcessAndPresetLoad)
{
    const auto preset = (mFolder / "half.preset").string();
    ASSERT_EQ(Kafh({"preset", "save", "KafhGain", preset, "--param", "Gain=50"}).exitCode, 0);
    const auto signal = TestSignal(2, 3000);
    ExpectScaled(signal, Process(signal, {"--preset", preset}, "KafhGain"), {0.5f, 0.5f});
    // Parameters given after the preset win.
    ExpectScaled(signal, Process(signal, {"--preset", preset, "--param", "Gain=200"}, "KafhGain"), {2.0f, 2.0f});

    // A chunk preset and an internal filter's parameter list come back too.
    for (const auto& [id, assignment, shown] :
         std::vector<std::array<std::string, 3>>{{"KafhChunk", "Right Gain=0.75", "Right Gain = 0.75"},
                                                 {"kafh.example.delay", "Delay=250", "= 250"}}) {
        SCOPED_TRACE(id);
        ASSERT_EQ(Kafh({"preset", "save", id, preset, "--param", assignment}).exitCode, 0);
        const auto load = Kafh({"preset", "load", id, preset});
        ASSERT_EQ(load.exitCode, 0) << load.err;
        EXPECT_NE(load.out.find(shown), std::string::npos) << load.out;
    }
}

TEST_F(KafhProcess, TheOutputIsSavedLikeEveryOtherFileThroughLinksWithItsPermissions)
{
    // out.wav links to a private file in another folder; a killed earlier render left its
    // temporary file beside that file.
    const auto in = mFolder / "in.wav";
    const auto signal = TestSignal(2, 3000);
    ASSERT_TRUE(WriteAudio(in, signal, kRate));
    const auto kept = mFolder / "kept";
    std::filesystem::create_directories(kept);
    const auto real = kept / "real.wav";
    WriteText(real, "old");
    ASSERT_EQ(chmod(real.c_str(), 0640), 0);
    const auto link = mFolder / "out.wav";
    std::filesystem::create_symlink(real, link);
    const pid_t gone = fork();
    if (gone == 0) {
        _exit(0);
    }
    ASSERT_EQ(waitpid(gone, nullptr, 0), gone);
    WriteText(kept / (".real.wav." + std::to_string(gone) + ".0.tmp"), "half");

    const auto result = Kafh({"process", "kafh.example.gain", in.string(), link.string()});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    ExpectScaled(signal, ReadAudio(real), {1.0f, 1.0f});
    struct stat info {};
    ASSERT_EQ(stat(real.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
    EXPECT_EQ(EntryCount(kept), 1) << "the stale temporary file is removed";
}

} // namespace
} // namespace kafhtest
