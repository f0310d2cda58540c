// SPDX-License-Identifier: GPL-3.0-or-later
// The groups of checks kafh check runs against one plug-in. Each group runs in a child process of its
// own (see CheckCommand.cpp), so the code here may be stopped anywhere by the plug-in: it announces
// steps, so that a crash or hang says where it happened, and keeps nothing it would need to clean up.
#include "tools/kafh/Checks.h"

#include "kelaudiofilterhost/presets/PresetData.h"
#include "kelaudiofilterhost/services/ChannelLayouts.h"
#include "kelaudiofilterhost/services/PluginCallTrail.h"
#include "kelaudiofilterhost/services/PropList.h"
#include "tools/kafh/FilterLookup.h"

#include <algorithm>
#include <atomic>
#include <cfloat>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <random>
#include <stdexcept>
#include <thread>

#include <sys/mman.h>
#include <unistd.h>

namespace kafh::check {

namespace {

using namespace kelaudiofilterhost;
using json = nlohmann::ordered_json;
using Audio = std::vector<std::vector<float>>;
using BlockSizes = std::function<int(int call)>;

constexpr double kQuietLevel = 1e-6; // -120 dBFS
// Splits and resets may change rounding, not the sound: -100 dBFS.
constexpr double kSameAudio = 1e-5;
// Filters with more parameters get the first ones checked; the report says so.
constexpr int kMaxParameters = 256;
constexpr int kLifecycleCycles = 8;
// A measured tail longer than this counts as never decaying.
constexpr double kTailLimitSeconds = 10.0;

void Step(const std::string& text)
{
    kelcore::trail::SetStep(text);
}

FilterPtr NewFilter(const std::string& id)
{
    Step("create");
    std::string error;
    auto filter = CreateFilter(id, error);
    if (!filter) {
        throw std::runtime_error(error);
    }
    return filter;
}

std::string Format(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", value);
    return text;
}

std::string Decibels(double level)
{
    return level > 0.0 ? Format(20.0 * std::log10(level)) + " dBFS" : "silence";
}

// A test signal: two tones and some noise per channel, the same for the same length on every call.
Audio Signal(int channels, std::int64_t frames, double rate, std::uint32_t seed = 1)
{
    Audio audio(static_cast<std::size_t>(std::max(channels, 1)));
    for (std::size_t c = 0; c < audio.size(); ++c) {
        std::minstd_rand noise(seed + static_cast<std::uint32_t>(c));
        std::uniform_real_distribution<float> spread(-0.05f, 0.05f);
        auto& channel = audio[c];
        channel.resize(static_cast<std::size_t>(frames));
        for (std::int64_t i = 0; i < frames; ++i) {
            const double t = static_cast<double>(i) / rate;
            channel[static_cast<std::size_t>(i)] =
                static_cast<float>(0.3 * std::sin(2.0 * M_PI * 220.0 * (static_cast<double>(c) + 1.0) * t) +
                                   0.15 * std::sin(2.0 * M_PI * 3531.0 * t)) +
                spread(noise);
        }
    }
    return audio;
}

Audio Constant(int channels, std::int64_t frames, float value)
{
    return Audio(static_cast<std::size_t>(std::max(channels, 1)),
                 std::vector<float>(static_cast<std::size_t>(frames), value));
}

std::int64_t Frames(const Audio& audio)
{
    return audio.empty() ? 0 : static_cast<std::int64_t>(audio.front().size());
}

// Where the first NaN or infinity is: "channel 1, frame 3"; empty when there is none.
std::string FirstNonFinite(const Audio& audio, std::int64_t from = 0)
{
    for (std::size_t c = 0; c < audio.size(); ++c) {
        for (std::size_t i = static_cast<std::size_t>(from); i < audio[c].size(); ++i) {
            if (!std::isfinite(audio[c][i])) {
                return (std::isnan(audio[c][i]) ? "NaN" : "infinity") + std::string(" at channel ") +
                       std::to_string(c) + ", frame " + std::to_string(i);
            }
        }
    }
    return {};
}

std::size_t DenormalCount(const Audio& audio)
{
    std::size_t count = 0;
    for (const auto& channel : audio) {
        count += static_cast<std::size_t>(std::count_if(channel.begin(), channel.end(), [](float value) {
            return std::fpclassify(value) == FP_SUBNORMAL;
        }));
    }
    return count;
}

double Peak(const Audio& audio, std::int64_t from = 0)
{
    double peak = 0.0;
    for (const auto& channel : audio) {
        for (std::size_t i = static_cast<std::size_t>(std::max<std::int64_t>(from, 0)); i < channel.size(); ++i) {
            peak = std::max(peak, static_cast<double>(std::fabs(channel[i])));
        }
    }
    return peak;
}

// The largest difference, and where; infinity when the shapes differ or only one side is finite.
double Difference(const Audio& a, const Audio& b, std::string* where = nullptr)
{
    if (a.size() != b.size() || Frames(a) != Frames(b)) {
        return INFINITY;
    }
    double largest = 0.0;
    for (std::size_t c = 0; c < a.size(); ++c) {
        for (std::size_t i = 0; i < a[c].size(); ++i) {
            const float x = a[c][i];
            const float y = b[c][i];
            double d = 0.0;
            if (std::isnan(x) || std::isnan(y) || std::isinf(x) || std::isinf(y)) {
                d = (std::isnan(x) && std::isnan(y)) || x == y ? 0.0 : INFINITY;
            } else {
                d = std::fabs(static_cast<double>(x) - y);
            }
            if (d > largest) {
                largest = d;
                if (where != nullptr) {
                    *where = "channel " + std::to_string(c) + ", frame " + std::to_string(i);
                }
            }
        }
    }
    return largest;
}

int CountEntries(const char* folder)
{
    std::error_code error;
    int count = 0;
    for (auto it = std::filesystem::directory_iterator(folder, error); !error && it != std::filesystem::directory_iterator();
         it.increment(error)) {
        ++count;
    }
    return count;
}

// Channel memory the checker hands a filter. Guarded, every channel's block ends (or starts) right at a
// page the process may not touch, so a plug-in reading or writing past the block crashes at once.
class ChannelBuffers {
public:
    enum class Guard { None, After, Before };

    ChannelBuffers(int channels, int frames, Guard guard) : mFrames(frames), mGuard(guard)
    {
        const auto count = static_cast<std::size_t>(std::max(channels, 1));
        mPointers.resize(count);
        if (guard == Guard::None) {
            mPlain.assign(count, std::vector<float>(static_cast<std::size_t>(frames)));
            for (std::size_t c = 0; c < count; ++c) {
                mPointers[c] = mPlain[c].data();
            }
            return;
        }
        const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
        const std::size_t bytes = static_cast<std::size_t>(frames) * sizeof(float);
        mDataBytes = (bytes + page - 1) / page * page;
        mMapBytes = mDataBytes + page;
        for (std::size_t c = 0; c < count; ++c) {
            void* map = ::mmap(nullptr, mMapBytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
            if (map == MAP_FAILED) {
                throw std::runtime_error("cannot map guarded audio buffers");
            }
            auto* base = static_cast<unsigned char*>(map);
            mMaps.push_back(map);
            if (guard == Guard::After) {
                ::mprotect(base + mDataBytes, page, PROT_NONE);
                mPointers[c] = reinterpret_cast<float*>(base + mDataBytes - bytes);
            } else {
                ::mprotect(base, page, PROT_NONE);
                mPointers[c] = reinterpret_cast<float*>(base + page);
            }
        }
    }
    ~ChannelBuffers()
    {
        for (void* map : mMaps) {
            ::munmap(map, mMapBytes);
        }
    }
    ChannelBuffers(const ChannelBuffers&) = delete;
    ChannelBuffers& operator=(const ChannelBuffers&) = delete;

    float** Pointers() { return mPointers.data(); }
    std::size_t Count() const { return mPointers.size(); }
    /// Where a block of `frames` starts so that it ends at the guard (or starts at it).
    float* Block(std::size_t channel, int frames) const
    {
        return mGuard == Guard::After ? mPointers[channel] + (mFrames - frames) : mPointers[channel];
    }

private:
    int mFrames;
    Guard mGuard;
    std::size_t mDataBytes = 0;
    std::size_t mMapBytes = 0;
    std::vector<std::vector<float>> mPlain;
    std::vector<void*> mMaps;
    std::vector<float*> mPointers;
};

// One instance under test with the buffers it is handed; processes through the filter's own channels.
class Rig {
public:
    explicit Rig(const std::string& id, ChannelBuffers::Guard guard = ChannelBuffers::Guard::None)
        : mFilter(NewFilter(id)), mGuard(guard)
    {
    }
    explicit Rig(FilterPtr filter) : mFilter(std::move(filter)) {}
    ~Rig()
    {
        if (mFilter && !mFilter->IsSuspended()) {
            mFilter->Suspend();
        }
    }
    Rig(const Rig&) = delete;
    Rig& operator=(const Rig&) = delete;

    AudioFilter& Filter() { return *mFilter; }
    FilterPtr Shared() const { return mFilter; }

    void Start(double rate, int maxBlock)
    {
        mFilter->SetSampleRate(static_cast<float>(rate));
        mFilter->SetBlockSize(maxBlock);
        mFilter->Resume();
        // Counts may change at Resume; size everything from what the filter has now.
        mMaxBlock = maxBlock;
        mInputs = std::make_unique<ChannelBuffers>(static_cast<int>(mFilter->GetNumberOfInputChannels()), maxBlock, mGuard);
        mOutputs = std::make_unique<ChannelBuffers>(static_cast<int>(mFilter->GetNumberOfOutputChannels()), maxBlock, mGuard);
    }
    /// Suspend and Resume: the reset hosts do at a transport stop.
    void Reset()
    {
        mFilter->Suspend();
        mFilter->Resume();
    }
    void Stop()
    {
        if (!mFilter->IsSuspended()) {
            mFilter->Suspend();
        }
    }
    int Inputs() const { return static_cast<int>(mFilter->GetNumberOfInputChannels()); }
    int Outputs() const { return static_cast<int>(mFilter->GetNumberOfOutputChannels()); }

    /// Runs the input through, block by block, sizes from blockSizes; filter input channel c gets input
    /// channel c (modulo the input's count). The outputs are cleared before every call.
    Audio Render(const Audio& input, const BlockSizes& blockSizes, const std::function<void(int)>& betweenBlocks = {})
    {
        const std::int64_t total = Frames(input);
        const int inputs = Inputs();
        const int outputs = Outputs();
        Audio result(static_cast<std::size_t>(std::max(outputs, 0)), std::vector<float>(static_cast<std::size_t>(total)));
        std::vector<float*> in(mInputs->Count());
        std::vector<float*> out(mOutputs->Count());
        std::int64_t done = 0;
        for (int call = 0; done < total; ++call) {
            const int frames = static_cast<int>(std::min<std::int64_t>(std::clamp(blockSizes(call), 1, mMaxBlock), total - done));
            for (std::size_t c = 0; c < in.size(); ++c) {
                in[c] = mInputs->Block(c, frames);
                if (static_cast<int>(c) < inputs && !input.empty()) {
                    const auto& source = input[c % input.size()];
                    std::copy_n(source.begin() + done, frames, in[c]);
                } else {
                    std::fill_n(in[c], frames, 0.0f);
                }
            }
            for (std::size_t c = 0; c < out.size(); ++c) {
                out[c] = mOutputs->Block(c, frames);
                std::fill_n(out[c], frames, 0.0f);
            }
            if (betweenBlocks) {
                betweenBlocks(call);
            }
            mFilter->Process(in.data(), out.data(), frames);
            for (std::size_t c = 0; c < result.size() && c < out.size(); ++c) {
                std::copy_n(out[c], frames, result[c].begin() + done);
            }
            done += frames;
        }
        return result;
    }
    Audio Render(const Audio& input, int blockSize) { return Render(input, [blockSize](int) { return blockSize; }); }

private:
    FilterPtr mFilter;
    ChannelBuffers::Guard mGuard = ChannelBuffers::Guard::None;
    int mMaxBlock = 0;
    std::unique_ptr<ChannelBuffers> mInputs;
    std::unique_ptr<ChannelBuffers> mOutputs;
};

std::int64_t Length(const CheckSettings& settings, double rate)
{
    return std::max<std::int64_t>(std::llround(settings.seconds * rate), 64);
}

// Fails the report when the audio holds a NaN or an infinity; true when it is finite.
bool RequireFinite(GroupReport& report, const Audio& audio, const std::string& when)
{
    const auto where = FirstNonFinite(audio);
    if (!where.empty()) {
        report.Fail(when + ": " + where);
        return false;
    }
    return true;
}

// Whether the same input twice, with a reset between, gives the same output.
bool DeterministicAfterReset(Rig& rig, const Audio& input, int block, std::string* difference = nullptr)
{
    rig.Reset();
    const auto first = rig.Render(input, block);
    rig.Reset();
    const auto second = rig.Render(input, block);
    std::string where;
    const double d = Difference(first, second, &where);
    if (difference != nullptr && d > 0.0) {
        *difference = Decibels(d) + " at " + where;
    }
    return d <= 1e-6;
}

std::string ParameterLabel(AudioFilter& filter, int index)
{
    if (const auto info = filter.GetParameterInfo(index)) {
        const auto name = kelcore::UTF16to8(info->GetName());
        if (!name.empty()) {
            return "\"" + name + "\" (" + std::to_string(index) + ")";
        }
    }
    return "parameter " + std::to_string(index);
}

// Meters and other values the plug-in sets itself: hosts do not set them, and they move as it runs.
bool IsOutputOnly(AudioFilter& filter, int index)
{
    const auto info = filter.GetParameterInfo(index);
    return info && !info->CanBeAutomated();
}

int CheckedParameterCount(AudioFilter& filter, GroupReport& report)
{
    const int count = filter.GetParameterCount();
    if (count > kMaxParameters) {
        report.Note("only the first " + std::to_string(kMaxParameters) + " of " + std::to_string(count) +
                    " parameters were checked");
    }
    return std::clamp(count, 0, kMaxParameters);
}

// Random values away from the ends, where the parameters group looks.
void SetRandomParameters(AudioFilter& filter, int count, std::uint32_t seed)
{
    std::minstd_rand random(seed);
    std::uniform_real_distribution<float> value(0.05f, 0.95f);
    Step("set parameters");
    for (int i = 0; i < count; ++i) {
        filter.SetParameter(i, value(random));
    }
}

struct SavedState {
    std::string bytes;
    kelcore::proplist::PropList list;
    /// The filter wrote nothing: a plug-in without state, which hosts do not restore.
    bool IsEmpty() const { return list.IsEmpty(); }
};

SavedState Save(AudioFilter& filter, const std::string& step = "save state")
{
    Step(step);
    SavedState state;
    PresetData preset(state.list);
    filter.SaveSettings(preset);
    UTF8String xml;
    kelcore::proplist::utils::WritePropList(state.list, xml);
    state.bytes.assign(xml.begin(), xml.end());
    return state;
}

bool Restore(AudioFilter& filter, SavedState& state)
{
    Step("restore state");
    PresetData preset(state.list);
    return filter.LoadSettings(preset);
}

// 1. lifecycle -----------------------------------------------------------------------------------------

void CheckLifecycle(const std::string& id, const CheckSettings& settings, GroupReport& report)
{
    const auto input = Signal(2, 4 * 256, settings.sampleRate);
    int fdsBefore = 0;
    int threadsBefore = 0;
    for (int cycle = 0; cycle < kLifecycleCycles; ++cycle) {
        // The first cycle loads the module and whatever it starts once; growth is counted after it.
        if (cycle == 1) {
            fdsBefore = CountEntries("/proc/self/fd");
            threadsBefore = CountEntries("/proc/self/task");
        }
        Rig rig(id);
        Step("lifecycle: cycle " + std::to_string(cycle + 1));
        for (int run = 0; run < 3; ++run) {
            rig.Start(settings.sampleRate, 256);
            RequireFinite(report, rig.Render(input, 256), "cycle " + std::to_string(cycle + 1));
            rig.Stop();
        }
        Step("destroy");
    }
    // Threads a plug-in ends on closing may take a moment to go.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const int fdGrowth = CountEntries("/proc/self/fd") - fdsBefore;
    const int threadGrowth = CountEntries("/proc/self/task") - threadsBefore;
    report.Details()["instances"] = kLifecycleCycles;
    report.Details()["descriptor_growth"] = fdGrowth;
    report.Details()["thread_growth"] = threadGrowth;
    const int cycles = kLifecycleCycles - 1;
    if (fdGrowth >= cycles / 2) {
        report.Fail("open file descriptors grew by " + std::to_string(fdGrowth) + " over " + std::to_string(cycles) +
                    " instances");
    }
    if (threadGrowth >= cycles / 2) {
        report.Fail("threads grew by " + std::to_string(threadGrowth) + " over " + std::to_string(cycles) +
                    " instances");
    }
}

// 2. blocks --------------------------------------------------------------------------------------------

void CheckBlocks(const std::string& id, const CheckSettings& settings, GroupReport& report)
{
    Rig rig(id);
    rig.Start(settings.sampleRate, settings.maxBlock);
    const auto input = Signal(rig.Inputs(), Length(settings, settings.sampleRate), settings.sampleRate);
    Step("blocks: reference, and reset determinism");
    std::string difference;
    const bool deterministic = DeterministicAfterReset(rig, input, settings.maxBlock, &difference);
    rig.Reset();
    const auto reference = rig.Render(input, settings.maxBlock);
    report.Details()["deterministic_after_reset"] = deterministic;
    if (!deterministic) {
        report.Note("not deterministic after a reset (differs by " + difference +
                    "): block splits are checked for finite output only");
    }
    std::minstd_rand random(7);
    std::uniform_int_distribution<int> anySize(1, settings.maxBlock);
    struct Split {
        std::string name;
        BlockSizes sizes;
    };
    std::vector<Split> splits;
    for (const int size : {1, 7, 64, 511, settings.maxBlock}) {
        splits.push_back({std::to_string(size), [size](int) { return size; }});
    }
    splits.push_back({"varying", [&](int) { return anySize(random); }});
    json checked = json::array();
    for (const auto& split : splits) {
        Step("blocks: " + split.name);
        rig.Reset();
        const auto output = rig.Render(input, split.sizes);
        checked.push_back(split.name);
        if (!RequireFinite(report, output, "blocks of " + split.name)) {
            continue;
        }
        std::string where;
        const double d = Difference(reference, output, &where);
        if (deterministic && d > kSameAudio) {
            report.Fail("blocks of " + split.name + " give other output than one run: " + Decibels(d) +
                        " apart at " + where);
        }
    }
    report.Details()["block_sizes"] = checked;
}

// 3. rates ---------------------------------------------------------------------------------------------

void CheckRates(const std::string& id, const CheckSettings& settings, GroupReport& report)
{
    Rig rig(id);
    json checked = json::array();
    for (const double rate : settings.rates) {
        const auto name = Format(rate) + " Hz";
        Step("rates: " + name);
        rig.Stop();
        rig.Start(rate, 1024);
        const auto input = Signal(rig.Inputs(), Length(settings, rate), rate);
        std::string difference;
        const bool deterministic = DeterministicAfterReset(rig, input, 1024, &difference);
        rig.Reset();
        RequireFinite(report, rig.Render(input, 1024), name);
        if (!deterministic) {
            report.Fail(name + ": the same input after a reset gives other output (" + difference + ")");
        }
        checked.push_back(rate);
    }
    report.Details()["rates"] = checked;
}

// 4. latency -------------------------------------------------------------------------------------------

void CheckLatency(const std::string& id, const CheckSettings& settings, GroupReport& report)
{
    Rig rig(id);
    Step("latency: reported across resets");
    rig.Start(settings.sampleRate, 1024);
    const int latency = rig.Filter().GetInitialDelay();
    report.Details()["reported"] = latency;
    std::vector<int> seen{latency};
    for (int i = 0; i < 3; ++i) {
        rig.Reset();
        seen.push_back(rig.Filter().GetInitialDelay());
    }
    if (std::any_of(seen.begin(), seen.end(), [&](int value) { return value != latency; })) {
        std::string values;
        for (const int value : seen) {
            values += (values.empty() ? "" : ", ") + std::to_string(value);
        }
        report.Fail("the reported latency changes across resets: " + values);
    }
    if (rig.Inputs() == 0) {
        report.Skip("no audio inputs, so no impulse to follow");
        return;
    }
    if (latency < 0 || latency > 10 * settings.sampleRate) {
        report.Fail("reported latency " + std::to_string(latency) + " frames is out of range");
        return;
    }
    Step("latency: impulse");
    rig.Reset();
    auto impulse = Constant(rig.Inputs(), latency + std::llround(0.1 * settings.sampleRate), 0.0f);
    for (auto& channel : impulse) {
        channel[0] = 0.5f;
    }
    const auto output = rig.Render(impulse, 1024);
    if (!RequireFinite(report, output, "impulse response")) {
        return;
    }
    // An effect that passes signal passes an impulse as one; a reverb's or a generator's diffuse answer
    // has no arrival time to measure.
    const double peak = Peak(output);
    report.Details()["response_peak"] = peak;
    if (peak < 0.05) {
        report.Skip("passes no impulse through (its answer peaks at " + Decibels(peak) + ")");
        return;
    }
    // The impulse has come out where the response first reaches a tenth of its peak.
    std::int64_t arrival = Frames(output);
    for (const auto& channel : output) {
        for (std::size_t i = 0; i < channel.size(); ++i) {
            if (std::fabs(channel[i]) >= 0.1 * peak) {
                arrival = std::min(arrival, static_cast<std::int64_t>(i));
                break;
            }
        }
    }
    report.Details()["measured"] = arrival;
    if (arrival != latency) {
        report.Fail("an impulse comes out " + std::to_string(arrival) + " frames later, the reported latency is " +
                    std::to_string(latency));
    }
}

// 5. tail ----------------------------------------------------------------------------------------------

void CheckTail(const std::string& id, const CheckSettings& settings, GroupReport& report)
{
    Rig rig(id);
    Step("tail: reported");
    rig.Start(settings.sampleRate, 1024);
    const int reported = rig.Filter().GetTail();
    const int latency = std::max(rig.Filter().GetInitialDelay(), 0);
    const bool infinite = reported == INT_MAX;
    report.Details()["reported"] = infinite ? json("infinite") : json(reported);
    const auto signalFrames = Length(settings, settings.sampleRate);
    const auto limit = std::llround(kTailLimitSeconds * settings.sampleRate);
    const std::int64_t watch =
        reported > 0 && !infinite ? std::min<std::int64_t>(std::int64_t{reported} + latency + 4096, limit) : limit;
    Step("tail: signal, then silence");
    auto input = Signal(rig.Inputs(), signalFrames, settings.sampleRate);
    for (auto& channel : input) {
        channel.resize(static_cast<std::size_t>(signalFrames + watch), 0.0f);
    }
    rig.Reset();
    const auto output = rig.Render(input, 1024);
    if (!RequireFinite(report, output, "tail")) {
        return;
    }
    // The last frame above -120 dBFS, counted from where the input stopped.
    std::int64_t last = -1;
    for (const auto& channel : output) {
        for (auto i = static_cast<std::int64_t>(channel.size()) - 1; i >= signalFrames; --i) {
            if (std::fabs(channel[static_cast<std::size_t>(i)]) > kQuietLevel) {
                last = std::max(last, i);
                break;
            }
        }
    }
    const std::int64_t measured = last < 0 ? 0 : last - signalFrames + 1;
    const bool decayed = last < signalFrames + watch - 1;
    report.Details()["measured"] = decayed ? json(measured) : json(nullptr);
    if (!decayed) {
        const double level = Peak(output, signalFrames + watch - 1024);
        if (reported > 0 && !infinite) {
            report.Fail("the output is still at " + Decibels(level) + " " + std::to_string(watch) +
                        " frames after the input stopped; the reported tail is " + std::to_string(reported));
        } else if (infinite) {
            report.Note("reports an infinite tail; still at " + Decibels(level) + " after " + Format(kTailLimitSeconds) + " s");
        } else {
            report.Fail("the output never decays: still at " + Decibels(level) + " " + Format(kTailLimitSeconds) +
                        " s after the input stopped");
        }
        return;
    }
    if (reported > 0 && !infinite && measured > std::int64_t{reported} + latency) {
        report.Fail("the output stays above -120 dBFS for " + std::to_string(measured) +
                    " frames after the input stopped; the reported tail is " + std::to_string(reported));
    } else if (reported <= 0) {
        report.Note("reports no tail; measured " + std::to_string(measured) + " frames (" +
                    Format(static_cast<double>(measured) / settings.sampleRate) + " s)");
    }
}

// 6. state ---------------------------------------------------------------------------------------------

void CheckState(const std::string& id, const CheckSettings& settings, GroupReport& report)
{
    Rig first(id);
    const int count = CheckedParameterCount(first.Filter(), report);
    SetRandomParameters(first.Filter(), count, 11);
    Step("state: process before saving");
    first.Start(settings.sampleRate, 1024);
    const auto input = Signal(first.Inputs(), Length(settings, settings.sampleRate), settings.sampleRate);
    first.Render(input, 1024);
    first.Stop();
    auto saved = Save(first.Filter());
    report.Details()["state_bytes"] = saved.bytes.size();
    if (saved.IsEmpty()) {
        report.Skip("saves no state");
        return;
    }

    Rig second(id);
    if (!Restore(second.Filter(), saved)) {
        report.Fail("a fresh instance refuses the saved state");
        return;
    }
    const auto again = Save(second.Filter());
    if (again.bytes != saved.bytes) {
        const auto mismatch = std::mismatch(saved.bytes.begin(), saved.bytes.end(), again.bytes.begin(), again.bytes.end());
        report.Fail("saved again after a restore, the state differs from byte " +
                    std::to_string(mismatch.first - saved.bytes.begin()) + " (" + std::to_string(saved.bytes.size()) +
                    " and " + std::to_string(again.bytes.size()) + " bytes)");
    }
    for (int i = 0; i < count; ++i) {
        if (IsOutputOnly(second.Filter(), i)) {
            continue;
        }
        const float a = first.Filter().GetParameter(i);
        const float b = second.Filter().GetParameter(i);
        if (!(std::fabs(a - b) <= 1e-4f)) {
            report.Fail("after the restore, " + ParameterLabel(second.Filter(), i) + " is " + Format(b) + ", saved as " +
                        Format(a));
            break;
        }
    }
    Step("state: audio of both instances");
    first.Start(settings.sampleRate, 1024);
    second.Start(settings.sampleRate, 1024);
    if (!DeterministicAfterReset(first, input, 1024)) {
        report.Note("not deterministic after a reset: the audio of the two instances is not compared");
        return;
    }
    first.Reset();
    second.Reset();
    std::string where;
    const double d = Difference(first.Render(input, 1024), second.Render(input, 1024), &where);
    if (d > kSameAudio) {
        report.Fail("the restored instance sounds different: " + Decibels(d) + " apart at " + where);
    }
}

// 7. parameters ----------------------------------------------------------------------------------------

void CheckParameters(const std::string& id, const CheckSettings& settings, GroupReport& report)
{
    Rig rig(id);
    Step("parameters: defaults");
    const int count = CheckedParameterCount(rig.Filter(), report);
    report.Details()["parameters"] = rig.Filter().GetParameterCount();
    if (count == 0) {
        report.Skip("no parameters");
        return;
    }
    std::vector<float> defaults;
    for (int i = 0; i < count; ++i) {
        defaults.push_back(rig.Filter().GetParameter(i));
    }
    rig.Start(settings.sampleRate, 256);
    const auto input = Signal(rig.Inputs(), 512, settings.sampleRate);
    std::minstd_rand random(3);
    std::uniform_real_distribution<float> anyValue(0.0f, 1.0f);
    int failures = 0;
    const auto fail = [&](const std::string& text) {
        if (++failures <= 8) {
            report.Fail(text);
        }
    };
    for (int i = 0; i < count; ++i) {
        const auto label = ParameterLabel(rig.Filter(), i);
        const auto info = rig.Filter().GetParameterInfo(i);
        const int steps = info ? info->GetStepCount() : 0;
        const bool outputOnly = IsOutputOnly(rig.Filter(), i);
        // Within a step; continuous parameters within what a 32-bit float in a plug-in's own units keeps.
        const float tolerance = steps > 0 ? 1.0f / static_cast<float>(steps) + 1e-4f : 1e-3f;
        if (!std::isfinite(defaults[static_cast<std::size_t>(i)])) {
            fail(label + ": the default value is not finite");
        }
        for (const auto& [what, value] : std::vector<std::pair<std::string, float>>{
                 {"minimum", 0.0f}, {"maximum", 1.0f}, {"default", defaults[static_cast<std::size_t>(i)]},
                 {"random", anyValue(random)}, {"random", anyValue(random)}}) {
            Step("parameters: " + label + " at " + what);
            rig.Filter().SetParameter(i, value);
            const float read = rig.Filter().GetParameter(i);
            if (!outputOnly && !(std::fabs(read - value) <= tolerance)) {
                fail(label + " set to " + Format(value) + " (" + what + ") reads back " + Format(read));
            }
            if (rig.Filter().GetParameterString(i).empty()) {
                fail(label + " at " + what + " has no value text");
            }
            const auto output = rig.Render(input, 256);
            const auto where = FirstNonFinite(output);
            if (!where.empty()) {
                fail(label + " at " + what + " (" + Format(value) + "): the output has " + where);
            } else if (const auto denormals = DenormalCount(output); denormals >= 64) {
                fail(label + " at " + what + ": " + std::to_string(denormals) + " denormal samples in the output");
            }
        }
        rig.Filter().SetParameter(i, defaults[static_cast<std::size_t>(i)]);
    }
    if (failures > 8) {
        report.Note(std::to_string(failures - 8) + " more parameter failures not listed");
    }
}

// 8. threads -------------------------------------------------------------------------------------------

void CheckThreads(const std::string& id, const CheckSettings& settings, GroupReport& report)
{
    Rig rig(id);
    const int count = CheckedParameterCount(rig.Filter(), report);
    Step("threads: start");
    rig.Start(settings.sampleRate, 256);
    const auto input = Signal(rig.Inputs(), Length(settings, settings.sampleRate), settings.sampleRate);
    std::atomic<bool> done{false};
    std::atomic<int> blocks{0};
    Audio output;
    Step("threads: audio thread processing, changes and saves from this one");
    // Hosts process on their audio thread while the user moves controls and the project is saved.
    std::thread audio([&] {
        output = rig.Render(input, [&](int) { return 256; }, [&](int) { blocks.fetch_add(1); });
        done = true;
    });
    std::minstd_rand random(5);
    std::uniform_real_distribution<float> value(0.05f, 0.95f);
    int changes = 0;
    int saves = 0;
    while (!done) {
        if (count > 0) {
            rig.Filter().SetParameter(static_cast<int>(random() % static_cast<unsigned>(count)), value(random));
            ++changes;
        }
        if (changes % 16 == 0) {
            Save(rig.Filter(), "threads: save state while processing");
            ++saves;
        }
        std::this_thread::yield();
    }
    audio.join();
    Step("threads: save state afterwards");
    report.Details()["parameter_changes"] = changes;
    report.Details()["state_saves"] = saves;
    RequireFinite(report, output, "while another thread changed parameters");
    rig.Stop();
    auto saved = Save(rig.Filter(), "threads: save state afterwards");
    Rig fresh(id);
    if (!saved.IsEmpty() && !Restore(fresh.Filter(), saved)) {
        report.Fail("a state saved afterwards does not restore into a fresh instance");
    }
}

// 9. buffers -------------------------------------------------------------------------------------------

void CheckBuffers(const std::string& id, const CheckSettings& settings, GroupReport& report)
{
    json checked = json::array();
    for (const auto guard : {ChannelBuffers::Guard::After, ChannelBuffers::Guard::Before}) {
        const std::string side = guard == ChannelBuffers::Guard::After ? "after" : "before";
        Rig rig(id, guard);
        Step("buffers: start");
        rig.Start(settings.sampleRate, settings.maxBlock);
        for (const int size : {1, 64, 511, settings.maxBlock}) {
            const auto input = Signal(rig.Inputs(), 4 * size, settings.sampleRate);
            // A crash from here on is the plug-in touching memory outside the buffers it was handed.
            Step("buffers: guard page " + side + " blocks of " + std::to_string(size));
            RequireFinite(report, rig.Render(input, size), "blocks of " + std::to_string(size));
            checked.push_back(side + " " + std::to_string(size));
        }
    }
    report.Details()["guarded"] = checked;
}

// 10. input --------------------------------------------------------------------------------------------

void CheckInput(const std::string& id, const CheckSettings& settings, GroupReport& report)
{
    Rig rig(id);
    Step("input: start");
    rig.Start(settings.sampleRate, 512);
    if (rig.Inputs() == 0) {
        report.Skip("no audio inputs");
        return;
    }
    const int channels = rig.Inputs();
    const auto rate = settings.sampleRate;
    const auto normal = Signal(channels, std::llround(0.5 * rate), rate);
    // The output must be finite again by the last tenth of a second of normal input.
    const auto settled = Frames(normal) - std::llround(0.1 * rate);
    struct Case {
        const char* name;
        Audio input;
        bool abnormal;
    };
    auto square = Constant(channels, std::llround(0.25 * rate), 1.0f);
    for (auto& channel : square) {
        for (std::size_t i = 0; i < channel.size(); ++i) {
            channel[i] = (i / 50) % 2 == 0 ? 1.0f : -1.0f;
        }
    }
    // The harmless cases first; each abnormal one starts from a reset, so one poisoned state does not
    // stand for the next case's finding.
    const std::vector<Case> cases = {
        {"full-scale square wave", square, false},
        {"silence", Constant(channels, std::llround(0.25 * rate), 0.0f), false},
        {"NaN", Constant(channels, 512, NAN), true},
        {"infinity", Constant(channels, 512, INFINITY), true},
        {"minus infinity", Constant(channels, 512, -INFINITY), true},
    };
    rig.Reset();
    for (const auto& test : cases) {
        Step(std::string("input: ") + test.name);
        if (test.abnormal) {
            rig.Reset();
        }
        const auto during = rig.Render(test.input, 512);
        if (!test.abnormal) {
            RequireFinite(report, during, test.name);
        }
        Step(std::string("input: normal after ") + test.name);
        const auto after = rig.Render(normal, 512);
        const auto where = FirstNonFinite(after, settled);
        if (!where.empty()) {
            report.Fail("the output is not finite after " + std::string(test.name) +
                        " input once the input is normal again: " + where);
        }
    }
}

// 11. bus-layouts --------------------------------------------------------------------------------------

void CheckBusLayouts(const std::string& id, const CheckSettings& settings, GroupReport& report)
{
    using Layout = std::vector<AudioChannelDescription>;
    const std::vector<std::pair<std::string, Layout>> layouts = {
        {"mono", kelmediatypes::CreateMonoChannelLayout()},
        {"stereo", kelmediatypes::CreateStereoChannelLayout()},
        {"quad", kelmediatypes::CreateQuadraphonicChannelLayout()},
        {"5.1", kelmediatypes::CreateBroadcast51ChannelLayout()},
        {"7.1", kelmediatypes::Create7_1ChannelLayout()},
    };
    json accepted = json::array();
    json refused = json::array();
    for (const auto& [name, layout] : layouts) {
        for (const bool sameOut : {true, false}) {
            // Also mono in, stereo out, for the mono request.
            if (!sameOut && name != "mono") {
                continue;
            }
            const auto outLayout = sameOut ? layout : kelmediatypes::CreateStereoChannelLayout();
            const auto label = sameOut ? name : name + " to stereo";
            Rig rig(id);
            Step("bus-layouts: ask for " + label);
            rig.Filter().RequestIOConfiguration({layout}, {outLayout});
            const auto& ins = rig.Filter().GetInputBuses();
            const auto& outs = rig.Filter().GetOutputBuses();
            const bool inputsMatch = ins.empty() || MainChannelCount(ins) == layout.size();
            const bool took = inputsMatch && MainChannelCount(outs) == outLayout.size();
            (took ? accepted : refused).push_back(label);
            rig.Start(settings.sampleRate, 512);
            Step("bus-layouts: process " + label + (took ? "" : " (refused)"));
            const auto output = rig.Render(Signal(rig.Inputs(), 2048, settings.sampleRate), 512);
            RequireFinite(report, output, label + (took ? "" : ", refused,"));
            if (took && rig.Outputs() < static_cast<int>(outLayout.size())) {
                report.Fail(label + ": accepted, but the filter has " + std::to_string(rig.Outputs()) + " outputs");
            }
        }
    }
    report.Details()["accepted"] = accepted;
    report.Details()["refused"] = refused;
    if (accepted.empty()) {
        report.Note("accepts none of the layouts asked for; processed with its own");
    }
}

} // namespace

void GroupReport::Fail(const std::string& reason)
{
    if (mVerdict != Verdict::Fail) {
        mVerdict = Verdict::Fail;
        mReason = reason;
        return;
    }
    mDetails["failures"].push_back(reason);
}

void GroupReport::Skip(const std::string& reason)
{
    if (mVerdict == Verdict::Pass) {
        mVerdict = Verdict::Skip;
        mReason = reason;
    }
}

void GroupReport::Note(const std::string& text)
{
    mDetails["notes"].push_back(text);
}

nlohmann::ordered_json GroupReport::ToJson() const
{
    return {{"verdict", VerdictName(mVerdict)}, {"reason", mReason}, {"details", mDetails}};
}

std::string_view VerdictName(Verdict verdict)
{
    switch (verdict) {
    case Verdict::Pass:
        return "pass";
    case Verdict::Fail:
        return "fail";
    case Verdict::Skip:
        return "skip";
    }
    return "fail";
}

const std::vector<Group>& Groups()
{
    static const std::vector<Group> groups = {
        {"lifecycle", "create, resume, process, suspend, destroy, many times; descriptors and threads do not grow",
         CheckLifecycle},
        {"blocks", "block sizes 1, 7, 64, 511, the maximum and varying: finite, and the same output as one run",
         CheckBlocks},
        {"rates", "every rate asked for: finite, and the same output after a reset", CheckRates},
        {"latency", "an impulse comes out the reported latency later; the latency is stable", CheckLatency},
        {"tail", "the output falls below -120 dBFS within the reported tail", CheckTail},
        {"state", "save, restore into a fresh instance, save again: the same bytes and the same audio", CheckState},
        {"parameters", "minimum, maximum, default and random values: round trip, value text, finite output",
         CheckParameters},
        {"threads", "parameter changes and state saves from another thread while processing", CheckThreads},
        {"buffers", "guard pages around every audio buffer: no access past the block", CheckBuffers},
        {"input", "NaN, infinity, full-scale square waves and silence: output finite afterwards", CheckInput},
        {"bus-layouts", "every layout accepted is processed; refused ones are refused cleanly", CheckBusLayouts},
    };
    return groups;
}

const Group* FindGroup(std::string_view name)
{
    for (const auto& group : Groups()) {
        if (name == group.name) {
            return &group;
        }
    }
    return nullptr;
}

} // namespace kafh::check
