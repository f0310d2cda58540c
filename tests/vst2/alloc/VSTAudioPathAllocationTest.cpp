// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/vst2/VSTAudioFilter.h"
#include "tests/support/AllocationCounter.h"
#include "tests/support/TestFilters.h"
#include "tests/support/Vst2TestSupport.h"

#include <gtest/gtest.h>

namespace kelaudiofilterhost {
namespace {

using namespace kelaudiofilterhost::testing;

// The effects call back into the host while processing (time info); none of it may allocate.
TEST(VSTAudioPath, ProcessingEffectsThroughMapsAllocatesNothing)
{
    TempoHost host(96.0, 4, 4);
    struct Effect {
        const char* plugin;
        std::int32_t id;
        bool asStereo; // effect channels beyond the buses are padded on the audio thread
    } effects[] = {{"KafhGain", kafhtest::kGainId, false},         {"KafhLatency", kafhtest::kLatencyId, false},
                   {"KafhAccumulate", kafhtest::kAccumulateId, false}, {"KafhSurround", kafhtest::kSurroundId, false},
                   {"KafhWide", 64, true}};
    std::vector<std::vector<float>> in(8, std::vector<float>(512, 0.25f)), out(8, std::vector<float>(512));
    std::vector<float*> inPointers, outPointers;
    for (int c = 0; c < 8; ++c) {
        inPointers.push_back(in[c].data());
        outPointers.push_back(out[c].data());
    }
    for (const auto& effect : effects) {
        auto filter = OpenTestEffect(effect.plugin, effect.id);
        ASSERT_TRUE(filter) << effect.plugin;
        if (effect.asStereo) {
            filter->RequestIOConfiguration({kelmediatypes::CreateStereoChannelLayout()},
                                           {kelmediatypes::CreateStereoChannelLayout()});
        }
        filter->SetAudioFilterHost(&host);
        filter->SetSampleRate(48000.0f);
        filter->SetBlockSize(512);
        filter->SetUseChannelMap(true);
        filter->SetChannelMapTargetChannelLayout(kelmediatypes::Create7_1ChannelLayout());
        filter->SetDefaultChannelMap(true);
        filter->SetDefaultChannelMap(false);
        filter->Resume();
        long allocations = 0;
        for (int block = 0; block < 3000; ++block) {
            filter->SetCurrentOffset(block * 512LL);
            const int frames = 1 + (block * 97) % 512;
            const long before = gAllocations.load();
            tCounting = true;
            filter->ProcessWithMapping(inPointers.data(), outPointers.data(), frames);
            tCounting = false;
            allocations += gAllocations.load() - before;
        }
        filter->Suspend();
        EXPECT_EQ(allocations, 0) << effect.plugin;
    }
}

} // namespace
} // namespace kelaudiofilterhost
