// SPDX-License-Identifier: GPL-3.0-or-later
// The float block routines, and each version of their kernels, against what the C and C++ libraries
// offer for the same job, at a short and a typical block length. Both sides of a comparison use the
// same 64-byte aligned blocks.
#include "kelaudiofilterhost/services/FloatBlock.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <functional>
#include <string>

namespace {

using kelcore::floatblock::FunctionTable;
using kelcore::floatblock::Implementation;

constexpr int kMaxCount = 1024;
constexpr int kCounts[] = {64, kMaxCount};

class Blocks {
public:
    Blocks() : mSource(kelcore::FloatAllocate(kMaxCount)), mDestination(kelcore::FloatAllocate(kMaxCount))
    {
        for (int i = 0; i < kMaxCount; ++i) {
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

// One call of a routine or its library counterpart on count floats.
using Job = std::function<void(Blocks&, int count, float value)>;

void Run(benchmark::State& state, const Job& job, int count)
{
    Blocks blocks;
    // Hidden from the optimiser so that no side gets a compile-time size to exploit.
    benchmark::DoNotOptimize(count);
    float value = 0.5f;
    for (auto _ : state) {
        benchmark::DoNotOptimize(value);
        job(blocks, count, value);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * count
                            * static_cast<std::int64_t>(sizeof(float)));
}

struct Routine {
    const char* name;
    const char* baselineName;
    Job baseline;
    Job routine;
    std::function<Job(const FunctionTable&)> kernel;
};

const Routine kRoutines[] = {
    {"copy", "memcpy",
     [](Blocks& b, int n, float) {
         benchmark::DoNotOptimize(std::memcpy(b.Destination(), b.Source(), static_cast<std::size_t>(n) * sizeof(float)));
     },
     [](Blocks& b, int n, float) { benchmark::DoNotOptimize(kelcore::FloatCopy(b.Source(), b.Destination(), n)); },
     [](const FunctionTable& t) -> Job { return [&t](Blocks& b, int n, float) { t.copy(b.Source(), b.Destination(), n); }; }},
    {"zero", "memset",
     [](Blocks& b, int n, float) {
         benchmark::DoNotOptimize(std::memset(b.Destination(), 0, static_cast<std::size_t>(n) * sizeof(float)));
     },
     [](Blocks& b, int n, float) { benchmark::DoNotOptimize(kelcore::FloatZero(b.Destination(), n)); },
     [](const FunctionTable& t) -> Job { return [&t](Blocks& b, int n, float) { t.zero(b.Destination(), n); }; }},
    {"fill", "std_fill",
     [](Blocks& b, int n, float value) {
         float* destination = b.Destination();
         benchmark::DoNotOptimize(destination);
         std::fill(destination, destination + n, value);
     },
     [](Blocks& b, int n, float value) { benchmark::DoNotOptimize(kelcore::FloatFill(b.Destination(), value, n)); },
     [](const FunctionTable& t) -> Job {
         return [&t](Blocks& b, int n, float value) { t.fill(b.Destination(), value, n); };
     }},
};

void Register(const std::string& comparison, const Job& candidate, const Job& baseline, int count)
{
    benchmark::RegisterBenchmark((comparison + "/candidate").c_str(),
                                 [candidate, count](benchmark::State& state) { Run(state, candidate, count); });
    benchmark::RegisterBenchmark((comparison + "/baseline").c_str(),
                                 [baseline, count](benchmark::State& state) { Run(state, baseline, count); });
}

// float_copy_vs_memcpy: the public routine on 1024 floats; float_copy_avx2_64_vs_memcpy: one
// version's kernel on 64 floats, whether or not the routines use it.
const bool sRegistered = [] {
    for (const Routine& routine : kRoutines) {
        const std::string against = std::string("_vs_") + routine.baselineName;
        Register(std::string("float_") + routine.name + against, routine.routine, routine.baseline, kMaxCount);
        for (Implementation implementation : kelcore::floatblock::kAllImplementations) {
            const FunctionTable* table = kelcore::floatblock::GetFunctionTable(implementation);
            if (table == nullptr) {
                continue;
            }
            std::string version = kelcore::floatblock::GetImplementationName(implementation);
            std::transform(version.begin(), version.end(), version.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            for (int count : kCounts) {
                Register(std::string("float_") + routine.name + "_" + version + "_" + std::to_string(count) + against,
                         routine.kernel(*table), routine.baseline, count);
            }
        }
    }
    return true;
}();

} // namespace
