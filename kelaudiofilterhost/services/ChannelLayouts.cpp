// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/services/ChannelLayouts.h"

#include <iterator>

namespace kelmediatypes {

namespace {
using R = ChannelRole;
} // namespace

ChannelLayout CreateMonoChannelLayout()
{
    return {R::Mono};
}

ChannelLayout CreateStereoChannelLayout()
{
    return {R::Left, R::Right};
}

ChannelLayout CreateBroadcast51ChannelLayout()
{
    return {R::Left, R::Right, R::Center, R::LFE, R::LeftSurround, R::RightSurround};
}

ChannelLayout Create7_1ChannelLayout()
{
    return {R::Left, R::Right, R::Center, R::LFE, R::LeftSurround, R::RightSurround, R::LeftCenter, R::RightCenter};
}

ChannelLayout Create7_1ItuChannelLayout()
{
    return {R::Left, R::Right, R::Center, R::LFE, R::LeftSurround, R::RightSurround, R::LeftSideDirect, R::RightSideDirect};
}

ChannelLayout CreateQuadraphonicChannelLayout()
{
    return {R::Left, R::Right, R::LeftSurround, R::RightSurround};
}

ChannelLayout CreateCubeChannelLayout()
{
    return {R::Left, R::Right, R::LeftSurround, R::RightSurround, R::TopFrontLeft, R::TopFrontRight, R::TopRearLeft, R::TopRearRight};
}

ChannelLayout CreateAmbisonicsBFormatChannelLayout()
{
    return {R::AmbisonicW, R::AmbisonicX, R::AmbisonicY, R::AmbisonicZ};
}

ChannelLayout CreateVST10_2ChannelLayout()
{
    return {R::Left, R::Right, R::Center, R::LFE, R::LeftSurround, R::RightSurround, R::TopFrontLeft, R::TopFrontCenter, R::TopFrontRight, R::TopRearLeft, R::TopRearRight, R::LFE2};
}

ChannelLayout CreateVST10_2_PlusChannelLayout()
{
    return {R::Left, R::Right, R::Center, R::LFE, R::LeftSurround, R::RightSurround, R::LeftCenter, R::RightCenter, R::TopFrontLeft, R::TopFrontCenter, R::TopFrontRight, R::TopRearLeft, R::TopRearRight, R::LFE2};
}

ChannelLayout Create_VST_7_1_Cine_Center_High_Layout()
{
    return {R::Left, R::Right, R::Center, R::LFE, R::LeftSurround, R::RightSurround, R::CenterSurround, R::TopFrontCenter};
}

ChannelLayout Create_VST_7_1_Cine_Front_High_Layout()
{
    return {R::Left, R::Right, R::Center, R::LFE, R::LeftSurround, R::RightSurround, R::TopFrontLeft, R::TopFrontRight};
}

ChannelLayout Create_VST_7_1_Cine_Side_High_Layout()
{
    return {R::Left, R::Right, R::Center, R::LFE, R::LeftSurround, R::RightSurround, R::TopSideLeft, R::TopSideRight};
}

ChannelLayout Create_VST_7_1_Cine_Top_Center_Layout()
{
    return {R::Left, R::Right, R::Center, R::LFE, R::LeftSurround, R::RightSurround, R::CenterSurround, R::TopCenter};
}

ChannelLayout Create_C_LFE_ChannelLayout()
{
    return {R::Center, R::LFE};
}

ChannelLayout Create_Lc_Rc_ChannelLayout()
{
    return {R::LeftCenter, R::RightCenter};
}

ChannelLayout Create_Lsd_Rsd_ChannelLayout()
{
    return {R::LeftSideDirect, R::RightSideDirect};
}

ChannelLayout Create_L_R_C_ChannelLayout()
{
    return {R::Left, R::Right, R::Center};
}

ChannelLayout Create_L_R_Cs_ChannelLayout()
{
    return {R::Left, R::Right, R::CenterSurround};
}

ChannelLayout Create_L_R_C_Cs_ChannelLayout()
{
    return {R::Left, R::Right, R::Center, R::CenterSurround};
}

ChannelLayout Create_L_R_C_LFE_ChannelLayout()
{
    return {R::Left, R::Right, R::Center, R::LFE};
}

ChannelLayout Create_L_R_LFE_Cs_ChannelLayout()
{
    return {R::Left, R::Right, R::LFE, R::CenterSurround};
}

ChannelLayout Create_L_R_C_LFE_Cs_ChannelLayout()
{
    return {R::Left, R::Right, R::Center, R::LFE, R::CenterSurround};
}

ChannelLayout Create_L_R_LFE_Ls_Rs_ChannelLayout()
{
    return {R::Left, R::Right, R::LFE, R::LeftSurround, R::RightSurround};
}

ChannelLayout Create_L_R_C_Ls_Rs_ChannelLayout()
{
    return {R::Left, R::Right, R::Center, R::LeftSurround, R::RightSurround};
}

ChannelLayout Create_L_R_C_Ls_Rs_Cs_ChannelLayout()
{
    return {R::Left, R::Right, R::Center, R::LeftSurround, R::RightSurround, R::CenterSurround};
}

ChannelLayout Create_L_R_C_LFE_Ls_Rs_Cs_ChannelLayout()
{
    return {R::Left, R::Right, R::Center, R::LFE, R::LeftSurround, R::RightSurround, R::CenterSurround};
}

ChannelLayout Create_L_R_C_Ls_Rs_Lc_Rc_ChannelLayout()
{
    return {R::Left, R::Right, R::Center, R::LeftSurround, R::RightSurround, R::LeftCenter, R::RightCenter};
}

ChannelLayout Create_L_R_C_Ls_Rs_Lc_Rc_Cs_ChannelLayout()
{
    return {R::Left, R::Right, R::Center, R::LeftSurround, R::RightSurround, R::LeftCenter, R::RightCenter, R::CenterSurround};
}

ChannelLayout Create_L_R_C_LFE_Ls_Rs_Lc_Rc_Cs_ChannelLayout()
{
    return {R::Left, R::Right, R::Center, R::LFE, R::LeftSurround, R::RightSurround, R::LeftCenter, R::RightCenter, R::CenterSurround};
}

ChannelLayout Create_L_R_Ls_Rs_Lsd_Rsd_ChannelLayout()
{
    return {R::Left, R::Right, R::LeftSurround, R::RightSurround, R::LeftSideDirect, R::RightSideDirect};
}

ChannelLayout Create_L_R_LFE_Ls_Rs_Lsd_Rsd_ChannelLayout()
{
    return {R::Left, R::Right, R::LFE, R::LeftSurround, R::RightSurround, R::LeftSideDirect, R::RightSideDirect};
}

ChannelLayout Create_L_R_C_Ls_Rs_Lsd_Rsd_ChannelLayout()
{
    return {R::Left, R::Right, R::Center, R::LeftSurround, R::RightSurround, R::LeftSideDirect, R::RightSideDirect};
}

ChannelLayout Create_L_R_C_LFE_Ls_Rs_Lsd_Rsd_ChannelLayout()
{
    return {R::Left, R::Right, R::Center, R::LFE, R::LeftSurround, R::RightSurround, R::LeftSideDirect, R::RightSideDirect};
}

ChannelLayout Create_L_R_C_Ls_Rs_Cs_Lsd_Rsd_ChannelLayout()
{
    return {R::Left, R::Right, R::Center, R::LeftSurround, R::RightSurround, R::CenterSurround, R::LeftSideDirect, R::RightSideDirect};
}

ChannelLayout Create_L_R_C_LFE_Ls_Rs_Cs_Lsd_Rsd_ChannelLayout()
{
    return {R::Left, R::Right, R::Center, R::LFE, R::LeftSurround, R::RightSurround, R::CenterSurround, R::LeftSideDirect, R::RightSideDirect};
}

const char* GetChannelRoleName(AudioChannelDescription channel)
{
    static constexpr const char* kNames[] = {"-", "L", "R", "C", "LFE", "Ls", "Rs", "Lc", "Rc", "Cs", "Lsd", "Rsd", "Tc", "Tfl", "Tfc", "Tfr", "Trl", "Trc", "Trr", "LFE2", "M", "W", "X", "Y", "Z", "Tsl", "Tsr", "Lw", "Rw"};
    const auto value = channel.GetValue();
    return value < std::size(kNames) ? kNames[value] : "?";
}

} // namespace kelmediatypes
