// SPDX-License-Identifier: GPL-3.0-or-later
// Built with -mavx2 (see CMakeLists.txt); reached only after the processor was found to run AVX2.
// Includes nothing with inline functions so that no AVX2 copy of them can be picked by the linker.
#include "kelaudiofilterhost/services/FloatBlockKernels.h"

#if defined(__AVX2__)
#include <cstddef>
#include <cstdint>
#include <immintrin.h>
#endif

namespace kelcore::floatblock::detail {

#if defined(__AVX2__)

namespace {

constexpr std::size_t kWidth = 8;

// Index of the first float after 0 whose address is 32-byte aligned (1 to 8): stores in the main
// loop then never straddle a cache line.
std::size_t FirstAlignedIndex(const float* destination)
{
    const auto misalignment = static_cast<std::size_t>((reinterpret_cast<std::uintptr_t>(destination) >> 2) & 7);
    return kWidth - misalignment;
}

void FillAVX2(float* destination, float value, int count)
{
    const auto n = static_cast<std::size_t>(count);
    if (n < kWidth) {
        if (n >= 4) {
            const __m128 v = _mm_set1_ps(value);
            _mm_storeu_ps(destination, v);
            _mm_storeu_ps(destination + n - 4, v);
            return;
        }
        for (std::size_t i = 0; i < n; ++i) {
            destination[i] = value;
        }
        return;
    }
    const __m256 v = _mm256_set1_ps(value);
    _mm256_storeu_ps(destination, v);
    std::size_t i = FirstAlignedIndex(destination);
    for (; i + 4 * kWidth <= n; i += 4 * kWidth) {
        _mm256_storeu_ps(destination + i, v);
        _mm256_storeu_ps(destination + i + kWidth, v);
        _mm256_storeu_ps(destination + i + 2 * kWidth, v);
        _mm256_storeu_ps(destination + i + 3 * kWidth, v);
    }
    for (; i + kWidth <= n; i += kWidth) {
        _mm256_storeu_ps(destination + i, v);
    }
    if (i < n) {
        _mm256_storeu_ps(destination + n - kWidth, v);
    }
}

constexpr FunctionTable kAVX2Table{CopyWithLibrary, FillAVX2, ZeroWithLibrary};

} // namespace

const FunctionTable* GetAVX2FunctionTable()
{
    return &kAVX2Table;
}

#else

const FunctionTable* GetAVX2FunctionTable()
{
    return nullptr;
}

#endif

} // namespace kelcore::floatblock::detail
