// SPDX-License-Identifier: GPL-3.0-or-later
// The whole `kafh process` command rendering ten minutes of stereo through a real plug-in, with the
// plug-in in a watched child process (the default) against in kafh's own process.
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
constexpr int kSeconds = 600;

// A settings folder with the module catalogued and the input file, made once for both sides.
class RenderSetup {
public:
    RenderSetup()
    {
        auto pattern = std::filesystem::temp_directory_path().string() + "/kafh-render-bench-XXXXXX";
        if (!std::filesystem::exists(kModule) || mkdtemp(pattern.data()) == nullptr) {
            return;
        }
        mFolder = pattern;
        std::filesystem::create_directories(mFolder / "plugins");
        std::filesystem::create_symlink(kModule, mFolder / "plugins" / std::filesystem::path(kModule).filename());
        if (kafhbench::RunKafh({"--config", Config(), "scan", "--dir", (mFolder / "plugins").string()}) != 0 || !WriteInput()) {
            return;
        }
        mReady = true;
    }
    ~RenderSetup()
    {
        std::error_code ignored;
        if (!mFolder.empty()) {
            std::filesystem::remove_all(mFolder, ignored);
        }
    }
    RenderSetup(const RenderSetup&) = delete;
    RenderSetup& operator=(const RenderSetup&) = delete;

    bool IsReady() const { return mReady; }
    std::string Config() const { return (mFolder / "config").string(); }
    std::string Input() const { return (mFolder / "in.wav").string(); }
    std::string Output() const { return (mFolder / "out.wav").string(); }

private:
    bool WriteInput() const { return kafhbench::WriteSwellingChord(Input(), kSeconds); }

    std::filesystem::path mFolder;
    bool mReady = false;
};

RenderSetup& Setup()
{
    static RenderSetup setup;
    return setup;
}

void Render(benchmark::State& state, bool inProcess)
{
    auto& setup = Setup();
    if (!setup.IsReady()) {
        state.SkipWithError("ZamCompX2 (zam-plugins) is not installed, or kafh could not catalogue it");
        return;
    }
    std::vector<std::string> arguments{"--config", setup.Config(), "process", "ZamCompX2-vst", setup.Input(),
                                       setup.Output(), "--quiet"};
    if (inProcess) {
        arguments.emplace_back("--in-process");
    }
    for (auto _ : state) {
        if (kafhbench::RunKafh(arguments) != 0) {
            state.SkipWithError("kafh process failed");
            return;
        }
    }
}

void IsolatedRender(benchmark::State& state)
{
    Render(state, false);
}

void InProcessRender(benchmark::State& state)
{
    Render(state, true);
}

} // namespace

BENCHMARK(IsolatedRender)->Name("kafh_isolated_render_vs_in_process/candidate")->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(InProcessRender)->Name("kafh_isolated_render_vs_in_process/baseline")->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

#endif
