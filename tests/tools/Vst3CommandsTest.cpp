// SPDX-License-Identifier: GPL-3.0-or-later
// kafh's filter commands on VST 3 test bundles: info, presets, preset save and load, process.
#include "tests/tools/KafhTestSupport.h"

namespace kafhtest {
namespace {

constexpr const char* kGainId = "3:4147664b 0 0 1";

class KafhVst3 : public KafhTest {
public:
    void SetUp() override
    {
        KafhTest::SetUp();
        const auto result = Kafh({"scan", "--tech", "vst3", "--dir", KAFH_TESTPLUGINS_VST3_DIR, "--timeout", "20"});
        ASSERT_EQ(result.exitCode, 0) << result.err;
    }
};

TEST_F(KafhVst3, InfoPresetsAndPresetFilesWorkOnVst3Identifiers)
{
    const auto info = Kafh({"info", kGainId});
    ASSERT_EQ(info.exitCode, 0) << info.err;
    for (const char* expected : {"Kafh Gain  (3:4147664b 0 0 1)", "technology  vst3", "Gain = 1 x", "range 0 to 2",
                                 "Mode = 0", "programs    4", "3  Mute"}) {
        EXPECT_NE(info.out.find(expected), std::string::npos) << expected << "\n" << info.out;
    }
    const auto presets = Kafh({"presets", "Kafh Gain"});
    ASSERT_EQ(presets.exitCode, 0) << presets.err;
    EXPECT_EQ(presets.out, "0  Unity\n1  Half\n2  Double\n3  Mute\n");

    // Values set and never processed must still be in the saved state, and come back from it.
    const auto file = (mFolder / "quarter.preset").string();
    ASSERT_EQ(Kafh({"preset", "save", kGainId, file, "--param", "Gain=0.25", "--param", "Mode=2"}).exitCode, 0);
    const auto loaded = Kafh({"preset", "load", "Kafh Gain", file});
    ASSERT_EQ(loaded.exitCode, 0) << loaded.err;
    EXPECT_NE(loaded.out.find("Gain = 0.25 x"), std::string::npos) << loaded.out;
    EXPECT_NE(loaded.out.find("Mode = 2"), std::string::npos) << loaded.out;
    const auto signal = TestSignal(2, 3001);
    ExpectScaled(signal, Process(signal, {"--preset", file}, kGainId), {0.25f, 0.25f});
    // A preset is for its own filter only.
    const auto other = Kafh({"preset", "load", "Kafh Single", file});
    EXPECT_EQ(other.exitCode, 1);
    EXPECT_NE(other.err.find("is for filter \"3:4147664b 0 0 1\""), std::string::npos) << other.err;
}

TEST_F(KafhVst3, ProcessClonesPerChannelGroupMapsAndFollowsLatencyChanges)
{
    const auto signal = TestSignal(3, 3000);
    // Stereo on three channels: the second instance is a clone with the same settings.
    ExpectScaled(signal, Process(signal, {"--param", "Gain=0.5"}, "Kafh Gain"), {0.5f, 0.5f, 0.5f});
    ExpectScaled(signal, Process(signal, {"--param", "Gain=0.5", "--map", "0=2"}, "Kafh Gain"), {1.0f, 1.0f, 0.5f});
    // Mono only: one instance per channel.
    ExpectScaled(signal, Process(signal, {}, "Kafh Mono"), {0.5f, 0.5f, 0.5f});
    // Long switches the latency from 64 to 128 once the processor has the change: still aligned.
    const auto stereo = TestSignal(2, 2000);
    ExpectScaled(stereo, Process(stereo, {"--param", "Long=1", "--block", "100"}, "Kafh Latency Change"),
                 {1.0f, 1.0f});
    const auto info = Kafh({"info", "Kafh Latency Change", "--param", "Long=1"});
    EXPECT_NE(info.out.find("latency     128 frames"), std::string::npos) << info.out;
}

} // namespace
} // namespace kafhtest
