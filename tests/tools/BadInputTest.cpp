// SPDX-License-Identifier: GPL-3.0-or-later
// Bad input, grouped by command: one line naming the problem, exit code 1 or 2, no partial output
// file, nothing lost from the catalogue.
#include "tests/tools/KafhTestSupport.h"

namespace kafhtest {
namespace {

struct BadCase {
    std::string what;
    std::vector<std::string> arguments;
    int exitCode;
    /// A text the error message must hold, naming what failed.
    std::string names;
};

class KafhBadInput : public KafhTest {
public:
    void Check(const BadCase& bad)
    {
        SCOPED_TRACE(bad.what);
        const auto result = Kafh(bad.arguments);
        EXPECT_EQ(result.exitCode, bad.exitCode) << result.err;
        EXPECT_EQ(result.err.rfind("kafh: error: ", 0), 0u) << result.err;
        EXPECT_NE(result.err.find(bad.names), std::string::npos) << result.err;
        EXPECT_TRUE(result.out.empty()) << result.out;
    }
};

TEST_F(KafhBadInput, ProcessRefusesBadFilesParametersAndOptionsWithoutWritingOutput)
{
    ScanTestPlugins();
    const auto in = (mFolder / "in.wav").string();
    ASSERT_TRUE(WriteAudio(in, TestSignal(2, 1000), 48000));
    const auto text = (mFolder / "text.wav").string();
    WriteText(text, "not audio at all\n");
    const auto otherPreset = (mFolder / "delay.preset").string();
    ASSERT_EQ(Kafh({"preset", "save", "kafh.example.delay", otherPreset}).exitCode, 0);
    const auto corruptPreset = (mFolder / "corrupt.preset").string();
    WriteText(corruptPreset, "<kafh_preset><oops");
    const auto outputs = mFolder / "outputs";
    std::filesystem::create_directories(outputs);
    const auto out = (outputs / "out.wav").string();
    const auto missingFolder = (mFolder / "no-such-folder" / "out.wav").string();

    for (const auto& bad : std::vector<BadCase>{
             {"unknown filter", {"process", "NoSuchFilter", in, out}, 1, "\"NoSuchFilter\""},
             {"missing input", {"process", "KafhGain", in + ".missing", out}, 1, in + ".missing"},
             {"input not audio", {"process", "KafhGain", text, out}, 1, text},
             {"output folder missing", {"process", "KafhGain", in, missingFolder}, 1, "no-such-folder"},
             {"unknown output type", {"process", "KafhGain", in, out + ".xyz"}, 2, ".xyz"},
             {"unknown parameter", {"process", "KafhGain", in, out, "--param", "Volume=1"}, 1, "\"Volume\""},
             {"value above range", {"process", "KafhGain", in, out, "--param", "Gain=201"}, 1, "out of range"},
             {"value below range", {"process", "kafh.example.gain", in, out, "--param", "Gain=-200"}, 1,
              "out of range"},
             {"not NAME=VALUE", {"process", "KafhGain", in, out, "--param", "Gain"}, 2, "NAME=VALUE"},
             {"value not a number", {"process", "KafhGain", in, out, "--param", "Gain=loud"}, 2, "Gain=loud"},
             {"bad tail", {"process", "KafhGain", in, out, "--tail", "forever"}, 2, "--tail"},
             {"bad map", {"process", "KafhGain", in, out, "--map", "0:1"}, 2, "--map"},
             {"map beyond the file", {"process", "KafhGain", in, out, "--map", "0=5"}, 1, "channel 5"},
             {"map beyond the filter", {"process", "KafhGain", in, out, "--map", "7=0"}, 1, "channel 7"},
             {"bad block size", {"process", "KafhGain", in, out, "--block", "0"}, 2, "--block"},
             {"corrupt preset", {"process", "KafhGain", in, out, "--preset", corruptPreset}, 1, corruptPreset},
             {"preset of another filter", {"process", "KafhGain", in, out, "--preset", otherPreset}, 1,
              "kafh.example.delay"},
             {"missing preset", {"process", "KafhGain", in, out, "--preset", otherPreset + "x"}, 1, otherPreset + "x"},
             {"missing argument", {"process", "KafhGain", in}, 2, "OUT"},
         }) {
        Check(bad);
        EXPECT_TRUE(FolderEntries(outputs).empty()) << bad.what;
    }
    EXPECT_FALSE(std::filesystem::exists(mFolder / "no-such-folder"));
}

TEST_F(KafhBadInput, InfoPresetsAndBanNameWhatIsWrong)
{
    ScanTestPlugins();
    const auto preset = (mFolder / "out" / "x.preset").string();
    for (const auto& bad : std::vector<BadCase>{
             {"info of unknown filter", {"info", "2:1 Nothing"}, 1, "\"2:1 Nothing\""},
             {"info with unknown parameter", {"info", "KafhGain", "--param", "Nope=1"}, 1, "\"Nope\""},
             {"presets of unknown filter", {"presets", "Nothing"}, 1, "\"Nothing\""},
             {"preset save into missing folder", {"preset", "save", "KafhGain", preset}, 1, preset},
             {"preset load of missing file", {"preset", "load", "KafhGain", preset}, 1, preset},
             {"preset without subcommand", {"preset"}, 2, "subcommand"},
             {"ban with unknown technology", {"ban", "7:/usr/lib/vst/x.so"}, 2, "7:/usr/lib/vst/x.so"},
             {"unban of a module not banned", {"unban", "/usr/lib/vst/x.so"}, 1, "/usr/lib/vst/x.so"},
             {"scan of a missing folder", {"scan", "--dir", (mFolder / "none").string()}, 1,
              (mFolder / "none").string()},
             {"scan with bad timeout", {"scan", "--timeout", "-1"}, 2, "--timeout"},
             {"scan of unknown technology", {"scan", "--tech", "au"}, 2, "--tech"},
             {"no command", {}, 2, "subcommand"},
             {"unknown option", {"list", "--colour"}, 2, "--colour"},
         }) {
        Check(bad);
    }
}

TEST_F(KafhBadInput, CorruptSettingsFilesAreRefusedAndKept)
{
    std::filesystem::create_directories(mConfig);
    const auto catalogue = mConfig / "AudioPluginManagerSettings.xml";
    const std::string garbage = "<?xml version=\"1.0\"?><plist><dict><key>version</key>";
    WriteText(catalogue, garbage);
    for (const auto& bad : std::vector<BadCase>{
             {"list", {"list"}, 1, catalogue.string()},
             {"scan", {"scan", "--dir", KAFH_TESTPLUGINS_VST2_DIR}, 1, catalogue.string()},
             {"ban", {"ban", "/usr/lib/vst/x.so"}, 1, catalogue.string()},
             {"process", {"process", "kafh.example.gain", "in.wav", "out.wav"}, 1, catalogue.string()},
         }) {
        Check(bad);
    }
    EXPECT_EQ(ReadText(catalogue), garbage) << "a corrupt catalogue is never overwritten";
    std::filesystem::remove(catalogue);

    const auto banned = mConfig / "DynamicAudioPlugInBlacklist.xml";
    WriteText(banned, "garbage");
    Check({"banned list", {"banned"}, 1, banned.string()});
    EXPECT_EQ(ReadText(banned), "garbage");
}

TEST_F(KafhBadInput, AReadErrorMidRenderLeavesAnExistingOutputUntouched)
{
    // A FLAC file whose middle is overwritten: its header and first frames decode, then the
    // decoder loses sync while the output is already being written.
    const auto in = mFolder / "damaged.flac";
    ASSERT_TRUE(WriteAudio(in, TestSignal(2, 200000), 48000, SF_FORMAT_FLAC | SF_FORMAT_PCM_16));
    auto bytes = ReadText(in);
    std::fill(bytes.begin() + static_cast<std::ptrdiff_t>(bytes.size() / 2),
              bytes.begin() + static_cast<std::ptrdiff_t>(bytes.size() / 2 + 4000), '\xff');
    WriteText(in, bytes);
    const auto outputs = mFolder / "outputs";
    std::filesystem::create_directories(outputs);
    const auto out = outputs / "out.wav";
    WriteText(out, "precious");

    const auto result = Kafh({"process", "kafh.example.gain", in.string(), out.string()});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("reading \"" + in.string() + "\" failed"), std::string::npos) << result.err;
    EXPECT_EQ(ReadText(out), "precious");
    EXPECT_EQ(FolderEntries(outputs), std::vector<std::string>{"out.wav"}) << "no temporary file is left";
}

} // namespace
} // namespace kafhtest
