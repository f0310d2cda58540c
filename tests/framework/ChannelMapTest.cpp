// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/framework/AudioFilter.h"
#include "kelaudiofilterhost/framework/DelayLine.h"

#include "kelaudiofilterhost/services/PropList.h"
#include "tests/support/MappedRunner.h"
#include "tests/support/PresetTestFilters.h"
#include "tests/support/TestFilters.h"

#include <gtest/gtest.h>

#include <optional>
#include <tuple>

namespace kelaudiofilterhost {
namespace {

using namespace kelaudiofilterhost::testing;
using Bus = AudioFilterBusDescription;
using kelcore::proplist::PropList;
namespace layouts = kelmediatypes;

// A filter (stereo unless told) with maps on and default maps onto the target layout.
boost::intrusive_ptr<DelayingGainFilter> Mapped(const layouts::ChannelLayout& target, int blockSize = 16,
                                                std::vector<Bus> inputs = {StereoBus()},
                                                std::vector<Bus> outputs = {StereoBus()})
{
    boost::intrusive_ptr<DelayingGainFilter> filter = new DelayingGainFilter(inputs, outputs);
    filter->SetUseChannelMap(true);
    filter->SetChannelMapTargetChannelLayout(target);
    filter->SetBlockSize(blockSize);
    filter->SetDefaultChannelMap(true);
    filter->SetDefaultChannelMap(false);
    return filter;
}

// A stored map: "C" the unsigned entry count (left out when negative), then "S_n"/"D_n" entries.
PropList Mapping(long long count, std::initializer_list<std::pair<const char*, std::int32_t>> entries)
{
    PropList child;
    if (count >= 0) {
        child.SetValue("C", static_cast<std::uint32_t>(count));
    }
    for (const auto& [key, value] : entries) {
        child.SetValue(key, value);
    }
    return child;
}

TEST(ChannelMap, EditsFireTheSignalWithOldAndNewMaps)
{
    boost::intrusive_ptr<DelayingGainFilter> filter = new DelayingGainFilter({StereoBus()}, {StereoBus()});
    std::vector<std::tuple<bool, ChannelMap, ChannelMap>> changes;
    filter->GetChannelMapChangedSignal().connect(
        [&](bool input, ChannelMap before, ChannelMap after) { changes.emplace_back(input, before, after); });
    filter->SetChannelMap({{0, 0}, {1, 1}}, true);
    filter->AssignChannelMapping(true, 0, 1);
    filter->RemoveChannelMapping(false, 4);
    filter->AssignChannelMapping(false, 1, 0);
    filter->RemoveChannelMapping(true, 0);
    const decltype(changes) expected{
        {true, {}, {{0, 0}, {1, 1}}},
        {true, {{0, 0}, {1, 1}}, {{0, 1}}}, // key 0 replaced, the old holder of target 1 removed
        {false, {}, {}},                    // fires also when nothing changed
        {false, {}, {{1, 0}}},
        {true, {{0, 1}}, {}},
    };
    EXPECT_EQ(changes, expected);
}

TEST(ChannelMap, DefaultAndBestFitMaps)
{
    const auto stereo = layouts::CreateStereoChannelLayout();
    // Filter inputs, side-chain target layout (main target stereo), default map, whether it counts as default.
    const std::tuple<std::vector<Bus>, layouts::ChannelLayout, ChannelMap, bool> defaults[] = {
        {{StereoBus()}, stereo, {{0, 0}, {1, 1}}, false}, // side-chain target channels count
        {{StereoBus(), MonoBus(Bus::kSideChain)}, layouts::CreateMonoChannelLayout(), {{0, 0}, {1, 1}, {2, 2}}, true},
        {{}, {}, {}, true},
    };
    for (const auto& [inputs, sideChain, expected, isDefault] : defaults) {
        boost::intrusive_ptr<DelayingGainFilter> filter = new DelayingGainFilter(inputs, {StereoBus()});
        filter->SetChannelMapTargetChannelLayout(stereo);
        filter->SetSideChainTargetBus(Bus(u"", sideChain, Bus::kSideChain));
        EXPECT_TRUE(filter->IsChannelMapDefault(true)); // empty
        filter->SetDefaultChannelMap(true);
        EXPECT_EQ(filter->GetChannelMap(true), expected);
        EXPECT_EQ(filter->IsChannelMapDefault(true), isDefault);
    }
    auto swapped = Mapped(stereo);
    swapped->SetChannelMap({{0, 1}, {1, 0}}, true);
    EXPECT_FALSE(swapped->IsChannelMapDefault(true));

    const std::tuple<std::vector<Bus>, layouts::ChannelLayout, ChannelMap> bestFits[] = {
        {{StereoBus()}, {layouts::ChannelRole::Right, layouts::ChannelRole::Left}, {{0, 1}, {1, 0}}},
        {{StereoBus()}, layouts::Create_C_LFE_ChannelLayout(), {{0, 0}, {1, 1}}}, // no role matches: identity
        {{StereoBus()}, layouts::CreateMonoChannelLayout(), {{0, 0}}},
        {{Bus::CreateSurround51(u"", Bus::kMain)}, layouts::CreateQuadraphonicChannelLayout(),
         {{0, 0}, {1, 1}, {4, 2}, {5, 3}}},
        {{MonoBus(), StereoBus(Bus::kSideChain)}, stereo, {{0, 0}}}, // only the first bus counts
        {std::vector<Bus>{}, stereo, {}},
    };
    for (const auto& [buses, target, expected] : bestFits) {
        EXPECT_EQ(AudioFilter::BuildBestFitChannelMap(buses, target), expected);
    }
}

TEST(ChannelMap, SettingsRoundTripInTheStoredFormatAndDamagedOnesLoadWhatIsThere)
{
    auto filter = Mapped(layouts::CreateStereoChannelLayout());
    filter->SetChannelMap({{0, 1}, {1, 0}}, true);
    filter->SetChannelMap({{-2, 5}, {1, 1}}, false);
    PropList settings;
    ASSERT_TRUE(filter->SaveChannelMapSettings(&settings));
    ASSERT_TRUE(settings.GetChild("InputMapping") && settings.GetChild("OutputMapping"));
    EXPECT_EQ(*settings.GetChild("InputMapping"), Mapping(2, {{"S_1", 0}, {"D_1", 1}, {"S_2", 1}, {"D_2", 0}}));
    auto restored = Mapped({});
    int signals = 0;
    restored->GetChannelMapChangedSignal().connect([&](bool, ChannelMap, ChannelMap) { ++signals; });
    ASSERT_TRUE(restored->LoadChannelMapSettings(&settings));
    EXPECT_EQ(restored->GetChannelMap(true), filter->GetChannelMap(true));
    EXPECT_EQ(restored->GetChannelMap(false), filter->GetChannelMap(false));
    EXPECT_EQ(signals, 0);
    restored->SetUseChannelMap(false);
    EXPECT_FALSE(restored->SaveChannelMapSettings(&settings));
    EXPECT_FALSE(restored->LoadChannelMapSettings(&settings));

    const PropList good = *settings.GetChild("OutputMapping");
    // Stored input and output maps, whether the load succeeds, the input map afterwards.
    const std::tuple<std::optional<PropList>, std::optional<PropList>, bool, ChannelMap> cases[] = {
        {std::nullopt, good, false, {{7, 7}}},
        {Mapping(1, {{"S_1", 0}, {"D_1", 0}}), std::nullopt, false, {{0, 0}}},
        {Mapping(-1, {{"S_1", 0}, {"D_1", 1}}), good, false, {}},
        {Mapping(3, {{"S_1", 0}, {"D_1", 1}, {"D_2", 1}, {"S_3", 2}, {"D_3", 2}}), good, false, {{0, 1}}},
        {Mapping(4294967295, {{"S_1", 1}, {"D_1", 1}}), good, false, {{1, 1}}},
        {Mapping(2, {{"S_1", 0}, {"D_1", 1}, {"S_2", 0}, {"D_2", 0}}), good, true, {{0, 1}}}, // first key wins
    };
    for (const auto& [input, output, ok, expectedInput] : cases) {
        auto damaged = Mapped({});
        damaged->SetChannelMap({{7, 7}}, true);
        PropList stored;
        if (input) {
            *stored.CreateChild("InputMapping") = *input;
        }
        if (output) {
            *stored.CreateChild("OutputMapping") = *output;
        }
        EXPECT_EQ(damaged->LoadChannelMapSettings(&stored), ok);
        EXPECT_EQ(damaged->GetChannelMap(true), expectedInput);
    }
}

// One filter throughout: latency and block size changes take effect at the next Resume.
TEST(ChannelMapProcessing, PassThroughChannelsAreDelayedByExactlyTheLatency)
{
    auto filter = Mapped(layouts::CreateBroadcast51ChannelLayout(), 64);
    filter->SetParameter(0, 0.5f);
    for (int block : {64, 16}) {
        for (int latency : {block, 0, 3 * block + 7, 1, block - 1}) {
            filter->Suspend();
            filter->SetLatency(latency);
            filter->SetBlockSize(block);
            filter->Resume();
            const auto out = RunMapped(*filter, 6, 6, 1500, {block, 1, block / 4 + 1, block - 1, 5});
            for (int c = 0; c < 6; ++c) {
                EXPECT_EQ(out[c], Delayed(c, 1500, latency, c < 2 ? 0.5f : 1.0f))
                    << "block " << block << " latency " << latency << " channel " << c;
            }
        }
    }
}

TEST(ChannelMapProcessing, UnmappedAndOutOfRangeEntries)
{
    // Filter input 0 unmapped, input 1 reads target 3; outputs 0 and 1 write targets 0 and 1.
    auto filter = Mapped(layouts::CreateQuadraphonicChannelLayout());
    filter->SetChannelMap({{1, 3}}, true);
    filter->Resume();
    const auto out = RunMapped(*filter, 4, 4, 64, {16});
    EXPECT_EQ(out[0], std::vector<float>(64, 0.0f)); // from a silent input
    EXPECT_EQ(out[1], Delayed(3, 64, 0));
    EXPECT_EQ(out[2], Delayed(2, 64, 0));             // not written: passes through
    EXPECT_EQ(out[3], std::vector<float>(64, 0.0f)); // fed to the filter, not written: cleared

    // Entries out of range on either side count as unmapped; the maps keep what they were given.
    filter = Mapped(layouts::CreateStereoChannelLayout());
    filter->SetChannelMap({{0, -5}, {1, 1000000}, {-3, 0}, {99, 1}}, true);
    filter->SetChannelMap({{0, 2147483647}, {1, 1}, {-1, 0}, {7, 0}}, false);
    filter->Resume();
    const auto ranged = RunMapped(*filter, 2, 2, 48, {16});
    EXPECT_EQ(ranged[0], Delayed(0, 48, 0));
    EXPECT_EQ(ranged[1], std::vector<float>(48, 0.0f));
    EXPECT_EQ(filter->GetChannelMap(true).size(), 4u);
}

TEST(ChannelMapProcessing, SideChainTargetFeedsSideChainBus)
{
    // Filter output 2 copies the side-chain input and is routed to target 1.
    auto filter = Mapped(layouts::CreateStereoChannelLayout(), 32, {StereoBus(), MonoBus(Bus::kSideChain)},
                         {StereoBus(), MonoBus()});
    filter->SetSideChainTargetBus(MonoBus(Bus::kSideChain));
    filter->SetChannelMap({{0, 0}, {1, 1}}, true);
    filter->SetChannelMap({{0, 0}, {2, 1}}, false);
    filter->AutoConnectSideChainChannels(true);
    EXPECT_EQ(filter->GetChannelMap(true), (ChannelMap{{0, 0}, {1, 1}, {2, 2}}));
    filter->Resume();
    const auto out = RunMapped(*filter, 3, 2, 100, {32, 9});
    EXPECT_EQ(out[0], Delayed(0, 100, 0));
    EXPECT_EQ(out[1], Delayed(2, 100, 0));

    // Without a side-chain target the side-chain input is silent.
    filter->Suspend();
    filter->SetSideChainTargetBus(Bus(u"", {}, Bus::kSideChain));
    filter->Resume();
    EXPECT_EQ(RunMapped(*filter, 2, 2, 40, {32})[1], std::vector<float>(40, 0.0f));
}

TEST(ChannelMapProcessing, BadBlocksAndPointersHaveDefinedResults)
{
    auto filter = Mapped(layouts::CreateStereoChannelLayout());
    filter->Resume();
    std::vector<float> a(32, 1.0f), b(32, 2.0f), outA(32, 9.0f), outB(32, 9.0f);
    float* in[] = {a.data(), b.data()};
    float* out[] = {outA.data(), outB.data()};
    filter->ProcessWithMapping(in, out, 0);
    filter->ProcessWithMapping(in, out, -4);
    EXPECT_EQ(outA[0], 9.0f);
    // Longer than the block size of the last Resume: refused and outputs silenced; counted, and reported
    // once by the next call off the audio thread.
    {
        TraceCapture trace("AudioFilter=5");
        for (int frames : {17, 18, 32}) {
            filter->ProcessWithMapping(in, out, frames);
        }
        EXPECT_EQ(outA, std::vector<float>(32, 0.0f));
        EXPECT_EQ(filter->GetProcessCalls(), 0);
        EXPECT_EQ(trace.Count("longer than"), 0u);
        filter->Suspend();
        filter->Suspend();
        filter->Resume();
        EXPECT_EQ(trace.Count("longer than"), 1u);
        EXPECT_TRUE(trace.Contains("\"test:delaying-gain\": 3 block(s) longer than the block size 16"));
    }
    // Null channel pointers read as silence and write nowhere.
    float* nullIn[] = {nullptr, b.data()};
    float* nullOut[] = {outA.data(), nullptr};
    filter->ProcessWithMapping(nullIn, nullOut, 16);
    EXPECT_EQ(outA[3], 0.0f);
    filter->ProcessWithMapping(nullptr, nullptr, 16);
    EXPECT_EQ(filter->GetProcessCalls(), 2);

    // Without channel maps it is plain Process on the filter's own channels.
    filter->SetUseChannelMap(false);
    filter->SetParameter(0, 3.0f);
    filter->ProcessWithMapping(in, out, 16);
    EXPECT_EQ(outB[15], 6.0f);
}

// After the call the audio path follows the new default map, not the one of the last Resume.
TEST(ChannelMapProcessing, DefaultMapReachesTheAudioPathAtOnce)
{
    auto filter = Mapped(layouts::CreateQuadraphonicChannelLayout());
    filter->SetParameter(0, 0.5f);
    filter->SetChannelMap({{0, 2}, {1, 3}}, true);
    filter->SetChannelMap({{0, 2}, {1, 3}}, false);
    filter->Resume();
    EXPECT_EQ(RunMapped(*filter, 4, 4, 32, {16})[2], Delayed(2, 32, 0, 0.5f));
    filter->SetDefaultChannelMap(true);
    filter->SetDefaultChannelMap(false);
    const auto out = RunMapped(*filter, 4, 4, 32, {16});
    for (int c = 0; c < 4; ++c) {
        EXPECT_EQ(out[c], Delayed(c, 32, 0, c < 2 ? 0.5f : 1.0f)) << c;
    }
}

// Adds its stereo input to all three outputs, as effects with only an accumulating process call do,
// and counts the blocks in which an output it was handed did not hold silence.
class AccumulatingFilter : public AudioFilter {
public:
    AccumulatingFilter() : AudioFilter(u"test:accumulating", u"Accumulating")
    {
        AddInputBus(StereoBus());
        AddOutputBus(StereoBus());
        AddOutputBus(MonoBus());
    }
    void Process(float** inputs, float** outputs, int frameCount) override
    {
        for (int c = 0; c < 3; ++c) {
            mStaleOutputs += std::any_of(outputs[c], outputs[c] + frameCount, [](float x) { return x != 0.0f; });
            for (int i = 0; i < frameCount; ++i) {
                outputs[c][i] += inputs[c % 2][i];
            }
        }
    }
    int mStaleOutputs = 0;
};

// A caller that clears its outputs before each block gets exactly one block's sum, and the filter's
// unmapped output is cleared by mapped processing itself.
TEST(ChannelMapProcessing, AccumulatingFiltersAddToSilenceOnly)
{
    boost::intrusive_ptr<AccumulatingFilter> filter = new AccumulatingFilter;
    filter->SetUseChannelMap(true);
    filter->SetChannelMapTargetChannelLayout(layouts::CreateStereoChannelLayout());
    filter->SetBlockSize(16);
    filter->SetDefaultChannelMap(true);
    filter->SetDefaultChannelMap(false);
    filter->Resume();
    std::vector<float> a(16, 1.0f), b(16, 2.0f), outA(16), outB(16);
    float* in[] = {a.data(), b.data()};
    float* out[] = {outA.data(), outB.data()};
    for (int block = 0; block < 4; ++block) {
        std::fill(outA.begin(), outA.end(), 0.0f);
        std::fill(outB.begin(), outB.end(), 0.0f);
        filter->ProcessWithMapping(in, out, block % 2 == 1 ? 16 : 5);
    }
    EXPECT_EQ(outA, std::vector<float>(16, 1.0f));
    EXPECT_EQ(filter->mStaleOutputs, 0);
}

// Uses its input buffers as scratch space, as some effects do, and counts the blocks in which an input
// nobody mapped did not hold silence.
class ScribblingFilter : public AudioFilter {
public:
    ScribblingFilter() : AudioFilter(u"test:scribbling", u"Scribbling")
    {
        AddInputBus(StereoBus());
        AddOutputBus(StereoBus());
    }
    void Process(float** inputs, float** outputs, int frameCount) override
    {
        mNoisyUnmappedInputs += std::any_of(inputs[1], inputs[1] + frameCount, [](float x) { return x != 0.0f; });
        for (int c = 0; c < 2; ++c) {
            std::copy(inputs[c], inputs[c] + frameCount, outputs[c]);
            std::fill(inputs[c], inputs[c] + frameCount, 0.5f);
        }
    }
    int mNoisyUnmappedInputs = 0;
};

TEST(ChannelMapProcessing, UnmappedInputsStaySilentWhenAFilterWritesItsInputs)
{
    boost::intrusive_ptr<ScribblingFilter> filter = new ScribblingFilter;
    filter->SetUseChannelMap(true);
    filter->SetChannelMapTargetChannelLayout(layouts::CreateStereoChannelLayout());
    filter->SetBlockSize(16);
    filter->SetChannelMap({{0, 0}}, true);
    filter->SetDefaultChannelMap(false);
    filter->Resume();
    std::vector<float> a(16), b(16), outA(16), outB(16);
    float* in[] = {a.data(), b.data()};
    float* out[] = {outA.data(), outB.data()};
    for (int block = 0; block < 3; ++block) {
        std::fill(a.begin(), a.end(), 1.0f);
        filter->ProcessWithMapping(in, out, 16);
        EXPECT_EQ(outB, std::vector<float>(16, 0.0f)) << "block " << block;
    }
    EXPECT_EQ(filter->mNoisyUnmappedInputs, 0);
}

// Writes one block of one channel and returns the delayed block.
std::vector<float> Step(DelayLine& line, std::vector<float> block)
{
    float* in[] = {block.data()};
    line.WriteData(in, block.size());
    float** out = line.GetDelayedOutput(block.size());
    return out == nullptr ? std::vector<float>{} : std::vector<float>(out[0], out[0] + block.size());
}

TEST(DelayLine, VaryingBlocksThatWrapStayContiguousAndExact)
{
    for (long delay : {0, 1, 5, 7, 8, 23}) {
        boost::intrusive_ptr<DelayLine> line = new DelayLine(8, static_cast<unsigned long>(delay), 2);
        std::vector<float> a(8), b(8);
        float* in[] = {a.data(), b.data()};
        long frame = 0;
        for (int block = 0; block < 200; ++block) {
            const unsigned long n = 1 + static_cast<unsigned long>(block * 5 % 8); // every size 1 to 8
            for (unsigned long i = 0; i < n; ++i) {
                a[i] = static_cast<float>(frame + static_cast<long>(i) + 1);
                b[i] = -a[i];
            }
            line->WriteData(in, n);
            float** out = line->GetDelayedOutput(n);
            ASSERT_NE(out, nullptr);
            for (unsigned long i = 0; i < n; ++i, ++frame) {
                const float expected = frame < delay ? 0.0f : static_cast<float>(frame - delay + 1);
                ASSERT_EQ(out[0][i], expected) << "delay " << delay << " frame " << frame;
                ASSERT_EQ(out[1][i], -expected) << "delay " << delay << " frame " << frame;
            }
        }
    }
}

TEST(DelayLine, ResettingAndRefusals)
{
    boost::intrusive_ptr<DelayLine> line = new DelayLine(4, 2, 1);
    Step(*line, {1, 2, 3, 4});
    EXPECT_EQ(Step(*line, {9, 9, 9, 9, 9}), std::vector<float>{}); // longer than the buffer: refused, not written
    EXPECT_EQ(Step(*line, {5, 6, 7, 8}), (std::vector<float>{3, 4, 5, 6}));
    line->Reset(false); // positions restart, old samples come out again
    EXPECT_EQ(Step(*line, {9, 9, 9, 9}), (std::vector<float>{5, 6, 9, 9}));
    line->Reset(true);
    EXPECT_EQ(Step(*line, {1, 1, 1, 1}), (std::vector<float>{0, 0, 1, 1}));
    EXPECT_TRUE(line->SetDelay(3)); // reallocates, zeroed
    EXPECT_EQ(Step(*line, {5, 6, 7, 8}), (std::vector<float>{0, 0, 0, 5}));

    EXPECT_EQ(boost::intrusive_ptr<DelayLine>(new DelayLine)->GetDelayedOutput(1), nullptr);
    EXPECT_FALSE(boost::intrusive_ptr<DelayLine>(new DelayLine(16, 4, 0))->IsAllocated());
    EXPECT_FALSE(boost::intrusive_ptr<DelayLine>(new DelayLine(1ul << 31, 1ul << 31, 4))->IsAllocated());
}

} // namespace
} // namespace kelaudiofilterhost
