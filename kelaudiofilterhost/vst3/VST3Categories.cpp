// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/vst3/VST3Categories.h"

#include <array>

namespace kelaudiofilterhost::vst3 {
namespace {

struct CategoryRow {
    std::string_view text;
    ComponentCategory category;
};

// Every "Fx|" row precedes plain "Fx", so any other effect class is filed as an effect;
// "Fx|Instrument" is an effect because "Fx" is searched before "Instrument".
constexpr std::array<CategoryRow, 17> kCategoryRows{{
    {"Fx|Analyzer", Vst3Analyzer},
    {"Fx|Delay", Vst3Delay},
    {"Fx|Reverb", Vst3Reverb},
    {"Fx|Dynamics", Vst3Dynamics},
    {"Fx|Mastering", Vst3Mastering},
    {"Fx|Restoration", Vst3Restoration},
    {"Fx|Generator", Vst3Generator},
    {"Fx|Spatial", Vst3Spatial},
    {"Fx|Distortion", Vst3Distortion},
    {"Fx|EQ", Vst3EQ},
    {"Fx|Filter", Vst3Filter},
    {"Fx|Modulation", Vst3Modulation},
    {"Fx|Pitch Shift", Vst3PitchShift},
    {"Fx|Surround", Vst3Surround},
    {"Fx|Tools", Vst3Tools},
    {"Fx", Effect},
    {"Instrument", Vst3Instrument},
}};

} // namespace

VST3Category CategoryFromSubCategories(std::string_view subCategories)
{
    for (const CategoryRow& row : kCategoryRows) {
        if (subCategories.find(row.text) != std::string_view::npos)
            return {row.category, row.category == Vst3Instrument};
    }
    return {};
}

} // namespace kelaudiofilterhost::vst3
