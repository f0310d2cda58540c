// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/framework/AudioFilter.h"

#include "tests/support/AllocationCounter.h"
#include "tests/support/TestFilters.h"

#include <gtest/gtest.h>

namespace kelaudiofilterhost {
namespace {

using namespace kelaudiofilterhost::testing;
using Bus = AudioFilterBusDescription;

TEST(AudioPath, ProcessWithMappingAllocatesNothing)
{
    boost::intrusive_ptr<DelayingGainFilter> filter =
        new DelayingGainFilter({StereoBus(), MonoBus(Bus::kSideChain)}, {StereoBus()}, 37);
    filter->SetUseChannelMap(true);
    filter->SetChannelMapTargetChannelLayout(kelmediatypes::Create7_1ChannelLayout());
    filter->SetSideChainTargetBus(MonoBus(Bus::kSideChain));
    filter->SetDefaultChannelMap(false);
    filter->SetChannelMap({{0, 0}, {1, 1}}, true);
    filter->AutoConnectSideChainChannels(true);

    const int block = 256;
    std::vector<std::vector<float>> in(9, std::vector<float>(block, 0.25f));
    std::vector<std::vector<float>> out(8, std::vector<float>(block));
    std::vector<float*> inPointers, outPointers;
    for (auto& channel : in) {
        inPointers.push_back(channel.data());
    }
    for (auto& channel : out) {
        outPointers.push_back(channel.data());
    }

    long audioPathAllocations = 0;
    for (int run = 0; run < 6; ++run) {
        filter->SetBlockSize(block - run * 16);
        filter->SetLatency(run * 50);
        filter->Resume(); // sizes everything; allocations here are allowed
        for (int i = 0; i < 2000; ++i) {
            if (i % 250 == 0) {
                // Map edits between blocks, as the user-interface thread makes them.
                filter->AssignChannelMapping(false, i % 2, (i / 250) % 8);
                filter->AssignChannelMapping(true, 1, (i / 250) % 9);
            }
            const int frames = 1 + (i * 37) % filter->GetBlockSize();
            const auto before = gAllocations.load();
            tCounting = true;
            filter->ProcessWithMapping(inPointers.data(), outPointers.data(), frames);
            tCounting = false;
            audioPathAllocations += gAllocations.load() - before;
        }
        filter->Suspend();
    }
    EXPECT_EQ(audioPathAllocations, 0);

    // The counter itself works.
    tCounting = true;
    auto* probe = new std::vector<int>(100);
    tCounting = false;
    delete probe;
    EXPECT_GE(gAllocations.load(), 2);
}

} // namespace
} // namespace kelaudiofilterhost
