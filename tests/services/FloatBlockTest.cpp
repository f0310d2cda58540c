// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/services/FloatBlock.h"

#include <gtest/gtest.h>

#include <bit>
#include <cstdint>
#include <cstring>
#include <vector>

namespace kelcore::floatblock {
namespace {

constexpr int kMaxLength = 300;
constexpr int kMaxMisalignment = 15;
constexpr int kGuard = 16;
constexpr std::uint32_t kGuardBits = 0x7FC0DEADu;

// A 64-byte aligned block with guard floats around the widest length at the worst misalignment.
class GuardedBlock {
public:
    GuardedBlock() : mBlock(FloatAllocate(kSize)) { Reset(); }
    ~GuardedBlock() { FloatFree(mBlock); }
    GuardedBlock(const GuardedBlock&) = delete;
    GuardedBlock& operator=(const GuardedBlock&) = delete;

    void Reset()
    {
        const float guard = std::bit_cast<float>(kGuardBits);
        for (int i = 0; i < kSize; ++i) {
            mBlock[i] = guard;
        }
    }
    float* At(int misalignment) { return mBlock + kGuard + misalignment; }
    bool SameBits(const GuardedBlock& other) const
    {
        return std::memcmp(mBlock, other.mBlock, sizeof(float) * kSize) == 0;
    }
    bool GuardsIntact(int misalignment, int length) const
    {
        for (int i = 0; i < kSize; ++i) {
            const bool inside = i >= kGuard + misalignment && i < kGuard + misalignment + length;
            if (!inside && std::bit_cast<std::uint32_t>(mBlock[i]) != kGuardBits) {
                return false;
            }
        }
        return true;
    }

    static constexpr int kSize = kGuard + kMaxMisalignment + kMaxLength + kGuard;

private:
    float* mBlock;
};

std::vector<Implementation> SupportedImplementations()
{
    std::vector<Implementation> supported;
    for (Implementation implementation : kAllImplementations) {
        if (IsSupported(implementation)) {
            supported.push_back(implementation);
        }
    }
    return supported;
}

std::vector<float> Ramp(int length)
{
    std::vector<float> values(static_cast<std::size_t>(length + kMaxMisalignment));
    for (std::size_t i = 0; i < values.size(); ++i) {
        values[i] = static_cast<float>(i) + 0.25f;
    }
    return values;
}

TEST(FloatBlock, PlainAndSSE2AreAlwaysAvailableAndPreferredIsTheBestSupported)
{
    ASSERT_TRUE(IsSupported(Implementation::Plain));
#if defined(__x86_64__)
    EXPECT_TRUE(IsSupported(Implementation::SSE2));
#endif
    const std::vector<Implementation> supported = SupportedImplementations();
    EXPECT_EQ(GetPreferredImplementation(), supported.back()) << GetImplementationName(supported.back());
    for (Implementation implementation : kAllImplementations) {
        EXPECT_EQ(GetFunctionTable(implementation) != nullptr, IsSupported(implementation));
    }
}

TEST(FloatBlock, EveryVersionCopiesLikePlainAtEveryLengthAndAlignment)
{
    const FunctionTable& plain = *GetFunctionTable(Implementation::Plain);
    const std::vector<float> source = Ramp(kMaxLength);
    GuardedBlock expected;
    GuardedBlock actual;
    for (Implementation implementation : SupportedImplementations()) {
        const FunctionTable& table = *GetFunctionTable(implementation);
        for (int length = 1; length <= kMaxLength; ++length) {
            for (int sourceOffset : {0, 1, 3, 7}) {
                for (int misalignment = 0; misalignment <= kMaxMisalignment; ++misalignment) {
                    expected.Reset();
                    actual.Reset();
                    plain.copy(source.data() + sourceOffset, expected.At(misalignment), length);
                    table.copy(source.data() + sourceOffset, actual.At(misalignment), length);
                    ASSERT_TRUE(actual.SameBits(expected))
                        << GetImplementationName(implementation) << " length " << length << " source offset "
                        << sourceOffset << " misalignment " << misalignment;
                    ASSERT_TRUE(actual.GuardsIntact(misalignment, length));
                    ASSERT_EQ(actual.At(misalignment)[length - 1], source[std::size_t(sourceOffset + length - 1)]);
                }
            }
        }
    }
}

TEST(FloatBlock, EveryVersionFillsAndZeroesLikePlainAtEveryLengthAndAlignment)
{
    const FunctionTable& plain = *GetFunctionTable(Implementation::Plain);
    GuardedBlock expected;
    GuardedBlock actual;
    for (Implementation implementation : SupportedImplementations()) {
        const FunctionTable& table = *GetFunctionTable(implementation);
        for (int length = 1; length <= kMaxLength; ++length) {
            for (int misalignment = 0; misalignment <= kMaxMisalignment; ++misalignment) {
                expected.Reset();
                actual.Reset();
                plain.fill(expected.At(misalignment), -1.5f, length);
                table.fill(actual.At(misalignment), -1.5f, length);
                ASSERT_TRUE(actual.SameBits(expected))
                    << GetImplementationName(implementation) << " fill length " << length << " misalignment "
                    << misalignment;
                ASSERT_TRUE(actual.GuardsIntact(misalignment, length));

                // Zero must give +0.0 bits over a block that held other values.
                table.zero(actual.At(misalignment), length);
                plain.zero(expected.At(misalignment), length);
                ASSERT_TRUE(actual.SameBits(expected))
                    << GetImplementationName(implementation) << " zero length " << length << " misalignment "
                    << misalignment;
                ASSERT_TRUE(actual.GuardsIntact(misalignment, length));
                ASSERT_EQ(std::bit_cast<std::uint32_t>(actual.At(misalignment)[length - 1]), 0u);
            }
        }
    }
}

TEST(FloatBlock, RoutinesWorkAndReportNullPointersBeforeBadCounts)
{
    GuardedBlock block;
    const std::vector<float> source = Ramp(kMaxLength);
    EXPECT_EQ(FloatCopy(source.data(), block.At(1), 37), kFloatBlockOK);
    EXPECT_EQ(std::memcmp(block.At(1), source.data(), 37 * sizeof(float)), 0);
    EXPECT_EQ(FloatFill(block.At(3), 2.0f, 100), kFloatBlockOK);
    EXPECT_EQ(block.At(3)[99], 2.0f);
    EXPECT_EQ(FloatZero(block.At(0), 5), kFloatBlockOK);
    EXPECT_TRUE(block.GuardsIntact(0, 103));

    block.Reset();
    struct Case {
        const char* what;
        int result;
        int expected;
    };
    const Case cases[] = {
        {"copy null source", FloatCopy(nullptr, block.At(0), 4), kFloatBlockNullPointer},
        {"copy null destination", FloatCopy(source.data(), nullptr, 4), kFloatBlockNullPointer},
        {"copy null and bad count", FloatCopy(nullptr, nullptr, 0), kFloatBlockNullPointer},
        {"copy zero count", FloatCopy(source.data(), block.At(0), 0), kFloatBlockBadCount},
        {"copy negative count", FloatCopy(source.data(), block.At(0), -3), kFloatBlockBadCount},
        {"fill null", FloatFill(nullptr, 1.0f, 4), kFloatBlockNullPointer},
        {"fill null and bad count", FloatFill(nullptr, 1.0f, -1), kFloatBlockNullPointer},
        {"fill zero count", FloatFill(block.At(0), 1.0f, 0), kFloatBlockBadCount},
        {"zero null", FloatZero(nullptr, 4), kFloatBlockNullPointer},
        {"zero negative count", FloatZero(block.At(0), -100), kFloatBlockBadCount},
        {"free null", FloatFree(nullptr), kFloatBlockNullPointer},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(c.result, c.expected) << c.what;
    }
    EXPECT_TRUE(block.GuardsIntact(0, 0)) << "a refused call wrote";
}

TEST(FloatBlock, AllocatesAlignedWritableBlocksAndRefusesBadCounts)
{
    for (int count : {1, 3, 16, 17, 1024, 100000}) {
        float* block = FloatAllocate(count);
        ASSERT_NE(block, nullptr) << count;
        EXPECT_EQ(reinterpret_cast<std::uintptr_t>(block) % 64, 0u) << count;
        // The sanitizer build catches a block shorter than asked for.
        EXPECT_EQ(FloatFill(block, 1.0f, count), kFloatBlockOK);
        EXPECT_EQ(block[count - 1], 1.0f);
        EXPECT_EQ(FloatFree(block), kFloatBlockOK);
    }
    EXPECT_EQ(FloatAllocate(0), nullptr);
    EXPECT_EQ(FloatAllocate(-1), nullptr);
}

} // namespace
} // namespace kelcore::floatblock
