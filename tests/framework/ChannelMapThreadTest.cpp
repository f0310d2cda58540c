// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/framework/AudioFilter.h"

#include "tests/support/TestFilters.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

namespace kelaudiofilterhost {
namespace {

using namespace kelaudiofilterhost::testing;

// One thread edits the maps while another processes: the audio thread must only ever see valid
// routings (every output sample is one of the input signals or silence) and nothing races.
TEST(ChannelMapThreads, MapEditsWhileProcessingAreSafe)
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
            ++i;
            edits.fetch_add(1);
        }
    });

    std::vector<std::vector<float>> in(4, std::vector<float>(64)), out(4, std::vector<float>(64));
    for (int c = 0; c < 4; ++c) {
        std::fill(in[c].begin(), in[c].end(), static_cast<float>(c + 1));
    }
    float* inPointers[] = {in[0].data(), in[1].data(), in[2].data(), in[3].data()};
    float* outPointers[] = {out[0].data(), out[1].data(), out[2].data(), out[3].data()};
    bool valid = true;
    for (int block = 0; block < 20000 && valid; ++block) {
        filter->ProcessWithMapping(inPointers, outPointers, 64);
        for (int c = 0; c < 4; ++c) {
            for (float sample : out[c]) {
                valid = valid && (sample == 0.0f || sample == 1.0f || sample == 2.0f || sample == 3.0f || sample == 4.0f);
            }
        }
        if (block > 1000 && edits.load() > 1000) {
            break;
        }
    }
    stop = true;
    editor.join();
    EXPECT_TRUE(valid);
    EXPECT_GT(edits.load(), 0);
}

} // namespace
} // namespace kelaudiofilterhost
