// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/services/FloatBlockKernels.h"

#if defined(__SSE2__)
#include <cstddef>
#include <cstdint>
#include <emmintrin.h>
#endif

namespace kelcore::floatblock::detail {

#if defined(__SSE2__)

namespace {

constexpr std::size_t kWidth = 4;

// Index of the first float at or after 0 whose address is 16-byte aligned, at least 1 so that the
// unaligned head store always covers the floats before it.
std::size_t FirstAlignedIndex(const float* destination)
{
    const auto misalignment = static_cast<std::size_t>((reinterpret_cast<std::uintptr_t>(destination) >> 2) & 3);
    return kWidth - misalignment;
}

void CopySSE2(const float* source, float* destination, int count)
{
    const auto n = static_cast<std::size_t>(count);
    if (n < kWidth) {
        for (std::size_t i = 0; i < n; ++i) {
            destination[i] = source[i];
        }
        return;
    }
    // Unaligned head, aligned stores in the middle, and a last vector that may overlap what was
    // already copied: cheaper than a scalar tail, and harmless because the blocks do not overlap.
    _mm_storeu_ps(destination, _mm_loadu_ps(source));
    std::size_t i = FirstAlignedIndex(destination);
    for (; i + 4 * kWidth <= n; i += 4 * kWidth) {
        const __m128 a = _mm_loadu_ps(source + i);
        const __m128 b = _mm_loadu_ps(source + i + kWidth);
        const __m128 c = _mm_loadu_ps(source + i + 2 * kWidth);
        const __m128 d = _mm_loadu_ps(source + i + 3 * kWidth);
        _mm_storeu_ps(destination + i, a);
        _mm_storeu_ps(destination + i + kWidth, b);
        _mm_storeu_ps(destination + i + 2 * kWidth, c);
        _mm_storeu_ps(destination + i + 3 * kWidth, d);
    }
    for (; i + kWidth <= n; i += kWidth) {
        _mm_storeu_ps(destination + i, _mm_loadu_ps(source + i));
    }
    if (i < n) {
        _mm_storeu_ps(destination + n - kWidth, _mm_loadu_ps(source + n - kWidth));
    }
}

void FillSSE2(float* destination, float value, int count)
{
    const auto n = static_cast<std::size_t>(count);
    if (n < kWidth) {
        for (std::size_t i = 0; i < n; ++i) {
            destination[i] = value;
        }
        return;
    }
    const __m128 v = _mm_set1_ps(value);
    _mm_storeu_ps(destination, v);
    std::size_t i = FirstAlignedIndex(destination);
    for (; i + 4 * kWidth <= n; i += 4 * kWidth) {
        _mm_storeu_ps(destination + i, v);
        _mm_storeu_ps(destination + i + kWidth, v);
        _mm_storeu_ps(destination + i + 2 * kWidth, v);
        _mm_storeu_ps(destination + i + 3 * kWidth, v);
    }
    for (; i + kWidth <= n; i += kWidth) {
        _mm_storeu_ps(destination + i, v);
    }
    if (i < n) {
        _mm_storeu_ps(destination + n - kWidth, v);
    }
}

void ZeroSSE2(float* destination, int count)
{
    FillSSE2(destination, 0.0f, count);
}

constexpr FunctionTable kSSE2Table{CopySSE2, FillSSE2, ZeroSSE2};

} // namespace

const FunctionTable* GetSSE2FunctionTable()
{
    return &kSSE2Table;
}

#else

const FunctionTable* GetSSE2FunctionTable()
{
    return nullptr;
}

#endif

} // namespace kelcore::floatblock::detail
