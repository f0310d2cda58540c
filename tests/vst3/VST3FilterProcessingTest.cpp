// SPDX-License-Identifier: GPL-3.0-or-later
// VST 3 filters over our own test bundles, whose parameters, programs, state and processing are
// known: what the filter hands the plug-in, and what it makes of the plug-in's answers.
#include "kelaudiofilterhost/framework/AudioFilter.h"
#include "kelaudiofilterhost/services/ChannelLayouts.h"
#include "kelaudiofilterhost/services/PropList.h"
#include "kelaudiofilterhost/vst3/VST3AudioFilter.h"
#include "kelaudiofilterhost/vst3/VST3ClassID.h"
#include "kelaudiofilterhost/vst3/VST3PluginModule.h"
#include "kelaudiofilterhost/vst3/VST3StateChunk.h"
#include "tests/support/MappedRunner.h"
#include "tests/support/TestFilters.h"
#include "tests/support/Vst3TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace kelaudiofilterhost::vst3 {
namespace {

namespace fixture = kafh_testplugins_vst3;
using Steinberg::Vst::ProcessContext;

using testing::TempoHost;
using Record = testing::PresetRecord;

constexpr auto* Make = &testing::OpenTestBundle;

/// Blocks of channels: a ramp (frame n of channel c holds c * 10000 + n), or zeros.
struct Blocks {
    Blocks(int channels, int frames, bool ramp = true)
        : data(static_cast<std::size_t>(channels), std::vector<float>(static_cast<std::size_t>(frames)))
    {
        for (std::size_t c = 0; c < data.size(); ++c) {
            for (std::size_t n = 0; ramp && n < data[c].size(); ++n) {
                data[c][n] = static_cast<float>(c * 10000 + n);
            }
            pointers.push_back(data[c].data());
        }
    }
    float** get() { return pointers.data(); }
    std::vector<std::vector<float>> data;
    std::vector<float*> pointers;
};

struct Outputs : Blocks {
    Outputs(int channels, int frames) : Blocks(channels, frames, false) {}
};

std::vector<std::uint8_t> ChunkOf(const AudioFilter& filter)
{
    Record record;
    filter.SaveSettings(record.preset);
    PresetData::ChunkBytes bytes;
    record.preset.GetChunkData(bytes);
    return bytes;
}

/// The recorder's log, read from its component state.
fixture::RecorderLog LogOf(const AudioFilter& filter)
{
    const std::vector<std::uint8_t> chunk = ChunkOf(filter);
    VST3StateChunk parts;
    fixture::RecorderLog log{};
    if (VST3StateChunk::Parse(chunk, parts) && parts.component.size() == sizeof log) {
        std::memcpy(&log, parts.component.data(), sizeof log);
    }
    return log;
}

TEST(VST3FilterParameters, ListingProgramsAndEditsFollowTheController)
{
    auto filter = Make("KafhVst3Gain", fixture::kGainProcessor);
    ASSERT_NE(filter, nullptr);
    ASSERT_TRUE(filter->IsInitialised());
    // Meter (read-only), Bypass and Program (program change) are not listed.
    ASSERT_EQ(filter->GetParameterCount(), 2);
    const auto gain = filter->GetParameterInfo(0);
    ASSERT_NE(gain, nullptr);
    EXPECT_EQ(gain->GetName(), u"Gain");
    EXPECT_EQ(gain->GetLabel(), u"x");
    EXPECT_TRUE(gain->IsExposed());
    EXPECT_EQ(filter->GetParameterInfo(1)->GetStepCount(), 3);
    EXPECT_EQ(filter->GetParameterInfo(2), nullptr);
    EXPECT_FLOAT_EQ(gain->NormalizedToPlain(0.25f), 0.5f);
    EXPECT_EQ(filter->FindParameterIndex(fixture::kGainModeParam), 1);
    EXPECT_EQ(filter->FindParameterIndex(fixture::kGainMeterParam), -1);

    EXPECT_FLOAT_EQ(filter->GetParameter(0), 0.5f);
    EXPECT_EQ(filter->GetParameterString(0), u"1.00");
    const auto dirty = filter->GetParameterDirtyCount();
    filter->SetParameter(0, 0.75f);
    EXPECT_FLOAT_EQ(filter->GetParameter(0), 0.75f);
    EXPECT_EQ(filter->GetParameterString(0), u"1.50");
    EXPECT_NE(filter->GetParameterDirtyCount(), dirty);
    EXPECT_FLOAT_EQ(filter->GetParameter(7), 0.0f);
    EXPECT_EQ(filter->GetParameterString(-1), u"");

    // Programs of the root unit; choosing one goes through the program-change parameter.
    ASSERT_EQ(filter->GetNumFactoryPresets(), 4);
    EXPECT_EQ(filter->GetFactoryPresetName(1), u"Half");
    EXPECT_EQ(filter->GetFactoryPresetName(9), u"");
    filter->SetFactoryPreset(2);
    EXPECT_FLOAT_EQ(filter->GetParameter(0), 1.0f);
    filter->SetFactoryPreset(5); // past the last step: nothing
    EXPECT_FLOAT_EQ(filter->GetParameter(0), 1.0f);

    // Edits made in the plug-in reach the signals for listed parameters only.
    std::vector<std::pair<int, bool>> editing;
    std::vector<std::pair<int, float>> automated;
    filter->GetEditingStateChangeSignal().connect([&](int index, bool on) { editing.emplace_back(index, on); });
    filter->GetAutomatedParameterChangeSignal().connect([&](int index, float v) { automated.emplace_back(index, v); });
    auto* handler = static_cast<Steinberg::Vst::IComponentHandler*>(filter.get());
    EXPECT_EQ(handler->beginEdit(fixture::kGainModeParam), Steinberg::kResultOk);
    EXPECT_EQ(handler->performEdit(fixture::kGainModeParam, 1.0 / 3), Steinberg::kResultOk);
    EXPECT_EQ(handler->performEdit(fixture::kGainBypassParam, 1.0), Steinberg::kResultOk);
    EXPECT_EQ(handler->endEdit(fixture::kGainModeParam), Steinberg::kResultOk);
    EXPECT_EQ(editing, (std::vector<std::pair<int, bool>>{{1, true}, {1, false}}));
    ASSERT_EQ(automated.size(), 1u);
    EXPECT_EQ(automated[0].first, 1);
}

TEST(VST3FilterProcessing, ChangesReachTheProcessorAtTheNextBlockAndGainFollows)
{
    auto filter = Make("KafhVst3Gain", fixture::kGainProcessor);
    ASSERT_NE(filter, nullptr);
    filter->SetSampleRate(48000.0f);
    filter->SetBlockSize(256);
    filter->Resume();
    Blocks in(2, 256);
    Outputs out(2, 256);
    filter->Process(in.get(), out.get(), 256);
    EXPECT_FLOAT_EQ(out.data[1][100], in.data[1][100]); // unity
    filter->SetParameter(0, 0.25f);
    filter->Process(in.get(), out.get(), 256);
    EXPECT_FLOAT_EQ(out.data[0][10], in.data[0][10] * 0.5f);
    EXPECT_FLOAT_EQ(out.data[1][255], in.data[1][255] * 0.5f);
    // An edit made in the plug-in's editor reaches its processor too, listed or not: bypass.
    static_cast<Steinberg::Vst::IComponentHandler*>(filter.get())->performEdit(fixture::kGainBypassParam, 1.0);
    filter->Process(in.get(), out.get(), 256);
    EXPECT_FLOAT_EQ(out.data[0][10], in.data[0][10]);
    filter->Suspend();
}

TEST(VST3FilterProcessing, LongBlocksArriveInPiecesWithTimeSetupAndTransport)
{
    auto filter = Make("KafhVst3Recorder", fixture::kRecorderProcessor);
    ASSERT_NE(filter, nullptr);
    TempoHost host(120.0, 3, 4, true, true);
    filter->SetAudioFilterHost(&host);
    filter->SetSampleRate(48000.0f);
    filter->SetBlockSize(4096);
    filter->SetCurrentOffset(96000);
    filter->Resume();
    Blocks in(2, 2500);
    Outputs out(2, 2500);
    filter->Process(in.get(), out.get(), 2500);
    EXPECT_EQ(out.data[1][2499], in.data[1][2499]);
    const auto& context = filter->GetProcessContext();
    EXPECT_EQ(context.projectTimeSamples, 96000 + 2500);
    // 96000 samples at 120 beats a minute are 4 quarters; positions count from 1.
    EXPECT_DOUBLE_EQ(context.projectTimeMusic, 5.0);
    filter->Suspend();

    const fixture::RecorderLog log = LogOf(*filter);
    ASSERT_EQ(+log.magic, fixture::kRecorderStateMagic);
    ASSERT_EQ(+log.processCount, 3u);
    const int sizes[] = {1024, 1024, 452};
    const float firsts[] = {0.0f, 1024.0f, 2048.0f};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(+log.blocks[i].numSamples, sizes[i]);
        EXPECT_EQ(+log.blocks[i].firstSample, firsts[i]);
    }
    EXPECT_EQ(+log.projectTimeSamples, 96000 + 2048);
    EXPECT_EQ(+log.contextState, ProcessContext::kSystemTimeValid | ProcessContext::kProjectTimeMusicValid |
                                    ProcessContext::kTempoValid | ProcessContext::kBarPositionValid |
                                    ProcessContext::kTimeSigValid | ProcessContext::kPlaying |
                                    ProcessContext::kCycleActive);
    EXPECT_EQ(+log.tempo, 120.0);
    EXPECT_EQ(+log.timeSigNumerator, 3);
    EXPECT_EQ(+log.processMode, Steinberg::Vst::kRealtime);
    EXPECT_EQ(+log.maxSamplesPerBlock, 4096);
    EXPECT_EQ(+log.setupSampleRate, 48000.0);
    EXPECT_EQ(+log.processingOn, 1u);
    EXPECT_EQ(+log.processingOff, 1u);
    EXPECT_EQ(+log.activeOn, 1u);
    EXPECT_EQ(+log.activeOff, 1u);
    EXPECT_EQ(+log.noOutputChanges, 0u);
}

TEST(VST3FilterProcessing, PendingChangesAreBoundedAndOutputChangesComeBackOffTheAudioThread)
{
    auto filter = Make("KafhVst3Recorder", fixture::kRecorderProcessor);
    ASSERT_NE(filter, nullptr);
    filter->SetSampleRate(44100.0f);
    filter->SetBlockSize(64);
    filter->Resume();
    std::vector<std::pair<int, float>> automated;
    filter->GetAutomatedParameterChangeSignal().connect([&](int index, float v) { automated.emplace_back(index, v); });
    // The ring takes 4095 changes before the next block (room for automation), then drops.
    const auto kept = static_cast<float>(VST3AudioFilter::kMinimumPendingChanges - 1) / 8192.0f;
    for (int i = 1; i <= 5000; ++i) {
        filter->SetParameter(0, static_cast<float>(i) / 8192.0f);
    }
    Blocks in(2, 64);
    Outputs out(2, 64);
    filter->Process(in.get(), out.get(), 64);
    // Blocks longer than the block size the plug-in was told still reach it in pieces it can take.
    Blocks longIn(2, 200);
    Outputs longOut(2, 200);
    filter->Process(longIn.get(), longOut.get(), 200);
    filter->DeliverProcessorParameterChanges();
    filter->Suspend();

    const fixture::RecorderLog log = LogOf(*filter);
    // All at offset 0, each replacing the last in the one queue of A.
    ASSERT_EQ(+log.pointCount, 1u);
    EXPECT_EQ(+log.points[0].paramId, fixture::kRecorderParamA);
    EXPECT_FLOAT_EQ(static_cast<float>(log.points[0].value), kept);
    EXPECT_EQ(+log.processCount, 5u);
    EXPECT_EQ(+log.blocks[1].numSamples, 64);
    EXPECT_EQ(+log.blocks[4].numSamples, 8);
    // The processor echoed A as B: the signal names B's index and the controller holds the value.
    ASSERT_FALSE(automated.empty());
    EXPECT_EQ(automated.back().first, 1);
    EXPECT_FLOAT_EQ(automated.back().second, kept);
    EXPECT_FLOAT_EQ(filter->GetParameter(1), kept);
}

TEST(VST3FilterState, ChunksRoundTripByteForByteAndBadChunksGiveDefinedResults)
{
    auto source = Make("KafhVst3Gain", fixture::kGainProcessor);
    ASSERT_NE(source, nullptr);
    source->SetFactoryPreset(1); // Half
    source->SetParameter(1, 2.0f / 3);
    const std::vector<std::uint8_t> chunk = ChunkOf(*source);
    VST3StateChunk parts;
    ASSERT_TRUE(VST3StateChunk::Parse(chunk, parts));
    EXPECT_EQ(parts.component.size(), 28u);
    EXPECT_EQ(parts.controller.size(), 8u);

    auto copy = Make("KafhVst3Gain", fixture::kGainProcessor);
    ASSERT_NE(copy, nullptr);
    Record saved;
    source->SaveSettings(saved.preset);
    ASSERT_TRUE(copy->LoadSettings(saved.preset));
    EXPECT_EQ(ChunkOf(*copy), chunk);
    EXPECT_FLOAT_EQ(copy->GetParameter(0), 0.25f);
    // The restored processor plays with the restored gain.
    copy->SetSampleRate(44100.0f);
    copy->SetBlockSize(32);
    copy->Resume();
    Blocks in(2, 32);
    Outputs out(2, 32);
    copy->Process(in.get(), out.get(), 32);
    EXPECT_FLOAT_EQ(out.data[1][5], in.data[1][5] * 0.5f);
    copy->Suspend();

    // Changes made before a load do not undo it at the next block.
    auto late = Make("KafhVst3Gain", fixture::kGainProcessor);
    ASSERT_NE(late, nullptr);
    late->SetParameter(0, 1.0f);
    ASSERT_TRUE(late->LoadSettings(saved.preset));
    EXPECT_EQ(ChunkOf(*late), chunk);

    auto target = Make("KafhVst3Gain", fixture::kGainProcessor);
    ASSERT_NE(target, nullptr);
    // Shorter than its header: refused.
    EXPECT_FALSE(target->LoadChunkData(Record({1, 2, 3}).preset));
    EXPECT_FALSE(target->LoadChunkData(Record().preset));
    // Lengths past the data (or absurd): the part is skipped, what fits is applied.
    std::vector<std::uint8_t> bad = chunk;
    bad[15] = 0x80; // controller length about 2^63
    EXPECT_TRUE(target->LoadChunkData(Record(bad).preset));
    EXPECT_FLOAT_EQ(target->GetParameter(0), 0.25f);
    target->SetParameter(0, 0.5f);
    bad = chunk;
    bad[0] = 200; // component length past the end
    EXPECT_TRUE(target->LoadChunkData(Record(bad).preset));
    EXPECT_FLOAT_EQ(target->GetParameter(0), 0.5f);
    for (std::size_t cut = 0; cut < chunk.size(); cut += 5) {
        target->LoadChunkData(Record(std::vector<std::uint8_t>(chunk.begin(), chunk.begin() + cut)).preset);
    }
}

TEST(VST3FilterState, SingleComponentAndPlugInsWithoutStateOrThatThrow)
{
    // One object as component and controller: asked twice, terminated once.
    {
        auto single = Make("KafhVst3Single", fixture::kSingle);
        ASSERT_NE(single, nullptr);
        EXPECT_FALSE(single->HasSeparateController());
        EXPECT_EQ(single->GetParameterCount(), 1);
        VST3StateChunk parts;
        const auto chunk = ChunkOf(*single);
        ASSERT_TRUE(VST3StateChunk::Parse(chunk, parts));
        EXPECT_TRUE(std::equal(parts.component.begin(), parts.component.end(), parts.controller.begin(),
                               parts.controller.end()));
    }
    const auto lifecycle =
        testing::BundleFunction<fixture::SingleLifecycleFunction>("KafhVst3Single", fixture::kSingleLifecycleName);
    ASSERT_NE(lifecycle, nullptr);
    int initialized = 0;
    int terminated = 0;
    lifecycle(&initialized, &terminated);
    EXPECT_EQ(initialized, terminated);

    // Nothing saved: true, and the record keeps no chunk.
    auto empty = Make("KafhVst3Faulty", fixture::kEmptyStateProcessor);
    ASSERT_NE(empty, nullptr);
    Record record;
    PresetData& preset = record.preset;
    EXPECT_TRUE(empty->SaveChunkData(preset));
    PresetData::ChunkBytes bytes;
    EXPECT_FALSE(preset.GetChunkData(bytes));

    auto throws = Make("KafhVst3Faulty", fixture::kThrowsProcessor);
    ASSERT_NE(throws, nullptr);
    EXPECT_TRUE(throws->SaveChunkData(preset));
    EXPECT_FLOAT_EQ(throws->GetParameter(0), 0.0f);
    throws->SetSampleRate(44100.0f);
    throws->SetBlockSize(64);
    throws->Resume();
    Blocks in(2, 64);
    Outputs out(2, 64);
    throws->Process(in.get(), out.get(), 64);
    throws->Process(in.get(), out.get(), 64);
    throws->Suspend();
}

TEST(VST3FilterLifecycle, ControllersThatAreMissingOrRefuseAndPlugInsThatRefuseEverything)
{
    // A controller class the factory does not know: the filter runs without parameters.
    auto missing = Make("KafhVst3Faulty", fixture::kMissingControllerProcessor);
    ASSERT_NE(missing, nullptr);
    EXPECT_TRUE(missing->IsInitialised());
    EXPECT_EQ(missing->GetParameterCount(), 0);
    missing->SetParameter(0, 1.0f);

    // A controller that does not initialise: not initialised, no buses, no processing.
    auto refuses = Make("KafhVst3Faulty", fixture::kControllerRefusesProcessor);
    ASSERT_NE(refuses, nullptr);
    EXPECT_FALSE(refuses->IsInitialised());
    EXPECT_TRUE(refuses->GetOutputBuses().empty());
    refuses->Resume();
    refuses->Process(nullptr, nullptr, 64);
    refuses->Suspend();

    auto stubborn = Make("KafhVst3Faulty", fixture::kRefusesEverythingProcessor);
    ASSERT_NE(stubborn, nullptr);
    const auto buses = stubborn->GetInputBuses();
    stubborn->RequestIOConfiguration({kelmediatypes::CreateMonoChannelLayout()}, {kelmediatypes::CreateMonoChannelLayout()});
    EXPECT_EQ(stubborn->GetInputBuses().size(), buses.size());
    EXPECT_EQ(stubborn->GetInputBuses()[0].GetChannelCount(), 2u);
    stubborn->SetSampleRate(44100.0f);
    stubborn->SetBlockSize(64);
    stubborn->Resume();
    Blocks in(2, 64);
    Outputs out(2, 64);
    stubborn->Process(in.get(), out.get(), 64);
    stubborn->Process(nullptr, nullptr, 64); // no arrays: silence in, outputs discarded
    stubborn->Suspend();
    Record record;
    EXPECT_TRUE(stubborn->SaveChunkData(record.preset));
}

TEST(VST3FilterBuses, SideChainLatencyAndRestartRequests)
{
    auto side = Make("KafhVst3SideChain", fixture::kSideChain);
    ASSERT_NE(side, nullptr);
    ASSERT_EQ(side->GetInputBuses().size(), 2u);
    EXPECT_EQ(side->GetInputBuses()[1].GetType(), AudioFilterBusDescription::kSideChain);
    EXPECT_EQ(side->GetInputBuses()[1].GetName(), u"Side In");
    EXPECT_TRUE(side->CanUseSideChaining());
    // An arrangement the plug-in refuses leaves the buses as they were.
    side->RequestIOConfiguration({kelmediatypes::CreateMonoChannelLayout(), kelmediatypes::CreateMonoChannelLayout()},
                                 {kelmediatypes::CreateStereoChannelLayout()});
    EXPECT_EQ(side->GetInputBuses()[0].GetChannelCount(), 2u);
    side->SetSampleRate(44100.0f);
    side->SetBlockSize(16);
    Blocks in(4, 16);
    Outputs out(2, 16);
    side->Resume();
    side->Process(in.get(), out.get(), 16);
    EXPECT_FLOAT_EQ(out.data[0][3], in.data[0][3]); // side bus off: main only
    side->Suspend();
    side->SetSideChainTargetBus(AudioFilterBusDescription(u"Key", kelmediatypes::CreateStereoChannelLayout(),
                                                          AudioFilterBusDescription::kSideChain));
    side->Resume();
    side->Process(in.get(), out.get(), 16);
    EXPECT_FLOAT_EQ(out.data[0][3], in.data[0][3] + in.data[2][3]);
    side->Suspend();

    auto latency = Make("KafhVst3Latency", fixture::kLatencyProcessor);
    ASSERT_NE(latency, nullptr);
    EXPECT_EQ(latency->GetInitialDelay(), 64);
    EXPECT_EQ(latency->GetTail(), 4410);

    auto changing = Make("KafhVst3Latency", fixture::kLatencyChangeProcessor);
    ASSERT_NE(changing, nullptr);
    changing->SetSampleRate(44100.0f);
    changing->SetBlockSize(32);
    changing->Resume();
    EXPECT_EQ(changing->GetInitialDelay(), 64);
    changing->SetParameter(0, 1.0f); // the controller asks for a restart
    EXPECT_NE(changing->GetPendingRestartFlags() & Steinberg::Vst::kLatencyChanged, 0);
    Blocks small(2, 32);
    Outputs smallOut(2, 32);
    changing->Process(small.get(), smallOut.get(), 32);
    EXPECT_EQ(changing->GetInitialDelay(), 128);
    changing->Suspend();
    changing->Resume();
    EXPECT_EQ(changing->GetPendingRestartFlags(), 0);
    changing->Suspend();

    // Parameter values changed: infos are rebuilt at once and the application is told.
    int told = 0;
    changing->GetPresetChangedSignal().connect([&] { ++told; });
    EXPECT_EQ(changing->restartComponent(Steinberg::Vst::kParamValuesChanged | Steinberg::Vst::kReloadComponent),
              Steinberg::kResultOk);
    EXPECT_EQ(told, 1);
    EXPECT_EQ(changing->GetParameterCount(), 1);
}

TEST(VST3FilterBuses, MonoEffectRunsInsideAStereoChannelMap)
{
    auto mono = Make("KafhVst3Mono", fixture::kMono);
    ASSERT_NE(mono, nullptr);
    ASSERT_EQ(mono->GetInputBuses().size(), 1u);
    EXPECT_EQ(mono->GetInputBuses()[0].GetChannelCount(), 1u);
    mono->SetSampleRate(44100.0f);
    mono->SetBlockSize(128);
    mono->SetUseChannelMap(true);
    mono->SetChannelMapTargetChannelLayout(kelmediatypes::CreateStereoChannelLayout());
    mono->SetDefaultChannelMap(true);
    mono->SetDefaultChannelMap(false);
    mono->Resume();
    const auto out = testing::RunMapped(*mono, 2, 2, 300, {128, 100});
    mono->Suspend();
    EXPECT_FLOAT_EQ(out[0][299], testing::TestSample(0, 299) * 0.5f);
    EXPECT_FLOAT_EQ(out[1][299], testing::TestSample(1, 299)); // not mapped: passed through
}

} // namespace
} // namespace kelaudiofilterhost::vst3
