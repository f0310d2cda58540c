// SPDX-License-Identifier: GPL-3.0-or-later
// kafh killed with SIGKILL at random moments while it scans (saving the catalogue and the banned
// set), bans and unbans, and saves a preset, many times over. The moments come from a fixed seed,
// printed so a failure can be replayed (KAFH_KILL_SEED overrides it).
#include "kelaudiofilterhost/services/PropList.h"
#include "testplugins/vst2/TestPluginIds.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <list>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;
using kelcore::proplist::PropList;
using Clock = std::chrono::steady_clock;

constexpr unsigned kDefaultSeed = 20261206;

unsigned Seed()
{
    const char* text = std::getenv("KAFH_KILL_SEED");
    return text != nullptr && *text != 0 ? static_cast<unsigned>(std::strtoul(text, nullptr, 10)) : kDefaultSeed;
}

std::string ReadText(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

enum class Operation { Scan, Ban, PresetSave };

class KafhKill : public ::testing::Test {
protected:
    void SetUp() override
    {
        auto pattern = ::testing::TempDir() + "kafh-kill-XXXXXX";
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        mFolder = pattern;
        for (const char* folder : {"config", "tmp", "plugins", "other", "presets"}) {
            fs::create_directories(mFolder / folder);
        }
        fs::copy_file(TestPlugin("KafhGain"), mFolder / "plugins" / "KafhGain.so");
        fs::copy_file(TestPlugin("KafhChunk"), mFolder / "other" / "KafhChunk.so");
        mSeed = Seed();
        mRandom.seed(mSeed);
        std::printf("kill test seed: %u (set KAFH_KILL_SEED to replay another)\n", mSeed);
        RecordProperty("seed", std::to_string(mSeed));
    }

    void TearDown() override
    {
        std::error_code ignored;
        fs::remove_all(mFolder, ignored);
    }

    static fs::path TestPlugin(const std::string& title)
    {
        return fs::path(KAFH_TESTPLUGINS_VST2_DIR) / (title + ".so");
    }

    fs::path Catalogue() const { return mFolder / "config" / "AudioPluginManagerSettings.xml"; }
    fs::path Banned() const { return mFolder / "config" / "DynamicAudioPlugInBlacklist.xml"; }
    fs::path Preset() const { return mFolder / "presets" / "gain.preset"; }

    /// Runs kafh in a process group of its own and kills the whole group after the delay; with no
    /// delay, waits for it to finish. The exit code, or -1 when killed.
    int Run(const std::vector<std::string>& arguments, std::optional<Clock::duration> killAfter)
    {
        std::vector<std::string> words = {KAFH_EXECUTABLE, "--config", (mFolder / "config").string()};
        words.insert(words.end(), arguments.begin(), arguments.end());
        std::vector<char*> argv;
        for (auto& word : words) {
            argv.push_back(word.data());
        }
        argv.push_back(nullptr);
        const std::string home = mFolder.string(), xdg = (mFolder / "xdg").string(), tmp = (mFolder / "tmp").string();

        const pid_t pid = fork();
        if (pid == 0) {
            setpgid(0, 0);
            setenv("HOME", home.c_str(), 1);
            setenv("XDG_CONFIG_HOME", xdg.c_str(), 1);
            setenv("TMPDIR", tmp.c_str(), 1);
            unsetenv("KAFH_TRACE");
            const int null = open("/dev/null", O_RDWR);
            dup2(null, 0);
            dup2(null, 1);
            dup2(null, 2);
            execv(argv[0], argv.data());
            _exit(127);
        }
        setpgid(pid, pid); // also here, so the kill below cannot come before the child's own call
        const auto deadline = Clock::now() + (killAfter ? *killAfter : std::chrono::seconds(30));
        int status = 0;
        while (waitpid(pid, &status, WNOHANG) == 0) {
            if (Clock::now() >= deadline) {
                kill(-pid, SIGKILL);
                waitpid(pid, &status, 0);
                EXPECT_TRUE(killAfter.has_value()) << "kafh " << arguments.front() << " did not finish within 30 s";
                break;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        // Scan helpers of a leader that has just exited die with the group.
        kill(-pid, SIGKILL);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }

    /// Starts the operation's next step: the scanned folder gains or loses a module, the banned set
    /// gains or loses one, the preset's gain flips. Each file thus alternates between two states.
    std::vector<std::string> NextStep(Operation operation)
    {
        const int step = mSteps[operation]++;
        switch (operation) {
        case Operation::Scan: {
            const auto latency = mFolder / "plugins" / "KafhLatency.so";
            std::error_code ignored;
            if (step % 2 == 0) {
                fs::copy_file(TestPlugin("KafhLatency"), latency, fs::copy_options::overwrite_existing, ignored);
            } else {
                fs::remove(latency, ignored);
            }
            return {"scan", "--dir", (mFolder / "plugins").string(), "--timeout", "20"};
        }
        case Operation::Ban:
            return {step % 2 == 0 ? "ban" : "unban", (mFolder / "other" / "KafhChunk.so").string()};
        case Operation::PresetSave:
            return {"preset", "save", "2:" + std::to_string(kafhtest::kGainId) + " KafhGain", Preset().string(), "--param",
                    step % 2 == 0 ? "0=50" : "0=150"};
        }
        return {};
    }

    /// Every operation to the end, twice, keeping the shorter time of each (the first pays for cold caches).
    void WarmUp()
    {
        for (int round = 0; round < 2; ++round) {
            for (const Operation operation : {Operation::Scan, Operation::Ban, Operation::PresetSave}) {
                const auto started = Clock::now();
                ASSERT_EQ(Run(NextStep(operation), std::nullopt), 0) << "operation " << static_cast<int>(operation);
                const auto took = Clock::now() - started;
                mDuration[operation] = round == 0 ? took : std::min(mDuration[operation], took);
                ExpectWholeFiles();
            }
        }
    }

    /// Runs the operations in turn, each killed at a random moment up to its usual end; stops early
    /// after 30 s (slow sanitizer builds).
    void KillRepeatedly(int rounds)
    {
        const auto stop = Clock::now() + std::chrono::seconds(30);
        for (int round = 0; round < rounds && !HasFailure() && Clock::now() < stop; ++round) {
            for (const Operation operation : {Operation::Scan, Operation::Ban, Operation::PresetSave}) {
                std::uniform_int_distribution<long long> moment(
                    0, std::chrono::duration_cast<std::chrono::microseconds>(mDuration[operation]).count());
                const auto delay = std::chrono::microseconds(moment(mRandom));
                mInterrupted += Run(NextStep(operation), delay) == -1 ? 1 : 0;
                ++mRuns;
                SCOPED_TRACE("round " + std::to_string(round) + ", operation " +
                             std::to_string(static_cast<int>(operation)) + ", killed after " +
                             std::to_string(delay.count()) + " us, seed " + std::to_string(mSeed));
                ExpectWholeFiles();
            }
        }
    }

    /// Once written, each file stays there and is one of its two whole states, read by the
    /// library's own reader.
    void ExpectWholeFiles()
    {
        for (const auto& path : {Catalogue(), Banned(), Preset()}) {
            if (fs::exists(path)) {
                mWritten.insert(path);
            }
        }
        struct Check {
            fs::path path;
            const char* countKey;
            std::set<std::int32_t> counts;
        };
        for (const Check& check : {Check{Catalogue(), "num_plugin_infos", {1, 2}},
                                   Check{Banned(), "num_banned_plugin_files", {0, 1}}}) {
            if (mWritten.count(check.path) == 0) {
                continue;
            }
            PropList list;
            std::int32_t count = -1;
            ASSERT_TRUE(kelcore::proplist::utils::ReadPropList(ReadText(check.path), list))
                << check.path << " is missing or not whole:\n" << ReadText(check.path);
            EXPECT_TRUE(list.GetValue(check.countKey, count) && check.counts.count(count) == 1)
                << check.path << ":\n" << ReadText(check.path);
        }
        if (mWritten.count(Preset()) == 0) {
            return;
        }
        PropList preset;
        ASSERT_TRUE(kelcore::proplist::utils::ReadPropList(ReadText(Preset()), preset))
            << Preset() << " is missing or not whole:\n" << ReadText(Preset());
        std::list<float> values;
        const PropList* settings = preset.GetChild("settings");
        ASSERT_TRUE(settings != nullptr && settings->GetValue("ParamList", values) && !values.empty())
            << ReadText(Preset());
        EXPECT_TRUE(values.front() == 0.25f || values.front() == 0.75f) << ReadText(Preset());
    }

    /// Temporary files of the atomic saves ("." name "." pid "." count ".tmp") whose writer is gone.
    std::vector<std::string> DeadWritersTemporaryFiles() const
    {
        std::vector<std::string> found;
        for (const auto& folder : {mFolder / "config", mFolder / "presets"}) {
            for (const auto& entry : fs::directory_iterator(folder)) {
                const std::string name = entry.path().filename().string();
                if (name.front() != '.' || !name.ends_with(".tmp")) {
                    continue;
                }
                const auto countDot = name.rfind('.', name.size() - 5);
                const auto pidDot = name.rfind('.', countDot - 1);
                const pid_t pid = std::atoi(name.substr(pidDot + 1, countDot - pidDot - 1).c_str());
                if (pid > 0 && kill(pid, 0) != 0 && errno == ESRCH) {
                    found.push_back(entry.path().string());
                }
            }
        }
        return found;
    }

    fs::path mFolder;
    unsigned mSeed = 0;
    std::mt19937 mRandom;
    std::map<Operation, int> mSteps;
    std::map<Operation, Clock::duration> mDuration;
    std::set<fs::path> mWritten;
    int mInterrupted = 0;
    int mRuns = 0;
};

TEST_F(KafhKill, CatalogueBannedSetAndPresetAreAlwaysTheOldOrTheNewWholeFile)
{
    WarmUp();
    KillRepeatedly(200);
    std::printf("%d of %d runs were killed before they finished\n", mInterrupted, mRuns);
    // Kills must mostly land inside a run, or the test proves little.
    EXPECT_GT(mInterrupted, mRuns / 4);
}

// Holds once the atomic save removes the temporary files that writers killed earlier left behind:
// a later successful save of the same file leaves none of them.
TEST_F(KafhKill, TemporaryFilesOfKilledSavesDoNotPileUp)
{
    WarmUp();
    KillRepeatedly(10);
    // Leftovers of a writer that certainly died, in case no kill above landed inside a save.
    const pid_t dead = fork();
    if (dead == 0) {
        _exit(0);
    }
    waitpid(dead, nullptr, 0);
    for (const auto& target : {Catalogue(), Banned(), Preset()}) {
        std::ofstream(target.parent_path() / ("." + target.filename().string() + "." + std::to_string(dead) + ".0.tmp"))
            << "<?xml";
    }
    // Two steps each: a kill may have left a file in the state the next step asks for, and an
    // unchanged catalogue or banned set is not saved again.
    for (const Operation operation : {Operation::Scan, Operation::Ban, Operation::PresetSave}) {
        for (int step = 0; step < 2; ++step) {
            ASSERT_EQ(Run(NextStep(operation), std::nullopt), 0);
        }
    }
    const auto left = DeadWritersTemporaryFiles();
    EXPECT_TRUE(left.empty()) << left.size() << " temporary files of dead writers remain, first " << left.front();
}

} // namespace
