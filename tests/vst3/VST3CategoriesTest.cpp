// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/vst3/VST3Categories.h"

#include <gtest/gtest.h>

namespace kelaudiofilterhost::vst3 {
namespace {

TEST(VST3Categories, EachSubCategoryRowFilesItsClass)
{
    const struct {
        const char* subCategories;
        ComponentCategory category;
    } rows[] = {
        {"Fx|Analyzer", Vst3Analyzer},   {"Fx|Delay", Vst3Delay},
        {"Fx|Reverb", Vst3Reverb},       {"Fx|Dynamics", Vst3Dynamics},
        {"Fx|Mastering", Vst3Mastering}, {"Fx|Restoration", Vst3Restoration},
        {"Fx|Generator", Vst3Generator}, {"Fx|Spatial", Vst3Spatial},
        {"Fx|Distortion", Vst3Distortion}, {"Fx|EQ", Vst3EQ},
        {"Fx|Filter", Vst3Filter},       {"Fx|Modulation", Vst3Modulation},
        {"Fx|Pitch Shift", Vst3PitchShift}, {"Fx|Surround", Vst3Surround},
        {"Fx|Tools", Vst3Tools},         {"Fx", Effect},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(CategoryFromSubCategories(row.subCategories), (VST3Category{row.category, false}))
            << row.subCategories;
    }
    EXPECT_EQ(CategoryFromSubCategories("Instrument"), (VST3Category{Vst3Instrument, true}));
}

TEST(VST3Categories, TableOrderDecidesNotTextOrder)
{
    const struct {
        const char* subCategories;
        VST3Category expected;
    } cases[] = {
        {"Fx|Delay|Fx|Analyzer", {Vst3Analyzer, false}},
        {"Fx|Dynamics|Fx|Reverb", {Vst3Reverb, false}},
        {"Fx|Tools|Fx|Surround", {Vst3Surround, false}},
        {"Fx|Reverb|Spatial", {Vst3Reverb, false}},
        {"Fx|Spatial|Reverb", {Vst3Spatial, false}},   // "Reverb" alone is no row
        {"Stereo|Fx|Delay", {Vst3Delay, false}},       // found anywhere in the text
        {"Fx|EQualizer", {Vst3EQ, false}},             // a substring is enough
        {"Fx|Pitch", {Effect, false}},
        {"Fx|Instrument", {Effect, false}},            // an effect first: no synth flag
        {"Instrument|Fx", {Effect, false}},
        {"Instrument|Synth", {Vst3Instrument, true}},
        {"Instrument|Sampler", {Vst3Instrument, true}},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(CategoryFromSubCategories(c.subCategories), c.expected) << c.subCategories;
    }
}

TEST(VST3Categories, NoRowFoundIsUncategorized)
{
    for (const char* text : {"", "Spatial", "Synth", "fx|delay", "FX", "instrument", "F x|Delay"}) {
        EXPECT_EQ(CategoryFromSubCategories(text), (VST3Category{Uncategorized, false})) << text;
    }
}

} // namespace
} // namespace kelaudiofilterhost::vst3
