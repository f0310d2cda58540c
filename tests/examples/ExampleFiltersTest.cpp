// SPDX-License-Identifier: GPL-3.0-or-later
#include "examples/ExampleFilters.h"

#include "kelaudiofilterhost/framework/AudioFilter.h"
#include "kelaudiofilterhost/framework/AudioFilterFactory.h"
#include "tests/support/MappedRunner.h"

#include <gtest/gtest.h>

#include <cmath>

namespace kelaudiofilterhost {
namespace {

using namespace kelaudiofilterhost::testing;

boost::intrusive_ptr<AudioFilter> Create(const UTF16String& id)
{
    examples::RegisterExampleFilters();
    Initialize();
    return utility::CreateAudioFilter(id);
}

TEST(ExampleFilters, GainAppliesDecibelsOnAnyMatchingLayout)
{
    auto gain = Create(examples::kGainFilterID);
    ASSERT_TRUE(gain);
    gain->RequestIOConfiguration({kelmediatypes::CreateBroadcast51ChannelLayout()},
                                 {kelmediatypes::CreateBroadcast51ChannelLayout()});
    EXPECT_EQ(gain->GetNumberOfInputChannels(), 6u);
    gain->RequestIOConfiguration({kelmediatypes::CreateMonoChannelLayout()}, {kelmediatypes::CreateStereoChannelLayout()});
    EXPECT_EQ(gain->GetNumberOfInputChannels(), 6u); // refused: unequal channels

    // Parameters are set normalized; the parameter info converts decibels.
    const auto info = gain->GetParameterInfo(0);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->GetName(), u"Gain");
    EXPECT_EQ(info->GetLabel(), u"dB");
    gain->SetParameter(0, info->PlainToNormalized(-6.0f));
    EXPECT_EQ(gain->GetParameterString(0), u"-6 dB");
    gain->SetParameter(0, 1000.0f);
    EXPECT_EQ(gain->GetParameter(0), 1.0f);
    EXPECT_EQ(info->NormalizedToPlain(gain->GetParameter(0)), 24.0f);
    gain->SetParameter(0, info->PlainToNormalized(20.0f));
    gain->SetBlockSize(32);
    gain->Resume();
    std::vector<std::vector<float>> in(6, std::vector<float>(32, 0.5f)), out(6, std::vector<float>(32));
    std::vector<float*> inPointers, outPointers;
    for (int c = 0; c < 6; ++c) {
        inPointers.push_back(in[c].data());
        outPointers.push_back(out[c].data());
    }
    gain->Process(inPointers.data(), outPointers.data(), 32);
    EXPECT_FLOAT_EQ(out[5][31], 5.0f);
    gain->SetParameter(0, info->PlainToNormalized(-96.0f));
    gain->Process(inPointers.data(), outPointers.data(), 32);
    EXPECT_EQ(out[0][0], 0.0f);
}

TEST(ExampleFilters, DelayReportsItsLatencyAndStaysAlignedInAMix)
{
    auto delay = Create(examples::kDelayFilterID);
    ASSERT_TRUE(delay);
    delay->SetSampleRate(1000.0f);
    delay->SetParameter(0, delay->GetParameterInfo(0)->PlainToNormalized(37.0f)); // 37 frames at 1 kHz
    EXPECT_EQ(delay->GetInitialDelay(), 37);
    delay->SetUseChannelMap(true);
    delay->SetChannelMapTargetChannelLayout(kelmediatypes::Create7_1ChannelLayout());
    delay->SetChannelMap(AudioFilter::BuildBestFitChannelMap(delay->GetInputBuses(),
                                                             kelmediatypes::Create7_1ChannelLayout()), true);
    delay->SetChannelMap(AudioFilter::BuildBestFitChannelMap(delay->GetOutputBuses(),
                                                             kelmediatypes::Create7_1ChannelLayout()), false);
    delay->SetBlockSize(20);
    delay->Resume();
    delay->SetParameter(0, 0.5f); // 500 ms, which takes effect at the next Resume
    EXPECT_EQ(delay->GetInitialDelay(), 37);
    const auto out = RunMapped(*delay, 8, 8, 400, {20, 3, 11});
    for (int c = 0; c < 8; ++c) {
        EXPECT_EQ(out[c], Delayed(c, 400, 37)) << c;
    }
}

} // namespace
} // namespace kelaudiofilterhost
