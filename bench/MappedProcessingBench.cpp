// SPDX-License-Identifier: GPL-3.0-or-later
// Mapped processing and the delay line against the plain copies that bound them from below.
#include "kelaudiofilterhost/framework/AudioFilter.h"
#include "kelaudiofilterhost/framework/DelayLine.h"
#include "kelaudiofilterhost/services/FloatBlock.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

namespace {

using kelaudiofilterhost::AudioFilter;
using kelaudiofilterhost::AudioFilterBusDescription;
using kelaudiofilterhost::DelayLine;

constexpr int kBlock = 256;
constexpr int kLatency = 64;
constexpr int kChannels = 8;

// A unity stereo filter reporting a latency, so the other six channels take the delayed pass-through.
class CopyFilter : public AudioFilter {
public:
    CopyFilter() : AudioFilter(u"bench:copy", u"Copy")
    {
        AddInputBus(AudioFilterBusDescription::CreateStereo(u"In", AudioFilterBusDescription::kMain));
        AddOutputBus(AudioFilterBusDescription::CreateStereo(u"Out", AudioFilterBusDescription::kMain));
    }
    int GetInitialDelay() const override { return kLatency; }
    void Process(float** inputs, float** outputs, int frames) override
    {
        kelcore::FloatCopy(inputs[0], outputs[0], frames);
        kelcore::FloatCopy(inputs[1], outputs[1], frames);
    }
};

struct Buffers {
    Buffers() : in(kChannels, std::vector<float>(kBlock, 0.5f)), out(kChannels, std::vector<float>(kBlock))
    {
        for (int c = 0; c < kChannels; ++c) {
            inPointers.push_back(in[c].data());
            outPointers.push_back(out[c].data());
        }
    }
    std::vector<std::vector<float>> in;
    std::vector<std::vector<float>> out;
    std::vector<float*> inPointers;
    std::vector<float*> outPointers;
};

void MappedProcessCandidate(benchmark::State& state)
{
    Buffers buffers;
    boost::intrusive_ptr<CopyFilter> filter = new CopyFilter;
    filter->SetUseChannelMap(true);
    filter->SetChannelMapTargetChannelLayout(kelmediatypes::Create7_1ChannelLayout());
    filter->SetBlockSize(kBlock);
    filter->SetDefaultChannelMap(true);
    filter->SetDefaultChannelMap(false);
    filter->Resume();
    for (auto _ : state) {
        filter->ProcessWithMapping(buffers.inPointers.data(), buffers.outPointers.data(), kBlock);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(MappedProcessCandidate)->Name("mapped_process_vs_copy/candidate");

void MappedProcessBaseline(benchmark::State& state)
{
    Buffers buffers;
    boost::intrusive_ptr<DelayLine> line = new DelayLine(kBlock, kLatency, kChannels);
    for (auto _ : state) {
        kelcore::FloatCopy(buffers.inPointers[0], buffers.outPointers[0], kBlock);
        kelcore::FloatCopy(buffers.inPointers[1], buffers.outPointers[1], kBlock);
        line->WriteData(buffers.inPointers.data(), kBlock);
        float** delayed = line->GetDelayedOutput(kBlock);
        for (int c = 2; c < kChannels; ++c) {
            kelcore::FloatCopy(delayed[c], buffers.outPointers[c], kBlock);
        }
        benchmark::ClobberMemory();
    }
}
BENCHMARK(MappedProcessBaseline)->Name("mapped_process_vs_copy/baseline");

void DelayLineCandidate(benchmark::State& state)
{
    Buffers buffers;
    boost::intrusive_ptr<DelayLine> line = new DelayLine(kBlock, kLatency, kChannels);
    for (auto _ : state) {
        line->WriteData(buffers.inPointers.data(), kBlock);
        benchmark::DoNotOptimize(line->GetDelayedOutput(kBlock));
        benchmark::ClobberMemory();
    }
}
BENCHMARK(DelayLineCandidate)->Name("delay_line_vs_memcpy/candidate");

void DelayLineBaseline(benchmark::State& state)
{
    Buffers buffers;
    for (auto _ : state) {
        for (int c = 0; c < kChannels; ++c) {
            std::memcpy(buffers.outPointers[c], buffers.inPointers[c], kBlock * sizeof(float));
        }
        benchmark::ClobberMemory();
    }
}
BENCHMARK(DelayLineBaseline)->Name("delay_line_vs_memcpy/baseline");

} // namespace
