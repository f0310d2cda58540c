// SPDX-License-Identifier: GPL-3.0-or-later
// The float block routines against what the C and C++ libraries offer for the same job. Both sides
// of a comparison use the same 64-byte aligned blocks.
#include "kelaudiofilterhost/services/FloatBlock.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstring>

namespace {

constexpr int kCount = 1024;

class Blocks {
public:
    Blocks() : mSource(kelcore::FloatAllocate(kCount)), mDestination(kelcore::FloatAllocate(kCount))
    {
        for (int i = 0; i < kCount; ++i) {
            mSource[i] = static_cast<float>(i);
            mDestination[i] = 0.0f;
        }
    }
    ~Blocks()
    {
        kelcore::FloatFree(mSource);
        kelcore::FloatFree(mDestination);
    }
    Blocks(const Blocks&) = delete;
    Blocks& operator=(const Blocks&) = delete;

    const float* Source() const { return mSource; }
    float* Destination() { return mDestination; }

private:
    float* mSource;
    float* mDestination;
};

// Hidden from the optimiser so that no side gets a compile-time size to exploit.
int Count()
{
    int count = kCount;
    benchmark::DoNotOptimize(count);
    return count;
}

void SetBytes(benchmark::State& state)
{
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * kCount
                            * static_cast<std::int64_t>(sizeof(float)));
}

void CopyCandidate(benchmark::State& state)
{
    Blocks blocks;
    const int count = Count();
    for (auto _ : state) {
        benchmark::DoNotOptimize(kelcore::FloatCopy(blocks.Source(), blocks.Destination(), count));
        benchmark::ClobberMemory();
    }
    SetBytes(state);
}

void CopyBaseline(benchmark::State& state)
{
    Blocks blocks;
    const auto bytes = static_cast<std::size_t>(Count()) * sizeof(float);
    for (auto _ : state) {
        benchmark::DoNotOptimize(std::memcpy(blocks.Destination(), blocks.Source(), bytes));
        benchmark::ClobberMemory();
    }
    SetBytes(state);
}

void ZeroCandidate(benchmark::State& state)
{
    Blocks blocks;
    const int count = Count();
    for (auto _ : state) {
        benchmark::DoNotOptimize(kelcore::FloatZero(blocks.Destination(), count));
        benchmark::ClobberMemory();
    }
    SetBytes(state);
}

void ZeroBaseline(benchmark::State& state)
{
    Blocks blocks;
    const auto bytes = static_cast<std::size_t>(Count()) * sizeof(float);
    for (auto _ : state) {
        benchmark::DoNotOptimize(std::memset(blocks.Destination(), 0, bytes));
        benchmark::ClobberMemory();
    }
    SetBytes(state);
}

void FillCandidate(benchmark::State& state)
{
    Blocks blocks;
    const int count = Count();
    float value = 0.5f;
    for (auto _ : state) {
        benchmark::DoNotOptimize(value);
        benchmark::DoNotOptimize(kelcore::FloatFill(blocks.Destination(), value, count));
        benchmark::ClobberMemory();
    }
    SetBytes(state);
}

void FillBaseline(benchmark::State& state)
{
    Blocks blocks;
    const int count = Count();
    float value = 0.5f;
    for (auto _ : state) {
        benchmark::DoNotOptimize(value);
        float* destination = blocks.Destination();
        benchmark::DoNotOptimize(destination);
        std::fill(destination, destination + count, value);
        benchmark::ClobberMemory();
    }
    SetBytes(state);
}

} // namespace

BENCHMARK(CopyCandidate)->Name("float_copy_vs_memcpy/candidate");
BENCHMARK(CopyBaseline)->Name("float_copy_vs_memcpy/baseline");
BENCHMARK(ZeroCandidate)->Name("float_zero_vs_memset/candidate");
BENCHMARK(ZeroBaseline)->Name("float_zero_vs_memset/baseline");
BENCHMARK(FillCandidate)->Name("float_fill_vs_std_fill/candidate");
BENCHMARK(FillBaseline)->Name("float_fill_vs_std_fill/baseline");
