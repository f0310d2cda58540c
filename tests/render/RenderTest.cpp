// SPDX-License-Identifier: GPL-3.0-or-later
// The render engine over our own plug-ins of both kinds and an internal filter: where automation
// lands, ramps, tempo positions, events, offline mode and bit-identical renders.
#include "examples/ExampleFilters.h"
#include "examples/GainFilter.h"
#include "kelaudiofilterhost/framework/AudioFilterFactory.h"
#include "kelaudiofilterhost/render/Renderer.h"
#include "kelaudiofilterhost/services/PropList.h"
#include "kelaudiofilterhost/vst3/VST3StateChunk.h"
#include "testplugins/vst3/TestVst3Ids.h"
#include "tests/support/TestFilters.h"
#include "tests/support/Vst2TestSupport.h"
#include "tests/support/Vst3TestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <set>
#include <tuple>

namespace kelaudiofilterhost::render {
namespace {

using namespace kelaudiofilterhost::testing;
namespace vst3fixture = kafh_testplugins_vst3;

constexpr double kRate = 48000.0;

/// A parameter change as the filter saw it: the frame it took effect at, the parameter, the value.
using Seen = std::tuple<std::int64_t, int, double>;

/// What a recorder reports: changes, events (frame, status, data) and blocks (frame count, quarters).
struct Recording {
    std::vector<Seen> changes;
    std::vector<Seen> events;
    std::vector<int> blocks;
    std::vector<double> quarters;
    std::vector<double> barStarts;
    std::vector<double> tempos;
    int processLevel = 0;
};

/// An internal filter that records like the plug-in recorders: two parameters, stereo pass-through.
class RecordingFilter : public AudioFilter {
public:
    RecordingFilter() : AudioFilter(u"test:recorder", u"Recorder")
    {
        AddInputBus(StereoBus());
        AddOutputBus(StereoBus());
    }
    int GetParameterCount() const override { return 2; }
    void SetParameter(int index, float value) override
    {
        mValues[static_cast<std::size_t>(index & 1)] = value;
        record.changes.emplace_back(mFrames, index, value);
    }
    float GetParameter(int index) const override { return mValues[static_cast<std::size_t>(index & 1)]; }
    void Process(float** inputs, float** outputs, int frameCount) override
    {
        record.blocks.push_back(frameCount);
        for (int c = 0; c < 2; ++c) {
            std::copy_n(inputs[c], frameCount, outputs[c]);
        }
        mFrames += frameCount;
    }

    Recording record;

private:
    std::array<float, 2> mValues{};
    std::int64_t mFrames = 0;
};

std::vector<std::uint8_t> ChunkOf(const AudioFilter& filter)
{
    kelcore::proplist::PropList list;
    PresetData preset{list};
    filter.SaveSettings(preset);
    PresetData::ChunkBytes bytes;
    preset.GetChunkData(bytes);
    return bytes;
}

Recording ReadVst3Recorder(const AudioFilter& filter)
{
    vst3::VST3StateChunk parts;
    auto log = std::make_unique<vst3fixture::RecorderLog>();
    Recording record;
    // The parts point into the chunk, which must outlive them.
    const auto chunk = ChunkOf(filter);
    if (!vst3::VST3StateChunk::Parse(chunk, parts) || parts.component.size() != sizeof *log) {
        return record;
    }
    std::memcpy(log.get(), parts.component.data(), sizeof *log);
    for (std::uint32_t b = 0; b < std::min<std::uint32_t>(log->processCount, vst3fixture::kRecorderMaxBlocks); ++b) {
        const auto& block = log->blocks[b];
        record.blocks.push_back(+block.numSamples);
        record.quarters.push_back(+block.projectTimeMusic);
        record.barStarts.push_back(+block.barPositionMusic);
        record.tempos.push_back(+block.tempo);
    }
    for (std::uint32_t p = 0; p < std::min<std::uint32_t>(log->pointCount, vst3fixture::kRecorderMaxPoints); ++p) {
        const auto& point = log->points[p];
        // Parameters A and B have IDs 1 and 2.
        record.changes.emplace_back(point.projectTimeSamples + point.sampleOffset, static_cast<int>(point.paramId) - 1,
                                    +point.value);
    }
    for (std::uint32_t e = 0; e < std::min<std::uint32_t>(log->eventCount, vst3fixture::kRecorderMaxEvents); ++e) {
        const auto& event = log->events[e];
        // As MIDI status bytes on channel 0, as the VST 2 recorder reports them.
        record.events.emplace_back(+event.frame, event.type == 0 ? 0x90 : event.type == 1 ? 0x80 : -1, +event.pitch);
    }
    record.processLevel = log->processMode;
    return record;
}

Recording ReadVst2Recorder(const AudioFilter& filter)
{
    const auto chunk = ChunkOf(filter);
    Recording record;
    auto log = std::make_unique<kafhtest::RecorderChunk>();
    if (chunk.size() != sizeof *log) {
        return record;
    }
    std::memcpy(log.get(), chunk.data(), sizeof *log);
    for (int i = 0; i < std::min(log->count, kafhtest::kRecorderMaxEntries); ++i) {
        const auto& entry = log->entries[i];
        switch (entry.kind) {
        case kafhtest::RecorderEntryKind::Parameter:
            record.changes.emplace_back(entry.frame, entry.what, entry.value);
            break;
        case kafhtest::RecorderEntryKind::Event:
            record.events.emplace_back(entry.frame, entry.what, entry.value);
            break;
        case kafhtest::RecorderEntryKind::Block:
            record.blocks.push_back(entry.what);
            record.quarters.push_back(entry.value);
            record.tempos.push_back(entry.tempo);
            record.barStarts.push_back(entry.barStart);
            break;
        }
    }
    record.processLevel = log->processLevel;
    return record;
}

AudioBuffer Signal(int frames)
{
    AudioBuffer buffer(2, std::vector<float>(static_cast<std::size_t>(frames)));
    for (std::size_t n = 0; n < buffer[0].size(); ++n) {
        buffer[0][n] = 0.5f * static_cast<float>(std::sin(0.01 * static_cast<double>(n)));
        buffer[1][n] = 0.25f * static_cast<float>(std::cos(0.02 * static_cast<double>(n)));
    }
    return buffer;
}

void AddPoint(Automation& automation, std::int64_t frame, int parameter, double value, bool ramp = false)
{
    automation.Add({frame, parameter, value, static_cast<float>(value), ramp, 0});
}

struct Kind {
    const char* name;
    std::function<boost::intrusive_ptr<AudioFilter>()> make;
    std::function<Recording(AudioFilter&)> read;
};

std::vector<Kind> Kinds()
{
    return {
        {"VST 3", [] { return OpenTestBundle("KafhVst3Recorder", vst3fixture::kRecorderProcessor); },
         [](AudioFilter& filter) { return ReadVst3Recorder(filter); }},
        {"VST 2", [] { return boost::intrusive_ptr<AudioFilter>(OpenTestEffect("KafhRecorder", kafhtest::kRecorderId)); },
         [](AudioFilter& filter) { return ReadVst2Recorder(filter); }},
        {"internal", [] { return boost::intrusive_ptr<AudioFilter>(new RecordingFilter()); },
         [](AudioFilter& filter) { return static_cast<RecordingFilter&>(filter).record; }},
    };
}

RenderReport Render(const boost::intrusive_ptr<AudioFilter>& filter, int frames, RenderOptions options,
                    AudioBuffer* output = nullptr)
{
    AudioBuffer out;
    RenderReport report;
    std::string error;
    EXPECT_TRUE(RenderBuffer(filter, Signal(frames), kRate, out, std::move(options), report, error)) << error;
    if (output != nullptr) {
        *output = std::move(out);
    }
    return report;
}

} // namespace

TEST(RenderAutomation, PointsLandOnTheirFramesWhateverTheBlocks)
{
    // On and off the boundaries of every block size below.
    const std::vector<Seen> points = {{0, 0, 0.125},    {63, 1, 0.25},   {64, 0, 0.375}, {999, 1, 0.5},
                                      {1000, 0, 0.625}, {1024, 1, 0.75}, {2047, 0, 0.875}, {2999, 1, 1.0}};
    for (const auto& kind : Kinds()) {
        for (const int block : {64, 1000, 4096}) {
            SCOPED_TRACE(std::string(kind.name) + ", block " + std::to_string(block));
            auto filter = kind.make();
            ASSERT_TRUE(filter);
            RenderOptions options;
            options.blockSize = block;
            for (const auto& [frame, parameter, value] : points) {
                AddPoint(options.automation, frame, parameter, value);
            }
            Render(filter, 3000, options);
            const Recording record = kind.read(*filter);
            std::multiset<Seen> seen(record.changes.begin(), record.changes.end());
            for (const auto& point : points) {
                EXPECT_EQ(seen.count(point), 1u) << std::get<0>(point) << " " << std::get<1>(point);
            }
            for (const int size : record.blocks) {
                EXPECT_LE(size, block);
                EXPECT_GT(size, 0);
            }
        }
    }
}

TEST(RenderAutomation, RampsMoveAPointPerBlockOrACutPerPoint)
{
    // Parameter 0 ramps from 0.25 at frame 1000 to 0.75 at frame 2000.
    const auto expected = [](std::int64_t frame) { return 0.25 + 0.5 * static_cast<double>(frame - 1000) / 1000.0; };
    for (const auto& kind : Kinds()) {
        SCOPED_TRACE(kind.name);
        auto filter = kind.make();
        ASSERT_TRUE(filter);
        RenderOptions options;
        options.blockSize = 256;
        AddPoint(options.automation, 1000, 0, 0.25);
        AddPoint(options.automation, 2000, 0, 0.75, true);
        Render(filter, 3000, options);
        const Recording record = kind.read(*filter);
        std::vector<std::int64_t> frames;
        for (const auto& [frame, parameter, value] : record.changes) {
            EXPECT_NEAR(value, expected(frame), 1e-6) << frame;
            frames.push_back(frame);
        }
        // Plug-ins taking offsets get the last frame of each block the ramp covers; the others a
        // change where each block starts.
        const bool offsets = filter->HandlesParameterOffsets();
        const std::vector<std::int64_t> within = offsets ? std::vector<std::int64_t>{1023, 1279, 1535, 1791}
                                                         : std::vector<std::int64_t>{1024, 1280, 1536, 1792};
        std::vector<std::int64_t> wanted{1000};
        wanted.insert(wanted.end(), within.begin(), within.end());
        wanted.push_back(2000);
        EXPECT_EQ(frames, wanted);
    }
}

TEST(RenderTempo, BlocksSeeTheTempoMapsPositionsOfflineAndEventsArriveOnTheirFrames)
{
    auto map = std::make_shared<TempoMap>(kRate, 120.0, 4, 4);
    std::string error;
    // 120 bpm: a quarter is 24000 frames. From frame 48000 (quarter 2), 60 bpm in 3/4.
    ASSERT_TRUE(map->AddChange(48000, 60.0, 3, 4, error)) << error;
    for (const auto& kind : Kinds()) {
        if (std::string(kind.name) == "internal") {
            continue;
        }
        SCOPED_TRACE(kind.name);
        auto filter = kind.make();
        ASSERT_TRUE(filter);
        RenderOptions options;
        options.blockSize = 1000;
        options.tempoMap = map;
        const int frames = 64000;
        const std::vector<AudioFilterEvent> events{
            AudioFilterEvent::NoteOn(10, 0, 60, 100), AudioFilterEvent::Controller(20, 0, 7, 127),
            AudioFilterEvent::PitchBend(30, 3, 16383), AudioFilterEvent::NoteOff(999, 0, 60)};
        boost::intrusive_ptr<AudioFilter> held = filter;
        Renderer renderer;
        ASSERT_TRUE(renderer.Prepare(filter, 2, [&] {
            RenderOptions prepared = options;
            prepared.sampleRate = kRate;
            return prepared;
        }(), error)) << error;
        // Events for the first block, queued before the render starts.
        for (const auto& event : events) {
            filter->QueueEvent(event);
        }
        const AudioBuffer input = Signal(frames);
        BufferSource source(input, kRate);
        BufferSink sink(2);
        RenderReport report;
        ASSERT_TRUE(renderer.Run(source, sink, report, error)) << error;
        const Recording record = kind.read(*filter);
        ASSERT_FALSE(record.quarters.empty());
        const std::size_t blocks = std::min<std::size_t>(record.quarters.size(), 64);
        for (std::size_t b = 0; b < blocks; ++b) {
            const double frame = 1000.0 * static_cast<double>(b);
            const double quarters = frame < 48000 ? frame / 24000.0 : 2.0 + (frame - 48000) / 48000.0;
            EXPECT_NEAR(record.quarters[b], quarters, 1e-9) << b;
            EXPECT_EQ(record.tempos[b], frame < 48000 ? 120.0 : 60.0) << b;
            // The 3/4 bars start where the signature changed, at quarter 2.
            EXPECT_NEAR(record.barStarts[b], frame < 48000 ? 0.0 : 2.0, 1e-9) << b;
        }
        if (std::string(kind.name) == "VST 2") {
            const std::vector<Seen> expected{{10, 0x90, 60.0}, {20, 0xB0, 7.0}, {30, 0xE3, 127.0}, {999, 0x80, 60.0}};
            EXPECT_EQ(record.events, expected);
            EXPECT_EQ(record.processLevel, 4); // offline
        } else {
            // Controllers and pitch bend become changes of the parameters the MIDI mapping names.
            const std::vector<Seen> notes{{10, 0x90, 60.0}, {999, 0x80, 60.0}};
            const std::vector<Seen> changes{{20, 0, 1.0}, {30, 1, 1.0}};
            EXPECT_EQ(record.events, notes);
            EXPECT_EQ(record.changes, changes);
            EXPECT_EQ(record.processLevel, 2); // kOffline
        }
    }
}

TEST(RenderDeterminism, TheSameRenderTwiceIsBitIdentical)
{
    const std::vector<std::pair<const char*, std::function<boost::intrusive_ptr<AudioFilter>()>>> filters{
        {"VST 3 gain", [] { return OpenTestBundle("KafhVst3Gain", vst3fixture::kGainProcessor); }},
        {"VST 2 gain", [] { return boost::intrusive_ptr<AudioFilter>(OpenTestEffect("KafhGain", kafhtest::kGainId)); }},
        {"internal gain", [] { return boost::intrusive_ptr<AudioFilter>(new examples::GainFilter(examples::kGainFilterID)); }},
    };
    for (const auto& [name, make] : filters) {
        SCOPED_TRACE(name);
        AudioBuffer outputs[2];
        for (auto& output : outputs) {
            auto filter = make();
            ASSERT_TRUE(filter);
            RenderOptions options;
            options.blockSize = 333;
            const auto info = filter->GetParameterInfo(0);
            const auto plain = [&](float normalized) { return info ? info->NormalizedToPlain(normalized) : normalized; };
            options.automation.Add({700, 0, plain(0.2f), 0.2f, false, 0});
            options.automation.Add({5000, 0, plain(0.9f), 0.9f, true, 0});
            options.automation.Add({9000, 0, plain(0.4f), 0.4f, true, 0});
            Render(filter, 12000, options, &output);
        }
        ASSERT_EQ(outputs[0].size(), 2u);
        EXPECT_EQ(outputs[0], outputs[1]);
        EXPECT_NE(outputs[0][0][1000], Signal(12000)[0][1000]); // the automation changed the audio
    }
}

TEST(RenderAutomation, ParsedTextResolvesOrNamesTheLine)
{
    const auto resolve = [](const std::string& text, std::string& error) {
        std::vector<AutomationLine> lines;
        Automation automation;
        const boost::intrusive_ptr<AudioFilter> filter(new examples::GainFilter(examples::kGainFilterID));
        return ParseAutomation(text, lines, error) && automation.Resolve(lines, *filter, 1000.0, error)
                   ? automation.GetPoints()
                   : std::vector<AutomationPoint>{};
    };
    std::string error;
    const auto points = resolve("# gain\n0.5 Gain -6\n\n600s \"gain\" 12 ramp\n  1.5\t0 -96  RAMP \r\n", error);
    ASSERT_EQ(points.size(), 3u) << error;
    EXPECT_EQ(points[0].frame, 500);
    EXPECT_EQ(points[1].frame, 600);
    EXPECT_TRUE(points[1].ramp);
    EXPECT_EQ(points[2].frame, 1500);
    EXPECT_EQ(points[2].normalized, 0.0f);
    const std::pair<const char*, const char*> bad[] = {
        {"1 Gain", "line 1: expected TIME PARAMETER VALUE"},
        {"x Gain 0", "line 1: time \"x\" is not a time"},
        {"-1 Gain 0", "line 1: time \"-1\""},
        {"1.5s Gain 0", "line 1: time \"1.5s\" is not a frame count"},
        {"1 Gain loud", "line 1: value \"loud\" is not a number"},
        {"1 Gain nan", "line 1: value \"nan\" is not a number"},
        {"\n2 Gain 0\n1 Gain 0", "line 3: the point comes before the one on line 2"},
        {"1 Volume 0", "line 1: the filter has no parameter \"Volume\""},
        {"1 Gain 25", "line 1: value 25 of parameter \"Gain\" is out of range (-96 to 24)"},
    };
    for (const auto& [text, message] : bad) {
        error.clear();
        EXPECT_TRUE(resolve(text, error).empty()) << text;
        EXPECT_EQ(error.rfind(message, 0), 0u) << text << ": " << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    }
}

} // namespace kelaudiofilterhost::render
