// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/vst3/ParameterChanges.h"
#include "kelaudiofilterhost/vst3/VST3EventList.h"
#include "tests/support/AllocationCounter.h"

#include <gtest/gtest.h>

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

} // namespace
} // namespace kelaudiofilterhost::vst3
