// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/framework/AudioFilter.h"

#include "kelaudiofilterhost/services/PropList.h"
#include "tests/support/TestFilters.h"

#include <gtest/gtest.h>

#include <optional>
#include <tuple>

namespace kelaudiofilterhost {
namespace {

using namespace kelaudiofilterhost::testing;
using Bus = AudioFilterBusDescription;
namespace layouts = kelmediatypes;

struct MapChange {
    bool input;
    ChannelMap before;
    ChannelMap after;
    bool operator==(const MapChange&) const = default;
};

TEST(ChannelMap, EditsFireTheSignalWithOldAndNewMaps)
{
    boost::intrusive_ptr<DelayingGainFilter> filter = new DelayingGainFilter({StereoBus()}, {StereoBus()});
    std::vector<MapChange> changes;
    filter->GetChannelMapChangedSignal().connect(
        [&](bool input, ChannelMap before, ChannelMap after) { changes.push_back({input, before, after}); });

    filter->SetChannelMap({{0, 0}, {1, 1}}, true);
    filter->AssignChannelMapping(true, 0, 1);
    filter->RemoveChannelMapping(false, 4);
    filter->AssignChannelMapping(false, 1, 0);
    filter->RemoveChannelMapping(true, 0);
    const std::vector<MapChange> expected{
        {true, {}, {{0, 0}, {1, 1}}},
        {true, {{0, 0}, {1, 1}}, {{0, 1}}}, // key 0 replaced, the old holder of target 1 removed
        {false, {}, {}},                    // fires also when nothing changed
        {false, {}, {{1, 0}}},
        {true, {{0, 1}}, {}},
    };
    EXPECT_EQ(changes, expected);

    // Setting a map to itself keeps it.
    const auto current = filter->GetChannelMap(false);
    filter->SetChannelMap(current, false);
    EXPECT_EQ(filter->GetChannelMap(false), current);
}

TEST(ChannelMap, DefaultMapsCoverTheCommonChannelCount)
{
    struct Case {
        std::vector<Bus> inputs;
        layouts::ChannelLayout main;
        layouts::ChannelLayout sideChain;
        ChannelMap expected;
        bool isDefault;
    } cases[] = {
        {{StereoBus()}, layouts::CreateStereoChannelLayout(), layouts::CreateStereoChannelLayout(), {{0, 0}, {1, 1}}, false},
        {{StereoBus()}, layouts::CreateStereoChannelLayout(), {}, {{0, 0}, {1, 1}}, true},
        {{MonoBus()}, layouts::CreateBroadcast51ChannelLayout(), {}, {{0, 0}}, false},
        {{StereoBus(), MonoBus(Bus::kSideChain)}, layouts::CreateStereoChannelLayout(), layouts::CreateMonoChannelLayout(),
         {{0, 0}, {1, 1}, {2, 2}}, true},
        {{}, layouts::CreateStereoChannelLayout(), {}, {}, true},
    };
    for (const auto& c : cases) {
        boost::intrusive_ptr<DelayingGainFilter> filter = new DelayingGainFilter(c.inputs, {StereoBus()});
        filter->SetChannelMapTargetChannelLayout(c.main);
        filter->SetSideChainTargetBus(Bus(u"", c.sideChain, Bus::kSideChain));
        EXPECT_TRUE(filter->IsChannelMapDefault(true)); // empty
        filter->SetDefaultChannelMap(true);
        EXPECT_EQ(filter->GetChannelMap(true), c.expected);
        EXPECT_EQ(filter->IsChannelMapDefault(true), c.isDefault);
    }
    boost::intrusive_ptr<DelayingGainFilter> filter = new DelayingGainFilter({StereoBus()}, {StereoBus()});
    filter->SetChannelMapTargetChannelLayout(layouts::CreateStereoChannelLayout());
    filter->SetChannelMap({{0, 1}, {1, 0}}, true);
    EXPECT_FALSE(filter->IsChannelMapDefault(true));
}

TEST(ChannelMap, BestFitMatchesChannelRoles)
{
    const layouts::ChannelLayout reversed{layouts::ChannelRole::Right, layouts::ChannelRole::Left};
    struct Case {
        std::vector<Bus> buses;
        layouts::ChannelLayout target;
        ChannelMap expected;
    } cases[] = {
        {{StereoBus()}, reversed, {{0, 1}, {1, 0}}},
        {{StereoBus()}, layouts::CreateBroadcast51ChannelLayout(), {{0, 0}, {1, 1}}},
        {{StereoBus()}, layouts::Create_C_LFE_ChannelLayout(), {{0, 0}, {1, 1}}},   // no role matches: identity
        {{StereoBus()}, layouts::CreateMonoChannelLayout(), {{0, 0}}},
        {{MonoBus()}, layouts::CreateStereoChannelLayout(), {{0, 0}}},
        {{Bus::CreateSurround51(u"", Bus::kMain)}, layouts::Create7_1ItuChannelLayout(),
         {{0, 0}, {1, 1}, {2, 2}, {3, 3}, {4, 4}, {5, 5}}},
        {{Bus::CreateSurround51(u"", Bus::kMain)}, layouts::CreateQuadraphonicChannelLayout(),
         {{0, 0}, {1, 1}, {4, 2}, {5, 3}}},
        {{Bus::CreateSurround71(u"", Bus::kMain)}, layouts::CreateStereoChannelLayout(), {{0, 0}, {1, 1}}},
        // Only the first bus counts; a side-chain bus is never best-fitted.
        {{MonoBus(), StereoBus(Bus::kSideChain)}, layouts::CreateStereoChannelLayout(), {{0, 0}}},
        {{}, layouts::CreateStereoChannelLayout(), {}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(AudioFilter::BuildBestFitChannelMap(c.buses, c.target), c.expected);
    }
}

TEST(ChannelMap, SettingsRoundTripInTheStoredFormat)
{
    boost::intrusive_ptr<DelayingGainFilter> filter = new DelayingGainFilter({StereoBus()}, {StereoBus()});
    filter->SetUseChannelMap(true);
    filter->SetChannelMap({{0, 1}, {1, 0}}, true);
    filter->SetChannelMap({{-2, 5}, {1, 1}}, false);
    kelcore::proplist::PropList settings;
    ASSERT_TRUE(filter->SaveChannelMapSettings(&settings));

    const auto* input = settings.GetChild("InputMapping");
    ASSERT_NE(input, nullptr);
    std::uint32_t count = 0;
    std::int32_t s1 = -1, d1 = -1, s2 = -1, d2 = -1;
    EXPECT_TRUE(input->GetValue("C", count));
    EXPECT_TRUE(input->GetValue("S_1", s1) && input->GetValue("D_1", d1));
    EXPECT_TRUE(input->GetValue("S_2", s2) && input->GetValue("D_2", d2));
    EXPECT_EQ(std::make_tuple(count, s1, d1, s2, d2), std::make_tuple(2u, 0, 1, 1, 0));

    boost::intrusive_ptr<DelayingGainFilter> restored = new DelayingGainFilter({StereoBus()}, {StereoBus()});
    restored->SetUseChannelMap(true);
    int signals = 0;
    restored->GetChannelMapChangedSignal().connect([&](bool, ChannelMap, ChannelMap) { ++signals; });
    ASSERT_TRUE(restored->LoadChannelMapSettings(&settings));
    EXPECT_EQ(restored->GetChannelMap(true), filter->GetChannelMap(true));
    EXPECT_EQ(restored->GetChannelMap(false), filter->GetChannelMap(false));
    EXPECT_EQ(signals, 0);
}

TEST(ChannelMap, DamagedSettingsLoadWhatIsThereAndFail)
{
    using kelcore::proplist::PropList;
    auto mapping = [](std::initializer_list<std::pair<const char*, std::int32_t>> values, bool countUnsigned = true) {
        PropList child;
        for (const auto& [key, value] : values) {
            if (std::string(key) == "C" && countUnsigned) {
                child.SetValue(key, static_cast<std::uint32_t>(value));
            } else {
                child.SetValue(key, value);
            }
        }
        return child;
    };
    const PropList good = mapping({{"C", 1}, {"S_1", 0}, {"D_1", 0}});
    struct Case {
        const char* name;
        std::optional<PropList> input;
        std::optional<PropList> output;
        bool ok;
        ChannelMap expectedInput;
    } cases[] = {
        {"both good", good, good, true, {{0, 0}}},
        {"no input list", std::nullopt, good, false, {{7, 7}}},
        {"no output list", good, std::nullopt, false, {{0, 0}}},
        {"missing count", mapping({{"S_1", 0}, {"D_1", 1}}), good, false, {}},
        {"second entry missing", mapping({{"C", 3}, {"S_1", 0}, {"D_1", 1}, {"D_2", 1}, {"S_3", 2}, {"D_3", 2}}), good,
         false, {{0, 1}}},
        {"wrong value type", [] {
             PropList p;
             p.SetValue("C", std::uint32_t{1});
             p.SetValue("S_1", "zero");
             p.SetValue("D_1", 0);
             return p;
         }(), good, false, {}},
        {"huge count", mapping({{"C", 2147483647}, {"S_1", 1}, {"D_1", 1}}), good, false, {{1, 1}}},
        {"duplicate keys keep the first", mapping({{"C", 2}, {"S_1", 0}, {"D_1", 1}, {"S_2", 0}, {"D_2", 0}}), good,
         true, {{0, 1}}},
    };
    for (const auto& c : cases) {
        boost::intrusive_ptr<DelayingGainFilter> filter = new DelayingGainFilter({StereoBus()}, {StereoBus()});
        filter->SetUseChannelMap(true);
        filter->SetChannelMap({{7, 7}}, true);
        PropList settings;
        if (c.input) {
            *settings.CreateChild("InputMapping") = *c.input;
        }
        if (c.output) {
            *settings.CreateChild("OutputMapping") = *c.output;
        }
        EXPECT_EQ(filter->LoadChannelMapSettings(&settings), c.ok) << c.name;
        EXPECT_EQ(filter->GetChannelMap(true), c.expectedInput) << c.name;
    }
}

} // namespace
} // namespace kelaudiofilterhost
