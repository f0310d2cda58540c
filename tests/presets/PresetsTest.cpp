// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/presets/PresetData.h"
#include "kelaudiofilterhost/presets/PresetList.h"
#include "kelaudiofilterhost/services/PropList.h"
#include "kelaudiofilterhost/services/Trace.h"

#include <gtest/gtest.h>

#include <limits>
#include <numeric>

namespace kelaudiofilterhost {
namespace {

using kelcore::proplist::PropList;

TEST(PresetData, EmptyAndInertViewsGiveDefaultsAndInertOnesChangeNothing)
{
    PropList empty;
    PresetData overEmpty(empty), inert(nullptr);
    for (PresetData* preset : {&overEmpty, &inert}) {
        std::list<float> values{9.0f};
        PresetData::ChunkBytes bytes{1, 2};
        preset->GetParamList(values);
        EXPECT_TRUE(preset->IsEmpty() && preset->GetVersion() == 0.0f &&
                    preset->GetPresetType() == PresetData::ParamListPreset && preset->GetFactoryPresetName().empty());
        EXPECT_TRUE(values.empty() && !preset->GetChunkData(bytes) && bytes.empty());
    }
    int fired = 0;
    inert.GetPresetChangedSignal().connect([&fired](const PresetData&) { ++fired; });
    inert.SetVersion(1.0f);
    inert.SetPresetType(PresetData::ChunkPreset);
    inert.SetParamList({1.0f});
    inert.SetChunkData(reinterpret_cast<const unsigned char*>("x"), 1);
    inert.SetFactoryPresetName(u"x");
    inert.SetDataFromExistingPreset(overEmpty);
    EXPECT_TRUE(fired == 0 && inert.GetCustomDataSection() == nullptr && !(inert == inert));
    // Reading the custom section creates it, so the record is no longer empty.
    EXPECT_TRUE(overEmpty.GetCustomDataSection() != nullptr && !overEmpty.IsEmpty());
}

TEST(PresetData, ChunkBytesComeBackUnchangedAndBadChunksAreRefused)
{
    PropList list;
    PresetData preset(list);
    PresetData::ChunkBytes written(1000), read;
    std::iota(written.begin(), written.end(), std::uint8_t{0}); // every byte value, wrapping
    preset.SetChunkData(written.data(), static_cast<unsigned int>(written.size()));
    // Comes back whole; null bytes with a size cannot be encoded: the old chunk stays and nothing fires.
    int fired = 0;
    preset.GetPresetChangedSignal().connect([&fired](const PresetData&) { ++fired; });
    preset.SetChunkData(nullptr, 16);
    EXPECT_TRUE(fired == 0 && preset.GetChunkData(read) && read == written);

    for (const char* text : {"", "<binary?>", "QUJDRE"}) { // empty, foreign characters, truncated
        list.SetValue("ChunkData", UTF8String(text));
        EXPECT_TRUE(!preset.GetChunkData(read) && read.empty()) << text;
    }
}

// A record's stored values; no chunk when empty, no custom section when 0. (Absent version and type read
// as 0, which the first test covers.)
struct Record {
    float version = 1.0f;
    std::int32_t type = 0;
    std::list<float> params{};
    PresetData::ChunkBytes chunk{};
    UTF16String factory{};
    std::int32_t custom = 0;
};

TEST(PresetData, EqualityFollowsTheLeftSidesTypeKeysAreFixedAndCopiesAreWhole)
{
    const auto store = [](const Record& r) {
        PropList list;
        PresetData preset(list);
        preset.SetVersion(r.version);
        list.SetValue("Type", r.type); // also types the setter's enum cannot name
        preset.SetParamList(r.params);
        preset.SetFactoryPresetName(r.factory);
        preset.SetChunkData(r.chunk.data(), static_cast<unsigned int>(r.chunk.size())); // none when empty
        if (r.custom != 0) {
            preset.GetCustomDataSection()->SetValue("value", r.custom);
        }
        return list;
    };
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const std::list<float> p{0.5f, 1.0f};
    const Record custom{.type = 3, .params = p, .chunk = {4}, .custom = 1};
    const std::tuple<const char*, Record, Record, bool> cases[] = {
        {"same params", {.params = p}, {.params = p}, true},
        {"NaN version", {.version = nan}, {.version = nan}, false},
        {"other type", {.type = 0}, {.type = 1}, false},
        {"shorter params", {.params = {0.5f}}, {.params = p}, false},
        {"NaN value", {.params = {nan}}, {.params = {nan}}, false},
        {"chunks ignore params", {.type = 1, .params = {1.0f}, .chunk = {1, 2}}, {.type = 1, .chunk = {1, 2}}, true},
        {"other chunk", {.type = 1, .chunk = {1, 2}}, {.type = 1, .chunk = {1, 3}}, false},
        {"both without chunk", {.type = 1}, {.type = 1}, true},
        {"one without chunk", {.type = 1, .chunk = {1}}, {.type = 1}, false},
        {"same factory name", {.type = 2, .params = {1.0f}, .factory = u"Warm"}, {.type = 2, .factory = u"Warm"}, true},
        {"other factory name", {.type = 2, .factory = u"Warm"}, {.type = 2, .factory = u"warm"}, false},
        {"same custom", custom, custom, true},
        {"other custom", {.type = 3, .custom = 1}, {.type = 3, .custom = 2}, false},
        {"absent custom equals empty", {.type = 3}, {.type = 3}, true},
        {"custom, other params", custom, {.type = 3, .chunk = {4}, .custom = 1}, false},
        {"custom, other chunk", custom, {.type = 3, .params = p, .chunk = {2}, .custom = 1}, false},
        {"unknown type", {.type = 9}, {.type = 9}, false},
    };
    for (const auto& [name, left, right, equal] : cases) {
        PropList leftList = store(left), rightList = store(right);
        EXPECT_EQ(PresetData(leftList) == PresetData(rightList), equal) << name;
    }

    PropList list = store({.params = {1.0f}, .chunk = {1}, .factory = u"F", .custom = 1}), copyList;
    EXPECT_FALSE(PresetData(nullptr) == PresetData(list) || PresetData(list) == PresetData(nullptr));
    EXPECT_EQ(list.GetKeys(),
              (std::vector<UTF8String>{"ChunkData", "CustomData", "FactoryPreset", "ParamList", "Type", "Version"}));

    // A copy replaces the whole record.
    copyList.SetValue("stale", true);
    PresetData(copyList).SetDataFromExistingPreset(PresetData(list));
    EXPECT_TRUE(copyList == list);
}

TEST(PresetList, KeepsOneChildPerNameSignalsEveryChangeAndOrdersNamesByCodeUnits)
{
    PropList storage;
    PresetList list(storage), inert(nullptr);
    int fired = 0;
    list.GetPresetListChangedSignal().connect([&](const PresetList& changed) { fired += &changed == &list; });
    ASSERT_TRUE(list.AppendPreset(u"Warm") && fired == 1);
    list.GetPreset(u"Warm")->SetParamList({0.5f});
    std::list<float> values;
    list.GetPreset(u"Warm")->GetParamList(values); // views of one name share its child
    EXPECT_TRUE(!list.AppendPreset(u"Warm") && fired == 1 && values == std::list<float>{0.5f}); // taken: no signal

    // A stray value under a name is no preset, and is not overwritten by one.
    storage.SetValue("Stray", std::int32_t{1});
    EXPECT_FALSE(list.GetPreset(u"Stray") || list.AppendPreset(u"Stray") || list.GetPreset(u"Missing"));
    list.RemovePreset(u"Missing");
    list.RemovePreset(u"Warm");
    EXPECT_TRUE(fired == 3 && storage.HasValue("Stray") && !list.GetPreset(u"Warm"));
    list.Clear();
    EXPECT_TRUE(fired == 4 && storage.IsEmpty());
    std::set<UTF16String> names{u"stale"};
    inert.GetPresetNames(names);
    EXPECT_FALSE(inert.AppendPreset(u"x") || inert.GetPreset(u"x") || !names.empty());

    // U+FF21 sorts after U+1F600 in UTF-16 (its high surrogate is 0xD83D) but before it in UTF-8.
    for (const char16_t* name : {u"b", u"\uFF21", u"\U0001F600", u"B", u"\u00e9", u"a"}) {
        ASSERT_TRUE(list.AppendPreset(name));
    }
    names = {u"stale"};
    list.GetPresetNames(names);
    EXPECT_EQ(std::vector<UTF16String>(names.begin(), names.end()),
              (std::vector<UTF16String>{u"B", u"a", u"b", u"\u00e9", u"\U0001F600", u"\uFF21"}));
}

TEST(FormatFactoryPresetList, WritesOneTableShapedByTheFirstParameterPreset)
{
    std::vector<std::string> output;
    kelcore::debug::SetTraceSink([&output](std::string_view text) { output.emplace_back(text); });
    PropList storage;
    boost::intrusive_ptr<PresetList> list(new PresetList(storage));
    FormatFactoryPresetList(nullptr);
    FormatFactoryPresetList(list);
    list->AppendPreset(u"Alpha")->SetPresetType(PresetData::ChunkPreset);
    FormatFactoryPresetList(list); // no parameter preset: nothing written
    EXPECT_TRUE(output.empty());

    // No "Type" key: each reads as a parameter preset.
    const std::tuple<const char16_t*, float, std::list<float>> rows[] = {
        {u"Bright", 1.0f, {0.5f, 0.25f}}, {u"Calm", 1.0f, {1.0f, 1.0f / 3.0f}}, {u"Dark", 2.0f, {0.5f, 0.25f}},
        {u"Extra", 1.0f, {0.5f, 0.25f, 0.125f}}, {u"Fine", 1.0f, {-0.1f, 0x1p-20f}}};
    for (const auto& [name, version, values] : rows) {
        auto preset = list->AppendPreset(name);
        preset->SetVersion(version);
        preset->SetParamList(values);
    }
    FormatFactoryPresetList(list);
    kelcore::debug::SetTraceSink({});
    ASSERT_EQ(output.size(), 1u);
    EXPECT_EQ(output[0], "const int kNumFactoryPresets = 6;\nconst int kNumFactoryParams = 2;\n\n"
                         "struct PresetData\n{\n\tchar*\t\tName;\n\tfloat\t\tParams[kNumFactoryParams];\n};\n\n"
                         "PresetData sPresets[kNumFactoryPresets] = {\n"
                         "\t  { \"Alpha\", {  ***placeholder***}}\n"
                         "\t, { \"Bright\", {   0.5f, 0.25f}}\n"
                         "\t, { \"Calm\", {   1f, 0.33333334f}}\n"
                         "\t, { \"Dark\", {  ***placeholder***}}\n"
                         "\t, { \"Extra\", {  ***placeholder***}}\n"
                         "\t, { \"Fine\", {   -0.1f, 9.5367432e-07f}}\n"
                         "};\n");
}

} // namespace
} // namespace kelaudiofilterhost
