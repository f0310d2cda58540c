// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/services/ChannelLayouts.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

using namespace kelmediatypes;

namespace {

std::string Names(const ChannelLayout& layout)
{
    std::string text;
    for (const auto& channel : layout) {
        text += (text.empty() ? "" : " ") + std::string(GetChannelRoleName(channel));
    }
    return text;
}
} // namespace

TEST(ChannelLayouts, EveryFactoryIsStableWithItsCountOfDistinctAssignedChannels)
{
    const std::pair<ChannelLayout (*)(), std::size_t> factories[] = {
        {CreateMonoChannelLayout, 1}, {CreateStereoChannelLayout, 2}, {CreateBroadcast51ChannelLayout, 6},
        {Create7_1ChannelLayout, 8}, {Create7_1ItuChannelLayout, 8}, {CreateQuadraphonicChannelLayout, 4},
        {CreateCubeChannelLayout, 8}, {CreateAmbisonicsBFormatChannelLayout, 4}, {CreateVST10_2ChannelLayout, 12},
        {CreateVST10_2_PlusChannelLayout, 14}, {Create_VST_7_1_Cine_Center_High_Layout, 8},
        {Create_VST_7_1_Cine_Front_High_Layout, 8}, {Create_VST_7_1_Cine_Side_High_Layout, 8},
        {Create_VST_7_1_Cine_Top_Center_Layout, 8}};
    for (const auto& [factory, size] : factories) {
        const auto layout = factory();
        const std::set<AudioChannelDescription> distinct(layout.begin(), layout.end());
        EXPECT_TRUE(layout == factory() && layout.size() == size && distinct.size() == size
                    && distinct.count(AudioChannelDescription()) == 0)
            << Names(layout);
    }
    EXPECT_NE(Create7_1ChannelLayout(), Create7_1ItuChannelLayout());
}
