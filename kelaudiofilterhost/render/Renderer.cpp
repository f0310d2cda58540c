// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/render/Renderer.h"

#include "kelaudiofilterhost/render/AudioFile.h"
#include "kelaudiofilterhost/services/ChannelLayouts.h"
#include "kelaudiofilterhost/services/PluginCallTrail.h"
#include "kelaudiofilterhost/services/Trace.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <map>

#if defined(__x86_64__) || defined(__i386__)
#include <xmmintrin.h>
#endif

namespace kelaudiofilterhost::render {

namespace {

constexpr double kQuietLevel = 1e-6; // -120 dBFS
constexpr double kQuietSeconds = 0.1;
constexpr double kMaximumTailSeconds = 30.0;
// Audio moves between source, sink and the render in pieces of about this many frames.
constexpr int kChunkFrames = 16384;
// Events one piece of a block may carry: below the smallest event queue of the back ends.
constexpr std::size_t kMaximumEventsPerPiece = 512;

std::string Quoted(const UTF16String& text)
{
    return "\"" + kelcore::UTF16to8(text) + "\"";
}

// Flush-to-zero and denormals-are-zero for the processing thread: plug-ins fed silence would
// otherwise decay into denormal numbers, which some processors compute a hundred times slower.
class DenormalGuard {
public:
#if defined(__x86_64__) || defined(__i386__)
    DenormalGuard() : mSaved(_mm_getcsr()) { Apply(); }
    ~DenormalGuard() { _mm_setcsr(mSaved); }
    // A plug-in may change the control register itself; set again before every block.
    void Apply() const { _mm_setcsr(mSaved | kFlushToZero | kDenormalsAreZero); }

private:
    static constexpr unsigned kFlushToZero = 0x8000;
    static constexpr unsigned kDenormalsAreZero = 0x0040;
    unsigned mSaved;
#else
    void Apply() const {}
#endif
};

std::vector<AudioChannelDescription> LayoutFor(int channels)
{
    switch (channels) {
    case 1:
        return kelmediatypes::CreateMonoChannelLayout();
    case 2:
        return kelmediatypes::CreateStereoChannelLayout();
    case 4:
        return kelmediatypes::CreateQuadraphonicChannelLayout();
    case 6:
        return kelmediatypes::CreateBroadcast51ChannelLayout();
    case 8:
        return kelmediatypes::Create7_1ChannelLayout();
    default:
        return std::vector<AudioChannelDescription>(static_cast<std::size_t>(std::max(channels, 0)));
    }
}

ChannelMap Identity(int count)
{
    ChannelMap map;
    for (int i = 0; i < count; ++i) {
        map.emplace(i, i);
    }
    return map;
}

unsigned int MainWidth(const std::vector<AudioFilterBusDescription>& buses)
{
    for (const auto& bus : buses) {
        if (bus.GetType() == AudioFilterBusDescription::kMain) {
            return bus.GetChannelCount();
        }
    }
    return buses.empty() ? 0u : buses.front().GetChannelCount();
}

} // namespace

// Tells plug-ins that ask their host the tempo and signature of the tempo map where the render is.
class Renderer::Host : public IAudioFilterHost {
public:
    void SetTempoMap(std::shared_ptr<const TempoMap> map) { mMap = std::move(map); }
    void SetPosition(std::int64_t position) { mPosition = position; }

    bool GetTempoAndTimeSignature(int* /*a*/, int* /*b*/, int* /*c*/, HostTempoRecord* record) override
    {
        if (!mMap || record == nullptr) {
            return false;
        }
        const MusicalPosition position = mMap->At(mPosition);
        record->tempo = position.tempo;
        record->numerator = position.numerator;
        record->denominator = position.denominator;
        return true;
    }
    bool GetTransportState(bool* playing, bool* recording, bool* looping) override
    {
        *playing = true;
        *recording = false;
        *looping = false;
        return true;
    }
    void HostSpecific() override {}

private:
    std::shared_ptr<const TempoMap> mMap;
    std::int64_t mPosition = 0;
};

// Plays automation into the instances: points in time order, and for each parameter where its
// ramp (if one runs) starts and ends.
class Renderer::Player {
public:
    static constexpr std::int64_t kNever = std::numeric_limits<std::int64_t>::max();

    Player(const Automation& automation, AudioFilter& filter) : mPoints(automation.GetPoints())
    {
        std::map<int, std::size_t> lanes;
        std::vector<std::size_t> lastOfLane;
        mNextOfLane.assign(mPoints.size(), kNone);
        for (std::size_t i = 0; i < mPoints.size(); ++i) {
            const int parameter = mPoints[i].parameter;
            auto [at, added] = lanes.emplace(parameter, mLanes.size());
            if (added) {
                Lane lane;
                lane.parameter = parameter;
                lane.info = filter.GetParameterInfo(parameter);
                const float now = filter.GetParameter(parameter);
                lane.plain = lane.info ? lane.info->NormalizedToPlain(now) : now;
                lane.next = i;
                mLanes.push_back(lane);
                lastOfLane.push_back(i);
            } else {
                mNextOfLane[lastOfLane[at->second]] = i;
                lastOfLane[at->second] = i;
            }
            mLaneOf.push_back(at->second);
        }
    }

    bool IsEmpty() const { return mPoints.empty(); }
    std::int64_t NextFrame() const { return mCursor < mPoints.size() ? mPoints[mCursor].frame : kNever; }

    /// Hands over every point before the frame, at its offset from start (0 for those before).
    template <typename Send>
    void TakePointsBefore(std::int64_t frame, std::int64_t start, Send&& send)
    {
        for (; mCursor < mPoints.size() && mPoints[mCursor].frame < frame; ++mCursor) {
            const auto& point = mPoints[mCursor];
            send(point.parameter, point.normalized, static_cast<int>(std::max<std::int64_t>(point.frame - start, 0)));
            Lane& lane = mLanes[mLaneOf[mCursor]];
            lane.frame = point.frame;
            lane.plain = point.plain;
            lane.next = mNextOfLane[mCursor];
            lane.taken = true;
        }
    }

    /// The value of every ramp running at the frame.
    template <typename Send>
    void TakeRampsAt(std::int64_t frame, int offset, Send&& send)
    {
        for (auto& lane : mLanes) {
            // A point of the lane that lies here has said the value already.
            if (lane.next == kNone || !mPoints[lane.next].ramp || mPoints[lane.next].frame <= frame ||
                (lane.frame == frame && lane.taken)) {
                continue;
            }
            const auto& target = mPoints[lane.next];
            const double share = static_cast<double>(frame - lane.frame) / static_cast<double>(target.frame - lane.frame);
            const double plain = lane.plain + (target.plain - lane.plain) * std::clamp(share, 0.0, 1.0);
            const float normalized =
                lane.info ? lane.info->PlainToNormalized(static_cast<float>(plain)) : static_cast<float>(plain);
            send(lane.parameter, std::clamp(normalized, 0.0f, 1.0f), offset);
        }
    }

private:
    static constexpr std::size_t kNone = std::numeric_limits<std::size_t>::max();
    struct Lane {
        int parameter = 0;
        boost::intrusive_ptr<AudioFilterParameterInfo> info;
        // The last point passed (frame 0 and the value before the render until one is).
        std::int64_t frame = 0;
        double plain = 0.0;
        std::size_t next = kNone;
        bool taken = false;
    };

    std::vector<AutomationPoint> mPoints;
    std::vector<std::size_t> mNextOfLane;
    std::vector<std::size_t> mLaneOf;
    std::vector<Lane> mLanes;
    std::size_t mCursor = 0;
};


void SignalStats::Add(const float* block, int count)
{
    for (int i = 0; i < count; ++i) {
        const double value = block[i];
        peak = std::max(peak, std::fabs(value));
        sumOfSquares += value * value;
    }
    samples += count;
}

double SignalStats::GetRms() const
{
    return samples > 0 ? std::sqrt(sumOfSquares / static_cast<double>(samples)) : 0.0;
}

double RenderReport::GetRealTimeFactor(double sampleRate) const
{
    if (processSeconds <= 0.0 || sampleRate <= 0.0) {
        return 0.0;
    }
    return static_cast<double>(outputFrames + latency) / sampleRate / processSeconds;
}

void RequestChannelLayout(AudioFilter& filter, int channels)
{
    const auto layout = LayoutFor(channels);
    filter.RequestIOConfiguration({layout}, {layout});
}

Renderer::Renderer() : mHost(std::make_unique<Host>()) {}

Renderer::~Renderer()
{
    SuspendAll();
    for (auto& instance : mInstances) {
        if (instance.filter && instance.filter->GetAudioFilterHost() == mHost.get()) {
            instance.filter->SetAudioFilterHost(nullptr);
        }
    }
}

void Renderer::SuspendAll()
{
    for (auto& instance : mInstances) {
        if (instance.filter && !instance.filter->IsSuspended()) {
            instance.filter->Suspend();
        }
    }
}

bool Renderer::Prepare(boost::intrusive_ptr<AudioFilter> filter, int channels, const RenderOptions& options,
                       std::string& error)
{
    SuspendAll();
    mOptions = options;
    mChannels = channels;
    mInstances.clear();
    mHost->SetTempoMap(options.tempoMap);
    const auto name = Quoted(filter->GetComponentID());
    const int inputWidth = static_cast<int>(MainWidth(filter->GetInputBuses()));
    const int outputWidth = static_cast<int>(MainWidth(filter->GetOutputBuses()));
    if (outputWidth <= 0) {
        error = "filter " + name + " has no main output channels; it cannot render audio";
        return false;
    }
    if (options.blockSize <= 0 || channels <= 0 || !(options.sampleRate > 0.0)) {
        error = "nothing to render: block size, channel count and sample rate must be positive";
        return false;
    }

    struct Plan {
        int firstChannel;
        int width;
        ChannelMap input;
        ChannelMap output;
    };
    std::vector<Plan> plans;
    if (options.useExplicitMap) {
        Plan plan{0, channels, {}, {}};
        for (const auto& [filterChannel, fileChannel] : options.explicitMap) {
            if (filterChannel < 0 || filterChannel >= std::max(inputWidth, outputWidth)) {
                error = "--map: filter " + name + " has no main channel " + std::to_string(filterChannel) +
                        " (its main buses have " + std::to_string(inputWidth) + " inputs and " +
                        std::to_string(outputWidth) + " outputs, counted from 0)";
                return false;
            }
            if (fileChannel < 0 || fileChannel >= channels) {
                error = "--map: the audio has no channel " + std::to_string(fileChannel) + " (it has " +
                        std::to_string(channels) + ", counted from 0)";
                return false;
            }
            if (filterChannel < inputWidth) {
                plan.input.emplace(filterChannel, fileChannel);
            }
            if (filterChannel < outputWidth) {
                plan.output.emplace(filterChannel, fileChannel);
            }
        }
        plans.push_back(std::move(plan));
    } else {
        // A filter narrower than the audio runs once per group of channels, with the same settings.
        for (int first = 0; first < channels; first += outputWidth) {
            const int width = std::min(outputWidth, channels - first);
            plans.push_back(
                {first, width, Identity(std::min(inputWidth, width)), Identity(std::min(outputWidth, width))});
        }
    }

    for (std::size_t k = 0; k < plans.size(); ++k) {
        auto instance = k == 0 ? filter : filter->Clone();
        if (!instance) {
            error = "cannot make instance " + std::to_string(k + 1) + " of filter " + name + " for channels " +
                    std::to_string(plans[k].firstChannel) + " and up (try --map)";
            return false;
        }
        mInstances.push_back({instance, plans[k].firstChannel});
    }
    for (std::size_t k = 0; k < plans.size(); ++k) {
        auto& instance = *mInstances[k].filter;
        instance.SetSampleRate(static_cast<float>(options.sampleRate));
        instance.SetBlockSize(options.blockSize);
        instance.SetUseChannelMap(true);
        instance.SetChannelMapTargetChannelLayout(LayoutFor(plans[k].width));
        instance.SetChannelMap(plans[k].input, true);
        instance.SetChannelMap(plans[k].output, false);
        instance.SetOfflineRendering(options.offline);
        instance.SetTempoMap(options.tempoMap);
        if (options.tempoMap) {
            instance.SetAudioFilterHost(mHost.get());
        }
        const int latencyBefore = instance.GetInitialDelay();
        instance.Resume();
        // Some effects report their latency only once switched on; the pass-through delay was
        // sized at Resume with the old one, so resume again to size it with the new one.
        if (instance.GetInitialDelay() != latencyBefore) {
            instance.Suspend();
            instance.Resume();
        }
    }
    mLatency = std::max(mInstances.front().filter->GetInitialDelay(), 0);
    mPlayer = std::make_unique<Player>(options.automation, *filter);
    KAFH_TRACE("kafh::Renderer::Prepare", 5,
               "\"" << filter->GetComponentID() << "\": " << mInstances.size() << " instance(s), latency " << mLatency);
    return true;
}

std::int64_t Renderer::DecideTailFrames(bool& untilQuiet) const
{
    untilQuiet = false;
    const double cap = kMaximumTailSeconds * mOptions.sampleRate;
    switch (mOptions.tailMode) {
    case TailMode::None:
        return 0;
    case TailMode::Fixed:
        return static_cast<std::int64_t>(std::llround(std::max(mOptions.tailSeconds, 0.0) * mOptions.sampleRate));
    case TailMode::Automatic: {
        const int reported = mInstances.front().filter->GetTail();
        if (reported > 0) {
            return std::min(static_cast<std::int64_t>(reported), static_cast<std::int64_t>(cap));
        }
        untilQuiet = true;
        return static_cast<std::int64_t>(cap);
    }
    }
    return 0;
}

void Renderer::ProcessBlock(std::int64_t position, float** inputs, float** outputs, int frames)
{
    const std::int64_t end = position + frames;
    const bool queued = mInstances.front().filter->HandlesParameterOffsets();
    const auto send = [this](int parameter, float value, int offset) {
        for (auto& instance : mInstances) {
            instance.filter->QueueParameterChange(parameter, value, offset);
        }
    };
    const auto& events = mOptions.events;
    for (std::int64_t at = position; at < end;) {
        std::int64_t pieceEnd = end;
        if (!queued) {
            // The points due now apply before the piece, which ends where the next one lies.
            mPlayer->TakePointsBefore(at + 1, at, send);
            mPlayer->TakeRampsAt(at, 0, send);
            pieceEnd = std::min(end, mPlayer->NextFrame());
        }
        // Events before the render starts arrive with its first frame.
        std::size_t lastEvent = mNextEvent;
        while (lastEvent < events.size() && events[lastEvent].frame < pieceEnd) {
            if (lastEvent - mNextEvent == kMaximumEventsPerPiece && events[lastEvent].frame > at) {
                pieceEnd = events[lastEvent].frame;
                break;
            }
            ++lastEvent;
        }
        const int count = static_cast<int>(pieceEnd - at);
        if (queued) {
            mPlayer->TakePointsBefore(pieceEnd, at, send);
            mPlayer->TakeRampsAt(pieceEnd - 1, count - 1, send);
        }
        for (; mNextEvent < lastEvent; ++mNextEvent) {
            AudioFilterEvent event = events[mNextEvent].event;
            event.sampleOffset = static_cast<std::int32_t>(std::max<std::int64_t>(events[mNextEvent].frame - at, 0));
            for (auto& instance : mInstances) {
                instance.filter->QueueEvent(event);
            }
        }
        const auto offset = static_cast<std::size_t>(at - position);
        mHost->SetPosition(at);
        for (auto& instance : mInstances) {
            const auto first = static_cast<std::size_t>(instance.firstChannel);
            for (std::size_t c = 0; c < static_cast<std::size_t>(mChannels); ++c) {
                mPieceInputs[c] = inputs[c] + offset;
                mPieceOutputs[c] = outputs[c] + offset;
            }
            instance.filter->SetCurrentOffset(at);
            instance.filter->ProcessWithMapping(mPieceInputs.data() + first, mPieceOutputs.data() + first, count);
        }
        at = pieceEnd;
    }
}

bool Renderer::Run(AudioSource& source, AudioSink& sink, RenderReport& report, std::string& error)
{
    if (mInstances.empty()) {
        error = "the renderer was not prepared";
        return false;
    }
    const int block = mOptions.blockSize;
    // Whole blocks per chunk: the blocks the filter sees do not depend on the chunk.
    const int chunk = block * std::max(1, kChunkFrames / block);
    const auto channels = static_cast<std::size_t>(mChannels);
    std::vector<std::vector<float>> inputs(channels, std::vector<float>(static_cast<std::size_t>(chunk)));
    std::vector<std::vector<float>> outputs(channels, std::vector<float>(static_cast<std::size_t>(chunk)));
    std::vector<float*> inputPointers(channels);
    std::vector<float*> outputPointers(channels);
    std::vector<float*> blockInputs(channels);
    std::vector<float*> blockOutputs(channels);
    std::vector<const float*> writePointers(channels);
    for (std::size_t c = 0; c < channels; ++c) {
        inputPointers[c] = inputs[c].data();
        outputPointers[c] = outputs[c].data();
    }
    mNextEvent = 0;
    mPieceInputs.assign(channels, nullptr);
    mPieceOutputs.assign(channels, nullptr);

    report = RenderReport();
    report.instances = static_cast<int>(mInstances.size());
    report.latency = mLatency;
    bool untilQuiet = false;
    const std::int64_t tail = DecideTailFrames(untilQuiet);
    const auto quietFrames = static_cast<std::int64_t>(std::llround(kQuietSeconds * mOptions.sampleRate));
    const std::int64_t expectedInput = source.GetFrameCount();

    std::int64_t toSkip = mLatency;
    std::int64_t position = 0;
    std::int64_t inputFrames = 0;
    std::int64_t written = 0;
    std::int64_t quietRun = 0;
    bool inputDone = false;
    bool finished = false;
    std::chrono::steady_clock::duration processing{};
    DenormalGuard denormals;
    const auto fail = [&](const std::string& message) {
        error = message;
        SuspendAll();
        return false;
    };

    while (!finished) {
        int read = 0;
        if (!inputDone) {
            read = source.Read(inputPointers.data(), chunk);
            if (read < 0) {
                return fail(source.GetError());
            }
            inputDone = read < chunk;
            for (std::size_t c = 0; c < channels; ++c) {
                report.input.Add(inputs[c].data(), read);
            }
            inputFrames += read;
        }
        for (std::size_t c = 0; c < channels; ++c) {
            std::fill(inputs[c].begin() + read, inputs[c].end(), 0.0f);
            // An effect with only the accumulating call adds to its outputs, and the library
            // pre-fills only those it has inputs for: the rest must start from silence every block.
            std::fill(outputs[c].begin(), outputs[c].end(), 0.0f);
        }
        // What of the chunk goes out: one run of frames, after the latency and up to the end.
        std::int64_t outStart = -1;
        std::int64_t outEnd = 0;
        for (int done = 0; done < chunk && !finished; done += block) {
            if (mOptions.cancel != nullptr && mOptions.cancel->load()) {
                return fail("interrupted");
            }
            for (std::size_t c = 0; c < channels; ++c) {
                blockInputs[c] = inputs[c].data() + done;
                blockOutputs[c] = outputs[c].data() + done;
            }
            denormals.Apply();
            const auto start = std::chrono::steady_clock::now();
            ProcessBlock(position, blockInputs.data(), blockOutputs.data(), block);
            processing += std::chrono::steady_clock::now() - start;
            position += block;

            // The first frames of the output are the filter's latency: drop them so the output lines up.
            const auto offset = static_cast<int>(std::min<std::int64_t>(toSkip, block));
            toSkip -= offset;
            std::int64_t count = block - offset;
            if (inputDone) {
                count = std::clamp<std::int64_t>(inputFrames + tail - written, 0, count);
                finished = written + count >= inputFrames + tail;
                if (untilQuiet) {
                    for (std::int64_t i = 0; i < count; ++i) {
                        if (written + i < inputFrames) {
                            continue;
                        }
                        bool quiet = true;
                        for (std::size_t c = 0; c < channels && quiet; ++c) {
                            quiet = std::fabs(blockOutputs[c][static_cast<std::size_t>(offset + i)]) < kQuietLevel;
                        }
                        quietRun = quiet ? quietRun + 1 : 0;
                        if (quietRun >= quietFrames) {
                            count = i + 1;
                            finished = true;
                            break;
                        }
                    }
                }
            }
            if (count > 0) {
                if (outStart < 0) {
                    outStart = done + offset;
                }
                outEnd = done + offset + count;
            }
            written += count;
        }
        if (outStart >= 0) {
            const auto frames = static_cast<int>(outEnd - outStart);
            for (std::size_t c = 0; c < channels; ++c) {
                writePointers[c] = outputs[c].data() + outStart;
                report.output.Add(writePointers[c], frames);
            }
            if (!sink.Write(writePointers.data(), frames)) {
                return fail(sink.GetError());
            }
        }
        // Tells a watching parent the render moves on, however long it is.
        kelcore::trail::Beat();
        if (mOptions.progress && expectedInput > 0) {
            mOptions.progress(static_cast<double>(written) / static_cast<double>(expectedInput + tail));
        }
    }
    SuspendAll();
    report.inputFrames = inputFrames;
    report.outputFrames = written;
    report.tailFrames = written - inputFrames;
    report.processSeconds = std::chrono::duration<double>(processing).count();
    return true;
}

namespace {

bool RenderThrough(boost::intrusive_ptr<AudioFilter> filter, AudioSource& source, AudioSink& sink,
                   RenderOptions& options, RenderReport& report, std::string& error)
{
    if (!filter) {
        error = "no filter to render through";
        return false;
    }
    if (!(options.sampleRate > 0.0)) {
        options.sampleRate = source.GetSampleRate();
    }
    Renderer renderer;
    return renderer.Prepare(filter, source.GetChannelCount(), options, error) &&
           renderer.Run(source, sink, report, error);
}

// Filters narrower or wider than the audio are offered its layout; those that take it need no
// second instance. Settings survive: a filter keeps them through a layout change.
void OfferLayout(AudioFilter& filter, int channels)
{
    if (static_cast<int>(MainWidth(filter.GetOutputBuses())) != channels) {
        RequestChannelLayout(filter, channels);
    }
}

} // namespace

bool RenderFile(boost::intrusive_ptr<AudioFilter> filter, const std::filesystem::path& input,
                const std::filesystem::path& output, RenderOptions options, RenderReport& report, std::string& error)
{
    AudioFileReader reader;
    if (!reader.Open(input, error)) {
        return false;
    }
    if (filter) {
        OfferLayout(*filter, reader.GetChannelCount());
    }
    const double rate = options.sampleRate > 0.0 ? options.sampleRate : reader.GetSampleRate();
    AtomicAudioFileWriter writer;
    if (!writer.Open(output, reader.GetChannelCount(), static_cast<int>(std::lround(rate)), reader.GetFormat(),
                     error)) {
        return false;
    }
    if (!RenderThrough(filter, reader, writer, options, report, error)) {
        writer.Abort();
        return false;
    }
    return writer.Commit(error);
}

bool RenderBuffer(boost::intrusive_ptr<AudioFilter> filter, const AudioBuffer& input, double sampleRate,
                  AudioBuffer& output, RenderOptions options, RenderReport& report, std::string& error)
{
    BufferSource source(input, sampleRate);
    BufferSink sink(source.GetChannelCount());
    if (filter) {
        OfferLayout(*filter, source.GetChannelCount());
    }
    if (!RenderThrough(filter, source, sink, options, report, error)) {
        return false;
    }
    output = std::move(sink.GetBuffer());
    return true;
}

std::vector<TimedEvent> MakeEvents(const MidiFile& midi, double sampleRate)
{
    std::vector<TimedEvent> events;
    events.reserve(midi.GetEvents().size());
    for (const auto& message : midi.GetEvents()) {
        const auto bytes = message.GetBytes();
        AudioFilterEvent event;
        event.status = bytes[0];
        event.data1 = message.GetSize() > 1 ? bytes[1] : 0;
        event.data2 = message.GetSize() > 2 ? bytes[2] : 0;
        events.push_back({MidiTempoMap::SecondsToSample(message.seconds, sampleRate), event});
    }
    // Seconds rounded to samples keep their order; the stable sort is for safety against rounding.
    std::stable_sort(events.begin(), events.end(),
                     [](const TimedEvent& a, const TimedEvent& b) { return a.frame < b.frame; });
    return events;
}

void SetMidi(const MidiFile& midi, double sampleRate, RenderOptions& options)
{
    options.events = MakeEvents(midi, sampleRate);
    options.tempoMap = midi.GetTempoMap().MakeTempoMap(sampleRate);
}

int SilenceSource::Read(float* const* channels, int frameCount)
{
    const auto count = static_cast<int>(std::clamp<std::int64_t>(mFrames - mPosition, 0, std::max(frameCount, 0)));
    for (int c = 0; c < mChannels; ++c) {
        std::fill_n(channels[c], count, 0.0f);
    }
    mPosition += count;
    return count;
}

int BufferSource::Read(float* const* channels, int frameCount)
{
    const std::size_t length = mBuffer.empty() ? 0 : mBuffer.front().size();
    const auto count = static_cast<int>(std::min<std::size_t>(static_cast<std::size_t>(std::max(frameCount, 0)),
                                                              length - mPosition));
    for (std::size_t c = 0; c < mBuffer.size(); ++c) {
        std::copy_n(mBuffer[c].begin() + static_cast<std::ptrdiff_t>(mPosition), count, channels[c]);
    }
    mPosition += static_cast<std::size_t>(count);
    return count;
}

bool BufferSink::Write(const float* const* channels, int frameCount)
{
    for (std::size_t c = 0; c < mBuffer.size(); ++c) {
        mBuffer[c].insert(mBuffer[c].end(), channels[c], channels[c] + frameCount);
    }
    return true;
}

} // namespace kelaudiofilterhost::render
