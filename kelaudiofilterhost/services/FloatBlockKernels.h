// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/services/FloatBlock.h"

// Each version lives in its own file so that only the AVX2 file is built with AVX2 instructions;
// they share nothing inline, so no AVX2 code can be merged into a caller that runs everywhere.
namespace kelcore::floatblock::detail {

// Copying and zeroing are the C library's in every version: bench/run found no hand-written
// kernel faster than memcpy and memset at both short and typical block lengths. Filling is
// hand-written where it beats std::fill.
void CopyWithLibrary(const float* source, float* destination, int count);
void ZeroWithLibrary(float* destination, int count);

const FunctionTable* GetPlainFunctionTable();
/// Null when this build has no SSE2 version (not an x86 target).
const FunctionTable* GetSSE2FunctionTable();
/// Null when this build has no AVX2 version (not an x86 target, or the compiler lacks AVX2).
const FunctionTable* GetAVX2FunctionTable();

} // namespace kelcore::floatblock::detail
