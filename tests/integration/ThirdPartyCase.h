// SPDX-License-Identifier: GPL-3.0-or-later
// What the third-party cases of every technology share: the child process each case runs in, how a
// module is judged, the test signal, the stereo render and the comparison of states and outputs.
#pragma once

#include "kelaudiofilterhost/framework/AudioFilter.h"
#include "kelaudiofilterhost/framework/AudioFilterFactory.h"
#include "kelaudiofilterhost/isolation/IsolatedRun.h"
#include "kelaudiofilterhost/presets/PresetData.h"
#include "kelaudiofilterhost/services/ChannelLayouts.h"
#include "kelaudiofilterhost/services/PluginCallTrail.h"
#include "kelaudiofilterhost/services/PropList.h"
#include "tests/support/ScanSupport.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <iostream>
#include <list>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace kelaudiofilterhost::integration {

using isolation::Result;

inline constexpr float kRate = 48000.0f;
inline constexpr int kBlock = 512;
inline constexpr int kBlocks = 94; // one second
// Generous for a slow plug-in under sanitizers; only a plug-in that hangs ever waits this long.
inline constexpr std::chrono::milliseconds kScanTimeout{30000};
inline constexpr std::chrono::milliseconds kEffectTimeout{60000};

struct Module {
    /// From a package the set-up installs, one of our own test plug-ins, or anything else installed.
    enum class Source { Package, Ours, Other };
    PluginLocator locator;
    std::string path;
    Source source = Source::Other;
    /// Known to be sound: it must pass every case.
    bool Required() const { return source != Source::Other; }
};

inline std::string Canonical(const std::string& path)
{
    std::error_code error;
    const auto canonical = std::filesystem::weakly_canonical(path, error);
    return error ? path : canonical.string();
}

// The paths ending in suffix that the packages installed, as the package manager lists them.
inline std::set<std::string> KnownPackageFiles(const std::string& packages, const std::string& suffix)
{
    std::set<std::string> files;
    FILE* list = ::popen(("dpkg-query -L " + packages + " 2>/dev/null").c_str(), "r");
    if (list == nullptr) {
        return files;
    }
    char line[4096];
    while (std::fgets(line, sizeof line, list) != nullptr) {
        std::string path(line);
        while (!path.empty() && (path.back() == '\n' || path.back() == '\r')) {
            path.pop_back();
        }
        if (path.ends_with(suffix)) {
            files.insert(Canonical(path));
        }
    }
    ::pclose(list);
    return files;
}

// Runs the body in a child process: what it reports and the test framework's failures inside it come
// back as the payload; after a crash or hang the trail's step and the last plug-in call tell how far it got.
inline Result RunCase(const std::function<void(std::ostream&)>& body, std::chrono::milliseconds timeout)
{
    return isolation::RunForked(
        [&body](std::string& payload) {
            std::ostringstream report;
            ::testing::TestPartResultArray failures;
            {
                ::testing::ScopedFakeTestPartResultReporter intercept(
                    ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &failures);
                body(report);
            }
            bool passed = true;
            for (int i = 0; i < failures.size(); ++i) {
                const auto& failure = failures.GetTestPartResult(i);
                if (failure.failed()) {
                    passed = false;
                    report << failure.file_name() << ':' << failure.line_number() << ": " << failure.message()
                           << '\n';
                }
            }
            payload = report.str();
            return passed;
        },
        isolation::Options{timeout});
}

// A required module must pass; any other module's trouble is its own and is only reported.
inline void Judge(const Module& module, const std::string& what, const Result& result)
{
    if (result.Completed()) {
        return;
    }
    if (module.Required()) {
        ADD_FAILURE() << module.path << ", " << what << ": " << result.Describe() << '\n' << result.payload;
        return;
    }
    std::cout << "[ NOTE     ] " << module.path << ", " << what << ": " << result.Describe()
              << " (not one of the modules known to be sound)\n"
              << result.payload.substr(0, 2000) << '\n';
}

inline void ScanAlone(const PluginLocator& locator)
{
    testing::ScanInProcess({locator});
}

using testing::DescriptorsOf;

inline constexpr const char* kComponentLine = "component: ";

inline std::vector<UTF16String> ComponentsIn(const std::string& report)
{
    std::vector<UTF16String> components;
    std::istringstream lines(report);
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with(kComponentLine)) {
            components.push_back(kelcore::UTF8to16(line.substr(std::string(kComponentLine).size())));
        }
    }
    return components;
}

// A chirp-like signal with some noise, the same on every call.
inline void FillSignal(std::vector<std::vector<float>>& in, int block)
{
    for (std::size_t c = 0; c < in.size(); ++c) {
        for (int i = 0; i < kBlock; ++i) {
            const double t = (static_cast<double>(block) * kBlock + i) / kRate;
            const double noise = std::sin(t * 12345.678 * (static_cast<double>(c) + 1.0)) * 0.05;
            in[c][static_cast<std::size_t>(i)] =
                static_cast<float>(0.4 * std::sin(2.0 * M_PI * (220.0 + 400.0 * t) * t) + noise);
        }
    }
}

// Runs blocks of kBlock frames of the signal through the stereo mapping, between Resume and Suspend.
inline std::vector<float> Render(AudioFilter& filter, int blocks = kBlocks)
{
    filter.SetSampleRate(kRate);
    filter.SetBlockSize(kBlock);
    filter.SetUseChannelMap(true);
    filter.SetChannelMapTargetChannelLayout(kelmediatypes::CreateStereoChannelLayout());
    filter.SetChannelMap(AudioFilter::BuildBestFitChannelMap(filter.GetInputBuses(),
                                                             kelmediatypes::CreateStereoChannelLayout()), true);
    filter.SetChannelMap(AudioFilter::BuildBestFitChannelMap(filter.GetOutputBuses(),
                                                             kelmediatypes::CreateStereoChannelLayout()), false);
    filter.Resume();
    std::vector<std::vector<float>> in(2, std::vector<float>(kBlock)), out(2, std::vector<float>(kBlock));
    float* inPointers[] = {in[0].data(), in[1].data()};
    float* outPointers[] = {out[0].data(), out[1].data()};
    std::vector<float> samples;
    for (int block = 0; block < blocks; ++block) {
        FillSignal(in, block);
        // Outputs an accumulating effect leaves alone keep what the caller put there.
        for (auto& channel : out) {
            std::fill(channel.begin(), channel.end(), 0.0f);
        }
        filter.ProcessWithMapping(inPointers, outPointers, kBlock);
        for (const auto& channel : out) {
            samples.insert(samples.end(), channel.begin(), channel.end());
        }
    }
    filter.Suspend();
    return samples;
}

inline double RmsDifference(const std::vector<float>& a, const std::vector<float>& b)
{
    double sum = 0.0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const double d = static_cast<double>(a[i]) - b[i];
        sum += d * d;
    }
    return std::sqrt(sum / static_cast<double>(std::max<std::size_t>(a.size(), 1)));
}

// Where two states part: the kind of record, the chunk's size or the first parameter value.
inline std::string StateDifference(const PresetData& saved, const PresetData& again)
{
    std::ostringstream text;
    PresetData::ChunkBytes savedBytes, againBytes;
    const bool chunks = saved.GetChunkData(savedBytes) | again.GetChunkData(againBytes);
    std::list<float> savedValues, againValues;
    saved.GetParamList(savedValues);
    again.GetParamList(againValues);
    if (saved.GetPresetType() != again.GetPresetType() || saved.GetVersion() != again.GetVersion()) {
        text << "type " << again.GetPresetType() << " version " << again.GetVersion() << " instead of type "
             << saved.GetPresetType() << " version " << saved.GetVersion();
    } else if (chunks) {
        text << "chunk of " << againBytes.size() << " bytes instead of " << savedBytes.size()
             << (savedBytes.size() == againBytes.size() ? ", other bytes" : "");
    } else if (savedValues.size() != againValues.size()) {
        text << againValues.size() << " parameter values instead of " << savedValues.size();
    } else {
        auto [s, a] = std::mismatch(savedValues.begin(), savedValues.end(), againValues.begin());
        if (s != savedValues.end()) {
            text << "parameter " << std::distance(savedValues.begin(), s) << " is " << *a << " instead of " << *s;
        }
    }
    return text.str();
}

// Restores the saved state into a fresh instance, which must take it, save it again unchanged and render
// the original's output: bitwise for a deterministic effect. One that is not (random modulation,
// threads) is held, when bounded, to its own spread: the original may differ from a restored instance
// only as much as two restored instances differ from each other. Compare sees the restored instance first.
inline void CheckRestore(const UTF16String& id, const PresetData& saved, const std::vector<float>& original, int blocks,
                         std::ostream& report, bool bounded, const std::function<void(AudioFilter&)>& compare = {})
{
    kelcore::trail::SetStep("restore");
    auto restore = [&] {
        auto instance = utility::CreateAudioFilter(id);
        EXPECT_TRUE(instance && instance->LoadSettings(saved)) << "the saved state is refused";
        return instance;
    };
    auto restored = restore();
    ASSERT_TRUE(restored);
    if (compare) {
        compare(*restored);
    }
    kelcore::proplist::PropList againList;
    PresetData again(againList);
    restored->SaveSettings(again);
    EXPECT_TRUE(again == saved) << "the restored instance saves another state: " << StateDifference(saved, again);

    kelcore::trail::SetStep("process restored");
    const auto second = Render(*restored, blocks);
    ASSERT_EQ(second.size(), original.size());
    if (second != original) {
        auto twin = restore();
        ASSERT_TRUE(twin);
        const double spread = RmsDifference(second, Render(*twin, blocks));
        const double difference = RmsDifference(original, second);
        report << "not bitwise equal: difference " << difference << ", spread between restored instances " << spread
               << '\n';
        EXPECT_GT(spread, 0.0) << "restored instances agree with each other, not with the original";
        if (bounded) {
            EXPECT_LE(difference, 2.0 * spread)
                << "a restored instance differs from the original more than its own spread";
        }
    }
    kelcore::trail::SetStep("release");
}

// Renders and checks that the output is finite and, when the effect passes signal, not silent.
inline std::vector<float> RenderChecked(AudioFilter& filter, int blocks, bool passesSignal)
{
    kelcore::trail::SetStep("process");
    auto samples = Render(filter, blocks);
    EXPECT_TRUE(std::all_of(samples.begin(), samples.end(), [](float s) { return std::isfinite(s); }))
        << "non-finite output";
    if (passesSignal) {
        EXPECT_GT(RmsDifference(samples, std::vector<float>(samples.size())), 0.0) << "silent output";
    }
    return samples;
}

// A technology's suite: every module scanned once per process, each in its own child so that nothing
// of a plug-in is loaded here; then every component the scans report run through the case.
template <typename Suite>
class ThirdPartySuite : public ::testing::Test {
protected:
    struct Scanned {
        Module module;
        Result result;
    };
    using Case = void (*)(const Module&, const UTF16String&, std::ostream&);

    static void ScanEach(const std::vector<Module>& modules, void (*scan)(const Module&, std::ostream&))
    {
        Initialize();
        for (const auto& module : modules) {
            sScanned.push_back({module, RunCase([&](std::ostream& report) { scan(module, report); }, kScanTimeout)});
        }
    }
    static void TearDownTestSuite() { sScanned.clear(); }

    // Returns how many components ran.
    static std::size_t RunEachComponent(Case body)
    {
        std::size_t components = 0;
        for (const auto& [module, scan] : sScanned) {
            for (const auto& id : ComponentsIn(scan.payload)) {
                ++components;
                const auto result =
                    RunCase([&](std::ostream& report) { body(module, id, report); }, kEffectTimeout);
                Judge(module, kelcore::UTF16to8(id), result);
                if (!result.payload.empty() && result.Completed()) {
                    std::cout << "[ NOTE     ] " << module.path << ": " << result.payload;
                }
            }
        }
        return components;
    }

    static inline std::vector<Scanned> sScanned;
};

} // namespace kelaudiofilterhost::integration
