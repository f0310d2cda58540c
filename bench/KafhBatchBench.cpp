// SPDX-License-Identifier: GPL-3.0-or-later
// `kafh process --out-dir` rendering sixteen files through a real plug-in two at a time against one at
// a time: what rendering in a pool of children gains on two cores.
#ifdef KAFH_EXECUTABLE

#include "bench/KafhBenchSupport.h"

#include <benchmark/benchmark.h>
#include <sndfile.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

namespace {

constexpr const char* kModule = "/usr/lib/vst/ZamCompX2-vst.so";
// Long enough per file that starting a child and loading the plug-in do not dominate.
constexpr int kSeconds = 60;
constexpr int kFiles = 16;

// A settings folder with the module catalogued and the inputs: one file under sixteen names.
class BatchSetup {
public:
    BatchSetup()
    {
        auto pattern = std::filesystem::temp_directory_path().string() + "/kafh-batch-bench-XXXXXX";
        if (!std::filesystem::exists(kModule) || mkdtemp(pattern.data()) == nullptr) {
            return;
        }
        mFolder = pattern;
        std::filesystem::create_directories(mFolder / "plugins");
        std::filesystem::create_directories(mFolder / "in");
        std::filesystem::create_symlink(kModule, mFolder / "plugins" / std::filesystem::path(kModule).filename());
        if (kafhbench::RunKafh({"--config", Config(), "scan", "--dir", (mFolder / "plugins").string()}) != 0 || !WriteInput()) {
            return;
        }
        for (int i = 0; i < kFiles; ++i) {
            const auto name = mFolder / "in" / ("take-" + std::to_string(i) + ".wav");
            std::filesystem::create_symlink(mFolder / "source.wav", name);
            mInputs.push_back(name.string());
        }
        mReady = true;
    }
    ~BatchSetup()
    {
        std::error_code ignored;
        if (!mFolder.empty()) {
            std::filesystem::remove_all(mFolder, ignored);
        }
    }
    BatchSetup(const BatchSetup&) = delete;
    BatchSetup& operator=(const BatchSetup&) = delete;

    bool IsReady() const { return mReady; }
    std::string Config() const { return (mFolder / "config").string(); }
    const std::vector<std::string>& Inputs() const { return mInputs; }
    std::string Output() const { return (mFolder / "out").string(); }

private:
    bool WriteInput() const { return kafhbench::WriteSwellingChord(mFolder / "source.wav", kSeconds); }

    std::filesystem::path mFolder;
    std::vector<std::string> mInputs;
    bool mReady = false;
};

BatchSetup& Setup()
{
    static BatchSetup setup;
    return setup;
}

void Batch(benchmark::State& state, int jobs)
{
    auto& setup = Setup();
    if (!setup.IsReady()) {
        state.SkipWithError("ZamCompX2 (zam-plugins) is not installed, or kafh could not catalogue it");
        return;
    }
    std::vector<std::string> arguments{"--config", setup.Config(), "process", "ZamCompX2-vst"};
    arguments.insert(arguments.end(), setup.Inputs().begin(), setup.Inputs().end());
    arguments.insert(arguments.end(), {"--out-dir", setup.Output(), "-j", std::to_string(jobs), "--quiet"});
    for (auto _ : state) {
        if (kafhbench::RunKafh(arguments) != 0) {
            state.SkipWithError("kafh process --out-dir failed");
            return;
        }
    }
}

void TwoAtATime(benchmark::State& state)
{
    Batch(state, 2);
}

void OneAtATime(benchmark::State& state)
{
    Batch(state, 1);
}

} // namespace

BENCHMARK(TwoAtATime)->Name("kafh_batch_vs_serial/candidate")->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(OneAtATime)->Name("kafh_batch_vs_serial/baseline")->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

#endif
