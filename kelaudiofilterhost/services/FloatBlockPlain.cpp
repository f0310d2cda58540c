// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/services/FloatBlockKernels.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

namespace kelcore::floatblock::detail {

void CopyWithLibrary(const float* source, float* destination, int count)
{
    std::memcpy(destination, source, static_cast<std::size_t>(count) * sizeof(float));
}

void ZeroWithLibrary(float* destination, int count)
{
    std::memset(destination, 0, static_cast<std::size_t>(count) * sizeof(float));
}

namespace {

void FillWithLibrary(float* destination, float value, int count)
{
    std::fill_n(destination, count, value);
}

constexpr FunctionTable kPlainTable{CopyWithLibrary, FillWithLibrary, ZeroWithLibrary};

} // namespace

const FunctionTable* GetPlainFunctionTable()
{
    return &kPlainTable;
}

} // namespace kelcore::floatblock::detail
