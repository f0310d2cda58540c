// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <vector>

namespace kelmediatypes {

/// The role of one channel. The numbering is this library's own and stays stable: it is stored
/// nowhere but compared everywhere.
enum class ChannelRole : std::uint32_t {
    Unassigned = 0,
    Left,
    Right,
    Center,
    LFE,
    LeftSurround,
    RightSurround,
    LeftCenter,
    RightCenter,
    CenterSurround,
    LeftSideDirect,
    RightSideDirect,
    TopCenter,
    TopFrontLeft,
    TopFrontCenter,
    TopFrontRight,
    TopRearLeft,
    TopRearCenter,
    TopRearRight,
    LFE2,
    Mono,
    AmbisonicW,
    AmbisonicX,
    AmbisonicY,
    AmbisonicZ,
    TopSideLeft,
    TopSideRight,
    LeftWide,
    RightWide,
};

/// One channel of a layout: a 32-bit role value; 0 is an unassigned channel.
class AudioChannelDescription {
public:
    constexpr AudioChannelDescription() = default;
    constexpr AudioChannelDescription(ChannelRole role) : mValue(static_cast<std::uint32_t>(role)) {}
    constexpr explicit AudioChannelDescription(std::uint32_t value) : mValue(value) {}

    constexpr std::uint32_t GetValue() const { return mValue; }
    constexpr ChannelRole GetRole() const { return static_cast<ChannelRole>(mValue); }
    constexpr bool IsAssigned() const { return mValue != 0; }

    constexpr bool operator==(const AudioChannelDescription&) const = default;
    constexpr auto operator<=>(const AudioChannelDescription&) const = default;

private:
    std::uint32_t mValue = 0;
};

using ChannelLayout = std::vector<AudioChannelDescription>;

ChannelLayout CreateMonoChannelLayout();
ChannelLayout CreateStereoChannelLayout();
/// L R C LFE Ls Rs.
ChannelLayout CreateBroadcast51ChannelLayout();
/// L R C LFE Ls Rs Lc Rc.
ChannelLayout Create7_1ChannelLayout();
/// L R C LFE Ls Rs Lsd Rsd.
ChannelLayout Create7_1ItuChannelLayout();
/// L R Ls Rs.
ChannelLayout CreateQuadraphonicChannelLayout();
/// L R Ls Rs, then the four top corners (front left, front right, rear left, rear right).
ChannelLayout CreateCubeChannelLayout();
/// W X Y Z.
ChannelLayout CreateAmbisonicsBFormatChannelLayout();
/// L R C LFE Ls Rs Tfl Tfc Tfr Trl Trr LFE2.
ChannelLayout CreateVST10_2ChannelLayout();
/// L R C LFE Ls Rs Lc Rc Tfl Tfc Tfr Trl Trr LFE2.
ChannelLayout CreateVST10_2_PlusChannelLayout();
/// L R C LFE Ls Rs Cs Tfc.
ChannelLayout Create_VST_7_1_Cine_Center_High_Layout();
/// L R C LFE Ls Rs Tfl Tfr.
ChannelLayout Create_VST_7_1_Cine_Front_High_Layout();
/// L R C LFE Ls Rs Tsl Tsr.
ChannelLayout Create_VST_7_1_Cine_Side_High_Layout();
/// L R C LFE Ls Rs Cs Tc.
ChannelLayout Create_VST_7_1_Cine_Top_Center_Layout();

ChannelLayout Create_C_LFE_ChannelLayout();
ChannelLayout Create_Lc_Rc_ChannelLayout();
ChannelLayout Create_Lsd_Rsd_ChannelLayout();
ChannelLayout Create_L_R_C_ChannelLayout();
ChannelLayout Create_L_R_Cs_ChannelLayout();
ChannelLayout Create_L_R_C_Cs_ChannelLayout();
ChannelLayout Create_L_R_C_LFE_ChannelLayout();
ChannelLayout Create_L_R_LFE_Cs_ChannelLayout();
ChannelLayout Create_L_R_C_LFE_Cs_ChannelLayout();
ChannelLayout Create_L_R_LFE_Ls_Rs_ChannelLayout();
ChannelLayout Create_L_R_C_Ls_Rs_ChannelLayout();
ChannelLayout Create_L_R_C_Ls_Rs_Cs_ChannelLayout();
ChannelLayout Create_L_R_C_LFE_Ls_Rs_Cs_ChannelLayout();
ChannelLayout Create_L_R_C_Ls_Rs_Lc_Rc_ChannelLayout();
ChannelLayout Create_L_R_C_Ls_Rs_Lc_Rc_Cs_ChannelLayout();
ChannelLayout Create_L_R_C_LFE_Ls_Rs_Lc_Rc_Cs_ChannelLayout();
ChannelLayout Create_L_R_Ls_Rs_Lsd_Rsd_ChannelLayout();
ChannelLayout Create_L_R_LFE_Ls_Rs_Lsd_Rsd_ChannelLayout();
ChannelLayout Create_L_R_C_Ls_Rs_Lsd_Rsd_ChannelLayout();
ChannelLayout Create_L_R_C_LFE_Ls_Rs_Lsd_Rsd_ChannelLayout();
ChannelLayout Create_L_R_C_Ls_Rs_Cs_Lsd_Rsd_ChannelLayout();
ChannelLayout Create_L_R_C_LFE_Ls_Rs_Cs_Lsd_Rsd_ChannelLayout();

/// Short text of a role ("L", "R", "C", "LFE", "Ls" ...); "?" for an unknown value.
const char* GetChannelRoleName(AudioChannelDescription channel);

} // namespace kelmediatypes
