// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/framework/AudioFilter.h"

#include "tests/support/TestFilters.h"

#include <gtest/gtest.h>

#include <limits>
#include <tuple>

namespace kelaudiofilterhost {
namespace {

using testing::DelayingGainFilter;
using testing::MonoBus;
using testing::StereoBus;

class RecordingHost : public IAudioFilterHost {
public:
    bool GetTempoAndTimeSignature(int*, int*, int*, HostTempoRecord*) override { return false; }
    bool GetTransportState(bool*, bool*, bool*) override { return false; }
    void HostSpecific() override {}
};

TEST(AudioFilter, NewFilterIsSuspendedAndNeutral)
{
    boost::intrusive_ptr<AudioFilter> filter = new AudioFilter(u"id", u"Name");
    EXPECT_TRUE(filter->IsSuspended());
    EXPECT_EQ(filter->GetSampleRate(), 0.0f);
    EXPECT_EQ(filter->GetBlockSize(), 0);
    EXPECT_EQ(filter->GetNumberOfInputChannels(), 0u);
    EXPECT_EQ(filter->GetNumberOfOutputChannels(), 0u);
    EXPECT_FALSE(filter->CanUseSideChaining());
    EXPECT_EQ(filter->GetMaxProcessingBlockSize(), std::numeric_limits<std::int32_t>::max());
    EXPECT_EQ(filter->GetSideChainTargetBus().GetType(), AudioFilterBusDescription::kSideChain);
    EXPECT_EQ(filter->GetMainTargetBus().GetType(), AudioFilterBusDescription::kMain);
    for (int index : {0, 3, -1, 1000}) {
        EXPECT_EQ(filter->GetParameterString(index), u"0");
    }
}

TEST(AudioFilter, BusesSumChannelsAndEnableSideChaining)
{
    boost::intrusive_ptr<DelayingGainFilter> oneInput = new DelayingGainFilter({StereoBus()}, {StereoBus()});
    EXPECT_FALSE(oneInput->CanUseSideChaining());

    boost::intrusive_ptr<DelayingGainFilter> filter = new DelayingGainFilter(
        {StereoBus(), MonoBus(AudioFilterBusDescription::kSideChain)},
        {AudioFilterBusDescription::CreateSurround51(u"Out", AudioFilterBusDescription::kMain)});
    EXPECT_TRUE(filter->CanUseSideChaining());
    EXPECT_EQ(filter->GetNumberOfInputChannels(), 3u);
    EXPECT_EQ(filter->GetNumberOfOutputChannels(), 6u);

    std::vector<AudioFilterBusDescription> inputs{MonoBus()};
    std::vector<AudioFilterBusDescription> outputs{MonoBus(), MonoBus()};
    filter->GetBusConfiguration(inputs, outputs);
    EXPECT_EQ(inputs, filter->GetInputBuses());
    EXPECT_EQ(outputs, filter->GetOutputBuses());
}

TEST(AudioFilter, WholeLifeOfAnInternalFilter)
{
    RecordingHost host;
    boost::intrusive_ptr<DelayingGainFilter> filter = new DelayingGainFilter({StereoBus()}, {StereoBus()});
    std::vector<bool> suspendedStates;
    filter->GetSuspendedStateChangedSignal().connect([&](bool suspended) {
        // The flag has changed before the signal fires.
        EXPECT_EQ(filter->IsSuspended(), suspended);
        suspendedStates.push_back(suspended);
    });

    filter->SetAudioFilterHost(&host);
    filter->SetSampleRate(48000.0f);
    filter->SetBlockSize(64);
    EXPECT_EQ(filter->GetAudioFilterHost(), &host);
    filter->SetParameter(0, 0.5f);
    filter->Resume();
    EXPECT_FALSE(filter->IsSuspended());

    std::vector<float> left(64, 1.0f), right(64, -2.0f), outLeft(64), outRight(64);
    float* in[] = {left.data(), right.data()};
    float* out[] = {outLeft.data(), outRight.data()};
    filter->Process(in, out, 64);
    EXPECT_EQ(outLeft[10], 0.5f);
    EXPECT_EQ(outRight[63], -1.0f);

    filter->Suspend();
    filter->Suspend();
    EXPECT_TRUE(filter->IsSuspended());
    EXPECT_EQ(suspendedStates, (std::vector<bool>{false, true, true}));
}

TEST(AudioFilter, ParameterChangesBumpDirtyCountAndFireSignals)
{
    boost::intrusive_ptr<AudioFilter> filter = new AudioFilter(u"id", u"Name");
    std::vector<std::pair<int, float>> automated;
    std::vector<std::pair<int, bool>> editing;
    filter->GetAutomatedParameterChangeSignal().connect([&](int i, float v) { automated.emplace_back(i, v); });
    filter->GetEditingStateChangeSignal().connect([&](int i, bool e) { editing.emplace_back(i, e); });

    const auto before = filter->GetParameterDirtyCount();
    filter->SetParameterAutomated(3, 0.25f);
    EXPECT_EQ(filter->GetParameterDirtyCount(), before + 1);
    EXPECT_EQ(automated, (std::vector<std::pair<int, float>>{{3, 0.25f}}));

    filter->SetParameter(1, 0.0f);
    filter->BumpParameterDirtyCount();
    EXPECT_EQ(filter->GetParameterDirtyCount(), before + 3);
    EXPECT_EQ(automated.size(), 1u);

    filter->BeginEditing(7);
    filter->EndEditing(7);
    EXPECT_EQ(editing, (std::vector<std::pair<int, bool>>{{7, true}, {7, false}}));
}

TEST(AudioFilter, DerivedSetParameterRunsUnderAutomation)
{
    boost::intrusive_ptr<DelayingGainFilter> filter = new DelayingGainFilter({MonoBus()}, {MonoBus()});
    filter->SetParameterAutomated(0, 0.125f);
    EXPECT_EQ(filter->GetParameter(0), 0.125f);
    EXPECT_EQ(filter->GetParameterString(0), u"0.125");
    filter->SetParameter(0, 0.1234567f);
    EXPECT_EQ(filter->GetParameterString(0), u"0.123457");
    filter->SetParameter(0, 1.0f);
    EXPECT_EQ(filter->GetParameterString(0), u"1");
}

TEST(AudioFilter, TargetBusChangesFireTargetFormatSignal)
{
    boost::intrusive_ptr<AudioFilter> filter = new AudioFilter(u"id", u"Name");
    int fired = 0;
    filter->GetTargetFormatChangedSignal().connect([&] { ++fired; });
    filter->SetChannelMapTargetChannelLayout(kelmediatypes::CreateBroadcast51ChannelLayout());
    filter->SetMainTargetBus(StereoBus());
    filter->SetSideChainTargetBus(MonoBus(AudioFilterBusDescription::kSideChain));
    EXPECT_EQ(fired, 3);
    EXPECT_EQ(filter->GetChannelMapTargetChannelLayout(), kelmediatypes::CreateStereoChannelLayout());
    EXPECT_EQ(filter->GetSideChainTargetBusChannelCount(), 1u);
}

TEST(AudioFilter, LoadingSettingsFlagFollowsStartAndFinish)
{
    boost::intrusive_ptr<AudioFilter> filter = new AudioFilter(u"id", u"Name");
    filter->StartLoadingSettings();
    EXPECT_TRUE(filter->IsLoadingSettings());
    filter->FinishLoadingSettings(false);
    EXPECT_FALSE(filter->IsLoadingSettings());
}

TEST(AudioFilter, DestructionDisconnectsSlotsAndFreesTheFilter)
{
    boost::signals2::connection connection;
    {
        boost::intrusive_ptr<AudioFilter> filter = new AudioFilter(u"id", u"Name");
        connection = filter->GetPresetChangedSignal().connect([] {});
        boost::intrusive_ptr<AudioFilter> second = filter;
        EXPECT_EQ(filter->GetRefCount(), 2);
        EXPECT_TRUE(connection.connected());
    }
    EXPECT_FALSE(connection.connected());
}

} // namespace
} // namespace kelaudiofilterhost
