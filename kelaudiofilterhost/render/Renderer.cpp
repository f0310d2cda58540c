// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/kafh/Render.h"

#include "kelaudiofilterhost/services/ChannelLayouts.h"
#include "kelaudiofilterhost/services/PluginCallTrail.h"
#include "kelaudiofilterhost/services/Trace.h"
#include "tools/kafh/Console.h"
#include "tools/kafh/FilterLookup.h"

#include <algorithm>
#include <chrono>
#include <cmath>

#if defined(__x86_64__) || defined(__i386__)
#include <xmmintrin.h>
#endif

namespace kafh {

namespace {

using namespace kelaudiofilterhost;

constexpr double kQuietLevel = 1e-6; // -120 dBFS
constexpr double kQuietSeconds = 0.1;
constexpr double kMaximumTailSeconds = 30.0;

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

} // namespace

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

Renderer::~Renderer()
{
    SuspendAll();
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
    mOptions = options;
    mChannels = channels;
    mInstances.clear();
    const auto name = Quoted(filter->GetComponentID());
    const int inputWidth = static_cast<int>(MainChannelCount(filter->GetInputBuses()));
    const int outputWidth = static_cast<int>(MainChannelCount(filter->GetOutputBuses()));
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

bool Renderer::Run(AudioSource& source, AudioSink& sink, RenderReport& report, std::string& error)
{
    if (mInstances.empty()) {
        error = "the renderer was not prepared";
        return false;
    }
    const int block = mOptions.blockSize;
    const auto channels = static_cast<std::size_t>(mChannels);
    std::vector<std::vector<float>> inputs(channels, std::vector<float>(static_cast<std::size_t>(block)));
    std::vector<std::vector<float>> outputs(channels, std::vector<float>(static_cast<std::size_t>(block)));
    std::vector<float*> inputPointers(channels);
    std::vector<float*> outputPointers(channels);
    std::vector<const float*> writePointers(channels);
    for (std::size_t c = 0; c < channels; ++c) {
        inputPointers[c] = inputs[c].data();
        outputPointers[c] = outputs[c].data();
    }

    report = RenderReport();
    report.instances = static_cast<int>(mInstances.size());
    report.latency = mLatency;
    bool untilQuiet = false;
    const std::int64_t tail = DecideTailFrames(untilQuiet);
    const auto quietFrames = static_cast<std::int64_t>(std::llround(kQuietSeconds * mOptions.sampleRate));
    const std::int64_t expectedInput = source.GetFrameCount();

    std::int64_t toSkip = mLatency;
    std::int64_t inputFrames = 0;
    std::int64_t written = 0;
    std::int64_t quietRun = 0;
    bool inputDone = false;
    bool finished = false;
    std::chrono::steady_clock::duration processing{};
    DenormalGuard denormals;

    while (!finished) {
        if (mOptions.cancel != nullptr && mOptions.cancel->load()) {
            error = "interrupted";
            SuspendAll();
            return false;
        }
        int read = 0;
        if (!inputDone) {
            read = source.Read(inputPointers.data(), block);
            if (read < 0) {
                error = source.GetError();
                SuspendAll();
                return false;
            }
            inputDone = read < block;
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

        denormals.Apply();
        const auto start = std::chrono::steady_clock::now();
        for (auto& instance : mInstances) {
            const auto first = static_cast<std::size_t>(instance.firstChannel);
            instance.filter->ProcessWithMapping(inputPointers.data() + first, outputPointers.data() + first, block);
        }
        processing += std::chrono::steady_clock::now() - start;

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
                        quiet = std::fabs(outputs[c][static_cast<std::size_t>(offset + i)]) < kQuietLevel;
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
        for (std::size_t c = 0; c < channels; ++c) {
            writePointers[c] = outputs[c].data() + offset;
            report.output.Add(writePointers[c], static_cast<int>(count));
        }
        if (!sink.Write(writePointers.data(), static_cast<int>(count))) {
            error = sink.GetError();
            SuspendAll();
            return false;
        }
        written += count;
        // Tells a watching parent the render moves on, however long it is.
        kelcore::trail::Beat();
        if (mOptions.progress != nullptr && expectedInput > 0) {
            mOptions.progress->Fraction(static_cast<double>(written) / static_cast<double>(expectedInput + tail),
                                        mOptions.progressLabel);
        }
    }
    SuspendAll();
    if (mOptions.progress != nullptr) {
        mOptions.progress->Finish();
    }
    report.inputFrames = inputFrames;
    report.outputFrames = written;
    report.tailFrames = written - inputFrames;
    report.processSeconds = std::chrono::duration<double>(processing).count();
    return true;
}

} // namespace kafh
