// SPDX-License-Identifier: GPL-3.0-or-later
// kafh process: the samples that come out of real plug-ins and internal filters.
#include "tests/tools/KafhTestSupport.h"

namespace kafhtest {
namespace {

constexpr int kRate = 44100;

class KafhProcess : public KafhTest {
public:
    void SetUp() override
    {
        KafhTest::SetUp();
        ScanTestPlugins();
    }

    /// Writes the signal as IN, processes it and reads OUT back; empty when kafh failed.
    Channels Process(const Channels& signal, std::vector<std::string> options, const std::string& id)
    {
        const auto in = mFolder / "in.wav";
        const auto out = mFolder / "out.wav";
        std::filesystem::remove(out);
        EXPECT_TRUE(WriteAudio(in, signal, kRate));
        std::vector<std::string> arguments{"process", id, in.string(), out.string()};
        arguments.insert(arguments.end(), options.begin(), options.end());
        const auto result = Kafh(arguments);
        EXPECT_EQ(result.exitCode, 0) << result.err;
        int rate = 0;
        auto output = ReadAudio(out, &rate);
        if (!output.empty()) {
            EXPECT_EQ(rate, kRate);
        }
        return output;
    }
};

void ExpectScaled(const Channels& in, const Channels& out, const std::vector<float>& gains)
{
    ASSERT_EQ(out.size(), in.size());
    for (std::size_t c = 0; c < in.size(); ++c) {
        ASSERT_EQ(out[c].size(), in[c].size()) << "channel " << c;
        for (std::size_t i = 0; i < in[c].size(); ++i) {
            ASSERT_FLOAT_EQ(out[c][i], in[c][i] * gains[c]) << "channel " << c << " frame " << i;
        }
    }
}

TEST_F(KafhProcess, GainPluginScalesEverySampleAndKeepsTheLength)
{
    const auto signal = TestSignal(2, 10007);
    // Gain 50 of 0..200 is a quarter of the range: a linear gain of 0.5.
    ExpectScaled(signal, Process(signal, {"--param", "Gain=50"}, "2:1264994158 KafhGain"), {0.5f, 0.5f});
    // The internal gain takes decibels.
    ExpectScaled(signal, Process(signal, {"--param", "Gain=-6.0206"}, "kafh.example.gain"), {0.5f, 0.5f});
}

TEST_F(KafhProcess, LatencyIsCompensatedWhateverTheBlockSize)
{
    const auto signal = TestSignal(2, 5000);
    struct Case {
        std::string block;
        std::vector<std::string> parameters;
    };
    // 64 and 128 frames of latency against blocks smaller than, equal to and larger than it.
    for (const auto& [block, parameters] : std::vector<Case>{{"32", {}},
                                                              {"64", {}},
                                                              {"1000", {}},
                                                              {"100", {"--param", "Latency=1"}},
                                                              {"4096", {"--param", "Latency=1"}}}) {
        SCOPED_TRACE("block " + block + (parameters.empty() ? "" : " long latency"));
        std::vector<std::string> options{"--block", block};
        options.insert(options.end(), parameters.begin(), parameters.end());
        ExpectScaled(signal, Process(signal, options, "KafhLatency"), {1.0f, 1.0f});
    }
    // The internal delay reports its delay as latency too: 10 ms at 44100 Hz.
    ExpectScaled(signal, Process(signal, {"--param", "Delay=10"}, "kafh.example.delay"), {1.0f, 1.0f});
}

TEST_F(KafhProcess, NarrowFilterRunsOncePerChannelGroupUnlessMapped)
{
    const auto signal = TestSignal(3, 3000);
    // A stereo plug-in on three channels: two instances (channels 0-1 and 2), the same settings.
    ExpectScaled(signal, Process(signal, {"--param", "Gain=50"}, "KafhGain"), {0.5f, 0.5f, 0.5f});
    // A mono file asks the plug-in for a mono layout.
    const auto mono = TestSignal(1, 3000);
    ExpectScaled(mono, Process(mono, {"--param", "Gain=150"}, "KafhGain"), {1.5f});

    // An explicit map runs one instance; the unmapped channels pass through.
    ExpectScaled(signal, Process(signal, {"--param", "Gain=50", "--map", "0=2"}, "KafhGain"), {1.0f, 1.0f, 0.5f});
    // Passed-through channels are delayed like the processed ones, so all stay aligned.
    ExpectScaled(signal, Process(signal, {"--map", "1=0", "--block", "50"}, "KafhLatency"), {1.0f, 1.0f, 1.0f});
}

TEST_F(KafhProcess, TailRendersPastTheEnd)
{
    const auto signal = TestSignal(2, 4410);
    const auto fixed = Process(signal, {"--tail", "0.5", "--param", "Delay=100"}, "kafh.example.delay");
    ASSERT_EQ(fixed.size(), 2u);
    ASSERT_EQ(fixed[0].size(), signal[0].size() + kRate / 2);
    // The delay's latency is removed, so the tail holds nothing but silence.
    for (std::size_t i = signal[0].size(); i < fixed[0].size(); ++i) {
        ASSERT_EQ(fixed[0][i], 0.0f) << i;
    }

    // auto: no reported tail, so until 100 ms of silence.
    const auto automatic = Process(signal, {"--tail", "auto"}, "KafhLatency");
    ASSERT_EQ(automatic.size(), 2u);
    EXPECT_EQ(automatic[0].size(), signal[0].size() + static_cast<std::size_t>(kRate / 10));
}

TEST_F(KafhProcess, ReadsAndWritesOtherFormats)
{
    const auto signal = TestSignal(2, 2000);
    const auto in = mFolder / "in.flac";
    const auto out = mFolder / "out.aiff";
    ASSERT_TRUE(WriteAudio(in, signal, kRate, SF_FORMAT_FLAC | SF_FORMAT_PCM_24));
    const auto result = Kafh({"process", "KafhGain", in.string(), out.string(), "--quiet"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    EXPECT_TRUE(result.out.empty());
    const auto output = ReadAudio(out);
    ASSERT_EQ(output.size(), 2u);
    ASSERT_EQ(output[0].size(), signal[0].size());
    const auto reference = ReadAudio(in);
    for (std::size_t i = 0; i < signal[0].size(); ++i) {
        ASSERT_EQ(output[1][i], reference[1][i]) << i;
    }
}

TEST_F(KafhProcess, PresetSavedWithParametersLoadsIntoProcessAndPresetLoad)
{
    const auto preset = (mFolder / "half.preset").string();
    const auto save = Kafh({"preset", "save", "KafhGain", preset, "--param", "Gain=50"});
    ASSERT_EQ(save.exitCode, 0) << save.err;
    const auto signal = TestSignal(2, 3000);
    ExpectScaled(signal, Process(signal, {"--preset", preset}, "KafhGain"), {0.5f, 0.5f});
    // Parameters given after the preset win.
    ExpectScaled(signal, Process(signal, {"--preset", preset, "--param", "Gain=200"}, "KafhGain"), {2.0f, 2.0f});

    // A chunk preset and an internal filter's parameter list come back too.
    struct Case {
        std::string id;
        std::string assignment;
        std::string shown;
    };
    for (const auto& [id, assignment, shown] : std::vector<Case>{{"KafhGain", "Gain=150", "Gain = 150"},
                                                                 {"KafhChunk", "Right Gain=0.75", "Right Gain = 0.75"},
                                                                 {"kafh.example.delay", "Delay=250", "= 250"}}) {
        SCOPED_TRACE(id);
        ASSERT_EQ(Kafh({"preset", "save", id, preset, "--param", assignment}).exitCode, 0);
        const auto load = Kafh({"preset", "load", id, preset});
        ASSERT_EQ(load.exitCode, 0) << load.err;
        EXPECT_NE(load.out.find(shown), std::string::npos) << load.out;
    }
}

} // namespace
} // namespace kafhtest
