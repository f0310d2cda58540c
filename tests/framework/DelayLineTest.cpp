// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/framework/DelayLine.h"

#include <boost/intrusive_ptr.hpp>
#include <gtest/gtest.h>

#include <vector>

namespace kelaudiofilterhost {
namespace {

// Writes one block of one channel and returns the delayed block.
std::vector<float> Step(DelayLine& line, std::vector<float> block)
{
    float* in[] = {block.data()};
    line.WriteData(in, block.size());
    float** out = line.GetDelayedOutput(block.size());
    if (out == nullptr) {
        return {};
    }
    return std::vector<float>(out[0], out[0] + block.size());
}

TEST(DelayLine, DelaysByExactlyTheDelay)
{
    boost::intrusive_ptr<DelayLine> line = new DelayLine(4, 3, 1);
    ASSERT_TRUE(line->IsAllocated());
    EXPECT_EQ(Step(*line, {1, 2, 3, 4}), (std::vector<float>{0, 0, 0, 1}));
    EXPECT_EQ(Step(*line, {5, 6, 7, 8}), (std::vector<float>{2, 3, 4, 5}));

    boost::intrusive_ptr<DelayLine> none = new DelayLine(4, 0, 1);
    EXPECT_EQ(Step(*none, {1, 2, 3, 4}), (std::vector<float>{1, 2, 3, 4}));
}

TEST(DelayLine, VaryingBlocksThatWrapStayContiguousAndExact)
{
    for (unsigned long delay : {0ul, 1ul, 5ul, 7ul, 8ul, 23ul}) {
        boost::intrusive_ptr<DelayLine> line = new DelayLine(8, delay, 3);
        std::vector<std::vector<float>> received(3);
        float next = 1;
        const unsigned long sizes[] = {8, 3, 1, 7, 8, 5, 2, 8, 8, 6};
        long written = 0;
        for (int round = 0; round < 20; ++round) {
            for (unsigned long n : sizes) {
                std::vector<std::vector<float>> blocks(3, std::vector<float>(n));
                float* in[3];
                for (unsigned long i = 0; i < n; ++i) {
                    for (int c = 0; c < 3; ++c) {
                        blocks[c][i] = next * static_cast<float>(c + 1);
                    }
                    ++next;
                }
                for (int c = 0; c < 3; ++c) {
                    in[c] = blocks[c].data();
                }
                line->WriteData(in, n);
                float** out = line->GetDelayedOutput(n);
                ASSERT_NE(out, nullptr);
                for (int c = 0; c < 3; ++c) {
                    received[c].insert(received[c].end(), out[c], out[c] + n);
                }
                written += static_cast<long>(n);
            }
        }
        for (int c = 0; c < 3; ++c) {
            for (long i = 0; i < written; ++i) {
                const float expected = i < static_cast<long>(delay) ? 0.0f : static_cast<float>((i - static_cast<long>(delay) + 1) * (c + 1));
                ASSERT_EQ(received[c][i], expected) << "delay " << delay << " channel " << c << " frame " << i;
            }
        }
    }
}

TEST(DelayLine, ResizingAndResettingFollowTheirRules)
{
    boost::intrusive_ptr<DelayLine> line = new DelayLine(4, 2, 1);
    Step(*line, {1, 2, 3, 4});
    EXPECT_TRUE(line->SetBufferSize(4)); // unchanged size keeps the samples
    EXPECT_EQ(Step(*line, {5, 6, 7, 8}), (std::vector<float>{3, 4, 5, 6}));

    line->Reset(false); // positions restart, old samples come out again
    EXPECT_EQ(Step(*line, {9, 9, 9, 9}), (std::vector<float>{5, 6, 9, 9}));
    line->Reset(true);
    EXPECT_EQ(Step(*line, {1, 1, 1, 1}), (std::vector<float>{0, 0, 1, 1}));

    EXPECT_TRUE(line->SetDelay(2)); // always reallocates, zeroed
    EXPECT_EQ(Step(*line, {5, 5, 5, 5}), (std::vector<float>{0, 0, 5, 5}));
    EXPECT_TRUE(line->SetBufferSize(2));
    EXPECT_EQ(Step(*line, {3, 4}), (std::vector<float>{0, 0}));
}

TEST(DelayLine, RefusesWhatItCannotHold)
{
    boost::intrusive_ptr<DelayLine> empty = new DelayLine;
    EXPECT_FALSE(empty->IsAllocated());
    EXPECT_EQ(empty->GetDelayedOutput(1), nullptr);
    boost::intrusive_ptr<DelayLine> noChannels = new DelayLine(16, 4, 0);
    EXPECT_FALSE(noChannels->IsAllocated());
    boost::intrusive_ptr<DelayLine> huge = new DelayLine(1ul << 31, 1ul << 31, 4);
    EXPECT_FALSE(huge->IsAllocated());

    boost::intrusive_ptr<DelayLine> line = new DelayLine(4, 1, 1);
    EXPECT_EQ(Step(*line, {1, 2, 3, 4, 5}), std::vector<float>{}); // longer than the buffer: not written, no output
    EXPECT_EQ(Step(*line, {1, 2}), (std::vector<float>{0, 1}));
}

} // namespace
} // namespace kelaudiofilterhost
