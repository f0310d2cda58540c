// SPDX-License-Identifier: GPL-3.0-or-later
// What the benchmarks of whole kafh commands share: running kafh and writing an input file.
#pragma once

#include <sndfile.h>

#include <cmath>
#include <filesystem>
#include <string>
#include <vector>

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace kafhbench {

inline constexpr int kRate = 48000;

/// Exit status of kafh with these arguments; its output goes nowhere.
inline int RunKafh(const std::vector<std::string>& arguments)
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

/// A 16-bit stereo WAV of a chord with a slow swell, so that a compressor works all the way through.
inline bool WriteSwellingChord(const std::filesystem::path& path, int seconds)
{
    SF_INFO info{0, kRate, 2, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 0, 0};
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (file == nullptr) {
        return false;
    }
    std::vector<float> block(2 * kRate);
    bool written = true;
    for (int second = 0; second < seconds && written; ++second) {
        for (int i = 0; i < kRate; ++i) {
            const double t = second + static_cast<double>(i) / kRate;
            const double level = 0.4 + 0.35 * std::sin(2.0 * M_PI * t / 7.0);
            block[2 * static_cast<std::size_t>(i)] = static_cast<float>(level * std::sin(2.0 * M_PI * 220.0 * t));
            block[2 * static_cast<std::size_t>(i) + 1] = static_cast<float>(level * std::sin(2.0 * M_PI * 277.2 * t));
        }
        written = sf_writef_float(file, block.data(), kRate) == kRate;
    }
    return sf_close(file) == 0 && written;
}

} // namespace kafhbench
