// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/presets/PresetData.h"
#include "kelaudiofilterhost/services/PluginCallTrail.h"
#include "kelaudiofilterhost/services/PropList.h"
#include "kelaudiofilterhost/services/Trace.h"
#include "kelaudiofilterhost/vst2/VSTAudioFilter.h"
#include "tests/support/Vst2TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace kelaudiofilterhost {
namespace {

using namespace kelaudiofilterhost::testing;
namespace abi = vst::abi;

// Collects every trace line while alive.
class TraceCapture {
public:
    TraceCapture()
    {
        kelcore::debug::SetTraceConfiguration("*=5");
        kelcore::debug::SetTraceSink([this](std::string_view line) { mLines.emplace_back(line); });
    }
    ~TraceCapture()
    {
        kelcore::debug::SetTraceSink({});
        kelcore::debug::ResetTraceConfiguration();
    }
    /// The first line holding every part, or empty.
    std::string Find(std::initializer_list<std::string> parts) const
    {
        for (const auto& line : mLines) {
            if (std::all_of(parts.begin(), parts.end(),
                            [&](const std::string& part) { return line.find(part) != std::string::npos; })) {
                return line;
            }
        }
        return {};
    }
    void Clear() { mLines.clear(); }

private:
    std::vector<std::string> mLines;
};

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
        EXPECT_NE(traces.Find({c.category, module + c.expected}), "") << c.call;
    }
    // The trail names the last call even when it threw, and knows it has returned.
    const auto trail = kelcore::trail::Read();
    EXPECT_EQ(trail.call, "effGetProgram");
    EXPECT_FALSE(trail.inCall);
    filter->Suspend();
}

TEST(VSTEffectGate, MisbehaviourChecksTraceByName)
{
    TraceCapture traces;
    auto liar = OpenTestEffect("KafhLiar", kafhtest::kLiarId);
    ASSERT_TRUE(liar);
    liar->GetInitialDelay();
    liar->GetNumFactoryPresets();
    kelcore::proplist::PropList stored;
    PresetData preset(stored);
    liar->SaveSettings(preset); // a chunk of 0 bytes at no buffer is no misbehaviour
    liar->SaveSettings(preset); // -1 bytes
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
        EXPECT_NE(traces.Find({"<VSTAudioFilter::Misbehaviour>", module + text}), "") << text;
    }
    EXPECT_EQ(traces.Find({"IsChunkSane: effGetChunk gave 0 bytes"}), "");

    auto badMagic = vst::GetOrLoadModule(TestPlugin("KafhBadMagic"));
    ASSERT_TRUE(badMagic);
    EXPECT_FALSE(badMagic->CreateAudioFilter(
        vst::MakeComponentID(static_cast<std::uint32_t>(kafhtest::kBadMagicId), TestPlugin("KafhBadMagic"))));
    EXPECT_NE(traces.Find({Quoted("KafhBadMagic") + "HasEffectMagic: "}), "");
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
