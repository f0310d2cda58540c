// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/presets/PresetList.h"

#include "kelaudiofilterhost/services/PropList.h"
#include "kelaudiofilterhost/services/Trace.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kelaudiofilterhost {
namespace {

using kelcore::proplist::PropList;

TEST(PresetList, AppendGetRemoveAndClearKeepOneChildPerName)
{
    PropList storage;
    PresetList list(storage);
    int fired = 0;
    list.GetPresetListChangedSignal().connect([&](const PresetList& changed) {
        EXPECT_EQ(&changed, &list);
        ++fired;
    });

    auto warm = list.AppendPreset(u"Warm");
    ASSERT_TRUE(warm);
    EXPECT_TRUE(warm->IsEmpty());
    EXPECT_EQ(fired, 1);
    warm->SetParamList({0.5f});

    // Two views of one name share the child list.
    auto again = list.GetPreset(u"Warm");
    ASSERT_TRUE(again);
    EXPECT_NE(again.get(), warm.get());
    EXPECT_EQ(again->GetRawData(), warm->GetRawData());

    EXPECT_FALSE(list.AppendPreset(u"Warm"));
    EXPECT_EQ(fired, 1);
    std::list<float> values;
    list.GetPreset(u"Warm")->GetParamList(values);
    EXPECT_EQ(values, std::list<float>{0.5f});

    // A stray value under a name is no preset, and is not overwritten by one.
    storage.SetValue("Stray", std::int32_t{1});
    EXPECT_FALSE(list.GetPreset(u"Stray"));
    EXPECT_FALSE(list.AppendPreset(u"Stray"));
    EXPECT_TRUE(storage.HasValue("Stray"));

    EXPECT_FALSE(list.GetPreset(u"Missing"));
    list.RemovePreset(u"Missing");
    EXPECT_EQ(fired, 2);
    list.RemovePreset(u"Warm");
    EXPECT_EQ(fired, 3);
    EXPECT_FALSE(list.GetPreset(u"Warm"));

    ASSERT_TRUE(list.AppendPreset(u"Bright"));
    list.Clear();
    EXPECT_EQ(fired, 5);
    EXPECT_TRUE(storage.IsEmpty());

    PresetList inert(nullptr);
    EXPECT_FALSE(inert.AppendPreset(u"x"));
    EXPECT_FALSE(inert.GetPreset(u"x"));
    std::set<UTF16String> names{u"old"};
    inert.GetPresetNames(names);
    EXPECT_TRUE(names.empty());
}

TEST(PresetList, NamesComeInSixteenBitCodeUnitOrder)
{
    PropList storage;
    PresetList list(storage);
    // U+FF21 sorts after U+1F600 in UTF-16 (its high surrogate is 0xD83D) but before it in UTF-8.
    const std::vector<UTF16String> inserted = {u"b", u"\uFF21", u"\U0001F600", u"B", u"\u00e9", u"a"};
    for (const auto& name : inserted) {
        ASSERT_TRUE(list.AppendPreset(name));
    }
    std::set<UTF16String> names{u"stale"};
    list.GetPresetNames(names);
    const std::vector<UTF16String> expected = {u"B", u"a", u"b", u"\u00e9", u"\U0001F600", u"\uFF21"};
    EXPECT_EQ(std::vector<UTF16String>(names.begin(), names.end()), expected);
}

class FactoryPresetSource : public ::testing::Test {
protected:
    void SetUp() override
    {
        kelcore::debug::SetTraceSink([this](std::string_view text) { mOutput.emplace_back(text); });
    }
    void TearDown() override { kelcore::debug::SetTraceSink({}); }

    void AddParams(const UTF16String& name, std::list<float> values, float version = 1.0f, bool withType = true)
    {
        auto preset = mList->AppendPreset(name);
        preset->SetVersion(version);
        if (withType) {
            preset->SetPresetType(PresetData::ParamListPreset);
        }
        preset->SetParamList(values);
    }
    void AddChunk(const UTF16String& name)
    {
        auto preset = mList->AppendPreset(name);
        preset->SetVersion(1.0f);
        preset->SetPresetType(PresetData::ChunkPreset);
        const unsigned char bytes[] = {1, 2, 3};
        preset->SetChunkData(bytes, 3);
    }

    PropList mStorage;
    boost::intrusive_ptr<PresetList> mList{new PresetList(mStorage)};
    std::vector<std::string> mOutput;
};

TEST_F(FactoryPresetSource, WritesNothingWithoutAParameterPreset)
{
    FormatFactoryPresetList(nullptr);
    FormatFactoryPresetList(mList);
    AddChunk(u"One");
    AddChunk(u"Two");
    FormatFactoryPresetList(mList);
    EXPECT_TRUE(mOutput.empty());
}

TEST_F(FactoryPresetSource, WritesOneTableShapedByTheFirstParameterPreset)
{
    AddChunk(u"Alpha");
    AddParams(u"Bright", {0.5f, 0.25f});
    AddParams(u"Calm", {1.0f, 1.0f / 3.0f}, 1.0f, false);
    AddParams(u"Dark", {0.5f, 0.25f}, 2.0f);
    AddParams(u"Extra", {0.5f, 0.25f, 0.125f});
    AddParams(u"Fine", {-0.1f, 0x1p-20f});
    FormatFactoryPresetList(mList);

    const std::string expected =
        "const int kNumFactoryPresets = 6;\n"
        "const int kNumFactoryParams = 2;\n"
        "\n"
        "struct PresetData\n"
        "{\n"
        "\tchar*\t\tName;\n"
        "\tfloat\t\tParams[kNumFactoryParams];\n"
        "};\n"
        "\n"
        "PresetData sPresets[kNumFactoryPresets] = {\n"
        "\t  { \"Alpha\", {  ***placeholder***}}\n"
        "\t, { \"Bright\", {   0.5f, 0.25f}}\n"
        "\t, { \"Calm\", {   1f, 0.33333334f}}\n"
        "\t, { \"Dark\", {  ***placeholder***}}\n"
        "\t, { \"Extra\", {  ***placeholder***}}\n"
        "\t, { \"Fine\", {   -0.1f, 9.5367432e-07f}}\n"
        "};\n";
    ASSERT_EQ(mOutput.size(), 1u);
    EXPECT_EQ(mOutput[0], expected);
}

} // namespace
} // namespace kelaudiofilterhost
