// SPDX-License-Identifier: GPL-3.0-or-later
// Every command that runs plug-in code runs it in a watched child: plug-ins that crash, write past
// their buffers or hang fail the command quickly with one line naming the filter and the step, and
// leave no file behind.
#include "tests/tools/KafhTestSupport.h"
#include "testplugins/vst2/TestPluginIds.h"

#include <csignal>
#include <cstring>
#include <thread>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using namespace kafhtest;
using namespace std::chrono_literals;

// The hostile plug-ins beside well-behaved ones, catalogued in this test's settings.
class KafhIsolation : public KafhTest {
public:
    void SetUp() override
    {
        KafhTest::SetUp();
        std::filesystem::create_directories(mFolder / "out");
        CopyPlugins(KAFH_TESTPLUGINS_VST2_HOSTILE_DIR, {"KafhCrashProcess.so", "KafhOverrun.so", "KafhSpinState.so"});
        const auto plugins = CopyPlugins(KAFH_TESTPLUGINS_VST2_DIR, {"KafhGain.so", "KafhChunk.so"});
        const auto scan = Kafh({"scan", "--dir", plugins.string(), "--timeout", "20"});
        ASSERT_EQ(scan.exitCode, 0) << scan.err;
        ASSERT_TRUE(WriteAudio(mFolder / "in.wav", TestSignal(2, 48000), 48000));
        // A chunk preset for the spinning plug-in: KafhChunk's, renamed; its bytes never get read.
        ASSERT_EQ(Kafh({"preset", "save", "KafhChunk", (mFolder / "chunk.preset").string()}).exitCode, 0);
        auto preset = ReadText(mFolder / "chunk.preset");
        const auto idOf = [](std::int32_t id, const char* name) {
            return "2:" + std::to_string(static_cast<std::uint32_t>(id)) + " " + name;
        };
        const auto chunkId = idOf(kChunkId, "KafhChunk");
        ASSERT_NE(preset.find(chunkId), std::string::npos) << preset;
        preset.replace(preset.find(chunkId), chunkId.size(), idOf(kSpinStateId, "KafhSpinState"));
        WriteText(mFolder / "spin.preset", preset);
    }
};

TEST_F(KafhIsolation, HostilePluginsFailEveryCommandQuicklyWithTheFilterAndStepNamed)
{
    const auto in = (mFolder / "in.wav").string();
    const auto out = mFolder / "out";
    const auto spinPreset = (mFolder / "spin.preset").string();
    struct Case {
        std::vector<std::string> arguments;
        const char* filter;
        const char* step;
    };
    const std::vector<Case> cases = {
        {{"process", "KafhCrashProcess", in, (out / "x.wav").string()}, "KafhCrashProcess", "process"},
        {{"process", "KafhOverrun", in, (out / "x.flac").string()}, "KafhOverrun", "process"},
        {{"process", "KafhSpinState", in, (out / "x.wav").string(), "--preset", spinPreset}, "KafhSpinState",
         "configure"},
        {{"info", "KafhSpinState"}, "KafhSpinState", "describe"},
        {{"info", "KafhSpinState", "--json", "--preset", spinPreset}, "KafhSpinState", "configure"},
        {{"presets", "KafhSpinState"}, "KafhSpinState", "list programs"},
        {{"preset", "save", "KafhSpinState", (out / "x.preset").string()}, "KafhSpinState", "save preset"},
        {{"preset", "load", "KafhSpinState", spinPreset}, "KafhSpinState", "load preset"},
    };
    for (const auto& test : cases) {
        auto arguments = test.arguments;
        arguments.insert(arguments.end(), {"--timeout", "1"});
        const auto result = Kafh(arguments, 20);
        const auto described = test.arguments.front() + " " + test.filter + ": " + result.err;
        EXPECT_EQ(result.exitCode, 1) << described;
        EXPECT_LT(result.seconds, 4.0) << described;
        EXPECT_EQ(result.out, "") << described;
        // kafh says one line; a sanitizer build's child may have reported before it.
        std::size_t kafhLines = 0;
        for (std::size_t at = 0; (at = result.err.find("kafh: ", at)) != std::string::npos; ++at) {
            kafhLines += at == 0 || result.err[at - 1] == '\n';
        }
        EXPECT_EQ(kafhLines, 1u) << described;
        EXPECT_EQ(result.err.rfind("kafh: error: filter "), result.err.rfind('\n', result.err.size() - 2) + 1)
            << described << "the one line comes last";
        EXPECT_NE(result.err.find(std::string(test.filter) + "\" (" + test.filter + ")"), std::string::npos)
            << described;
        EXPECT_NE(result.err.find(std::string("at step \"") + test.step + "\""), std::string::npos) << described;
        EXPECT_EQ(EntryCount(out), 0) << described << "a temporary or partial file was left";
    }
}

TEST_F(KafhIsolation, InProcessRunsGiveTheSameResultsAsIsolatedOnes)
{
    const auto in = (mFolder / "in.wav").string();
    for (const auto& command : std::vector<std::vector<std::string>>{
             {"info", "KafhGain", "--json", "--param", "Gain=50"},
             {"presets", "KafhGain"},
             {"preset", "load", "KafhChunk", (mFolder / "chunk.preset").string(), "--json"}}) {
        auto inProcess = command;
        inProcess.push_back("--in-process");
        const auto isolated = Kafh(command);
        const auto direct = Kafh(inProcess);
        EXPECT_EQ(isolated.exitCode, 0) << command.front() << ": " << isolated.err;
        EXPECT_FALSE(isolated.out.empty());
        EXPECT_EQ(isolated.out, direct.out) << command.front();
        EXPECT_EQ(isolated.err, direct.err) << command.front();
    }
    const auto isolated = Kafh({"process", "KafhGain", in, (mFolder / "isolated.wav").string(), "--param", "Gain=50"});
    const auto direct = Kafh({"process", "KafhGain", in, (mFolder / "direct.wav").string(), "--param", "Gain=50",
                              "--in-process"});
    ASSERT_EQ(isolated.exitCode, 0) << isolated.err;
    ASSERT_EQ(direct.exitCode, 0) << direct.err;
    const auto audio = ReadAudio(mFolder / "isolated.wav");
    ASSERT_EQ(audio.size(), 2u);
    EXPECT_EQ(audio, ReadAudio(mFolder / "direct.wav"));
    EXPECT_FLOAT_EQ(audio[1][100], TestSignal(2, 48000)[1][100] * 0.5f);

    // A preset saved by an isolated run loads in-process.
    ASSERT_EQ(Kafh({"preset", "save", "KafhGain", (mFolder / "half.preset").string(), "--param", "Gain=50"}).exitCode, 0);
    const auto loaded = Kafh({"preset", "load", "KafhGain", (mFolder / "half.preset").string(), "--in-process"});
    EXPECT_NE(loaded.out.find("Gain = 50"), std::string::npos) << loaded.out << loaded.err;

    // In-process, the crash takes kafh down with it: the isolation above is what saves it.
    const auto crashed = Kafh({"process", "KafhCrashProcess", in, (mFolder / "out" / "x.wav").string(), "--in-process"});
    EXPECT_NE(crashed.exitCode, 0);
    EXPECT_EQ(crashed.err.find("kafh: error: filter"), std::string::npos) << crashed.err;
}

// kafh stopped by a terminating signal mid-render ends by that signal, its child goes with it and no
// temporary file is left, for an isolated plug-in and for an internal filter. The input is a FIFO that
// stays open, so the render waits mid-way with its output open.
TEST_F(KafhIsolation, AnInterruptedRenderLeavesNoChildAndNoTemporaryFile)
{
    const auto fifo = mFolder / "in.fifo";
    const auto out = mFolder / "out";
    const std::string output = (out / "x.wav").string();
    // A float WAV header claiming far more data than comes, and a little audio.
    const auto header = ReadText(mFolder / "in.wav").substr(0, 4096 * 8);
    std::signal(SIGPIPE, SIG_IGN);
    for (const auto& [terminating, filter] : std::vector<std::pair<int, const char*>>{
             {SIGTERM, "KafhGain"}, {SIGINT, "KafhGain"}, {SIGHUP, "kafh.example.gain"}}) {
        SCOPED_TRACE(filter + std::string(" ") + strsignal(terminating));
        std::filesystem::remove(fifo);
        ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
        const pid_t kafh = fork();
        ASSERT_GE(kafh, 0);
        if (kafh == 0) {
            // Quiet, and with SIGINT not ignored, as in an interactive shell.
            dup2(open("/dev/null", O_WRONLY), STDERR_FILENO);
            signal(SIGINT, SIG_DFL);
            execl(KAFH_EXECUTABLE, "kafh", "--config", mConfig.c_str(), "process", filter, fifo.c_str(),
                  output.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        const int writer = open(fifo.c_str(), O_WRONLY);
        ASSERT_GE(writer, 0);
        ASSERT_EQ(write(writer, header.data(), header.size()), static_cast<ssize_t>(header.size()));
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        while (EntryCount(out) == 0 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(10ms);
        }
        EXPECT_EQ(EntryCount(out), 1) << "the render never opened its output";
        ASSERT_EQ(kill(kafh, terminating), 0);
        int status = 0;
        ASSERT_EQ(waitpid(kafh, &status, 0), kafh);
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == terminating) << status;
        EXPECT_EQ(EntryCount(out), 0) << "the temporary file was left";
        // With no reader left, a write to the FIFO fails: the child is gone too.
        EXPECT_EQ(write(writer, "x", 1), -1) << "the input is still read";
        close(writer);
    }
}

} // namespace
