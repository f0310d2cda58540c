// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/services/ChannelLayouts.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <string>

namespace kelmediatypes {
namespace {

std::string Names(const ChannelLayout& layout)
{
    std::string text;
    for (const auto& channel : layout) {
        text += (text.empty() ? "" : " ") + std::string(GetChannelRoleName(channel));
    }
    return text;
}

TEST(ChannelLayouts, EveryFactoryIsStableWithDistinctAssignedChannels)
{
    using Factory = ChannelLayout (*)();
    const Factory factories[] = {
        CreateMonoChannelLayout, CreateStereoChannelLayout, CreateBroadcast51ChannelLayout, Create7_1ChannelLayout,
        Create7_1ItuChannelLayout, CreateQuadraphonicChannelLayout, CreateCubeChannelLayout,
        CreateAmbisonicsBFormatChannelLayout, CreateVST10_2ChannelLayout, CreateVST10_2_PlusChannelLayout,
        Create_VST_7_1_Cine_Center_High_Layout, Create_VST_7_1_Cine_Front_High_Layout,
        Create_VST_7_1_Cine_Side_High_Layout, Create_VST_7_1_Cine_Top_Center_Layout};
    for (auto factory : factories) {
        const auto layout = factory();
        EXPECT_EQ(layout, factory());
        std::set<AudioChannelDescription> distinct(layout.begin(), layout.end());
        EXPECT_EQ(distinct.size(), layout.size()) << Names(layout);
        EXPECT_EQ(distinct.count(AudioChannelDescription()), 0u) << Names(layout);
    }
    EXPECT_EQ(CreateBroadcast51ChannelLayout().size(), 6u);
    EXPECT_EQ(CreateVST10_2ChannelLayout().size(), 12u);
    EXPECT_EQ(CreateVST10_2_PlusChannelLayout().size(), 14u);
    EXPECT_NE(Create7_1ChannelLayout(), Create7_1ItuChannelLayout());
}

TEST(ChannelLayouts, NamedFactoriesSpellTheirChannels)
{
    struct Case {
        ChannelLayout layout;
        const char* names;
    } cases[] = {
        {Create_C_LFE_ChannelLayout(), "C LFE"},
        {Create_Lc_Rc_ChannelLayout(), "Lc Rc"},
        {Create_Lsd_Rsd_ChannelLayout(), "Lsd Rsd"},
        {Create_L_R_C_ChannelLayout(), "L R C"},
        {Create_L_R_Cs_ChannelLayout(), "L R Cs"},
        {Create_L_R_C_Cs_ChannelLayout(), "L R C Cs"},
        {Create_L_R_C_LFE_ChannelLayout(), "L R C LFE"},
        {Create_L_R_LFE_Cs_ChannelLayout(), "L R LFE Cs"},
        {Create_L_R_C_LFE_Cs_ChannelLayout(), "L R C LFE Cs"},
        {Create_L_R_LFE_Ls_Rs_ChannelLayout(), "L R LFE Ls Rs"},
        {Create_L_R_C_Ls_Rs_ChannelLayout(), "L R C Ls Rs"},
        {Create_L_R_C_Ls_Rs_Cs_ChannelLayout(), "L R C Ls Rs Cs"},
        {Create_L_R_C_LFE_Ls_Rs_Cs_ChannelLayout(), "L R C LFE Ls Rs Cs"},
        {Create_L_R_C_Ls_Rs_Lc_Rc_ChannelLayout(), "L R C Ls Rs Lc Rc"},
        {Create_L_R_C_Ls_Rs_Lc_Rc_Cs_ChannelLayout(), "L R C Ls Rs Lc Rc Cs"},
        {Create_L_R_C_LFE_Ls_Rs_Lc_Rc_Cs_ChannelLayout(), "L R C LFE Ls Rs Lc Rc Cs"},
        {Create_L_R_Ls_Rs_Lsd_Rsd_ChannelLayout(), "L R Ls Rs Lsd Rsd"},
        {Create_L_R_LFE_Ls_Rs_Lsd_Rsd_ChannelLayout(), "L R LFE Ls Rs Lsd Rsd"},
        {Create_L_R_C_Ls_Rs_Lsd_Rsd_ChannelLayout(), "L R C Ls Rs Lsd Rsd"},
        {Create_L_R_C_LFE_Ls_Rs_Lsd_Rsd_ChannelLayout(), "L R C LFE Ls Rs Lsd Rsd"},
        {Create_L_R_C_Ls_Rs_Cs_Lsd_Rsd_ChannelLayout(), "L R C Ls Rs Cs Lsd Rsd"},
        {Create_L_R_C_LFE_Ls_Rs_Cs_Lsd_Rsd_ChannelLayout(), "L R C LFE Ls Rs Cs Lsd Rsd"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Names(c.layout), c.names);
    }
}

} // namespace
} // namespace kelmediatypes
