// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/catalogue/PluginModule.h"
#include "kelaudiofilterhost/presets/PresetData.h"
#include "kelaudiofilterhost/presets/PresetList.h"
#include "kelaudiofilterhost/services/PropList.h"
#include "kelaudiofilterhost/vst2/VSTAudioFilter.h"
#include "tests/support/TestFilters.h"
#include "tests/support/TraceCapture.h"
#include "tests/support/Vst2TestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <set>
#include <thread>

namespace kelaudiofilterhost {
namespace {

using namespace kelaudiofilterhost::testing;
namespace abi = vst::abi;

std::intptr_t Ask(std::int32_t opcode, std::int32_t index = 0, void* ptr = nullptr)
{
    return vst::VSTAudioFilter::StaticAudioMasterCallback(nullptr, opcode, index, 0, ptr, 0.0f);
}

TEST(VSTHostCallback, AnswersWithTheHostsIdentity)
{
    EXPECT_EQ(Ask(abi::audioMasterVersion), 2400);
    EXPECT_EQ(Ask(abi::audioMasterGetVendorVersion), 4);
    char text[64] = {};
    EXPECT_EQ(Ask(abi::audioMasterGetVendorString, 0, text), 1);
    EXPECT_STREQ(text, "Quelo Systems");
    EXPECT_EQ(Ask(abi::audioMasterGetProductString, 0, text), 1);
    EXPECT_STREQ(text, "Opal");

    {
        TraceCapture trace("VSTAudioFilter::StaticAudioMasterCallback=5");
        EXPECT_EQ(Ask(abi::audioMasterCanDo, 0, const_cast<char*>("sendVstTimeInfo")), 1);
        EXPECT_EQ(Ask(abi::audioMasterCanDo, 0, const_cast<char*>("shellCategory")), 1);
        EXPECT_EQ(Ask(abi::audioMasterCanDo, 0, const_cast<char*>("SendVstTimeInfo")), 0);
        EXPECT_EQ(Ask(abi::audioMasterCanDo, 0, nullptr), 0);
        EXPECT_TRUE(trace.Contains("<VSTAudioFilter::StaticAudioMasterCallback> <5> audioMasterCanDo->sendVstTimeInfo"));
    }
    // The vendor-specific protocol: locale codes and the theme text.
    struct Case {
        const char16_t* locale;
        std::int32_t code;
    } cases[] = {{u"de_DE", 1}, {u"ko_KR", 6}, {u"de_de", 0}, {u"en_US", 0}};
    for (const auto& c : cases) {
        PluginModule::SetLocaleIdentifier(c.locale);
        std::int32_t code = -1;
        EXPECT_EQ(Ask(abi::audioMasterVendorSpecific, 0x70400000, &code), 0x11005678);
        EXPECT_EQ(code, c.code);
    }
    EXPECT_EQ(Ask(abi::audioMasterVendorSpecific, 0x70400000, nullptr), 0);
    PluginModule::SetThemeXML("<theme/>");
    const char* theme = nullptr;
    EXPECT_EQ(Ask(abi::audioMasterVendorSpecific, 0x70400002, &theme), 0x11005678);
    EXPECT_STREQ(theme, "<theme/>");
    EXPECT_EQ(Ask(abi::audioMasterVendorSpecific, 0x2E903F43), 0x11005678);
    EXPECT_EQ(Ask(abi::audioMasterVendorSpecific, 12345), 0);
}

// The effect scribbles over the host-reserved field and calls the host from its entry function and
// while processing: the host must still find its filter, and must not read what the field holds.
TEST(VSTHostCallback, FindsTheFilterWithoutTrustingTheEffectsReservedField)
{
    auto filter = OpenTestEffect("KafhStray", kafhtest::kStrayId);
    ASSERT_TRUE(filter);
    filter->SetSampleRate(48000.0f);
    filter->SetBlockSize(16);
    filter->Resume();
    std::vector<float> left(16, 7.0f), right(16, 7.0f);
    float* io[] = {left.data(), right.data()};
    filter->Process(io, io, 16);
    EXPECT_EQ(left, std::vector<float>(16, 1.0f)); // the time info of this filter reached the effect
    EXPECT_EQ(right, std::vector<float>(16, 1.0f));
    filter->Suspend();
}

TEST(VSTHostCallback, ExtraCallbacksPassPointerWideValuesAndMayChangeWhileAsked)
{
    auto filter = OpenTestEffect("KafhGain", kafhtest::kGainId);
    ASSERT_TRUE(filter);
    constexpr std::int32_t kAsked = 1000; // an opcode nobody else answers
    const std::intptr_t wide = std::intptr_t{1} << 40;
    filter->AddExtraCallback(20, [](std::int32_t opcode, std::int32_t, std::intptr_t value, void*, float) {
        return opcode == kAsked ? value + 1 : std::intptr_t{0};
    });
    EXPECT_EQ(filter->AudioMasterCallback(kAsked, 0, wide, nullptr, 0.0f), wide + 1);

    // A plug-in thread asks while the editor's side adds and removes a callback of a lower key: every
    // answer comes from one of the two, never from a half-changed list.
    std::atomic<bool> stop{false};
    std::atomic<long> wrong{0};
    std::thread asker([&] {
        while (!stop.load()) {
            const auto answer = vst::VSTAudioFilter::StaticAudioMasterCallback(filter->GetEffect(), kAsked, 0, 1,
                                                                                 nullptr, 0.0f);
            wrong += answer != 2 && answer != 10 ? 1 : 0;
        }
    });
    for (int i = 0; i < 20000; ++i) {
        filter->AddExtraCallback(10, [](std::int32_t opcode, std::int32_t, std::intptr_t, void*, float) {
            return opcode == kAsked ? std::intptr_t{10} : std::intptr_t{0};
        });
        filter->RemoveExtraCallback(10);
    }
    stop = true;
    asker.join();
    EXPECT_EQ(wrong.load(), 0);
}

TEST(VSTAudioFilter, DescribesParametersAndAnswersPinsAndAutomation)
{
    auto filter = OpenTestEffect("KafhGain", kafhtest::kGainId);
    ASSERT_TRUE(filter);
    EXPECT_EQ(filter->GetDisplayName(), u"KafhGain"); // the file title names non-shell effects
    ASSERT_EQ(filter->GetParameterCount(), 2);
    auto gain = filter->GetParameterInfo(0);
    auto bypass = filter->GetParameterInfo(1);
    ASSERT_TRUE(gain && bypass);
    EXPECT_FALSE(filter->GetParameterInfo(2));
    EXPECT_EQ(gain->GetName() + u" " + gain->GetLabel(), u"Gain %");
    EXPECT_FLOAT_EQ(gain->PlainToNormalized(100.0f), 0.5f);
    EXPECT_EQ(bypass->GetStepCount(), 1); // a switch

    filter->SetParameter(0, 0.75f);
    EXPECT_EQ(filter->GetParameter(0), 0.75f);
    EXPECT_EQ(filter->GetParameterString(0), u"150");
    EXPECT_EQ(gain->GetStringForValue(0.0f), u"150"); // always the current value

    // Pins: stereo in and out.
    EXPECT_EQ(filter->AudioMasterCallback(abi::audioMasterPinConnected, 1, 0, nullptr, 0.0f), 0);
    EXPECT_EQ(filter->AudioMasterCallback(abi::audioMasterPinConnected, 2, 0, nullptr, 0.0f), 1);
    EXPECT_EQ(filter->AudioMasterCallback(abi::audioMasterPinConnected, 0, 1, nullptr, 0.0f), 0);

    // A gesture in the plug-in arrives as automation.
    std::vector<std::pair<int, float>> automated;
    filter->GetAutomatedParameterChangeSignal().connect([&](int i, float v) { automated.emplace_back(i, v); });
    const auto dirty = filter->GetParameterDirtyCount();
    filter->Dispatch(abi::effVendorSpecific, kafhtest::kGainAutomate, 1, nullptr, 1.0f);
    EXPECT_EQ(automated, (std::vector<std::pair<int, float>>{{1, 1.0f}}));
    EXPECT_EQ(filter->GetParameterDirtyCount(), dirty + 1);
}

TEST(VSTAudioFilter, GivesTimeInfoOnlyWhileRunning)
{
    TempoHost host(120.0, 3, 8);
    auto filter = OpenTestEffect("KafhGain", kafhtest::kGainId);
    ASSERT_TRUE(filter);
    EXPECT_EQ(filter->AudioMasterCallback(abi::audioMasterGetTime, 0, 0, nullptr, 0.0f), 0); // suspended
    filter->SetAudioFilterHost(&host);
    filter->SetSampleRate(48000.0f);
    filter->SetBlockSize(64);
    filter->SetCurrentOffset(48000);
    filter->Resume();
    std::vector<float> a(64, 1.0f), b(64, 1.0f);
    float* io[] = {a.data(), b.data()};
    abi::VstTimeInfo seen{};
    filter->Process(io, io, 64);
    ASSERT_EQ(filter->Dispatch(abi::effVendorSpecific, kafhtest::kGainGetLastTimeInfo, 0, &seen), 1);
    EXPECT_EQ(seen.ppqPos, 3.0);
    EXPECT_EQ(seen.timeSigNumerator, 3);
    EXPECT_EQ(seen.sampleRate, 48000.0);
    EXPECT_TRUE(seen.flags & abi::kVstTransportPlaying);
    EXPECT_TRUE(seen.flags & abi::kVstTransportChanged);
    filter->Process(io, io, 64);
    filter->Dispatch(abi::effVendorSpecific, kafhtest::kGainGetLastTimeInfo, 0, &seen);
    EXPECT_FALSE(seen.flags & abi::kVstTransportChanged); // reported once
    filter->Suspend();
    EXPECT_EQ(filter->AudioMasterCallback(abi::audioMasterGetTime, 0, 0, nullptr, 0.0f), 0);
}

TEST(VSTAudioFilter, FactoryProgramsBecomePresets)
{
    auto filter = OpenTestEffect("KafhGain", kafhtest::kGainId);
    ASSERT_TRUE(filter);
    ASSERT_EQ(filter->GetNumFactoryPresets(), 3);
    EXPECT_EQ(filter->GetFactoryPresetName(2), u"Double");
    EXPECT_EQ(filter->GetFactoryPresetName(3), u"");
    EXPECT_EQ(filter->GetFactoryPresetName(-1), u"");

    kelcore::proplist::PropList storage;
    PresetList list(storage);
    filter->GetFactoryDefaultPresets(list);
    std::set<UTF16String> names;
    list.GetPresetNames(names);
    EXPECT_EQ(names, (std::set<UTF16String>{u"Unity", u"Half", u"Double"}));
    EXPECT_EQ(list.GetPreset(u"Unity")->GetPresetType(), PresetData::ParamListPreset); // the current state
    EXPECT_EQ(list.GetPreset(u"Double")->GetPresetType(), PresetData::FactoryReferencePreset);

    filter->SetFactoryPreset(0); // does nothing
    EXPECT_EQ(filter->GetParameter(0), 0.5f);
    ASSERT_TRUE(filter->LoadSettings(*list.GetPreset(u"Double")));
    EXPECT_EQ(filter->GetParameter(0), 1.0f); // the program's settings, on program 0
    EXPECT_EQ(filter->Dispatch(abi::effGetProgram), 0);
}

TEST(VSTAudioFilter, ChunkStateRoundTripsAndBadChunksAreRefused)
{
    auto filter = OpenTestEffect("KafhChunk", kafhtest::kChunkId);
    ASSERT_TRUE(filter);
    ASSERT_TRUE(filter->DoPresetsUseChunkData());
    filter->SetParameter(0, 0.125f);
    filter->SetParameter(1, 0.875f);
    PresetRecord record;
    PresetData& preset = record.preset;
    filter->SaveSettings(preset);
    EXPECT_EQ(preset.GetPresetType(), PresetData::ChunkPreset);

    auto restored = OpenTestEffect("KafhChunk", kafhtest::kChunkId);
    ASSERT_TRUE(restored->LoadSettings(preset));
    EXPECT_EQ(restored->GetParameter(0), 0.125f);
    EXPECT_EQ(restored->GetParameter(1), 0.875f);

    // Truncated chunk: the plug-in refuses it and keeps its state.
    PresetData::ChunkBytes bytes;
    ASSERT_TRUE(preset.GetChunkData(bytes));
    preset.SetChunkData(bytes.data(), static_cast<unsigned int>(bytes.size() - 3));
    auto untouched = OpenTestEffect("KafhChunk", kafhtest::kChunkId);
    const float before = untouched->GetParameter(0);
    untouched->LoadSettings(preset);
    EXPECT_EQ(untouched->GetParameter(0), before);
    // A parameter record given to a chunk filter is ignored.
    PresetRecord parameters;
    PresetData& parameterPreset = parameters.preset;
    parameterPreset.SetVersion(1.0f);
    parameterPreset.SetParamList({0.5f, 0.5f});
    EXPECT_FALSE(untouched->LoadSettings(parameterPreset));
}

} // namespace
} // namespace kelaudiofilterhost
