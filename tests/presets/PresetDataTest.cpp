// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/presets/PresetData.h"

#include "kelaudiofilterhost/services/PropList.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <optional>

namespace kelaudiofilterhost {
namespace {

using kelcore::proplist::PropList;

TEST(PresetData, EmptyAndInertViewsGiveDefaults)
{
    PropList empty;
    PresetData overEmpty(empty);
    PresetData inert(nullptr);
    for (PresetData* preset : {&overEmpty, &inert}) {
        EXPECT_TRUE(preset->IsEmpty());
        EXPECT_EQ(preset->GetVersion(), 0.0f);
        EXPECT_EQ(preset->GetPresetType(), PresetData::ParamListPreset);
        std::list<float> values{9.0f};
        preset->GetParamList(values);
        EXPECT_TRUE(values.empty());
        PresetData::ChunkBytes bytes{1, 2};
        EXPECT_FALSE(preset->GetChunkData(bytes));
        EXPECT_TRUE(bytes.empty());
        EXPECT_EQ(preset->GetFactoryPresetName(), u"");
    }

    int fired = 0;
    inert.GetPresetChangedSignal().connect([&fired](const PresetData&) { ++fired; });
    inert.SetVersion(1.0f);
    inert.SetPresetType(PresetData::ChunkPreset);
    inert.SetParamList({1.0f});
    const unsigned char byte = 7;
    inert.SetChunkData(&byte, 1);
    inert.SetFactoryPresetName(u"x");
    inert.SetDataFromExistingPreset(overEmpty);
    EXPECT_EQ(fired, 0);
    EXPECT_EQ(inert.GetCustomDataSection(), nullptr);
    EXPECT_FALSE(inert == inert);

    // Reading the custom section creates it, so the record is no longer empty.
    EXPECT_NE(overEmpty.GetCustomDataSection(), nullptr);
    EXPECT_FALSE(overEmpty.IsEmpty());
}

TEST(PresetData, ChunkBytesComeBackUnchangedAndBadChunksAreRefused)
{
    PropList list;
    PresetData preset(list);
    PresetData::ChunkBytes written;
    for (int n = 0; n < 1000; ++n) {
        written.push_back(static_cast<std::uint8_t>((n * 37) ^ (n >> 3)));
    }
    written[0] = 0;
    written[1] = 0xFF;
    preset.SetChunkData(written.data(), static_cast<unsigned int>(written.size()));
    PresetData::ChunkBytes read;
    ASSERT_TRUE(preset.GetChunkData(read));
    EXPECT_EQ(read, written);

    // Null bytes with a size cannot be encoded: the old chunk stays and nothing fires.
    int fired = 0;
    preset.GetPresetChangedSignal().connect([&fired](const PresetData&) { ++fired; });
    preset.SetChunkData(nullptr, 16);
    EXPECT_EQ(fired, 0);
    ASSERT_TRUE(preset.GetChunkData(read));
    EXPECT_EQ(read, written);

    // Texts that are not chunk data: empty, foreign characters, truncated, another value type.
    struct Case {
        const char* name;
        std::function<void(PropList&)> store;
    };
    const std::vector<Case> cases = {
        {"empty chunk", [](PropList& l) { l.SetValue("ChunkData", UTF8String()); }},
        {"not encoded", [](PropList& l) { l.SetValue("ChunkData", UTF8String("<binary?>")); }},
        {"truncated", [](PropList& l) { l.SetValue("ChunkData", UTF8String("QUJDREVG").substr(0, 6)); }},
        {"float", [](PropList& l) { l.SetValue("ChunkData", 1.0f); }},
        {"child", [](PropList& l) { l.CreateChild("ChunkData"); }},
    };
    for (const auto& c : cases) {
        PropList bad;
        c.store(bad);
        PresetData::ChunkBytes out{1, 2, 3};
        EXPECT_FALSE(PresetData(bad).GetChunkData(out)) << c.name;
        EXPECT_TRUE(out.empty()) << c.name;
    }
}

TEST(PresetData, CopyFromExistingPresetIsDeepAndFires)
{
    PropList sourceList;
    PresetData source(sourceList);
    source.SetVersion(1.0f);
    source.SetPresetType(PresetData::CustomPreset);
    source.SetParamList({0.1f, 0.2f});
    source.GetCustomDataSection()->SetValue("mode", std::int32_t{3});

    PropList targetList;
    targetList.SetValue("stale", true);
    PresetData target(targetList);
    int fired = 0;
    target.GetPresetChangedSignal().connect([&fired](const PresetData&) { ++fired; });
    target.SetDataFromExistingPreset(source);
    EXPECT_EQ(fired, 1);
    EXPECT_EQ(targetList, sourceList);
    EXPECT_TRUE(target == source);

    source.GetCustomDataSection()->SetValue("mode", std::int32_t{4});
    EXPECT_FALSE(target == source);
}

// A record built up by chained calls; version 1 and type 0 unless changed, other keys absent.
struct Record {
    std::optional<float> version = 1.0f;
    std::optional<std::int32_t> type = 0;
    std::optional<std::list<float>> params;
    std::optional<PresetData::ChunkBytes> chunk;
    std::optional<UTF16String> factory;
    std::optional<std::int32_t> custom;

    Record Version(std::optional<float> v) const { auto r = *this; r.version = v; return r; }
    Record Type(std::optional<std::int32_t> t) const { auto r = *this; r.type = t; return r; }
    Record Params(std::list<float> p) const { auto r = *this; r.params = std::move(p); return r; }
    Record Chunk(PresetData::ChunkBytes c) const { auto r = *this; r.chunk = std::move(c); return r; }
    Record Factory(UTF16String f) const { auto r = *this; r.factory = std::move(f); return r; }
    Record Custom(std::int32_t c) const { auto r = *this; r.custom = c; return r; }

    void Store(PropList& list) const
    {
        PresetData preset(list);
        if (version) {
            preset.SetVersion(*version);
        }
        if (type) {
            list.SetValue("Type", *type);
        }
        if (params) {
            preset.SetParamList(*params);
        }
        if (chunk) {
            preset.SetChunkData(chunk->data(), static_cast<unsigned int>(chunk->size()));
        }
        if (factory) {
            preset.SetFactoryPresetName(*factory);
        }
        if (custom) {
            preset.GetCustomDataSection()->SetValue("value", *custom);
        }
    }
};

TEST(PresetData, EqualityFollowsTheLeftSidesType)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        const char* name;
        Record left;
        Record right;
        bool equal;
    };
    const std::vector<Case> cases = {
        {"same params", Record().Params({0.5f, 1.0f}), Record().Params({0.5f, 1.0f}), true},
        {"other version", Record().Params({0.5f, 1.0f}), Record().Version(2.0f).Params({0.5f, 1.0f}), false},
        {"absent version is 0", Record().Version({}), Record().Version(0.0f), true},
        {"absent type is 0", Record().Type({}).Params({1.0f}), Record().Params({1.0f}), true},
        {"NaN version", Record().Version(nan), Record().Version(nan), false},
        {"other type", Record().Type(0), Record().Type(1), false},
        {"shorter params", Record().Params({0.5f}), Record().Params({0.5f, 1.0f}), false},
        {"other value", Record().Params({0.5f, 1.0f}), Record().Params({0.5f, 0.75f}), false},
        {"NaN value", Record().Params({nan}), Record().Params({nan}), false},
        {"params ignored by chunks", Record().Type(1).Params({1.0f}).Chunk({1, 2}),
         Record().Type(1).Params({2.0f}).Chunk({1, 2}), true},
        {"other chunk", Record().Type(1).Chunk({1, 2}), Record().Type(1).Chunk({1, 3}), false},
        {"both without chunk", Record().Type(1), Record().Type(1), true},
        {"one without chunk", Record().Type(1).Chunk({1}), Record().Type(1), false},
        {"same factory name", Record().Type(2).Params({1.0f}).Factory(u"Warm"),
         Record().Type(2).Params({2.0f}).Factory(u"Warm"), true},
        {"other factory name", Record().Type(2).Factory(u"Warm"), Record().Type(2).Factory(u"warm"), false},
        {"same custom", Record().Type(3).Params({1.0f}).Chunk({4}).Custom(1),
         Record().Type(3).Params({1.0f}).Chunk({4}).Custom(1), true},
        {"other custom", Record().Type(3).Custom(1), Record().Type(3).Custom(2), false},
        {"absent custom equals empty", Record().Type(3), Record().Type(3), true},
        {"custom with other params", Record().Type(3).Params({1.0f}).Custom(1),
         Record().Type(3).Params({2.0f}).Custom(1), false},
        {"custom with other chunk", Record().Type(3).Chunk({1}).Custom(1),
         Record().Type(3).Chunk({2}).Custom(1), false},
        {"unknown type", Record().Type(9), Record().Type(9), false},
    };
    for (const auto& c : cases) {
        PropList leftList;
        PropList rightList;
        c.left.Store(leftList);
        c.right.Store(rightList);
        EXPECT_EQ(PresetData(leftList) == PresetData(rightList), c.equal) << c.name;
    }

    PropList list;
    Record().Params({1.0f}).Store(list);
    EXPECT_FALSE(PresetData(nullptr) == PresetData(list));
    EXPECT_FALSE(PresetData(list) == PresetData(nullptr));
}

} // namespace
} // namespace kelaudiofilterhost
