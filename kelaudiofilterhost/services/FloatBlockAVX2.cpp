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

void CopyShort(const float* source, float* destination, std::size_t n)
{
    if (n >= 4) {
        // Two possibly overlapping halves cover 4 to 7 floats.
        const __m128 head = _mm_loadu_ps(source);
        const __m128 tail = _mm_loadu_ps(source + n - 4);
        _mm_storeu_ps(destination, head);
        _mm_storeu_ps(destination + n - 4, tail);
        return;
    }
    for (std::size_t i = 0; i < n; ++i) {
        destination[i] = source[i];
    }
}

void CopyAVX2(const float* source, float* destination, int count)
{
    const auto n = static_cast<std::size_t>(count);
    if (n < kWidth) {
        CopyShort(source, destination, n);
        return;
    }
    // Unaligned head, aligned stores in the middle, and a last vector that may overlap what was
    // already copied: cheaper than a scalar tail, and harmless because the blocks do not overlap.
    _mm256_storeu_ps(destination, _mm256_loadu_ps(source));
    std::size_t i = FirstAlignedIndex(destination);
    for (; i + 4 * kWidth <= n; i += 4 * kWidth) {
        const __m256 a = _mm256_loadu_ps(source + i);
        const __m256 b = _mm256_loadu_ps(source + i + kWidth);
        const __m256 c = _mm256_loadu_ps(source + i + 2 * kWidth);
        const __m256 d = _mm256_loadu_ps(source + i + 3 * kWidth);
        _mm256_storeu_ps(destination + i, a);
        _mm256_storeu_ps(destination + i + kWidth, b);
        _mm256_storeu_ps(destination + i + 2 * kWidth, c);
        _mm256_storeu_ps(destination + i + 3 * kWidth, d);
    }
    for (; i + kWidth <= n; i += kWidth) {
        _mm256_storeu_ps(destination + i, _mm256_loadu_ps(source + i));
    }
    if (i < n) {
        _mm256_storeu_ps(destination + n - kWidth, _mm256_loadu_ps(source + n - kWidth));
    }
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

void ZeroAVX2(float* destination, int count)
{
    FillAVX2(destination, 0.0f, count);
}

constexpr FunctionTable kAVX2Table{CopyAVX2, FillAVX2, ZeroAVX2};

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
