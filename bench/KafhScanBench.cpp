// SPDX-License-Identifier: GPL-3.0-or-later
// The whole `kafh scan` command: two children against one, one child against the bare in-process
// scan of the same modules (the floors are in Vst2Bench.cpp and Vst3Bench.cpp), and the time per
// module of a large scan against that of a small one.
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;

// Seconds kafh took with these arguments, or a negative number when it failed; its output goes nowhere.
double TimeKafh(const std::vector<std::string>& arguments)
{
    std::vector<char*> argv{const_cast<char*>(KAFH_EXECUTABLE)};
    for (const auto& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    const auto start = std::chrono::steady_clock::now();
    pid_t pid = 0;
    const int spawned = posix_spawn(&pid, KAFH_EXECUTABLE, &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    if (spawned != 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        return -1.0;
    }
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

/// A temporary folder for settings and module copies, removed at exit.
class Folder {
public:
    Folder()
    {
        std::string pattern = (fs::temp_directory_path() / "kafh-scan-bench-XXXXXX").native();
        mPath = ::mkdtemp(pattern.data());
    }
    ~Folder()
    {
        std::error_code ignored;
        fs::remove_all(mPath, ignored);
    }
    const fs::path& Path() const { return mPath; }

private:
    fs::path mPath;
};

Folder& Scratch()
{
    static Folder folder;
    return folder;
}

// Scans into an empty catalogue each time; only the scan is timed.
void ScanTimed(benchmark::State& state, const std::vector<std::string>& scanArguments, double perModule = 0.0)
{
    const fs::path config = Scratch().Path() / "config";
    std::vector<std::string> arguments{"--config", config.string(), "scan", "--timeout", "60"};
    arguments.insert(arguments.end(), scanArguments.begin(), scanArguments.end());
    for (auto _ : state) {
        std::error_code ignored;
        fs::remove_all(config, ignored);
        const double seconds = TimeKafh(arguments);
        if (seconds < 0.0) {
            state.SkipWithError("kafh scan failed");
            break;
        }
        state.SetIterationTime(perModule > 0.0 ? seconds / perModule : seconds);
    }
}

bool Installed(const char* path)
{
    std::error_code status;
    return fs::exists(path, status);
}

// zam's VST 2 modules and VST 3 bundles, copied into one folder (the VST 2 folder holds others too).
const fs::path& ZamFolder()
{
    static const fs::path folder = [] {
        const fs::path target = Scratch().Path() / "zam";
        fs::create_directories(target);
        for (const char* source : {"/usr/lib/vst", "/usr/lib/vst3"}) {
            std::error_code status;
            for (const auto& entry : fs::directory_iterator(source, status)) {
                if (entry.path().filename().string().rfind("Za", 0) == 0) {
                    fs::copy(entry.path(), target / entry.path().filename(), fs::copy_options::recursive, status);
                }
            }
        }
        return target;
    }();
    return folder;
}

void ParallelScan(benchmark::State& state, std::string jobs)
{
    if (!Installed("/usr/lib/vst3/ZamComp.vst3")) {
        state.SkipWithError("zam's plug-ins are not installed");
        return;
    }
    ScanTimed(state, {"-j", jobs, "--dir", ZamFolder().string()});
}
BENCHMARK_CAPTURE(ParallelScan, two, std::string("2"))
    ->Name("kafh_scan_parallel_vs_serial/candidate")->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(ParallelScan, one, std::string("1"))
    ->Name("kafh_scan_parallel_vs_serial/baseline")->UseManualTime()->Unit(benchmark::kMillisecond);

void SerialScanOf(benchmark::State& state, std::string technology, std::string folder)
{
    if (!Installed(folder.c_str())) {
        state.SkipWithError("no modules installed");
        return;
    }
    ScanTimed(state, {"-j", "1", "--tech", technology, "--dir", folder});
}
BENCHMARK_CAPTURE(SerialScanOf, vst2, std::string("vst2"), std::string("/usr/lib/vst"))
    ->Name("kafh_scan_vs_floor/candidate")->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(SerialScanOf, vst3, std::string("vst3"), std::string("/usr/lib/vst3"))
    ->Name("kafh_scan_vs_floor_vst3/candidate")->UseManualTime()->Unit(benchmark::kMillisecond);

#ifdef KAFH_TESTPLUGINS_VST2_DIR
// Copies (not links, which the loader would take for one library) of our well-behaved test plug-ins.
fs::path CopiesFolder(int count)
{
    const fs::path target = Scratch().Path() / ("copies-" + std::to_string(count));
    if (fs::exists(target)) {
        return target;
    }
    fs::create_directories(target);
    const char* names[] = {"KafhGain", "KafhLatency", "KafhChunk", "KafhSynth", "KafhWide"};
    for (int i = 0; i < count; ++i) {
        const char* name = names[i % std::size(names)];
        fs::copy_file(fs::path(KAFH_TESTPLUGINS_VST2_DIR) / (std::string(name) + ".so"),
                      target / (std::string(name) + "-" + std::to_string(i) + ".so"));
    }
    // Read once before timing, as an installed plug-in folder would have been.
    TimeKafh({"--config", (Scratch().Path() / "warm-up").string(), "scan", "--dir", target.string()});
    return target;
}

void ScanPerModule(benchmark::State& state)
{
    const int count = static_cast<int>(state.range(0));
    const std::vector<std::string> arguments{"-j", "1", "--tech", "vst2", "--dir", CopiesFolder(count).string()};
    ScanTimed(state, arguments, count);
}
// Seconds per module. The iterations are fixed: the time per iteration is a module's, and the
// benchmark would otherwise run thousands of scans to fill its minimum time.
BENCHMARK(ScanPerModule)->Arg(2000)->Iterations(2)
    ->Name("kafh_scan_scaling/candidate")->UseManualTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(ScanPerModule)->Arg(100)->Iterations(10)
    ->Name("kafh_scan_scaling/baseline")->UseManualTime()->Unit(benchmark::kMicrosecond);
#endif

} // namespace
