// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/vst2/VSTAudioFilter.h"
#include "tests/support/MappedRunner.h"
#include "tests/support/TraceCapture.h"
#include "tests/support/Vst2TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace kelaudiofilterhost {
namespace {

using namespace kelaudiofilterhost::testing;
using Layouts = std::vector<std::vector<AudioChannelDescription>>;
using kelmediatypes::ChannelLayout;

std::vector<UTF16String> BusNames(const std::vector<AudioFilterBusDescription>& buses)
{
    std::vector<UTF16String> names;
    for (const auto& bus : buses) {
        names.push_back(bus.GetName() + u"/" + kelcore::NumberToString(std::uint32_t{bus.GetChannelCount()}));
    }
    return names;
}

TEST(VSTIOConfiguration, BusesComeFromCountsOrTheNegotiatedArrangement)
{
    struct Case {
        const char* plugin;
        std::int32_t id;
        Layouts inputs;
        Layouts outputs;
        std::vector<UTF16String> in;
        std::vector<UTF16String> out;
    } cases[] = {
        // Default buses from the effect's counts.
        {"KafhGain", kafhtest::kGainId, {}, {}, {u"Stereo In/2"}, {u"Stereo Out/2"}},
        {"KafhSurround", kafhtest::kSurroundId, {}, {}, {u"Multi-mono In/3"}, {u"Stereo Out/2"}},
        {"KafhAccumulate", kafhtest::kAccumulateId, {}, {}, {u"Mono In/1"}, {u"Stereo Out/2"}},
        // Negotiated arrangements.
        {"KafhSurround", kafhtest::kSurroundId, {kelmediatypes::CreateBroadcast51ChannelLayout()},
         {kelmediatypes::CreateBroadcast51ChannelLayout()}, {u"Surround 5.1 In/6"}, {u"Surround 5.1 Out/6"}},
        {"KafhSurround", kafhtest::kSurroundId, {kelmediatypes::CreateStereoChannelLayout()},
         {kelmediatypes::CreateStereoChannelLayout()}, {u"Stereo In/2"}, {u"Stereo Out/2"}},
        // Refused (five channels), skipped (counts differ): buses from the counts.
        {"KafhSurround", kafhtest::kSurroundId, {ChannelLayout(5)}, {ChannelLayout(5)}, {u"Multi-mono In/3"},
         {u"Stereo Out/2"}},
        {"KafhSurround", kafhtest::kSurroundId, {kelmediatypes::CreateBroadcast51ChannelLayout()},
         {kelmediatypes::CreateStereoChannelLayout()}, {u"Multi-mono In/3"}, {u"Stereo Out/2"}},
        // Mono through a stereo effect that can do mono; an old effect without it stays stereo.
        {"KafhGain", kafhtest::kGainId, {kelmediatypes::CreateMonoChannelLayout()},
         {kelmediatypes::CreateMonoChannelLayout()}, {u"Mono In/1"}, {u"Mono Out/1"}},
        {"KafhOldMain", kafhtest::kOldMainId, {kelmediatypes::CreateMonoChannelLayout()},
         {kelmediatypes::CreateMonoChannelLayout()}, {u"Stereo In/2"}, {u"Stereo Out/2"}},
    };
    for (const auto& c : cases) {
        auto filter = OpenTestEffect(c.plugin, c.id);
        ASSERT_TRUE(filter) << c.plugin;
        if (!c.inputs.empty()) {
            filter->RequestIOConfiguration(c.inputs, c.outputs);
        }
        EXPECT_EQ(BusNames(filter->GetInputBuses()), c.in) << c.plugin;
        EXPECT_EQ(BusNames(filter->GetOutputBuses()), c.out) << c.plugin;
    }

    // Several layouts per direction leave the buses alone.
    auto surround = OpenTestEffect("KafhSurround", kafhtest::kSurroundId);
    surround->RequestIOConfiguration({kelmediatypes::CreateStereoChannelLayout()}, {kelmediatypes::CreateStereoChannelLayout()});
    surround->RequestIOConfiguration({ChannelLayout(1), ChannelLayout(1)}, {ChannelLayout(1)});
    EXPECT_EQ(BusNames(surround->GetInputBuses()), std::vector<UTF16String>{u"Stereo In/2"});
}

TEST(VSTProcessing, MonoThroughStereoFeedsTheMonoInputToBothInputs)
{
    auto filter = OpenTestEffect("KafhGain", kafhtest::kGainId);
    filter->RequestIOConfiguration({kelmediatypes::CreateMonoChannelLayout()}, {kelmediatypes::CreateMonoChannelLayout()});
    ASSERT_TRUE(filter->IsMonoThroughStereo());
    filter->SetParameter(0, 0.25f); // gain 0.5
    filter->SetBlockSize(64);
    filter->Resume();
    std::vector<float> in(64, 0.5f), out(64, 9.0f);
    float* inputs[] = {in.data()};
    float* outputs[] = {out.data()};
    filter->Process(inputs, outputs, 64);
    EXPECT_EQ(out, std::vector<float>(64, 0.25f));
}

// Runs one block through the filter's buses: caller input c holds c + 1. The arrays go on past the
// buses to a poisoned channel, which an effect given only what the buses hold would read and write.
std::vector<float> RunWithPoisonBeyondTheBuses(vst::VSTAudioFilter& filter, int frames, bool& poisonWritten)
{
    constexpr std::size_t kArrays = 1100; // beyond every count a filter processes
    constexpr float kPoison = 1000.0f;
    const auto ins = filter.GetNumberOfInputChannels();
    const auto outs = filter.GetNumberOfOutputChannels();
    std::vector<std::vector<float>> in(ins), out(outs, std::vector<float>(static_cast<std::size_t>(frames)));
    std::vector<float> poisonIn(static_cast<std::size_t>(frames), kPoison), poisonOut = poisonIn;
    std::vector<float*> inputs(kArrays, poisonIn.data()), outputs(kArrays, poisonOut.data());
    for (std::size_t c = 0; c < ins; ++c) {
        in[c].assign(static_cast<std::size_t>(frames), static_cast<float>(c + 1));
        inputs[c] = in[c].data();
    }
    for (std::size_t c = 0; c < outs; ++c) {
        outputs[c] = out[c].data();
    }
    filter.Process(inputs.data(), outputs.data(), frames);
    poisonWritten = poisonOut != poisonIn;
    std::vector<float> firstSamples;
    for (const auto& channel : out) {
        EXPECT_TRUE(std::all_of(channel.begin(), channel.end(), [&](float v) { return v == channel[0]; }));
        firstSamples.push_back(channel[0]);
    }
    return firstSamples;
}

// What KafhWide with `channels` channels gives on `outs` outputs when `ins` inputs reach it.
std::vector<float> WideOutputs(std::size_t channels, std::size_t ins, std::size_t outs)
{
    std::vector<float> expected;
    for (std::size_t c = 0; c < outs; ++c) {
        const std::size_t next = (c + 1) % channels;
        const float nextInput = next < ins ? static_cast<float>(next + 1) : 0.0f;
        expected.push_back(0.5f * static_cast<float>(c + 1) + 0.25f * nextInput);
    }
    return expected;
}

// Effects that process more channels than the caller's buses: the rest are silent in and discarded out.
TEST(VSTProcessing, EffectsGetArraysAsLongAsTheirOwnChannelCounts)
{
    const auto path = TestPlugin("KafhWide");
    auto module = vst::GetOrLoadModule(path);
    ASSERT_TRUE(module);
    auto open = [&](std::uint32_t channels) {
        return boost::static_pointer_cast<vst::VSTAudioFilter>(
            module->CreateAudioFilter(vst::MakeComponentID(channels, path)));
    };
    bool poisonWritten = false;

    // 64 channels that accept a stereo arrangement and keep their counts.
    auto stereo = open(64);
    ASSERT_TRUE(stereo);
    stereo->RequestIOConfiguration({kelmediatypes::CreateStereoChannelLayout()},
                                   {kelmediatypes::CreateStereoChannelLayout()});
    EXPECT_EQ(BusNames(stereo->GetInputBuses()), std::vector<UTF16String>{u"Stereo In/2"});
    stereo->SetBlockSize(32);
    stereo->Resume();
    EXPECT_EQ(RunWithPoisonBeyondTheBuses(*stereo, 32, poisonWritten), WideOutputs(64, 2, 2));
    EXPECT_FALSE(poisonWritten);

    // More channels than any common layout, all of them the caller's.
    auto wide = open(300);
    ASSERT_TRUE(wide);
    EXPECT_EQ(BusNames(wide->GetOutputBuses()), std::vector<UTF16String>{u"Multi-mono Out/300"});
    wide->SetBlockSize(32);
    wide->Resume();
    EXPECT_EQ(RunWithPoisonBeyondTheBuses(*wide, 32, poisonWritten), WideOutputs(300, 300, 300));
    EXPECT_FALSE(poisonWritten);

    // An effect that grows while suspended (and says so) gets the longer arrays at the next Resume.
    auto growing = open(8);
    ASSERT_TRUE(growing);
    growing->SetParameter(0, 16.0f / 4096.0f);
    growing->SetBlockSize(32);
    growing->Resume();
    EXPECT_EQ(RunWithPoisonBeyondTheBuses(*growing, 32, poisonWritten), WideOutputs(16, 8, 8));
    EXPECT_FALSE(poisonWritten);

    // Beyond what the host handles: refused, with the reason traced.
    TraceCapture trace;
    EXPECT_FALSE(open(2000));
    EXPECT_TRUE(trace.Contains("2000 inputs"));
}

TEST(VSTProcessing, AccumulatingEffectsStartFromTheirInputs)
{
    auto filter = OpenTestEffect("KafhAccumulate", kafhtest::kAccumulateId);
    filter->SetBlockSize(16);
    filter->Resume();
    std::vector<float> in(16, 0.5f), left(16, 7.0f), right(16, 0.0f);
    float* inputs[] = {in.data()};
    float* outputs[] = {left.data(), right.data()};
    filter->Process(inputs, outputs, 16);
    EXPECT_EQ(left, std::vector<float>(16, 0.75f)); // pre-filled with the input, then + 0.5 x input
    EXPECT_EQ(right, std::vector<float>(16, 0.125f)); // not pre-filled: 0 + 0.25 x input
}

TEST(VSTProcessing, LatencyIsCompensatedAndFollowsItsChange)
{
    auto filter = OpenTestEffect("KafhLatency", kafhtest::kLatencyId);
    ASSERT_EQ(filter->GetInitialDelay(), kafhtest::kLatencyShort);
    filter->SetUseChannelMap(true);
    filter->SetChannelMapTargetChannelLayout(kelmediatypes::CreateQuadraphonicChannelLayout());
    filter->SetDefaultChannelMap(true);
    filter->SetDefaultChannelMap(false);
    filter->SetBlockSize(100);
    filter->Resume();
    auto out = RunMapped(*filter, 4, 4, 1000, {100, 37});
    for (int c = 0; c < 4; ++c) {
        EXPECT_EQ(out[c], Delayed(c, 1000, kafhtest::kLatencyShort)) << c;
    }
    filter->Suspend();
    filter->SetParameter(0, 1.0f); // the effect reports the longer latency (and says so with ioChanged)
    ASSERT_EQ(filter->GetInitialDelay(), kafhtest::kLatencyLong);
    filter->Resume();
    out = RunMapped(*filter, 4, 4, 1000, {100});
    for (int c = 2; c < 4; ++c) {
        EXPECT_EQ(out[c], Delayed(c, 1000, kafhtest::kLatencyLong)) << c;
    }
}

TEST(VSTProcessing, SideChainTargetReachesTheEffectsThirdInput)
{
    auto filter = OpenTestEffect("KafhSurround", kafhtest::kSurroundId);
    ASSERT_TRUE(filter->CanUseSideChaining()); // 3 in, 2 out
    filter->SetUseChannelMap(true);
    filter->SetChannelMapTargetChannelLayout(kelmediatypes::CreateStereoChannelLayout());
    filter->SetSideChainTargetBus(AudioFilterBusDescription::CreateMono(u"Key", AudioFilterBusDescription::kSideChain));
    filter->SetChannelMap({{0, 0}, {1, 1}}, true);
    filter->SetDefaultChannelMap(false);
    filter->AutoConnectSideChainChannels(true);
    EXPECT_EQ(filter->GetChannelMap(true), (ChannelMap{{0, 0}, {1, 1}, {2, 2}}));
    filter->SetBlockSize(8);
    filter->Resume();
    std::vector<float> left(8, 0.5f), right(8, -0.5f), key(8, 0.75f), outLeft(8), outRight(8);
    float* inputs[] = {left.data(), right.data(), key.data()};
    float* outputs[] = {outLeft.data(), outRight.data()};
    filter->ProcessWithMapping(inputs, outputs, 8);
    EXPECT_EQ(outLeft, std::vector<float>(8, 0.125f)); // 0.5 x (1 - 0.75)
    EXPECT_EQ(outRight, std::vector<float>(8, -0.125f));
}

TEST(VSTProcessing, SynthSoundsEachNoteFromItsEventFrameToItsNoteOff)
{
    auto filter = OpenTestEffect("KafhSynth", kafhtest::kSynthId);
    ASSERT_TRUE(filter);
    filter->SetSampleRate(48000.0f);
    filter->SetBlockSize(256);
    filter->Resume();
    const auto midi = [](std::int32_t frame, int status, int note, int velocity) {
        vst::abi::VstMidiEvent event{};
        event.type = vst::abi::kVstMidiType;
        event.byteSize = sizeof event;
        event.deltaFrames = frame;
        event.midiData[0] = static_cast<char>(status);
        event.midiData[1] = static_cast<char>(note);
        event.midiData[2] = static_cast<char>(velocity);
        return event;
    };
    // A5 at full velocity from frame 10 to 200, then its note-on of velocity 0 as the note-off.
    vst::abi::VstMidiEvent notes[] = {midi(10, 0x90, 81, 127), midi(200, 0x90, 81, 0)};
    struct {
        std::int32_t numEvents;
        std::intptr_t reserved;
        vst::abi::VstEvent* events[2];
    } list{2, 0, {reinterpret_cast<vst::abi::VstEvent*>(&notes[0]), reinterpret_cast<vst::abi::VstEvent*>(&notes[1])}};
    filter->Dispatch(vst::abi::effProcessEvents, 0, 0, &list);
    std::vector<float> left(256, 1.0f), right(256, 1.0f);
    float* outputs[] = {left.data(), right.data()};
    filter->Process(nullptr, outputs, 256);
    for (int i = 0; i < 256; ++i) {
        const double expected = i >= 10 && i < 200 ? 0.25 * std::sin(2.0 * std::numbers::pi * 880.0 * (i - 10) / 48000.0) : 0.0;
        ASSERT_NEAR(left[i], expected, 1e-6) << i;
        ASSERT_EQ(right[i], left[i]) << i;
    }
}

} // namespace
} // namespace kelaudiofilterhost
