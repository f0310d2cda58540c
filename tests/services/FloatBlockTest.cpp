// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/services/FloatBlock.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <vector>

using namespace kelcore;
using namespace kelcore::floatblock;

namespace {

constexpr int kMaxLength = 300;
constexpr int kMaxMisalignment = 15;
constexpr int kGuard = 16;
constexpr std::uint32_t kGuardBits = 0x7FC0DEADu;

// A 64-byte aligned block with guard floats around the widest length at the worst misalignment.
struct GuardedBlock {
    static constexpr int kSize = kGuard + kMaxMisalignment + kMaxLength + kGuard;
    alignas(64) float floats[kSize];

    GuardedBlock() { Reset(); }
    void Reset() { std::fill_n(floats, kSize, std::bit_cast<float>(kGuardBits)); }
    float* At(int misalignment) { return floats + kGuard + misalignment; }
    bool GuardsIntact(int misalignment, int length) const
    {
        const auto guard = [](float value) { return std::bit_cast<std::uint32_t>(value) == kGuardBits; };
        const float* begin = floats + kGuard + misalignment;
        return std::all_of(floats, begin, guard) && std::all_of(begin + length, floats + kSize, guard);
    }
};

// Values that differ from their neighbours and from the guard.
std::vector<float> Ramp()
{
    std::vector<float> values(kMaxLength + kMaxMisalignment);
    std::iota(values.begin(), values.end(), 0.25f);
    return values;
}
} // namespace

TEST(FloatBlock, EveryVersionWorksLikePlainAtEveryLengthAndAlignment)
{
    // Plain and SSE2 are always there; the preferred version is the best one supported.
    ASSERT_TRUE(IsSupported(Implementation::Plain));
#if defined(__x86_64__)
    EXPECT_TRUE(IsSupported(Implementation::SSE2));
#endif
    Implementation best = Implementation::Plain;
    for (Implementation implementation : kAllImplementations) {
        EXPECT_EQ(GetFunctionTable(implementation) != nullptr, IsSupported(implementation));
        best = IsSupported(implementation) ? implementation : best;
    }
    EXPECT_EQ(GetPreferredImplementation(), best);

    const FunctionTable& plain = *GetFunctionTable(Implementation::Plain);
    const std::vector<float> source = Ramp();
    constexpr int kSourceOffsets[] = {0, 1, 3, 7};
    GuardedBlock expected;
    GuardedBlock actual;
    for (Implementation implementation : kAllImplementations) {
        if (!IsSupported(implementation)) {
            continue;
        }
        const FunctionTable& table = *GetFunctionTable(implementation);
        for (int length = 1; length <= kMaxLength; ++length) {
            for (int misalignment = 0; misalignment <= kMaxMisalignment; ++misalignment) {
                // Steps 0-3 copy from sources of other alignments, 4 fills, 5 zeroes over a filled block.
                const auto run = [&](const FunctionTable& routines, GuardedBlock& block, int step) {
                    block.Reset();
                    float* to = block.At(misalignment);
                    if (step < 4) {
                        routines.copy(source.data() + kSourceOffsets[step], to, length);
                        return;
                    }
                    routines.fill(to, -1.5f, length);
                    if (step == 5) {
                        routines.zero(to, length);
                    }
                };
                for (int step = 0; step < 6; ++step) {
                    run(plain, expected, step);
                    run(table, actual, step);
                    ASSERT_TRUE(std::memcmp(actual.floats, expected.floats, sizeof actual.floats) == 0
                                && actual.GuardsIntact(misalignment, length))
                        << GetImplementationName(implementation) << " step " << step << " length " << length
                        << " misalignment " << misalignment;
                }
                ASSERT_EQ(std::bit_cast<std::uint32_t>(actual.At(misalignment)[length - 1]), 0u);
            }
        }
    }
}

TEST(FloatBlock, RoutinesAllocateAlignedBlocksWorkAndReportNullPointersBeforeBadCounts)
{
    for (int count : {1, 3, 16, 17, 1024, 100000}) {
        float* allocated = FloatAllocate(count);
        ASSERT_NE(allocated, nullptr) << count;
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(allocated) % 64, 0u) << count;
        // The sanitizer build catches a block shorter than asked for.
        EXPECT_EQ(FloatFill(allocated, 1.0f, count), kFloatBlockOK);
        EXPECT_EQ(FloatFree(allocated), kFloatBlockOK);
    }
    EXPECT_EQ(FloatAllocate(0), nullptr);
    EXPECT_EQ(FloatAllocate(-1), nullptr);

    GuardedBlock block;
    const std::vector<float> source = Ramp();
    EXPECT_EQ(FloatCopy(source.data(), block.At(1), 37), kFloatBlockOK);
    EXPECT_EQ(std::memcmp(block.At(1), source.data(), 37 * sizeof(float)), 0);
    EXPECT_EQ(FloatFill(block.At(3), 2.0f, 100), kFloatBlockOK);
    EXPECT_EQ(block.At(3)[99], 2.0f);
    EXPECT_EQ(FloatZero(block.At(0), 5), kFloatBlockOK);
    EXPECT_TRUE(block.GuardsIntact(0, 103));

    block.Reset();
    const std::pair<int, int> refusals[] = {
        // A null pointer is reported before a bad count.
        {FloatCopy(nullptr, block.At(0), 4), kFloatBlockNullPointer},
        {FloatCopy(source.data(), nullptr, 4), kFloatBlockNullPointer},
        {FloatCopy(nullptr, nullptr, 0), kFloatBlockNullPointer},
        {FloatCopy(source.data(), block.At(0), 0), kFloatBlockBadCount},
        {FloatCopy(source.data(), block.At(0), -3), kFloatBlockBadCount},
        {FloatFill(nullptr, 1.0f, 4), kFloatBlockNullPointer},  {FloatFill(nullptr, 1.0f, -1), kFloatBlockNullPointer},
        {FloatFill(block.At(0), 1.0f, 0), kFloatBlockBadCount}, {FloatZero(nullptr, 4), kFloatBlockNullPointer},
        {FloatZero(block.At(0), -100), kFloatBlockBadCount},    {FloatFree(nullptr), kFloatBlockNullPointer},
    };
    for (std::size_t n = 0; n < std::size(refusals); ++n) {
        EXPECT_EQ(refusals[n].first, refusals[n].second) << "case " << n;
    }
    EXPECT_TRUE(block.GuardsIntact(0, 0)) << "a refused call wrote";
}
