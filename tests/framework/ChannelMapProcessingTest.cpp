// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/framework/AudioFilter.h"

#include "kelaudiofilterhost/services/PropList.h"
#include "tests/support/MappedRunner.h"
#include "tests/support/TestFilters.h"

#include <gtest/gtest.h>

namespace kelaudiofilterhost {
namespace {

using namespace kelaudiofilterhost::testing;
using Bus = AudioFilterBusDescription;

boost::intrusive_ptr<DelayingGainFilter> MakeMappedFilter(std::vector<Bus> inputs, std::vector<Bus> outputs,
                                                          const kelmediatypes::ChannelLayout& target, int latency,
                                                          int blockSize)
{
    boost::intrusive_ptr<DelayingGainFilter> filter = new DelayingGainFilter(inputs, outputs, latency);
    filter->SetUseChannelMap(true);
    filter->SetChannelMapTargetChannelLayout(target);
    filter->SetBlockSize(blockSize);
    filter->SetDefaultChannelMap(true);
    filter->SetDefaultChannelMap(false);
    return filter;
}

TEST(ChannelMapProcessing, PassThroughChannelsAreDelayedByExactlyTheLatency)
{
    const int block = 64;
    for (int latency : {0, 1, block - 1, block, 3 * block + 7}) {
        auto filter = MakeMappedFilter({StereoBus()}, {StereoBus()}, kelmediatypes::CreateBroadcast51ChannelLayout(),
                                       latency, block);
        filter->SetParameter(0, 0.5f);
        filter->Resume();
        const long total = 1500;
        const auto out = RunMapped(*filter, 6, 6, total, {64, 1, 17, 63, 5});
        for (int c = 0; c < 6; ++c) {
            EXPECT_EQ(out[c], Delayed(c, total, latency, c < 2 ? 0.5f : 1.0f)) << "latency " << latency << " channel " << c;
        }
    }
}

TEST(ChannelMapProcessing, LatencyChangeTakesEffectAtNextResume)
{
    auto filter = MakeMappedFilter({StereoBus()}, {StereoBus()}, kelmediatypes::CreateQuadraphonicChannelLayout(), 10, 32);
    filter->Resume();
    RunMapped(*filter, 4, 4, 100, {32});
    filter->Suspend();
    filter->SetLatency(40);
    filter->SetBlockSize(16);
    filter->Resume();
    const auto out = RunMapped(*filter, 4, 4, 300, {16, 3});
    for (int c = 0; c < 4; ++c) {
        EXPECT_EQ(out[c], Delayed(c, 300, 40)) << c;
    }
}

TEST(ChannelMapProcessing, MonoFilterOnLeftChannelOfStereo)
{
    auto filter = MakeMappedFilter({MonoBus()}, {MonoBus()}, kelmediatypes::CreateStereoChannelLayout(), 5, 32);
    filter->SetParameter(0, 2.0f);
    filter->Resume();
    const auto out = RunMapped(*filter, 2, 2, 200, {32, 7});
    EXPECT_EQ(out[0], Delayed(0, 200, 5, 2.0f));
    EXPECT_EQ(out[1], Delayed(1, 200, 5));
}

TEST(ChannelMapProcessing, UnmappedInputsAreSilentAndFedButUnwrittenTargetsAreCleared)
{
    // Filter input 0 unmapped, input 1 reads target 3; outputs 0 and 1 write targets 0 and 1.
    auto filter = MakeMappedFilter({StereoBus()}, {StereoBus()}, kelmediatypes::CreateQuadraphonicChannelLayout(), 0, 16);
    filter->SetChannelMap({{1, 3}}, true);
    filter->SetChannelMap({{0, 0}, {1, 1}}, false);
    filter->Resume();
    const auto out = RunMapped(*filter, 4, 4, 64, {16});
    EXPECT_EQ(out[0], std::vector<float>(64, 0.0f));
    EXPECT_EQ(out[1], Delayed(3, 64, 0));
    EXPECT_EQ(out[2], Delayed(2, 64, 0));
    EXPECT_EQ(out[3], std::vector<float>(64, 0.0f));
}

TEST(ChannelMapProcessing, OutOfRangeMapEntriesAreTreatedAsUnmapped)
{
    auto filter = MakeMappedFilter({StereoBus()}, {StereoBus()}, kelmediatypes::CreateStereoChannelLayout(), 0, 16);
    filter->SetChannelMap({{0, -5}, {1, 1000000}, {-3, 0}, {99, 1}}, true);
    filter->SetChannelMap({{0, 2147483647}, {1, 1}, {-1, 0}, {7, 0}}, false);
    filter->Resume();
    const auto out = RunMapped(*filter, 2, 2, 48, {16});
    EXPECT_EQ(out[0], Delayed(0, 48, 0)); // nothing writes target 0 and nothing reads it: passes through
    EXPECT_EQ(out[1], std::vector<float>(48, 0.0f)); // filter output 1 from an unmapped (silent) input
    EXPECT_EQ(filter->GetChannelMap(true).size(), 4u); // the maps keep what they were given
}

class SideChainFilter : public AudioFilter {
public:
    SideChainFilter() : AudioFilter(u"test:sidechain", u"Side chain")
    {
        AddInputBus(StereoBus());
        AddInputBus(MonoBus(Bus::kSideChain));
        AddOutputBus(StereoBus());
    }
    // Left out = main left; right out = side-chain input.
    void Process(float** inputs, float** outputs, int frames) override
    {
        std::copy(inputs[0], inputs[0] + frames, outputs[0]);
        std::copy(inputs[2], inputs[2] + frames, outputs[1]);
    }
};

TEST(ChannelMapProcessing, SideChainTargetFeedsSideChainBus)
{
    boost::intrusive_ptr<SideChainFilter> filter = new SideChainFilter;
    filter->SetUseChannelMap(true);
    filter->SetChannelMapTargetChannelLayout(kelmediatypes::CreateStereoChannelLayout());
    filter->SetSideChainTargetBus(MonoBus(Bus::kSideChain));
    filter->SetBlockSize(32);
    filter->SetDefaultChannelMap(false);
    filter->SetChannelMap({{0, 0}, {1, 1}}, true);
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
    const auto silent = RunMapped(*filter, 2, 2, 40, {32});
    EXPECT_EQ(silent[1], std::vector<float>(40, 0.0f));
}

TEST(ChannelMapProcessing, BadBlocksAndPointersHaveDefinedResults)
{
    auto filter = MakeMappedFilter({StereoBus()}, {StereoBus()}, kelmediatypes::CreateStereoChannelLayout(), 0, 16);
    filter->Resume();
    std::vector<float> a(32, 1.0f), b(32, 2.0f), outA(32, 9.0f), outB(32, 9.0f);
    float* in[] = {a.data(), b.data()};
    float* out[] = {outA.data(), outB.data()};

    filter->ProcessWithMapping(in, out, 0);
    filter->ProcessWithMapping(in, out, -4);
    EXPECT_EQ(outA[0], 9.0f);
    EXPECT_EQ(filter->GetProcessCalls(), 0);

    // Longer than the block size of the last Resume: refused, outputs silenced.
    filter->ProcessWithMapping(in, out, 32);
    EXPECT_EQ(outA, std::vector<float>(32, 0.0f));
    EXPECT_EQ(filter->GetProcessCalls(), 0);

    // Null channel pointers read as silence and write nowhere.
    float* nullIn[] = {nullptr, b.data()};
    float* nullOut[] = {outA.data(), nullptr};
    filter->ProcessWithMapping(nullIn, nullOut, 16);
    EXPECT_EQ(outA[3], 0.0f);
    filter->ProcessWithMapping(nullptr, nullptr, 16);
    EXPECT_EQ(filter->GetProcessCalls(), 2);
}

TEST(ChannelMapProcessing, WithoutChannelMapItIsPlainProcess)
{
    boost::intrusive_ptr<DelayingGainFilter> filter = new DelayingGainFilter({StereoBus()}, {StereoBus()});
    filter->SetBlockSize(8);
    filter->SetParameter(0, 3.0f);
    filter->Resume();
    std::vector<float> a(8, 1.0f), b(8, 2.0f), outA(8), outB(8);
    float* in[] = {a.data(), b.data()};
    float* out[] = {outA.data(), outB.data()};
    filter->ProcessWithMapping(in, out, 8);
    EXPECT_EQ(outB, std::vector<float>(8, 6.0f));
    kelcore::proplist::PropList settings;
    EXPECT_FALSE(filter->SaveChannelMapSettings(&settings));
    EXPECT_FALSE(filter->LoadChannelMapSettings(&settings));
}

} // namespace
} // namespace kelaudiofilterhost
