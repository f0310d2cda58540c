// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/framework/AudioFilter.h"

#include "kelaudiofilterhost/framework/AudioFilterFactory.h"
#include "tests/support/PresetTestFilters.h"

#include <gtest/gtest.h>

namespace kelaudiofilterhost {
namespace {

using testing::ChunkTestFilter;
using testing::ParameterTestFilter;

const UTF16String kParameterID = u"test.clone.parameters";
const UTF16String kChunkID = u"test.clone.chunk";

kelcore::Guid CloneTestGuid(std::uint16_t n)
{
    return kelcore::Guid(0xC1010E00, n, 0x2000, 1, 2, 3, 4, 5, 6, 7, 8);
}

// The factory is process-wide: announce the test filters and register them once. The initialised
// flag is left down afterwards, so that a later test's Initialize() still registers what it announces.
void RegisterCloneTestFilters()
{
    static const bool registered = [] {
        static AudioFilterRegistrar parameters(
            [] { return new AudioFilterDescriptor(u"Clone parameters", 1, Effect, kParameterID, CloneTestGuid(1), false); },
            [](const UTF16String& id) -> boost::intrusive_ptr<AudioFilter> { return new ParameterTestFilter(id); });
        static AudioFilterRegistrar chunk(
            [] { return new AudioFilterDescriptor(u"Clone chunk", 1, Effect, kChunkID, CloneTestGuid(2), false); },
            [](const UTF16String& id) -> boost::intrusive_ptr<AudioFilter> { return new ChunkTestFilter(id); });
        Terminate();
        Initialize();
        Terminate();
        return true;
    }();
    ASSERT_TRUE(registered);
}

template <typename T> boost::intrusive_ptr<T> As(const boost::intrusive_ptr<AudioFilter>& filter)
{
    return boost::intrusive_ptr<T>(dynamic_cast<T*>(filter.get()));
}

TEST(AudioFilterClone, CopiesStateAndConfigurationButStaysIndependent)
{
    RegisterCloneTestFilters();
    auto original = As<ParameterTestFilter>(utility::CreateAudioFilter(kParameterID));
    ASSERT_TRUE(original);
    original->RequestIOConfiguration({kelmediatypes::CreateMonoChannelLayout()},
                                     {kelmediatypes::CreateMonoChannelLayout()});
    original->SetSampleRate(48000.0f);
    original->SetBlockSize(256);
    original->SetDisplayName(u"Renamed");
    original->SetParameter(0, 0.3f);
    original->SetParameter(1, 0.01f);
    original->SetParameter(2, -1.5f);
    original->SetPresetNameAndDirtyState({u"My preset", true});
    const ChannelMap inputMap{{0, 1}};
    const ChannelMap outputMap{{0, 0}};
    original->SetChannelMap(inputMap, true);
    original->SetChannelMap(outputMap, false);
    original->SetMainTargetBus(testing::StereoBus());
    original->SetSideChainTargetBus(testing::MonoBus(AudioFilterBusDescription::kSideChain));
    original->SetUseChannelMap(true);
    original->Resume();

    auto clone = As<ParameterTestFilter>(original->Clone());
    ASSERT_TRUE(clone);

    EXPECT_EQ(clone->GetComponentID(), kParameterID);
    EXPECT_EQ(clone->GetDisplayName(), u"Parameter test");
    EXPECT_TRUE(clone->IsSuspended());
    EXPECT_EQ(clone->GetBlockSize(), 0);
    EXPECT_EQ(clone->GetSampleRate(), 48000.0f);
    EXPECT_EQ(clone->GetNumberOfInputChannels(), 1u);
    EXPECT_EQ(clone->GetNumberOfOutputChannels(), 1u);
    for (int i = 0; i < ParameterTestFilter::kParameterCount; ++i) {
        EXPECT_EQ(clone->GetParameter(i), original->GetParameter(i)) << i;
    }
    EXPECT_EQ(clone->GetPresetNameAndDirtyState(), original->GetPresetNameAndDirtyState());
    EXPECT_EQ(clone->GetChannelMap(true), inputMap);
    EXPECT_EQ(clone->GetChannelMap(false), outputMap);
    EXPECT_EQ(clone->GetMainTargetBus(), original->GetMainTargetBus());
    EXPECT_EQ(clone->GetSideChainTargetBus(), original->GetSideChainTargetBus());
    EXPECT_TRUE(clone->GetUseChannelMap());

    // Both run the same signal to the same samples through the copied maps: target input 1 feeds the filter.
    original->Suspend();
    original->SetBlockSize(64);
    original->Resume();
    clone->SetBlockSize(64);
    clone->Resume();
    const auto expected = testing::RunMapped(*original, 3, 2, 500, {64, 17});
    EXPECT_TRUE(testing::BitIdentical(testing::RunMapped(*clone, 3, 2, 500, {64, 17}), expected));
    EXPECT_EQ(expected[0][10], (testing::TestSample(1, 10) * 0.3f + 0.01f) * -1.5f);

    // Later changes to either side stay on that side.
    original->SetParameter(0, 0.9f);
    original->SetChannelMap({{0, 0}}, true);
    EXPECT_TRUE(testing::BitIdentical(testing::RunMapped(*clone, 3, 2, 500, {64, 17}), expected));
    clone->SetParameter(2, 4.0f);
    EXPECT_EQ(original->GetParameter(2), -1.5f);
    EXPECT_EQ(clone->GetChannelMap(true), inputMap);
}

TEST(AudioFilterClone, ChunkFilterCloneProcessesIdentically)
{
    RegisterCloneTestFilters();
    auto original = As<ChunkTestFilter>(utility::CreateAudioFilter(kChunkID));
    ASSERT_TRUE(original);
    original->SetParameter(0, 0.01f);
    original->SetParameter(1, 7.0f);
    original->SetMode(1);
    auto clone = As<ChunkTestFilter>(original->Clone());
    ASSERT_TRUE(clone);
    EXPECT_EQ(clone->GetMode(), 1);
    const auto expected = testing::RunStereo(*original, 777);
    EXPECT_TRUE(testing::BitIdentical(testing::RunStereo(*clone, 777), expected));
    original->SetMode(2);
    EXPECT_TRUE(testing::BitIdentical(testing::RunStereo(*clone, 777), expected));
}

TEST(AudioFilterClone, UnknownComponentGivesNull)
{
    RegisterCloneTestFilters();
    boost::intrusive_ptr<AudioFilter> stranger(new ParameterTestFilter(u"test.clone.never-registered"));
    testing::TraceCapture trace;
    EXPECT_FALSE(stranger->Clone());
    EXPECT_TRUE(trace.Contains("\"test.clone.never-registered\": the component cannot be created"));
}

} // namespace
} // namespace kelaudiofilterhost
