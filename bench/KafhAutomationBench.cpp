// SPDX-License-Identifier: GPL-3.0-or-later
// Whole `kafh process` commands on our own filters: what automation costs a render of a minute of
// stereo through the VST 2 test gain (1000 points, each cutting a block, against none), and what
// tiny blocks cost a render through the internal gain (16 frames against 4096).
#if defined(KAFH_EXECUTABLE) && defined(KAFH_TESTPLUGINS_VST2_DIR)

#include "bench/KafhBenchSupport.h"

#include <benchmark/benchmark.h>
#include <sndfile.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

namespace {

using kafhbench::kRate;

// A settings folder with KafhGain catalogued, the inputs and the automation, made once.
class Setup {
public:
    Setup()
    {
        auto pattern = std::filesystem::temp_directory_path().string() + "/kafh-automation-bench-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr) {
            return;
        }
        mFolder = pattern;
        std::filesystem::create_directories(mFolder / "plugins");
        std::filesystem::create_symlink(std::filesystem::path(KAFH_TESTPLUGINS_VST2_DIR) / "KafhGain.so",
                                        mFolder / "plugins" / "KafhGain.so");
        std::ofstream points(Path("points.txt"));
        // 1000 points over the minute, a step and a ramp in turn, off every block boundary.
        for (int i = 0; i < 1000; ++i) {
            points << (i * kRate * 60 / 1000 + 7) << "s Gain " << (i % 7) * 25 << (i % 2 == 1 ? " ramp" : "") << "\n";
        }
        mReady = points.good() && kafhbench::WriteSwellingChord(Path("minute.wav"), 60) && kafhbench::WriteSwellingChord(Path("half.wav"), 30) &&
                 kafhbench::RunKafh({"--config", Config(), "scan", "--dir", (mFolder / "plugins").string()}) == 0;
    }
    ~Setup()
    {
        std::error_code ignored;
        if (!mFolder.empty()) {
            std::filesystem::remove_all(mFolder, ignored);
        }
    }
    Setup(const Setup&) = delete;
    Setup& operator=(const Setup&) = delete;

    bool IsReady() const { return mReady; }
    std::string Config() const { return Path("config"); }
    std::string Path(const char* name) const { return (mFolder / name).string(); }

private:
    std::filesystem::path mFolder;
    bool mReady = false;
};

Setup& Shared()
{
    static Setup setup;
    return setup;
}

void Run(benchmark::State& state, std::vector<std::string> arguments)
{
    auto& setup = Shared();
    if (!setup.IsReady()) {
        state.SkipWithError("could not prepare the inputs or catalogue KafhGain");
        return;
    }
    arguments.insert(arguments.begin(), {"--config", setup.Config(), "process"});
    arguments.emplace_back("--quiet");
    for (auto _ : state) {
        if (kafhbench::RunKafh(arguments) != 0) {
            state.SkipWithError("kafh process failed");
            return;
        }
    }
}

void Automated(benchmark::State& state)
{
    auto& s = Shared();
    Run(state, {"KafhGain", s.Path("minute.wav"), s.Path("out-a.wav"), "--automation", s.Path("points.txt")});
}

void NotAutomated(benchmark::State& state)
{
    auto& s = Shared();
    Run(state, {"KafhGain", s.Path("minute.wav"), s.Path("out-n.wav")});
}

void SmallBlocks(benchmark::State& state)
{
    auto& s = Shared();
    Run(state, {"kafh.example.gain", s.Path("half.wav"), s.Path("out-s.wav"), "--block", "16"});
}

void LargeBlocks(benchmark::State& state)
{
    auto& s = Shared();
    Run(state, {"kafh.example.gain", s.Path("half.wav"), s.Path("out-l.wav"), "--block", "4096"});
}

} // namespace

BENCHMARK(Automated)->Name("automation_overhead/candidate")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(NotAutomated)->Name("automation_overhead/baseline")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(SmallBlocks)->Name("render_small_blocks/candidate")->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(LargeBlocks)->Name("render_small_blocks/baseline")->UseRealTime()->Unit(benchmark::kMillisecond);

#endif
