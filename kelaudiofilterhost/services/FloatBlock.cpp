// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/services/FloatBlock.h"

#include "kelaudiofilterhost/services/FloatBlockKernels.h"

#include <atomic>
#include <cstddef>
#include <cstdlib>

namespace kelcore {

namespace floatblock {

bool IsSupported(Implementation implementation)
{
    return GetFunctionTable(implementation) != nullptr;
}

const FunctionTable* GetFunctionTable(Implementation implementation)
{
    switch (implementation) {
    case Implementation::Plain:
        return detail::GetPlainFunctionTable();
    case Implementation::SSE2:
        return detail::GetSSE2FunctionTable();
    case Implementation::AVX2:
#if defined(__x86_64__) || defined(__i386__)
        // libgcc's check covers the operating system too: AVX state must be saved on context switches.
        __builtin_cpu_init();
        if (!__builtin_cpu_supports("avx2")) {
            return nullptr;
        }
        return detail::GetAVX2FunctionTable();
#else
        return nullptr;
#endif
    }
    return nullptr;
}

Implementation GetPreferredImplementation()
{
    static const Implementation preferred = [] {
        for (Implementation candidate : {Implementation::AVX2, Implementation::SSE2}) {
            if (IsSupported(candidate)) {
                return candidate;
            }
        }
        return Implementation::Plain;
    }();
    return preferred;
}

const char* GetImplementationName(Implementation implementation)
{
    switch (implementation) {
    case Implementation::Plain:
        return "Plain";
    case Implementation::SSE2:
        return "SSE2";
    case Implementation::AVX2:
        return "AVX2";
    }
    return "?";
}

} // namespace floatblock

namespace {

using CopyFunction = void (*)(const float*, float*, int);
using FillFunction = void (*)(float*, float, int);
using ZeroFunction = void (*)(float*, int);

const floatblock::FunctionTable& PreferredTable()
{
    return *floatblock::GetFunctionTable(floatblock::GetPreferredImplementation());
}

// Each routine starts at a resolver that installs the chosen kernel and forwards the first call.
// Threads racing through the resolver all store the same pointer, so a relaxed atomic suffices and
// every later call costs one load and an indirect call.
void ResolveCopy(const float* source, float* destination, int count);
void ResolveFill(float* destination, float value, int count);
void ResolveZero(float* destination, int count);

std::atomic<CopyFunction> sCopy{ResolveCopy};
std::atomic<FillFunction> sFill{ResolveFill};
std::atomic<ZeroFunction> sZero{ResolveZero};

void ResolveCopy(const float* source, float* destination, int count)
{
    const CopyFunction copy = PreferredTable().copy;
    sCopy.store(copy, std::memory_order_relaxed);
    copy(source, destination, count);
}

void ResolveFill(float* destination, float value, int count)
{
    const FillFunction fill = PreferredTable().fill;
    sFill.store(fill, std::memory_order_relaxed);
    fill(destination, value, count);
}

void ResolveZero(float* destination, int count)
{
    const ZeroFunction zero = PreferredTable().zero;
    sZero.store(zero, std::memory_order_relaxed);
    zero(destination, count);
}

constexpr std::size_t kBlockAlignment = 64;

} // namespace

int FloatCopy(const float* source, float* destination, int count)
{
    if (source == nullptr || destination == nullptr) {
        return kFloatBlockNullPointer;
    }
    if (count <= 0) {
        return kFloatBlockBadCount;
    }
    sCopy.load(std::memory_order_relaxed)(source, destination, count);
    return kFloatBlockOK;
}

int FloatFill(float* destination, float value, int count)
{
    if (destination == nullptr) {
        return kFloatBlockNullPointer;
    }
    if (count <= 0) {
        return kFloatBlockBadCount;
    }
    sFill.load(std::memory_order_relaxed)(destination, value, count);
    return kFloatBlockOK;
}

int FloatZero(float* destination, int count)
{
    if (destination == nullptr) {
        return kFloatBlockNullPointer;
    }
    if (count <= 0) {
        return kFloatBlockBadCount;
    }
    sZero.load(std::memory_order_relaxed)(destination, count);
    return kFloatBlockOK;
}

float* FloatAllocate(int count)
{
    if (count <= 0) {
        return nullptr;
    }
    // aligned_alloc wants a size that is a multiple of the alignment.
    const std::size_t bytes = static_cast<std::size_t>(count) * sizeof(float);
    const std::size_t rounded = (bytes + kBlockAlignment - 1) / kBlockAlignment * kBlockAlignment;
    return static_cast<float*>(std::aligned_alloc(kBlockAlignment, rounded));
}

int FloatFree(float* block)
{
    if (block == nullptr) {
        return kFloatBlockNullPointer;
    }
    std::free(block);
    return kFloatBlockOK;
}

} // namespace kelcore
