// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/framework/AudioFilterBusDescription.h"

#include <gtest/gtest.h>

namespace kelaudiofilterhost {
namespace {

using Bus = AudioFilterBusDescription;
using kelmediatypes::ChannelRole;

TEST(AudioFilterBusDescription, EqualityNeedsNameLayoutAndType)
{
    EXPECT_EQ(Bus(), Bus());
    EXPECT_EQ(Bus().GetChannelCount(), 0u);
    const Bus a = Bus::CreateStereo(u"A", Bus::kMain);
    EXPECT_NE(a, Bus::CreateStereo(u"B", Bus::kMain));
    EXPECT_NE(a, Bus::CreateStereo(u"A", Bus::kSideChain));
    EXPECT_NE(a, Bus(u"A", {ChannelRole::Right, ChannelRole::Left}, Bus::kMain));
    Bus copy;
    copy = a;
    EXPECT_EQ(copy, a);
}

TEST(AudioFilterBusDescription, EquivalenceIgnoresNameAndType)
{
    const Bus stereo = Bus::CreateStereo(u"A", Bus::kMain);
    const Bus otherName = Bus::CreateStereo(u"B", Bus::kSideChain);
    const Bus swapped(u"A", {ChannelRole::Right, ChannelRole::Left}, Bus::kMain);
    const Bus mono = Bus::CreateMono(u"A", Bus::kMain);
    struct Case {
        const Bus& a;
        const Bus& b;
        bool compareLayouts;
        bool equivalent;
    } cases[] = {
        {stereo, otherName, true, true}, {stereo, otherName, false, true}, {stereo, swapped, false, true},
        {stereo, swapped, true, false},  {stereo, mono, false, false},     {stereo, mono, true, false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(c.a.IsEquivalent(c.b, c.compareLayouts), c.equivalent);
        EXPECT_EQ(c.b.IsEquivalent(c.a, c.compareLayouts), c.equivalent);
    }
}

TEST(AudioFilterBusDescription, VectorsAreComparedPositionByPosition)
{
    const Bus stereo = Bus::CreateStereo(u"S", Bus::kMain);
    const Bus mono = Bus::CreateMono(u"M", Bus::kMain);
    EXPECT_TRUE(AreAudioFilterBusDescriptionsEquivalent({}, {}, true));
    EXPECT_FALSE(AreAudioFilterBusDescriptionsEquivalent({stereo}, {}, false));
    EXPECT_TRUE(AreAudioFilterBusDescriptionsEquivalent({stereo, mono}, {stereo, mono}, true));
    EXPECT_FALSE(AreAudioFilterBusDescriptionsEquivalent({stereo, mono}, {mono, stereo}, false));
}

TEST(AudioFilterBusDescription, FactoriesUseTheStandardLayouts)
{
    EXPECT_EQ(Bus::CreateSurround51(u"", Bus::kMain).GetLayout(), kelmediatypes::CreateBroadcast51ChannelLayout());
    EXPECT_EQ(Bus::CreateSurround51(u"", Bus::kMain).GetChannelCount(), 6u);
    EXPECT_EQ(Bus::CreateSurround71(u"", Bus::kMain).GetChannelCount(), 8u);
    EXPECT_EQ(Bus::CreateMono(u"", Bus::kSideChain).GetType(), Bus::kSideChain);
}

} // namespace
} // namespace kelaudiofilterhost
