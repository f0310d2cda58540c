// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/services/FloatBlockKernels.h"

namespace kelcore::floatblock::detail {

namespace {

void CopyPlain(const float* source, float* destination, int count)
{
    for (int i = 0; i < count; ++i) {
        destination[i] = source[i];
    }
}

void FillPlain(float* destination, float value, int count)
{
    for (int i = 0; i < count; ++i) {
        destination[i] = value;
    }
}

void ZeroPlain(float* destination, int count)
{
    FillPlain(destination, 0.0f, count);
}

constexpr FunctionTable kPlainTable{CopyPlain, FillPlain, ZeroPlain};

} // namespace

const FunctionTable* GetPlainFunctionTable()
{
    return &kPlainTable;
}

} // namespace kelcore::floatblock::detail
