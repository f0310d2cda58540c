// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/framework/AudioFilter.h"
#include "tools/kafh/AudioStream.h"

#include <boost/intrusive_ptr.hpp>

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

namespace kafh {

class Progress;

/// How much is rendered past the end of the input.
enum class TailMode {
    None,
    /// RenderOptions::tailSeconds.
    Fixed,
    /// The filter's reported tail, else until the output stays below -120 dBFS for 100 ms; at most 30 s.
    Automatic,
};

struct RenderOptions {
    int blockSize = 1024;
    /// The rate the filter is told and the output carries.
    double sampleRate = 48000.0;
    TailMode tailMode = TailMode::None;
    double tailSeconds = 0.0;
    /// Filter channel to source channel, for both directions; the other source channels pass
    /// through, delayed like the processed ones. Without it, the source's channels are split into
    /// groups of the filter's main output width, one filter instance each.
    bool useExplicitMap = false;
    kelaudiofilterhost::ChannelMap explicitMap;
    Progress* progress = nullptr;
    std::string progressLabel;
    /// Set by another thread to stop between blocks.
    const std::atomic<bool>* cancel = nullptr;
};

/// Peak and mean square over every sample seen.
struct SignalStats {
    double peak = 0.0;
    double sumOfSquares = 0.0;
    std::int64_t samples = 0;

    void Add(const float* block, int count);
    double GetRms() const;
};

struct RenderReport {
    int instances = 0;
    /// Latency of the filter in frames, removed from the start of the output.
    int latency = 0;
    std::int64_t inputFrames = 0;
    /// Input frames plus the tail.
    std::int64_t outputFrames = 0;
    std::int64_t tailFrames = 0;
    /// Time spent inside the filters' processing calls.
    double processSeconds = 0.0;
    SignalStats input;
    SignalStats output;

    /// Seconds of audio rendered per second of processing time; 0 when nothing was measured.
    double GetRealTimeFactor(double sampleRate) const;
};

/// Asks the filter for the layout of a source with that many channels (mono, stereo, 5.1 ...);
/// the filter may keep its own. Call before applying settings.
void RequestChannelLayout(kelaudiofilterhost::AudioFilter& filter, int channels);

/// Runs a source through a filter into a sink, block by block, through the filter's channel maps:
/// the output is aligned with the input (the filter's latency is removed) and as long as the input
/// plus the tail. Processing runs with flush-to-zero and denormals-are-zero set.
class Renderer {
public:
    Renderer() = default;
    ~Renderer();
    Renderer(const Renderer&) = delete;
    Renderer& operator=(const Renderer&) = delete;

    /// Takes the filter with its settings applied, makes the further instances a source wider than
    /// the filter needs (clones, same settings), sets up maps and resumes them. False with a message.
    bool Prepare(boost::intrusive_ptr<kelaudiofilterhost::AudioFilter> filter, int channels,
                 const RenderOptions& options, std::string& error);
    /// False with a message when reading, writing or the cancel flag stopped it.
    bool Run(AudioSource& source, AudioSink& sink, RenderReport& report, std::string& error);
    /// Latency in frames of the prepared filter.
    int GetLatency() const { return mLatency; }
    int GetInstanceCount() const { return static_cast<int>(mInstances.size()); }

private:
    struct Instance {
        boost::intrusive_ptr<kelaudiofilterhost::AudioFilter> filter;
        int firstChannel = 0;
    };

    void SuspendAll();
    std::int64_t DecideTailFrames(bool& untilQuiet) const;

    RenderOptions mOptions;
    int mChannels = 0;
    int mLatency = 0;
    std::vector<Instance> mInstances;
};

} // namespace kafh
