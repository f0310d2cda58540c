// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/framework/AudioFilter.h"

#include <algorithm>
#include <vector>

namespace kelaudiofilterhost::testing {

/// A recognisable test signal: every sample of every channel differs, exactly representable.
inline float TestSample(int channel, long frame)
{
    return static_cast<float>((channel + 1) * 100000 + frame + 1);
}

/// Runs a whole signal through ProcessWithMapping in blocks whose sizes cycle through blockSizes.
/// Returns the output channels (main target channels) of the whole run.
inline std::vector<std::vector<float>> RunMapped(AudioFilter& filter, int inputChannels, int outputChannels,
                                                 long totalFrames, const std::vector<int>& blockSizes)
{
    std::vector<std::vector<float>> out(static_cast<std::size_t>(outputChannels),
                                        std::vector<float>(static_cast<std::size_t>(totalFrames), -1.0f));
    std::vector<std::vector<float>> inBlock(static_cast<std::size_t>(inputChannels));
    std::vector<std::vector<float>> outBlock(static_cast<std::size_t>(outputChannels));
    std::vector<float*> inPointers(static_cast<std::size_t>(inputChannels));
    std::vector<float*> outPointers(static_cast<std::size_t>(outputChannels));
    long frame = 0;
    std::size_t next = 0;
    while (frame < totalFrames) {
        const int frames = static_cast<int>(std::min<long>(blockSizes[next++ % blockSizes.size()], totalFrames - frame));
        for (int c = 0; c < inputChannels; ++c) {
            auto& block = inBlock[static_cast<std::size_t>(c)];
            block.resize(static_cast<std::size_t>(frames));
            for (int i = 0; i < frames; ++i) {
                block[static_cast<std::size_t>(i)] = TestSample(c, frame + i);
            }
            inPointers[static_cast<std::size_t>(c)] = block.data();
        }
        for (int c = 0; c < outputChannels; ++c) {
            // Stale data in the output buffers must never leak through.
            outBlock[static_cast<std::size_t>(c)].assign(static_cast<std::size_t>(frames), 12345.0f);
            outPointers[static_cast<std::size_t>(c)] = outBlock[static_cast<std::size_t>(c)].data();
        }
        filter.ProcessWithMapping(inPointers.data(), outPointers.data(), frames);
        for (int c = 0; c < outputChannels; ++c) {
            std::copy(outBlock[static_cast<std::size_t>(c)].begin(), outBlock[static_cast<std::size_t>(c)].end(),
                      out[static_cast<std::size_t>(c)].begin() + frame);
        }
        frame += frames;
    }
    return out;
}

/// The input channel delayed by latency frames, zeros first.
inline std::vector<float> Delayed(int channel, long totalFrames, int latency, float gain = 1.0f)
{
    std::vector<float> expected(static_cast<std::size_t>(totalFrames), 0.0f);
    for (long n = latency; n < totalFrames; ++n) {
        expected[static_cast<std::size_t>(n)] = TestSample(channel, n - latency) * gain;
    }
    return expected;
}

} // namespace kelaudiofilterhost::testing
