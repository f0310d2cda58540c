// SPDX-License-Identifier: GPL-3.0-or-later
// kafh process with --out-dir: many files through one filter, each in a child of its own, so that one
// bad file or one crash fails only that file.
#include "tests/tools/KafhTestSupport.h"

namespace {

using namespace kafhtest;

std::size_t CountOf(const std::string& text, const std::string& part)
{
    std::size_t count = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
        ++count;
    }
    return count;
}

class KafhBatch : public KafhScannedTest {
public:
    std::string Input(const std::string& name, bool corrupt = false) const
    {
        const auto path = mFolder / name;
        if (corrupt) {
            WriteText(path, "RIFF, but no audio follows");
        } else {
            EXPECT_TRUE(WriteAudio(path, TestSignal(2, 4800), 48000));
        }
        return path.string();
    }
};

TEST_F(KafhBatch, AFileThatFailsIsReportedAndTheOthersAreRendered)
{
    const auto out = mFolder / "out";
    const auto result = Kafh({"process", "KafhGain", Input("a.wav"), Input("bad.wav", true), Input("c.flac"),
                              "--param", "Gain=50", "--out-dir", out.string(), "-j", "2"});
    EXPECT_EQ(result.exitCode, 1) << result.err;
    EXPECT_NE(result.err.find("1 of 3 files failed: \"" + (mFolder / "bad.wav").string() + "\""), std::string::npos)
        << result.err;
    EXPECT_EQ(CountOf(result.out, "Rendered "), 2u) << result.out;
    const auto signal = TestSignal(2, 4800);
    for (const auto* name : {"a.wav", "c.flac"}) {
        const auto rendered = ReadAudio(out / name);
        ASSERT_EQ(rendered.size(), 2u) << name;
        EXPECT_NEAR(rendered[0][100], signal[0][100] * 0.5f, 1e-3f) << name;
    }
    EXPECT_EQ(EntryCount(out), 2) << "nothing of the bad file is left";
}

TEST_F(KafhBatch, EachCrashIsReportedOnItsOwnLineAndLeavesNoFile)
{
    const auto plugins = CopyPlugins(KAFH_TESTPLUGINS_VST2_HOSTILE_DIR, {"KafhCrashProcess.so"});
    ASSERT_EQ(Kafh({"scan", "--dir", plugins.string()}).exitCode, 0);
    const auto out = mFolder / "out";
    const auto result =
        Kafh({"process", "KafhCrashProcess", Input("a.wav"), Input("b.wav"), "--out-dir", out.string()});
    EXPECT_EQ(result.exitCode, 1) << result.err;
    for (const auto* name : {"a.wav", "b.wav"}) {
        EXPECT_NE(result.err.find("kafh: error: \"" + (mFolder / name).string() + "\": filter "), std::string::npos)
            << result.err;
    }
    EXPECT_EQ(CountOf(result.err, "crashed with signal"), 2u) << result.err;
    EXPECT_EQ(EntryCount(out), 0);
}

TEST_F(KafhBatch, FormatChoosesTheExtensionAndNameClashesAreRefusedFirst)
{
    const auto out = mFolder / "out";
    std::filesystem::create_directories(mFolder / "other");
    const auto clash = Kafh({"process", "KafhGain", Input("a.wav"), Input("other/a.flac"), "--out-dir",
                             out.string(), "--format", "wav"});
    EXPECT_EQ(clash.exitCode, 2) << clash.err;
    EXPECT_NE(clash.err.find("would both be written to"), std::string::npos) << clash.err;
    EXPECT_FALSE(std::filesystem::exists(out)) << "nothing started";

    const auto converted =
        Kafh({"process", "KafhGain", Input("a.wav"), Input("b.wav"), "--out-dir", out.string(), "--format", "flac"});
    EXPECT_EQ(converted.exitCode, 0) << converted.err;
    EXPECT_EQ(ReadAudio(out / "a.flac").size(), 2u);
    EXPECT_EQ(ReadAudio(out / "b.flac").size(), 2u);
    EXPECT_EQ(EntryCount(out), 2);
}

} // namespace
