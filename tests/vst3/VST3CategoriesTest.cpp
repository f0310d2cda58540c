// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/vst3/VST3Categories.h"

#include <gtest/gtest.h>

namespace kelaudiofilterhost::vst3 {
namespace {

// Every row of the table files its class; the first row the text holds anywhere decides, in table order.
TEST(VST3Categories, TheFirstTableRowFoundInTheTextFilesTheClass)
{
    const struct {
        const char* subCategories;
        ComponentCategory category;
        bool synth = false;
    } rows[] = {
        {"Fx|Analyzer", Vst3Analyzer},   {"Fx|Delay", Vst3Delay},         {"Fx|Reverb", Vst3Reverb},
        {"Fx|Dynamics", Vst3Dynamics},   {"Fx|Mastering", Vst3Mastering}, {"Fx|Restoration", Vst3Restoration},
        {"Fx|Generator", Vst3Generator}, {"Fx|Spatial", Vst3Spatial},     {"Fx|Distortion", Vst3Distortion},
        {"Fx|EQ", Vst3EQ},               {"Fx|Filter", Vst3Filter},       {"Fx|Modulation", Vst3Modulation},
        {"Fx|Pitch Shift", Vst3PitchShift}, {"Fx|Surround", Vst3Surround}, {"Fx|Tools", Vst3Tools},
        {"Fx", Effect},                  {"Instrument", Vst3Instrument, true},
        {"Fx|Delay|Fx|Analyzer", Vst3Analyzer},
        {"Fx|Dynamics|Fx|Reverb", Vst3Reverb},
        {"Fx|Tools|Fx|Surround", Vst3Surround},
        {"Fx|Reverb|Spatial", Vst3Reverb},
        {"Fx|Spatial|Reverb", Vst3Spatial}, // "Reverb" alone is no row
        {"Stereo|Fx|Delay", Vst3Delay},     // found anywhere in the text
        {"Fx|EQualizer", Vst3EQ},           // a substring is enough
        {"Fx|Pitch", Effect},
        {"Fx|Instrument", Effect}, // an effect first: no synth flag
        {"Instrument|Fx", Effect},
        {"Instrument|Sampler", Vst3Instrument, true},
        // No row found.
        {"", Uncategorized}, {"Spatial", Uncategorized}, {"Synth", Uncategorized}, {"fx|delay", Uncategorized},
        {"FX", Uncategorized}, {"instrument", Uncategorized}, {"F x|Delay", Uncategorized},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(CategoryFromSubCategories(row.subCategories), (VST3Category{row.category, row.synth}))
            << row.subCategories;
    }
}

} // namespace
} // namespace kelaudiofilterhost::vst3
