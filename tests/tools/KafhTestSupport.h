// SPDX-License-Identifier: GPL-3.0-or-later
// Runs the built kafh as a process in a per-test folder, and reads and writes the audio files it
// works on.
#pragma once

#include <gtest/gtest.h>
#include <sndfile.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace kafhtest {

struct RunResult {
    int exitCode = -1;
    bool timedOut = false;
    std::string out;
    std::string err;
    double seconds = 0.0;
};

inline std::string ReadText(const std::filesystem::path& path)
{
    std::ifstream stream(path, std::ios::binary);
    std::ostringstream text;
    text << stream.rdbuf();
    return text.str();
}

inline void WriteText(const std::filesystem::path& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

/// A fresh folder per test, removed afterwards; kafh runs with its settings inside it.
class KafhTest : public ::testing::Test {
public:
    void SetUp() override
    {
        const char* base = std::getenv("TMPDIR");
        const std::filesystem::path parent(base != nullptr && *base != 0 ? base : "/tmp");
        auto pattern = (parent / "kafh-test-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        mFolder = pattern;
        mConfig = mFolder / "config";
        std::filesystem::create_directories(mFolder / "tmp");
    }

    void TearDown() override
    {
        std::error_code ignored;
        std::filesystem::remove_all(mFolder, ignored);
    }

    /// kafh --config <folder>/config ARGS..., with HOME, XDG_CONFIG_HOME and TMPDIR inside the folder.
    RunResult Kafh(std::vector<std::string> arguments, double timeoutSeconds = 60.0, bool withConfig = true) const
    {
        if (withConfig) {
            arguments.insert(arguments.begin(), {"--config", mConfig.string()});
        }
        return Run(arguments, timeoutSeconds);
    }

    RunResult Run(const std::vector<std::string>& arguments, double timeoutSeconds) const
    {
        std::vector<std::string> argumentTexts{KAFH_EXECUTABLE};
        argumentTexts.insert(argumentTexts.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (auto& text : argumentTexts) {
            argv.push_back(text.data());
        }
        argv.push_back(nullptr);
        std::vector<std::string> environment;
        for (char** entry = environ; *entry != nullptr; ++entry) {
            const std::string text(*entry);
            bool replaced = false;
            for (const char* name : {"HOME=", "XDG_CONFIG_HOME=", "TMPDIR=", "KAFH_TRACE="}) {
                replaced = replaced || text.rfind(name, 0) == 0;
            }
            if (!replaced) {
                environment.push_back(text);
            }
        }
        environment.push_back("HOME=" + mFolder.string());
        environment.push_back("XDG_CONFIG_HOME=" + (mFolder / "xdg").string());
        environment.push_back("TMPDIR=" + (mFolder / "tmp").string());
        std::vector<char*> envp;
        for (auto& text : environment) {
            envp.push_back(text.data());
        }
        envp.push_back(nullptr);

        const auto outPath = mFolder / "stdout.txt";
        const auto errPath = mFolder / "stderr.txt";
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        RunResult result;
        const auto started = std::chrono::steady_clock::now();
        pid_t child = -1;
        const int spawned = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), envp.data());
        posix_spawn_file_actions_destroy(&actions);
        if (spawned != 0) {
            ADD_FAILURE() << "cannot start " << argv[0];
            return result;
        }
        int status = 0;
        while (waitpid(child, &status, WNOHANG) == 0) {
            if (std::chrono::steady_clock::now() - started > std::chrono::duration<double>(timeoutSeconds)) {
                kill(child, SIGKILL);
                waitpid(child, &status, 0);
                result.timedOut = true;
                break;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        result.out = ReadText(outPath);
        result.err = ReadText(errPath);
        return result;
    }

    /// Scans the well-behaved test plug-ins into this test's catalogue.
    void ScanTestPlugins() const
    {
        const auto result = Kafh({"scan", "--dir", KAFH_TESTPLUGINS_VST2_DIR, "--timeout", "20"});
        ASSERT_EQ(result.exitCode, 0) << result.err;
    }

    std::filesystem::path mFolder;
    std::filesystem::path mConfig;
};

using Channels = std::vector<std::vector<float>>;

inline bool WriteAudio(const std::filesystem::path& path, const Channels& channels, int rate,
                       int format = SF_FORMAT_WAV | SF_FORMAT_FLOAT)
{
    SF_INFO info{};
    info.channels = static_cast<int>(channels.size());
    info.samplerate = rate;
    info.format = format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) {
        return false;
    }
    const std::size_t frames = channels.empty() ? 0 : channels.front().size();
    std::vector<float> interleaved(frames * channels.size());
    for (std::size_t i = 0; i < frames; ++i) {
        for (std::size_t c = 0; c < channels.size(); ++c) {
            interleaved[i * channels.size() + c] = channels[c][i];
        }
    }
    const auto written = sf_writef_float(file, interleaved.data(), static_cast<sf_count_t>(frames));
    sf_close(file);
    return written == static_cast<sf_count_t>(frames);
}

/// Empty channels when the file cannot be read.
inline Channels ReadAudio(const std::filesystem::path& path, int* rate = nullptr)
{
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        return {};
    }
    std::vector<float> interleaved(static_cast<std::size_t>(info.frames * info.channels));
    sf_readf_float(file, interleaved.data(), info.frames);
    sf_close(file);
    if (rate != nullptr) {
        *rate = info.samplerate;
    }
    const auto frames = static_cast<std::size_t>(info.frames);
    Channels channels(static_cast<std::size_t>(info.channels), std::vector<float>(frames));
    for (std::size_t i = 0; i < frames; ++i) {
        for (std::size_t c = 0; c < channels.size(); ++c) {
            channels[c][i] = interleaved[i * channels.size() + c];
        }
    }
    return channels;
}

/// A different, deterministic signal per channel, within +-0.5.
inline Channels TestSignal(int channels, int frames)
{
    Channels signal(static_cast<std::size_t>(channels), std::vector<float>(static_cast<std::size_t>(frames)));
    std::uint32_t state = 12345;
    for (std::size_t c = 0; c < signal.size(); ++c) {
        for (auto& sample : signal[c]) {
            state = state * 1664525u + 1013904223u;
            sample = static_cast<float>(state >> 8) / static_cast<float>(1u << 24) - 0.5f;
        }
    }
    return signal;
}

/// Names of the entries of a folder, for checking that nothing (no temporary file) was left.
inline std::vector<std::string> FolderEntries(const std::filesystem::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace kafhtest
