// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/presets/PresetData.h"
#include "kelaudiofilterhost/services/PluginCallTrail.h"
#include "kelaudiofilterhost/services/PropList.h"
#include "kelaudiofilterhost/vst2/VSTAudioFilter.h"
#include "tests/support/TraceCapture.h"
#include "tests/support/Vst2TestSupport.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace kelaudiofilterhost {
namespace {

using namespace kelaudiofilterhost::testing;
namespace abi = vst::abi;

std::string Quoted(const std::string& title)
{
    return "\"" + kelcore::UTF16to8(TestPlugin(title)) + "\": ";
}

void RunBlocks(vst::VSTAudioFilter& filter, int blocks)
{
    std::vector<float> a(32, 0.5f), b(32, 0.5f), outA(32), outB(32);
    float* in[] = {a.data(), b.data()};
    float* out[] = {outA.data(), outB.data()};
    for (int block = 0; block < blocks; ++block) {
        filter.Process(in, out, 32);
    }
}

TEST(VSTEffectGate, TracesEveryKindOfThrowingCallWithItsModuleAndName)
{
    auto filter = OpenTestEffect("KafhThrows", kafhtest::kThrowsId);
    ASSERT_TRUE(filter);
    filter->SetBlockSize(32);
    filter->Resume();
    const auto module = Quoted("KafhThrows");
    struct Case {
        const char* call;
        std::function<void()> run;
        std::string category;
        std::string expected;
    } cases[] = {
        {"dispatcher", [&] { filter->GetFactoryPresetName(0); }, "<VSTAudioFilter::Dispatch>",
         "effGetProgramNameIndexed (29) threw std::runtime_error: KafhThrows: dispatcher"},
        {"processReplacing", [&] { RunBlocks(*filter, 6); }, "<VSTAudioFilter::Process>",
         "processReplacing threw std::runtime_error: KafhThrows: processReplacing (2 times since the last report)"},
        {"setParameter", [&] { filter->SetParameter(1, 0.5f); }, "<VSTAudioFilter::SetParameter>",
         "setParameter(1) threw std::runtime_error: KafhThrows: setParameter"},
        {"getParameter", [&] { EXPECT_EQ(filter->GetParameter(1), 0.0f); }, "<VSTAudioFilter::GetParameter>",
         "getParameter(1) threw std::runtime_error: KafhThrows: getParameter"},
        {"entry point",
         [] {
             const auto path = TestPlugin("KafhThrows");
             const auto entryThrows = static_cast<std::uint32_t>(kafhtest::kThrowsOnEntryId);
             EXPECT_FALSE(vst::GetOrLoadModule(path)->CreateAudioFilter(vst::MakeComponentID(entryThrows, path)));
         },
         "<VSTPluginModule::Instantiate>", "VSTPluginMain threw std::runtime_error: KafhThrows: entry point"},
    };
    for (const auto& c : cases) {
        TraceCapture traces;
        c.run();
        // Faults on the audio path are traced by the next call that may trace.
        filter->Dispatch(abi::effGetProgram);
        EXPECT_TRUE(traces.Contains({c.category, module + c.expected})) << c.call;
    }
    // The trail names the last call even when it threw, and knows it has returned.
    const auto trail = kelcore::trail::Read();
    EXPECT_EQ(trail.call, "effGetProgram");
    EXPECT_FALSE(trail.inCall);
    kelcore::proplist::PropList stored;
    PresetData preset(stored);
    filter->SaveSettings(preset);
    filter->Suspend(); // effMainsChanged and effStopProcess throw too
}

TEST(VSTEffectGate, MisbehaviourChecksTraceByName)
{
    TraceCapture traces;
    auto liar = OpenTestEffect("KafhLiar", kafhtest::kLiarId);
    ASSERT_TRUE(liar);
    EXPECT_EQ(liar->GetParameterCount(), 0);
    EXPECT_EQ(liar->GetNumFactoryPresets(), 0);
    EXPECT_EQ(liar->GetInitialDelay(), 0);
    EXPECT_EQ(liar->GetNumberOfOutputChannels(), 0u);
    EXPECT_EQ(liar->GetNumberOfInputChannels(), 1000u);
    EXPECT_EQ(liar->GetComponentID(), u"2:3405705229 KafhLiar"); // the unique ID read as unsigned
    for (int i = 0; i < 3; ++i) { // 0 bytes at no buffer (no misbehaviour), -1 bytes, 2^40 bytes: none stored
        kelcore::proplist::PropList stored;
        PresetData preset(stored);
        liar->SaveSettings(preset);
        PresetData::ChunkBytes bytes;
        EXPECT_FALSE(preset.GetChunkData(bytes));
    }
    liar->Dispatch(abi::effGetProgram);
    const auto module = Quoted("KafhLiar");
    const std::string expected[] = {
        "ParameterCountInRange: numParams -5 is out of range; read as 0",
        "OutputCountInRange: numOutputs -2 is out of range; read as 0",
        "IsStringTerminated: effGetEffectName wrote 256 bytes without a terminating zero",
        "LatencyInRange: initialDelay -64 is negative; read as 0",
        "ProgramCountInRange: numPrograms -3 is negative; read as 0",
        "IsChunkSane: effGetChunk gave -1 bytes at a buffer; not stored",
    };
    for (const auto& text : expected) {
        EXPECT_TRUE(traces.Contains({"<VSTAudioFilter::Misbehaviour>", module + text})) << text;
    }
    EXPECT_FALSE(traces.Contains({"IsChunkSane: effGetChunk gave 0 bytes"}));

    auto badMagic = vst::GetOrLoadModule(TestPlugin("KafhBadMagic"));
    ASSERT_TRUE(badMagic);
    EXPECT_FALSE(badMagic->CreateAudioFilter(
        vst::MakeComponentID(static_cast<std::uint32_t>(kafhtest::kBadMagicId), TestPlugin("KafhBadMagic"))));
    EXPECT_TRUE(traces.Contains({Quoted("KafhBadMagic") + "HasEffectMagic: "}));
    EXPECT_FALSE(vst::GetOrLoadModule(TestPlugin("KafhShell"))->CreateAudioFilter(u"2:42 KafhShell"));
}

TEST(VSTEffectGate, TrailNamesTheCallWhileThePluginRuns)
{
    auto filter = OpenTestEffect("KafhGain", kafhtest::kGainId);
    ASSERT_TRUE(filter);
    const std::string module = kelcore::UTF16to8(TestPlugin("KafhGain"));
    std::vector<kelcore::trail::Snapshot> seen;
    // Asked before the filter's own answers: runs on the plug-in's call back into the host.
    filter->AddExtraCallback(1, [&](std::int32_t opcode, std::int32_t, std::intptr_t, void*, float) -> std::intptr_t {
        if (opcode == abi::audioMasterGetTime || opcode == abi::audioMasterBeginEdit) {
            seen.push_back(kelcore::trail::Read());
        }
        return 0;
    });
    filter->Dispatch(abi::effVendorSpecific, kafhtest::kGainAutomate, 0, nullptr, 0.25f);
    filter->SetBlockSize(32);
    filter->Resume();
    RunBlocks(*filter, 1);
    filter->Suspend();
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].call, "effVendorSpecific");
    EXPECT_EQ(seen[1].call, "processReplacing");
    for (const auto& snapshot : seen) {
        EXPECT_EQ(snapshot.module, module);
        EXPECT_TRUE(snapshot.inCall);
    }
    EXPECT_FALSE(kelcore::trail::Read().inCall);
}

} // namespace
} // namespace kelaudiofilterhost
