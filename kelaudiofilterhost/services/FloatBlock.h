// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace kelcore {

/// Result of the float block routines: success.
inline constexpr int kFloatBlockOK = 0;
/// Result of the float block routines: a pointer argument was null (checked before the count).
inline constexpr int kFloatBlockNullPointer = -8;
/// Result of the float block routines: the count was 0 or less.
inline constexpr int kFloatBlockBadCount = -6;

/// Copies count floats; the blocks must not overlap (memcpy rules). 0, -8 or -6.
int FloatCopy(const float* source, float* destination, int count);
/// Sets count floats to value. 0, -8 or -6.
int FloatFill(float* destination, float value, int count);
/// Sets count floats to +0.0f. 0, -8 or -6.
int FloatZero(float* destination, int count);
/// A block of count floats aligned to 64 bytes, uninitialised; null for a count of 0 or less or when
/// memory is short. Release it with FloatFree only.
float* FloatAllocate(int count);
/// Releases a block from FloatAllocate. 0, or -8 for null.
int FloatFree(float* block);

namespace floatblock {

/// The versions of the routines; each routine uses the best one the processor runs, chosen once.
enum class Implementation {
    Plain,
    SSE2,
    AVX2,
};

inline constexpr Implementation kAllImplementations[] = {Implementation::Plain, Implementation::SSE2,
                                                         Implementation::AVX2};

/// The kernels of one version. They expect non-null pointers and a count above 0.
struct FunctionTable {
    void (*copy)(const float* source, float* destination, int count);
    void (*fill)(float* destination, float value, int count);
    void (*zero)(float* destination, int count);
};

/// Whether this build has the version and the processor (and operating system) can run it.
bool IsSupported(Implementation implementation);
/// The kernels of a supported version; null for a version this machine cannot run.
const FunctionTable* GetFunctionTable(Implementation implementation);
/// The version the routines use on this machine.
Implementation GetPreferredImplementation();
/// "Plain", "SSE2", "AVX2".
const char* GetImplementationName(Implementation implementation);

} // namespace floatblock

} // namespace kelcore
