// SPDX-License-Identifier: GPL-3.0-or-later
// Bad input, grouped by command: one line naming the problem, exit code 1 or 2, no partial output
// file, nothing lost from the catalogue.
#include "tests/tools/KafhTestSupport.h"

#include <cmath>

namespace kafhtest {
namespace {

struct BadCase {
    std::vector<std::string> arguments;
    int exitCode;
    /// A text the error message must hold, naming what failed.
    std::string names;
};

class KafhBadInput : public KafhTest {
public:
    void Check(const BadCase& bad, bool withConfig = true) const
    {
        ExpectRefused(bad.arguments, bad.exitCode, bad.names, withConfig);
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
    const auto loudPreset = (mFolder / "loud.preset").string();
    ASSERT_EQ(Kafh({"preset", "save", "KafhGain", loudPreset, "--param", "Gain=50"}).exitCode, 0);
    auto loud = ReadText(loudPreset);
    ASSERT_NE(loud.find("data=\"0.25 0\""), std::string::npos) << loud;
    WriteText(loudPreset, loud.replace(loud.find("data=\"0.25 0\""), 13, "data=\"2.5 0\""));
    const auto corruptPreset = (mFolder / "corrupt.preset").string();
    WriteText(corruptPreset, "<kafh_preset><oops");
    const auto outputs = mFolder / "outputs";
    std::filesystem::create_directories(outputs);
    const auto out = (outputs / "out.wav").string();
    const auto process = [&](std::vector<std::string> options, const std::string& id = "KafhGain") {
        options.insert(options.begin(), {"process", id, in, out});
        return options;
    };

    auto withNaN = TestSignal(2, 1000);
    withNaN[1][700] = std::nanf("");
    const auto nanIn = (mFolder / "nan.wav").string();
    ASSERT_TRUE(WriteAudio(nanIn, withNaN, 48000));
    const auto automation = [&](const std::string& name, const std::string& contents) {
        const auto path = (mFolder / name).string();
        WriteText(path, contents);
        return std::vector<std::string>{"--automation", path};
    };
    const auto inputBytes = ReadText(in);
    std::filesystem::create_symlink(in, mFolder / "link.wav");
    std::filesystem::create_hard_link(in, mFolder / "hard.wav");
    for (const auto& bad : std::vector<BadCase>{
             {{"process", "KafhGain", in, in}, 2, in},
             {{"process", "KafhGain", in, (mFolder / "." / "in.wav").string()}, 2, in},
             {{"process", "KafhGain", in, (mFolder / "link.wav").string()}, 2, in},
             {{"process", "KafhGain", (mFolder / "hard.wav").string(), in}, 2, in},
             {process({}, "NoSuchFilter"), 1, "\"NoSuchFilter\""},
             {{"process", "kafh.example.gain", nanIn, out + ".flac"}, 1, "NaN) on channel 1 at frame 700"},
             {{"process", "KafhGain", in + ".missing", out}, 1, in + ".missing"},
             {{"process", "KafhGain", text, out}, 1, text},
             {{"process", "KafhGain", in, (mFolder / "no-such-folder" / "out.wav").string()}, 1, "no-such-folder"},
             {{"process", "KafhGain", in, out + ".xyz"}, 2, ".xyz"},
             {{"process", "KafhGain", in}, 2, "OUT"},
             {process({"--param", "Volume=1"}), 1, "\"Volume\""},
             {process({"--param", "Gain=201"}), 1, "out of range"},
             {process({"--param", "Gain=loud"}), 2, "Gain=loud"},
             {process({"--tail", "forever"}), 2, "--tail"},
             {process({"--map", "0:1"}), 2, "--map"},
             {process({"--map", "0=5"}), 1, "channel 5"},
             {process({"--map", "7=0"}), 1, "channel 7"},
             {process({"--block", "0"}), 2, "--block"},
             {process({"--block", "nan"}), 2, "--block"},
             {process({"--rate", "nan"}), 2, "--rate"},
             {process({"--rate", "inf"}), 2, "--rate"},
             {process({"--rate", "0"}), 2, "--rate"},
             {process({"--rate", "-48000"}), 2, "--rate"},
             {process({"--rate", "0.001"}), 2, "--rate"},
             {process({"--tail", "nan"}), 2, "--tail"},
             {process({"--tail", "0"}), 2, "--tail"},
             {process({"--tail", "-inf"}), 2, "--tail"},
             {process({"--preset", corruptPreset}), 1, corruptPreset},
             {process({"--preset", loudPreset}), 1, "parameter \"Gain\" (index 0) has the value 2.5"},
             {process({"--preset", otherPreset}), 1, "kafh.example.delay"},
             {process({"--preset", otherPreset + "x"}), 1, otherPreset + "x"},
             {process(automation("words.txt", "0 Gain 10\nsoon Gain 20\n")), 2, "line 2: time \"soon\""},
             {process(automation("short.txt", "# gain\n0.01 Gain\n")), 2, "line 2: expected TIME PARAMETER VALUE"},
             {process({"--automation", (mFolder / "none.txt").string()}), 2, "none.txt"},
             {process(automation("order.txt", "0.02 Gain 10\n0.01 Gain 20\n")), 1, "line 2: the point comes before"},
             {process(automation("unknown.txt", "0 Volume 10\n")), 1, "line 1: the filter has no parameter \"Volume\""},
             {process(automation("range.txt", "0 Gain 10\n0.01 Gain 201 ramp\n")), 1, "line 2: value 201"},
         }) {
        Check(bad);
        EXPECT_EQ(EntryCount(outputs), 0);
    }
    EXPECT_FALSE(std::filesystem::exists(mFolder / "no-such-folder"));
    EXPECT_EQ(ReadText(in), inputBytes) << "the input is never its own output";
}

TEST_F(KafhBadInput, InfoPresetsScanAndBanNameWhatIsWrong)
{
    ScanTestPlugins();
    const auto preset = (mFolder / "out" / "x.preset").string();
    for (const auto& bad : std::vector<BadCase>{
             {{"info", "2:1 Nothing"}, 1, "\"2:1 Nothing\""},
             {{"preset", "save", "KafhGain", preset}, 1, preset},
             {{"ban", "7:/usr/lib/vst/x.so"}, 2, "7:/usr/lib/vst/x.so"},
             {{"ban", "/usr/lib/vst/caf\xe9.so"}, 2, "\"/usr/lib/vst/caf\\xe9.so\": the path is not valid UTF-8"},
             {{"unban", "/usr/lib/vst/x.so"}, 1, "/usr/lib/vst/x.so"},
             {{"scan", "--dir", preset}, 1, preset},
             {{"scan", "--timeout", "-1"}, 2, "--timeout"},
             {{"scan", "--rescan", "--timeout", "nan"}, 2, "--timeout"},
             {{"scan", "--timeout", "inf"}, 2, "--timeout"},
             {{"scan", "--timeout", "0"}, 2, "--timeout"},
             {{"demo", "--timeout", "nan"}, 2, "--timeout"},
             {{"frobnicate"}, 2, "\"frobnicate\""},
             {{}, 2, "subcommand"},
             {{"list", "--colour"}, 2, "--colour"},
         }) {
        Check(bad);
    }
    // A refused timeout bans nothing and keeps the catalogue.
    EXPECT_FALSE(std::filesystem::exists(mConfig / "DynamicAudioPlugInBlacklist.xml"));
    EXPECT_NE(Kafh({"list"}).out.find("KafhGain"), std::string::npos);

    const auto file = mFolder / "settings.txt";
    WriteText(file, "not a folder");
    Check({{"--config", "", "list"}, 2, "--config"}, false);
    Check({{"--config", file.string(), "list"}, 2, file.string()}, false);
}

TEST_F(KafhBadInput, AChunkThePluginRefusesIsReportedAsAWarning)
{
    ScanTestPlugins();
    const auto preset = (mFolder / "chunk.preset").string();
    ASSERT_EQ(Kafh({"preset", "save", "KafhChunk", preset, "--param", "Right Gain=0.75"}).exitCode, 0);
    const auto good = Kafh({"preset", "load", "KafhChunk", preset});
    EXPECT_EQ(good.exitCode, 0);
    EXPECT_EQ(good.err, "");
    // KafhChunk refuses a chunk of the wrong size and keeps its state.
    auto text = ReadText(preset);
    const auto start = text.find("key=\"ChunkData\" type=\"string\" data=\"") + 36;
    WriteText(preset, text.replace(start, text.find('"', start) - start, "AAAA"));
    const auto refused = Kafh({"preset", "load", "KafhChunk", preset});
    EXPECT_EQ(refused.exitCode, 0);
    EXPECT_EQ(refused.err.rfind("kafh: warning: filter \"2:1264993131 KafhChunk\"", 0), 0u) << refused.err;
    EXPECT_EQ(std::count(refused.err.begin(), refused.err.end(), '\n'), 1);
}

TEST_F(KafhBadInput, CorruptSettingsFilesAreRefusedAndKept)
{
    std::filesystem::create_directories(mConfig);
    const auto catalogue = mConfig / "AudioPluginManagerSettings.xml";
    const std::string garbage = "<?xml version=\"1.0\"?><plist><dict><key>version</key>";
    WriteText(catalogue, garbage);
    Check({{"list"}, 1, catalogue.string()});
    Check({{"scan", "--dir", KAFH_TESTPLUGINS_VST2_DIR}, 1, catalogue.string()});
    Check({{"ban", "/usr/lib/vst/x.so"}, 1, catalogue.string()});
    EXPECT_EQ(ReadText(catalogue), garbage) << "a corrupt catalogue is never overwritten";
    std::filesystem::remove(catalogue);

    const auto banned = mConfig / "DynamicAudioPlugInBlacklist.xml";
    WriteText(banned, "garbage");
    Check({{"banned"}, 1, banned.string()});
    EXPECT_EQ(ReadText(banned), "garbage");

    // A count smaller than the records held: the unread records survive in a copy beside it,
    // kept once, before the first save that replaces the file.
    const std::string undercounted = R"(<?xml version="1.0" encoding="UTF-8"?>
<proplist>
    <value key="banned_plugin_files0" type="string" data="2:/usr/lib/vst/a.so" />
    <value key="banned_plugin_files1" type="string" data="2:/usr/lib/vst/b.so" />
    <value key="banned_plugin_files2" type="string" data="2:/usr/lib/vst/c.so" />
    <value key="num_banned_plugin_files" type="int32" data="1" />
    <value key="version" type="uint32" data="1" />
</proplist>
)";
    WriteText(banned, undercounted);
    const auto first = Kafh({"ban", "/usr/lib/vst/d.so"});
    EXPECT_EQ(first.exitCode, 0) << first.err;
    EXPECT_EQ(ReadText(mConfig / "DynamicAudioPlugInBlacklist.xml.bak"), undercounted);
    EXPECT_EQ(first.err.rfind("kafh: warning: ", 0), 0u) << first.err;
    EXPECT_NE(first.err.find(".bak"), std::string::npos) << first.err;
    EXPECT_EQ(std::count(first.err.begin(), first.err.end(), '\n'), 1);
    const auto second = Kafh({"ban", "/usr/lib/vst/e.so"});
    EXPECT_EQ(second.exitCode, 0);
    EXPECT_EQ(second.err, "") << "said once";
    EXPECT_EQ(ReadText(mConfig / "DynamicAudioPlugInBlacklist.xml.bak"), undercounted);

    // A catalogue whose stored count is negative is read as holding no modules; its records too
    // survive in a copy before the first save.
    const auto plugins = CopyPlugins(KAFH_TESTPLUGINS_VST2_DIR, {"KafhGain.so"});
    ASSERT_EQ(Kafh({"scan", "--dir", plugins.string()}).exitCode, 0);
    auto text = ReadText(catalogue);
    const std::string count = R"(key="num_plugin_infos" type="int32" data="1")";
    ASSERT_NE(text.find(count), std::string::npos) << text;
    text.replace(text.find(count), count.size(), R"(key="num_plugin_infos" type="int32" data="-1")");
    WriteText(catalogue, text);
    const auto rescan = Kafh({"scan", "--dir", plugins.string()});
    EXPECT_EQ(rescan.exitCode, 0) << rescan.err;
    EXPECT_EQ(ReadText(mConfig / "AudioPluginManagerSettings.xml.bak"), text);
    EXPECT_NE(rescan.err.find("AudioPluginManagerSettings.xml.bak"), std::string::npos) << rescan.err;
}

TEST_F(KafhBadInput, AReadErrorMidRenderLeavesAnExistingOutputUntouched)
{
    // A FLAC file whose middle is overwritten: its header and first frames decode, then the
    // decoder loses sync while the output is already being written.
    const auto in = mFolder / "damaged.flac";
    ASSERT_TRUE(WriteAudio(in, TestSignal(2, 200000), 48000));
    auto bytes = ReadText(in);
    std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(bytes.size() / 2), 4000, '\xff');
    WriteText(in, bytes);
    const auto outputs = mFolder / "outputs";
    std::filesystem::create_directories(outputs);
    WriteText(outputs / "out.wav", "precious");

    const auto result = Kafh({"process", "kafh.example.gain", in.string(), (outputs / "out.wav").string()});
    EXPECT_EQ(result.exitCode, 1);
    EXPECT_NE(result.err.find("reading \"" + in.string() + "\" failed"), std::string::npos) << result.err;
    EXPECT_EQ(ReadText(outputs / "out.wav"), "precious");
    EXPECT_EQ(EntryCount(outputs), 1) << "no temporary file is left";
}

} // namespace
} // namespace kafhtest
