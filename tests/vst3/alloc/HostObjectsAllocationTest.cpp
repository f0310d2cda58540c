// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/services/ChannelLayouts.h"
#include "kelaudiofilterhost/vst3/ParameterChanges.h"
#include "kelaudiofilterhost/vst3/VST3EventList.h"
#include "tests/support/AllocationCounter.h"
#include "tests/support/TestFilters.h"
#include "tests/support/Vst3TestSupport.h"

#include <gtest/gtest.h>

#include <vector>

namespace kelaudiofilterhost::vst3 {
namespace {

using namespace Steinberg;
using namespace Steinberg::Vst;
using kelaudiofilterhost::testing::gAllocations;
using kelaudiofilterhost::testing::tCounting;

// A block that fills every queue to its room, asks for more points and more parameters than
// reserved, and overfills the event list: all of it happens on the audio thread, none may allocate.
TEST(VST3HostObjectsAudioPath, FullContainersRefuseWithoutAllocating)
{
    constexpr int32 kParameters = 16;
    ParameterChanges changes;
    changes.Reserve(kParameters, kDefaultPointsPerQueue);
    VST3EventList events(64);
    Event event{};

    gAllocations = 0;
    tCounting = true;
    for (int block = 0; block < 3; ++block) {
        changes.Clear();
        events.Clear();
        int32 index = 0;
        for (ParamID id = 0; id < kParameters + 2; ++id) {
            IParamValueQueue* queue = changes.addParameterData(id, index);
            if (queue == nullptr) {
                continue;
            }
            // Backwards, so every point is inserted at the front: the worst case for the sorted insert.
            for (int32 offset = kDefaultPointsPerQueue; offset >= 0; --offset) {
                queue->addPoint(offset, 0.5, index);
            }
        }
        for (int i = 0; i < 70; ++i) {
            events.addEvent(event);
        }
    }
    tCounting = false;
    EXPECT_EQ(gAllocations.load(), 0);
    EXPECT_EQ(changes.TakeRefusalCount(), 3u * (2 + kParameters));
    EXPECT_EQ(events.TakeRefusalCount(), 3u * 6);
}

// Blocks longer than a piece, parameter changes queued before most of them, output changes the
// processor reports (the Recorder's peak) piling up undelivered, and a host with tempo and transport:
// none of the audio thread's work may allocate, through Process or through the channel maps.
TEST(VST3AudioPath, ProcessingTestBundlesWithParameterChangesAllocatesNothing)
{
    testing::TempoHost host(96.0, 3, 4, true);
    const struct {
        const char* bundle;
        kafh_testplugins_vst3::Uid uid;
    } bundles[] = {{"KafhVst3Gain", kafh_testplugins_vst3::kGainProcessor},
                   {"KafhVst3Recorder", kafh_testplugins_vst3::kRecorderProcessor}};
    constexpr int kBlockSize = 2500;
    std::vector<std::vector<float>> in(6, std::vector<float>(kBlockSize, 0.25f)), out(6, std::vector<float>(kBlockSize));
    std::vector<float*> inPointers, outPointers;
    for (int c = 0; c < 6; ++c) {
        inPointers.push_back(in[c].data());
        outPointers.push_back(out[c].data());
    }
    for (const auto& bundle : bundles) {
        auto filter = testing::OpenTestBundle(bundle.bundle, bundle.uid);
        ASSERT_TRUE(filter) << bundle.bundle;
        ASSERT_GT(filter->GetParameterCount(), 0) << bundle.bundle;
        filter->SetAudioFilterHost(&host);
        filter->SetSampleRate(48000.0f);
        filter->SetBlockSize(kBlockSize);
        filter->Resume();
        long allocations = 0;
        for (int block = 0; block < 600; ++block) {
            const bool mapped = block >= 300;
            if (block == 300) {
                filter->Suspend();
                filter->SetUseChannelMap(true);
                filter->SetChannelMapTargetChannelLayout(kelmediatypes::CreateBroadcast51ChannelLayout());
                filter->SetDefaultChannelMap(true);
                filter->Resume();
            }
            if (block % 5 != 0) {
                for (int index = 0; index < filter->GetParameterCount(); ++index) {
                    filter->SetParameter(index, static_cast<float>((block + index) % 7) / 7.0f);
                }
            }
            filter->SetCurrentOffset(block * static_cast<long long>(kBlockSize));
            const int frames = 1 + (block * 397) % kBlockSize;
            const long before = gAllocations.load();
            tCounting = true;
            if (mapped) {
                filter->ProcessWithMapping(inPointers.data(), outPointers.data(), frames);
            } else {
                filter->Process(inPointers.data(), outPointers.data(), frames);
            }
            tCounting = false;
            allocations += gAllocations.load() - before;
        }
        filter->Suspend();
        EXPECT_EQ(allocations, 0) << bundle.bundle;
    }
}

} // namespace
} // namespace kelaudiofilterhost::vst3
