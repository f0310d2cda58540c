// SPDX-License-Identifier: GPL-3.0-or-later
// `kafh process --out-dir` rendering sixteen files through a real plug-in two at a time against one at
// a time: what rendering in a pool of children gains on two cores.
#ifdef KAFH_EXECUTABLE

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

extern char** environ;

namespace {

constexpr const char* kModule = "/usr/lib/vst/ZamCompX2-vst.so";
constexpr int kRate = 48000;
// Long enough per file that starting a child and loading the plug-in do not dominate.
constexpr int kSeconds = 60;
constexpr int kFiles = 16;

// Exit status of kafh with these arguments; its output goes nowhere.
int RunKafh(const std::vector<std::string>& arguments)
{
    std::vector<char*> argv{const_cast<char*>(KAFH_EXECUTABLE)};
    for (const auto& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, KAFH_EXECUTABLE, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    if (spawned != 0 || waitpid(pid, &status, 0) != pid) {
        return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

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
        if (RunKafh({"--config", Config(), "scan", "--dir", (mFolder / "plugins").string()}) != 0 || !WriteInput()) {
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
    // A chord with a slow swell, so the compressor works all the way through.
    bool WriteInput() const
    {
        SF_INFO info{0, kRate, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 0, 0};
        SNDFILE* file = sf_open((mFolder / "source.wav").c_str(), SFM_WRITE, &info);
        if (file == nullptr) {
            return false;
        }
        std::vector<float> block(2 * kRate);
        bool written = true;
        for (int second = 0; second < kSeconds && written; ++second) {
            for (int i = 0; i < kRate; ++i) {
                const double t = second + static_cast<double>(i) / kRate;
                const double level = 0.4 + 0.35 * std::sin(2.0 * M_PI * t / 7.0);
                block[2 * static_cast<std::size_t>(i)] = static_cast<float>(level * std::sin(2.0 * M_PI * 220.0 * t));
                block[2 * static_cast<std::size_t>(i) + 1] =
                    static_cast<float>(level * std::sin(2.0 * M_PI * 277.2 * t));
            }
            written = sf_writef_float(file, block.data(), kRate) == kRate;
        }
        return sf_close(file) == 0 && written;
    }

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
        if (RunKafh(arguments) != 0) {
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
