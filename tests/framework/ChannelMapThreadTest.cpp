// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/framework/AudioFilter.h"
#include "kelaudiofilterhost/framework/PreparedChannelMap.h"

#include "tests/support/TestFilters.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <thread>

namespace kelaudiofilterhost {
namespace {

using namespace kelaudiofilterhost::testing;

// One thread edits the maps (and the gain) while another processes. Every block must follow one
// whole map, old or new: each target output is written (the sentinel the caller left never
// survives) and holds one of the input signals, scaled by a gain, or silence.
TEST(ChannelMapThreads, EveryBlockFollowsOneWholeMapWhileAnotherThreadEdits)
{
    boost::intrusive_ptr<DelayingGainFilter> filter = new DelayingGainFilter({StereoBus()}, {StereoBus()}, 3);
    filter->SetUseChannelMap(true);
    filter->SetChannelMapTargetChannelLayout(kelmediatypes::CreateQuadraphonicChannelLayout());
    filter->SetBlockSize(64);
    filter->SetDefaultChannelMap(true);
    filter->SetDefaultChannelMap(false);
    filter->Resume();

    std::atomic<bool> stop{false};
    std::atomic<long> edits{0};
    std::thread editor([&] {
        int i = 0;
        while (!stop.load()) {
            filter->AssignChannelMapping(i % 2 == 0, i % 2, (i / 2) % 4);
            if (i % 7 == 0) {
                filter->RemoveChannelMapping(false, i % 2);
            }
            if (i % 11 == 0) {
                filter->SetChannelMap({{0, 0}, {1, 1}}, true);
            }
            if (i % 13 == 0) {
                filter->SetDefaultChannelMap(false);
            }
            filter->SetParameter(0, i % 3 == 0 ? 2.0f : 1.0f);
            ++i;
            edits.fetch_add(1);
        }
    });

    constexpr float kSentinel = -1.0f;
    std::vector<std::vector<float>> in(4, std::vector<float>(64)), out(4, std::vector<float>(64));
    for (int c = 0; c < 4; ++c) {
        std::fill(in[c].begin(), in[c].end(), static_cast<float>(c + 1));
    }
    auto valid = [](float sample) {
        return sample == 0.0f || (sample >= 1.0f && sample <= 8.0f && (sample <= 4.0f || sample == 6.0f || sample == 8.0f));
    };
    float* inPointers[] = {in[0].data(), in[1].data(), in[2].data(), in[3].data()};
    float* outPointers[] = {out[0].data(), out[1].data(), out[2].data(), out[3].data()};
    long unwritten = 0;
    long invalid = 0;
    int block = 0;
    for (; block < 400000 && unwritten + invalid == 0; ++block) {
        for (auto& channel : out) {
            std::fill(channel.begin(), channel.end(), kSentinel);
        }
        filter->ProcessWithMapping(inPointers, outPointers, 64);
        for (const auto& channel : out) {
            for (float sample : channel) {
                unwritten += sample == kSentinel ? 1 : 0;
                invalid += sample != kSentinel && !valid(sample) ? 1 : 0;
            }
        }
        if (block > 20000 && edits.load() > 20000) {
            break;
        }
    }
    stop = true;
    editor.join();
    EXPECT_EQ(unwritten, 0) << "after " << block << " blocks";
    EXPECT_EQ(invalid, 0) << "after " << block << " blocks";
    EXPECT_GT(edits.load(), 0);
}

// A map the audio thread may still hold survives later publishes; once the read is over, the next
// Reclaim frees every replaced map.
TEST(ChannelMapThreads, ReplacedMapsLiveUntilNoReadCanHoldThem)
{
    PreparedChannelMapExchange exchange;
    auto make = [](int blockSize) {
        auto map = std::make_unique<PreparedChannelMap>();
        map->blockSize = blockSize;
        return map;
    };
    exchange.Publish(make(1));
    exchange.Publish(make(2)); // never read: freed at once
    EXPECT_EQ(exchange.GetRetiredCount(), 0u);
    {
        const PreparedChannelMapExchange::Reader held(exchange);
        exchange.Publish(make(3));
        exchange.Publish(make(4));
        exchange.Reclaim();
        EXPECT_EQ(held.Get()->blockSize, 2);
        EXPECT_EQ(exchange.GetRetiredCount(), 2u);
    }
    EXPECT_EQ(PreparedChannelMapExchange::Reader(exchange).Get()->blockSize, 4);
    exchange.Reclaim();
    EXPECT_EQ(exchange.GetRetiredCount(), 0u);
}

} // namespace
} // namespace kelaudiofilterhost
