// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/framework/AudioFilter.h"
#include "kelaudiofilterhost/framework/TempoMap.h"
#include "kelaudiofilterhost/render/AudioStream.h"
#include "kelaudiofilterhost/render/Automation.h"
#include "kelaudiofilterhost/render/MidiFile.h"

#include <boost/intrusive_ptr.hpp>

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kelaudiofilterhost::render {

/// How much is rendered past the end of the input.
enum class TailMode {
    None,
    /// RenderOptions::tailSeconds.
    Fixed,
    /// The filter's reported tail, else until the output stays below -120 dBFS for 100 ms; at most 30 s.
    Automatic,
};

/// A channel message at a frame of the render; the event's own sample offset is not used.
struct TimedEvent {
    std::int64_t frame = 0;
    AudioFilterEvent event;
};

struct RenderOptions {
    int blockSize = 1024;
    /// The rate the filter is told and the output carries; 0 takes the source's.
    double sampleRate = 0.0;
    TailMode tailMode = TailMode::None;
    double tailSeconds = 0.0;
    /// Filter channel to source channel, for both directions; the other source channels pass
    /// through, delayed like the processed ones. Without it, the source's channels are split into
    /// groups of the filter's main output width, one filter instance each.
    bool useExplicitMap = false;
    ChannelMap explicitMap;
    /// Parameter changes at frames of the input, each on its exact frame (see Renderer).
    Automation automation;
    /// Channel messages in time order, each on its exact frame (see Renderer); for instruments, and
    /// effects that listen to MIDI.
    std::vector<TimedEvent> events;
    /// Positions the plug-ins see; without one they see what their back end reports by default.
    std::shared_ptr<const TempoMap> tempoMap;
    /// Tells the plug-ins the render is not bound to real time.
    bool offline = true;
    /// The fraction done, now and then.
    std::function<void(double)> progress;
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
void RequestChannelLayout(AudioFilter& filter, int channels);
/// Channels of the first (main) bus; 0 without buses.
unsigned int MainChannelCount(const std::vector<AudioFilterBusDescription>& buses);

/// Runs a source through a filter into a sink, block by block, through the filter's channel maps:
/// the output is aligned with the input (the filter's latency is removed) and as long as the input
/// plus the tail. Processing runs with flush-to-zero and denormals-are-zero set; audio moves to and
/// from source and sink in large pieces whatever the block size.
///
/// Automation reaches filters that handle parameter offsets at its frames within the block (ramps as
/// a point at the end of every block they cover); other filters get the block cut at every point,
/// and ramps set once per block. Events go to every instance with their offsets into the piece of
/// block they fall in; a piece holding more than a plug-in's event queue takes is cut too. Every
/// block is as long as asked or shorter, never empty.
class Renderer {
public:
    Renderer();
    ~Renderer();
    Renderer(const Renderer&) = delete;
    Renderer& operator=(const Renderer&) = delete;

    /// Takes the filter with its settings applied, makes the further instances a source wider than
    /// the filter needs (clones, same settings), sets up maps and resumes them. False with a message.
    bool Prepare(boost::intrusive_ptr<AudioFilter> filter, int channels, const RenderOptions& options,
                 std::string& error);
    /// False with a message when reading, writing or the cancel flag stopped it.
    bool Run(AudioSource& source, AudioSink& sink, RenderReport& report, std::string& error);
    /// Latency in frames of the prepared filter.
    int GetLatency() const { return mLatency; }
    int GetInstanceCount() const { return static_cast<int>(mInstances.size()); }

private:
    struct Instance {
        boost::intrusive_ptr<AudioFilter> filter;
        int firstChannel = 0;
    };
    class Host;
    class Player;

    void SuspendAll();
    std::int64_t DecideTailFrames(bool& untilQuiet) const;
    /// One block of the render at the position, cut where automation says.
    void ProcessBlock(std::int64_t position, float** inputs, float** outputs, int frames);

    RenderOptions mOptions;
    int mChannels = 0;
    int mLatency = 0;
    std::vector<Instance> mInstances;
    std::unique_ptr<Host> mHost;
    std::unique_ptr<Player> mPlayer;
    std::size_t mNextEvent = 0;
    std::vector<float*> mPieceInputs;
    std::vector<float*> mPieceOutputs;
};

/// The MIDI file's channel messages as events on the sample grid of the rate (whatever rate the file
/// was read for), and its tempo map for the plug-ins' positions.
void SetMidi(const MidiFile& midi, double sampleRate, RenderOptions& options);
/// The events a file's channel messages make at the rate, in time order.
std::vector<TimedEvent> MakeEvents(const MidiFile& midi, double sampleRate);

/// Renders a file into another of the type its extension names, through the filter with its
/// settings applied: asks the filter for the file's channel layout, keeps the sample encoding where
/// the type allows, writes atomically (no partial output on failure). False with a message.
bool RenderFile(boost::intrusive_ptr<AudioFilter> filter, const std::filesystem::path& input,
                const std::filesystem::path& output, RenderOptions options, RenderReport& report,
                std::string& error);
/// Renders a buffer (one vector per channel) into another.
bool RenderBuffer(boost::intrusive_ptr<AudioFilter> filter, const AudioBuffer& input, double sampleRate,
                  AudioBuffer& output, RenderOptions options, RenderReport& report, std::string& error);

} // namespace kelaudiofilterhost::render
