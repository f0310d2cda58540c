// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/framework/AudioFilter.h"

#include "kelaudiofilterhost/services/File.h"
#include "kelaudiofilterhost/services/PropList.h"
#include "tests/support/PresetTestFilters.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <filesystem>
#include <functional>
#include <limits>

namespace kelaudiofilterhost {
namespace {

namespace fs = std::filesystem;
using kelcore::proplist::PropList;
using testing::ChunkTestFilter;
using testing::ParameterTestFilter;
using testing::TraceCapture;

class TempDir {
public:
    TempDir()
    {
        std::string pattern = (fs::temp_directory_path() / "kafh-settings-XXXXXX").string();
        mPath = ::mkdtemp(pattern.data());
    }
    ~TempDir()
    {
        std::error_code error;
        fs::remove_all(mPath, error);
    }
    const fs::path& Path() const { return mPath; }

private:
    fs::path mPath;
};

// Saves the filter's settings into a project file and reads them back, as an application would.
PropList SaveThroughFile(const AudioFilter& filter, const fs::path& file)
{
    PropList saved;
    boost::intrusive_ptr<PresetData> preset(new PresetData(saved));
    filter.SaveSettings(*preset);
    kelcore::filesupport::File target(file);
    EXPECT_TRUE(kelcore::proplist::utils::SavePropList(target, saved));
    PropList loaded;
    EXPECT_TRUE(kelcore::proplist::utils::LoadPropList(kelcore::UTF8to16(file.string()), loaded, false));
    EXPECT_EQ(loaded, saved);
    return loaded;
}

std::vector<float> Parameters(const AudioFilter& filter)
{
    std::vector<float> values;
    for (int i = 0; i < filter.GetParameterCount(); ++i) {
        values.push_back(filter.GetParameter(i));
    }
    return values;
}

TEST(AudioFilterSettings, BaseFilterSavesAnEmptyParameterRecordAndLoadsIt)
{
    boost::intrusive_ptr<AudioFilter> filter(new AudioFilter(u"test.base", u"Base"));
    PropList list;
    list.SetValue("Leftover", true);
    PresetData preset(list);
    filter->SaveSettings(preset);
    EXPECT_FALSE(list.HasValue("Leftover"));
    EXPECT_EQ(preset.GetVersion(), 1.0f);
    EXPECT_EQ(preset.GetPresetType(), PresetData::ParamListPreset);
    std::list<float> values{1.0f};
    EXPECT_TRUE(preset.ReadParamList(values));
    EXPECT_TRUE(values.empty());
    EXPECT_TRUE(filter->LoadSettings(preset));
    EXPECT_FALSE(filter->IsLoadingSettings());
}

TEST(AudioFilterSettings, ParameterFilterRestoresBitIdenticallyFromAFile)
{
    TempDir dir;
    boost::intrusive_ptr<ParameterTestFilter> original(new ParameterTestFilter);
    const auto defaults = testing::RunStereo(*original, 1000);
    original->SetParameter(0, 0.123456789f);
    original->SetParameter(1, -3.0e-7f);
    original->SetParameter(2, 1.0f / 3.0f);
    original->SetParameter(3, -2.5f);
    const auto expected = testing::RunStereo(*original, 1000);
    ASSERT_FALSE(testing::BitIdentical(expected, defaults));

    PropList record = SaveThroughFile(*original, dir.Path() / "project.xml");
    boost::intrusive_ptr<ParameterTestFilter> restored(new ParameterTestFilter);
    int automated = 0;
    restored->GetAutomatedParameterChangeSignal().connect([&automated](int, float) { ++automated; });
    ASSERT_TRUE(restored->LoadSettings(PresetData(record)));
    EXPECT_EQ(automated, ParameterTestFilter::kParameterCount);
    EXPECT_EQ(Parameters(*restored), Parameters(*original));
    EXPECT_TRUE(testing::BitIdentical(testing::RunStereo(*restored, 1000), expected));

    // Every value arrived while the loading flag was up; it is down again afterwards.
    EXPECT_EQ(restored->GetSetWhileLoading(), std::vector<bool>(4, true));
    EXPECT_FALSE(restored->IsLoadingSettings());
}

TEST(AudioFilterSettings, ChunkFilterRestoresBitIdenticallyFromAFile)
{
    TempDir dir;
    boost::intrusive_ptr<ChunkTestFilter> original(new ChunkTestFilter);
    const auto defaults = testing::RunStereo(*original, 1000);
    original->SetParameter(0, 0.0625f);
    original->SetParameter(1, 3.75f);
    original->SetMode(2);
    const auto expected = testing::RunStereo(*original, 1000);
    ASSERT_FALSE(testing::BitIdentical(expected, defaults));

    PropList record = SaveThroughFile(*original, dir.Path() / "chunk.xml");
    PresetData::ChunkBytes bytes;
    ASSERT_TRUE(PresetData(record).GetChunkData(bytes));
    EXPECT_FALSE(record.HasValue("ParamList"));

    boost::intrusive_ptr<ChunkTestFilter> restored(new ChunkTestFilter);
    ASSERT_TRUE(restored->LoadSettings(PresetData(record)));
    EXPECT_EQ(restored->GetMode(), 2);
    EXPECT_TRUE(testing::BitIdentical(testing::RunStereo(*restored, 1000), expected));
}

TEST(AudioFilterSettings, ShortParameterListSetsOnlyTheLeadingParameters)
{
    boost::intrusive_ptr<ParameterTestFilter> filter(new ParameterTestFilter);
    std::vector<std::pair<int, float>> signalled;
    filter->GetAutomatedParameterChangeSignal().connect(
        [&signalled](int index, float value) { signalled.emplace_back(index, value); });
    const auto dirtyBefore = filter->GetParameterDirtyCount();
    PropList list;
    PresetData preset(list);
    preset.SetVersion(1.0f);
    preset.SetParamList({0.1f, 0.2f, 0.3f});
    ASSERT_TRUE(filter->LoadSettings(preset));
    EXPECT_EQ(signalled, (std::vector<std::pair<int, float>>{{0, 0.1f}, {1, 0.2f}, {2, 0.3f}}));
    EXPECT_EQ(filter->GetParameter(3), 1.0f);
    EXPECT_EQ(filter->GetParameterDirtyCount(), dirtyBefore + 3);
}

TEST(AudioFilterSettings, DamagedParameterRecordsChangeNothing)
{
    const float nan = std::numeric_limits<float>::quiet_NaN();
    struct Case {
        const char* name;
        std::function<void(PropList&)> damage;
        const char* trace;
    };
    const std::vector<Case> cases = {
        {"newer version", [](PropList& l) { l.SetValue("Version", 2.0f); }, "record version 2, expected 1"},
        {"no version", [](PropList& l) { l.RemoveValue("Version"); }, "record version 0, expected 1"},
        {"version as text", [](PropList& l) { l.SetValue("Version", UTF8String("1")); }, "record version 0"},
        {"unknown type", [](PropList& l) { l.SetValue("Type", std::int32_t{7}); }, "unknown record type 7"},
        {"chunk type", [](PropList& l) { l.SetValue("Type", std::int32_t{1}); }, "chunk record for a filter"},
        {"custom type", [](PropList& l) { l.SetValue("Type", std::int32_t{3}); }, nullptr},
        {"list too long", [](PropList& l) { l.SetValue("ParamList", std::list<float>(5, 0.0f)); },
         "5 values for 4 parameters"},
        {"huge list", [](PropList& l) { l.SetValue("ParamList", std::list<float>(100000, 0.0f)); },
         "100000 values for 4 parameters"},
        {"NaN value", [nan](PropList& l) { l.SetValue("ParamList", std::list<float>{0.0f, nan}); }, "non-finite"},
        {"infinite value",
         [](PropList& l) { l.SetValue("ParamList", std::list<float>{std::numeric_limits<float>::infinity()}); },
         "non-finite"},
        {"everything missing", [](PropList& l) { l.Clear(); }, "record version 0"},
    };
    for (const auto& c : cases) {
        boost::intrusive_ptr<ParameterTestFilter> filter(new ParameterTestFilter);
        filter->SetParameter(0, 0.75f);
        const auto before = Parameters(*filter);
        const auto dirtyBefore = filter->GetParameterDirtyCount();
        int automated = 0;
        filter->GetAutomatedParameterChangeSignal().connect([&automated](int, float) { ++automated; });

        PropList list;
        PresetData preset(list);
        preset.SetVersion(1.0f);
        preset.SetPresetType(PresetData::ParamListPreset);
        preset.SetParamList({0.1f, 0.2f});
        c.damage(list);

        TraceCapture trace;
        EXPECT_FALSE(filter->LoadSettings(preset)) << c.name;
        EXPECT_EQ(Parameters(*filter), before) << c.name;
        EXPECT_EQ(filter->GetParameterDirtyCount(), dirtyBefore) << c.name;
        EXPECT_EQ(automated, 0) << c.name;
        EXPECT_FALSE(filter->IsLoadingSettings()) << c.name;
        if (c.trace) {
            EXPECT_TRUE(trace.Contains(c.trace)) << c.name;
            EXPECT_TRUE(trace.Contains("test.presets.parameters")) << c.name;
        }
    }
}

TEST(AudioFilterSettings, MissingOrUnreadableParameterListsLoadNothing)
{
    const std::vector<std::function<void(PropList&)>> damages = {
        [](PropList& l) { l.RemoveValue("ParamList"); },
        [](PropList& l) { l.SetValue("ParamList", UTF8String("0.1 0.2")); },
        [](PropList& l) { l.CreateChild("ParamList"); },
        [](PropList& l) { l.SetValue("Type", UTF8String("0")); l.RemoveValue("ParamList"); },
    };
    for (std::size_t i = 0; i < damages.size(); ++i) {
        boost::intrusive_ptr<ParameterTestFilter> filter(new ParameterTestFilter);
        filter->SetParameter(0, 0.75f);
        const auto before = Parameters(*filter);
        PropList list;
        PresetData preset(list);
        preset.SetVersion(1.0f);
        preset.SetPresetType(PresetData::ParamListPreset);
        preset.SetParamList({0.1f, 0.2f});
        damages[i](list);
        EXPECT_TRUE(filter->LoadSettings(preset)) << i; // an empty list loads, setting nothing
        EXPECT_EQ(Parameters(*filter), before) << i;
    }
}

TEST(AudioFilterSettings, DamagedChunkRecordsChangeNothing)
{
    const auto validChunk = ChunkTestFilter::MakeChunk(ChunkTestFilter::kMagic, 2, {0.5f, 2.0f}, 1);
    const char otherMagic[8] = {'O', 'T', 'H', 'E', 'R', 'C', 'M', 'P'};
    auto setChunk = [](std::vector<std::uint8_t> bytes) {
        return [bytes](PropList& l) {
            UTF8String text;
            kelcore::proplist::EncodeBinaryDataToUTF8String(bytes, text);
            l.SetValue("ChunkData", text);
        };
    };
    // A chunk record counts as loaded whatever the filter makes of the chunk; the filter keeps its state.
    struct Case {
        const char* name;
        std::function<void(PropList&)> damage;
        bool loads = true;
    };
    const std::vector<Case> cases = {
        {"no chunk", [](PropList& l) { l.RemoveValue("ChunkData"); }},
        {"empty chunk", [](PropList& l) { l.SetValue("ChunkData", UTF8String()); }},
        {"not encoded", [](PropList& l) { l.SetValue("ChunkData", UTF8String("%%%%")); }},
        {"truncated", setChunk({validChunk.begin(), validChunk.begin() + 13})},
        {"header only", setChunk({validChunk.begin(), validChunk.begin() + 12})},
        {"another component", setChunk(ChunkTestFilter::MakeChunk(otherMagic, 2, {0.5f, 2.0f}, 1))},
        {"absurd count", setChunk(ChunkTestFilter::MakeChunk(ChunkTestFilter::kMagic, 0x7FFFFFFF, {0.5f, 2.0f}, 1))},
        {"bad mode", setChunk(ChunkTestFilter::MakeChunk(ChunkTestFilter::kMagic, 2, {0.5f, 2.0f}, 9))},
        {"parameter record", [](PropList& l) { l.SetValue("Type", std::int32_t{0}); }, false},
        {"older version", [](PropList& l) { l.SetValue("Version", 0.5f); }, false},
    };
    for (const auto& c : cases) {
        boost::intrusive_ptr<ChunkTestFilter> filter(new ChunkTestFilter);
        filter->SetParameter(0, 0.125f);
        const auto before = testing::RunStereo(*filter, 300);

        PropList list;
        PresetData preset(list);
        preset.SetVersion(1.0f);
        preset.SetPresetType(PresetData::ChunkPreset);
        preset.SetChunkData(validChunk.data(), static_cast<unsigned int>(validChunk.size()));
        c.damage(list);

        TraceCapture trace;
        EXPECT_EQ(filter->LoadSettings(preset), c.loads) << c.name;
        EXPECT_FALSE(filter->IsLoadingSettings()) << c.name;
        EXPECT_EQ(filter->GetMode(), 0) << c.name;
        EXPECT_TRUE(testing::BitIdentical(testing::RunStereo(*filter, 300), before)) << c.name;
        EXPECT_TRUE(trace.Contains("AudioFilter::LoadSettings")) << c.name;
    }
}

TEST(AudioFilterSettings, FactoryPresetsAreListedAndAppliedByName)
{
    boost::intrusive_ptr<ParameterTestFilter> filter(new ParameterTestFilter);
    filter->SetFactoryNames({u"Warm", u"", u"Bright", u"Warm"});

    PropList storage;
    PresetList list(storage);
    ASSERT_TRUE(list.AppendPreset(u"Old"));
    filter->GetFactoryDefaultPresets(list);
    std::set<UTF16String> names;
    list.GetPresetNames(names);
    EXPECT_EQ(names, (std::set<UTF16String>{u"Bright", u"Warm"}));
    auto warm = list.GetPreset(u"Warm");
    ASSERT_TRUE(warm);
    EXPECT_EQ(warm->GetPresetType(), PresetData::FactoryReferencePreset);
    EXPECT_EQ(warm->GetVersion(), 1.0f);
    EXPECT_EQ(warm->GetFactoryPresetName(), u"Warm");

    // A name that occurs twice applies both programs, in ascending order.
    EXPECT_TRUE(filter->LoadSettings(*warm));
    EXPECT_EQ(filter->GetAppliedFactoryPresets(), (std::vector<int>{0, 3}));

    PropList missingList;
    PresetData missing(missingList);
    missing.SetVersion(1.0f);
    missing.SetPresetType(PresetData::FactoryReferencePreset);
    missing.SetFactoryPresetName(u"warm");
    TraceCapture trace;
    EXPECT_FALSE(filter->LoadSettings(missing));
    EXPECT_TRUE(trace.Contains("no factory program \"warm\""));
    missingList.RemoveValue("FactoryPreset");
    EXPECT_FALSE(filter->LoadSettings(missing));
    EXPECT_EQ(filter->GetAppliedFactoryPresets(), (std::vector<int>{0, 3}));
}

} // namespace
} // namespace kelaudiofilterhost
