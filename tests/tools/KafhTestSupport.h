// SPDX-License-Identifier: GPL-3.0-or-later
// Runs the built kafh as a process in a per-test folder, and reads and writes the audio files it
// works on.
#pragma once

#include <gtest/gtest.h>
#include <sndfile.h>

#include <algorithm>
#include <iterator>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <signal.h>
#include <sys/wait.h>

namespace kafhtest {

struct RunResult {
    int exitCode = -1;
    std::string out;
    std::string err;
    double seconds = 0.0;
};

inline std::string ReadText(const std::filesystem::path& path)
{
    std::ostringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
}

inline void WriteText(const std::filesystem::path& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

using Channels = std::vector<std::vector<float>>;

/// 24-bit FLAC for a .flac path, floating-point WAV otherwise.
inline bool WriteAudio(const std::filesystem::path& path, const Channels& channels, int rate)
{
    const bool flac = path.extension() == ".flac";
    SF_INFO info{0, rate, static_cast<int>(channels.size()),
                 flac ? SF_FORMAT_FLAC | SF_FORMAT_PCM_24 : SF_FORMAT_WAV | SF_FORMAT_FLOAT, 0, 0};
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    const auto frames = static_cast<sf_count_t>(channels.front().size());
    std::vector<float> interleaved(channels.front().size() * channels.size());
    for (std::size_t i = 0; i < interleaved.size(); ++i) {
        interleaved[i] = channels[i % channels.size()][i / channels.size()];
    }
    const bool written = file != nullptr && sf_writef_float(file, interleaved.data(), frames) == frames;
    sf_close(file);
    return written;
}

/// Empty channels when the file cannot be read.
inline Channels ReadAudio(const std::filesystem::path& path)
{
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        return {};
    }
    const auto count = static_cast<std::size_t>(info.channels);
    std::vector<float> interleaved(static_cast<std::size_t>(info.frames) * count);
    sf_readf_float(file, interleaved.data(), info.frames);
    sf_close(file);
    Channels channels(count, std::vector<float>(static_cast<std::size_t>(info.frames)));
    for (std::size_t i = 0; i < interleaved.size(); ++i) {
        channels[i % count][i / count] = interleaved[i];
    }
    return channels;
}

/// A fresh folder per test, removed afterwards; kafh runs with its settings inside it.
class KafhTest : public ::testing::Test {
public:
    void SetUp() override
    {
        auto pattern = ::testing::TempDir() + "kafh-test-XXXXXX";
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
        // env and timeout from coreutils set up the child; a kafh killed at the timeout exits 137.
        std::string command = "env -u KAFH_TRACE HOME=" + Quote(mFolder) + " XDG_CONFIG_HOME=" +
                              Quote(mFolder / "xdg") + " TMPDIR=" + Quote(mFolder / "tmp") + " timeout -s KILL " +
                              std::to_string(timeoutSeconds) + " " + Quote(KAFH_EXECUTABLE);
        for (const auto& argument : arguments) {
            command += " " + Quote(argument);
        }
        command += " </dev/null >" + Quote(mFolder / "stdout.txt") + " 2>" + Quote(mFolder / "stderr.txt");
        const auto started = std::chrono::steady_clock::now();
        const int status = std::system(command.c_str());
        RunResult result;
        result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        result.out = ReadText(mFolder / "stdout.txt");
        result.err = ReadText(mFolder / "stderr.txt");
        return result;
    }

    /// Writes the signal as IN, processes it through the filter and reads OUT back; empty when kafh failed.
    Channels Process(const Channels& signal, std::vector<std::string> options, const std::string& id,
                     const std::string& inName = "in.wav", const std::string& outName = "out.wav") const
    {
        const auto in = mFolder / inName;
        const auto out = mFolder / outName;
        std::filesystem::remove(out);
        EXPECT_TRUE(WriteAudio(in, signal, 44100));
        options.insert(options.begin(), {"process", id, in.string(), out.string()});
        const auto result = Kafh(options);
        EXPECT_EQ(result.exitCode, 0) << result.err;
        return ReadAudio(out);
    }

    /// Copies FILES of FROM into <folder>/plugins, to scan only them; returns that folder.
    std::filesystem::path CopyPlugins(const std::filesystem::path& from, std::initializer_list<const char*> files) const
    {
        const auto plugins = mFolder / "plugins";
        std::filesystem::create_directories(plugins);
        for (const auto* file : files) {
            std::filesystem::copy_file(from / file, plugins / file);
        }
        return plugins;
    }

    /// ARGUMENTS fail with EXIT code and one line (two for usage errors) naming NAMES, and print nothing.
    void ExpectRefused(const std::vector<std::string>& arguments, int exitCode, const std::string& names,
                       bool withConfig = true) const
    {
        const auto result = Kafh(arguments, 60.0, withConfig);
        SCOPED_TRACE(result.err);
        EXPECT_EQ(result.exitCode, exitCode);
        EXPECT_EQ(result.err.rfind("kafh: error: ", 0), 0u);
        EXPECT_NE(result.err.substr(0, result.err.find('\n')).find(names), std::string::npos) << names;
        // Usage errors (exit code 2) add a second line pointing at the help.
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), exitCode);
        EXPECT_TRUE(result.out.empty()) << result.out;
    }

    /// One shell word.
    static std::string Quote(const std::filesystem::path& text)
    {
        std::string quoted = "'";
        for (const char c : text.string()) {
            quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
        }
        return quoted + "'";
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

/// Starts with the well-behaved test plug-ins catalogued.
class KafhScannedTest : public KafhTest {
public:
    void SetUp() override
    {
        KafhTest::SetUp();
        ScanTestPlugins();
    }
};

/// A different, deterministic signal per channel, within +-0.5.
inline Channels TestSignal(int channels, int frames)
{
    Channels signal(static_cast<std::size_t>(channels), std::vector<float>(static_cast<std::size_t>(frames)));
    std::uint32_t state = 12345;
    for (auto& channel : signal) {
        for (auto& sample : channel) {
            state = state * 1664525u + 1013904223u;
            sample = static_cast<float>(state >> 8) / static_cast<float>(1u << 24) - 0.5f;
        }
    }
    return signal;
}

/// Every sample of OUT is IN's times the channel's gain, and no frame is added or lost.
inline void ExpectScaled(const Channels& in, const Channels& out, const std::vector<float>& gains)
{
    ASSERT_EQ(out.size(), in.size());
    for (std::size_t c = 0; c < in.size(); ++c) {
        ASSERT_EQ(out[c].size(), in[c].size()) << "channel " << c;
        for (std::size_t i = 0; i < in[c].size(); ++i) {
            ASSERT_FLOAT_EQ(out[c][i], in[c][i] * gains[c]) << "channel " << c << " frame " << i;
        }
    }
}

/// How many entries a folder holds, for checking that nothing (no temporary file) was left.
inline long EntryCount(const std::filesystem::path& folder)
{
    return std::distance(std::filesystem::directory_iterator(folder), std::filesystem::directory_iterator());
}

} // namespace kafhtest
