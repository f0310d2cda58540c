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

constexpr FunctionTable kSSE2Table{CopyWithLibrary, FillSSE2, ZeroWithLibrary};

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
