// SPDX-License-Identifier: GPL-3.0-or-later
// `kafh demo`: scans our own example plug-ins (and the zam modules where installed) into a
// temporary catalogue and renders a generated signal through an internal filter and VST 2 and
// VST 3 plug-ins.
#include "kelaudiofilterhost/catalogue/AudioFilterDescriptorManager.h"
#include "kelaudiofilterhost/services/File.h"
#include "kelaudiofilterhost/services/Platform.h"
#include "tools/kafh/Commands.h"
#include "tools/kafh/Console.h"
#include "tools/kafh/FilterLookup.h"
#include "tools/kafh/Parameters.h"
#include "tools/kafh/Render.h"
#include "tools/kafh/ScanCommand.h"
#include "tools/kafh/Settings.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iomanip>
#include <iostream>
#include <system_error>

#include <unistd.h>

namespace kafh {

namespace {

using namespace kelaudiofilterhost;

constexpr double kRate = 48000.0;
constexpr int kChannels = 2;
constexpr double kSeconds = 4.0;
constexpr const char* kOwnPlugins[] = {"KafhGain.so", "KafhLatency.so"};
constexpr const char* kZamFolder = "/usr/lib/vst";
// The VST 3 plug-in rendered: the zam bundle where installed, else our own.
constexpr const char* kOwnVst3Plugin = "KafhVst3Gain.vst3";
constexpr const char* kZamVst3Plugin = "/usr/lib/vst3/ZamCompX2.vst3";
// Tried in order for the plug-ins after ours, with settings that make them audible.
struct ZamChoice {
    const char* file;
    const char* label;
    std::vector<std::string> parameters;
};
const ZamChoice kZamChoices[] = {
    {"ZamCompX2-vst.so", "ZamCompX2 (VST 2), threshold 0.5", {"Threshold=0.5"}},
    {"ZamEQ2-vst.so", "ZamEQ2 (VST 2, mono: 2 instances)", {"Boost/Cut 1=1"}},
    {"ZamAutoSat-vst.so", "ZamAutoSat (VST 2)", {}},
    {"ZamTube-vst.so", "ZamTube (VST 2)", {}},
};

// A signal with something for every kind of effect: a sweep, noise bursts, a chord and silence
// (which must not make a plug-in's CPU use jump).
std::vector<std::vector<float>> MakeSignal()
{
    const auto frames = static_cast<std::size_t>(kSeconds * kRate);
    std::vector<std::vector<float>> signal(kChannels, std::vector<float>(frames, 0.0f));
    std::uint32_t noise = 22222;
    double phase = 0.0;
    for (std::size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / kRate;
        double left = 0.0;
        double right = 0.0;
        if (t < 1.5) {
            const double frequency = 40.0 * std::pow(400.0, t / 1.5);
            phase += 2.0 * M_PI * frequency / kRate;
            left = 0.5 * std::sin(phase);
            right = 0.4 * std::sin(phase);
        } else if (t < 2.5) {
            noise = noise * 1664525u + 1013904223u;
            const double white = static_cast<double>(noise >> 8) / static_cast<double>(1u << 24) * 2.0 - 1.0;
            const double envelope = std::exp(-std::fmod(t - 1.5, 0.25) * 24.0);
            left = 0.7 * white * envelope;
            right = 0.6 * white * envelope;
        } else if (t < 3.5) {
            left = 0.25 * std::sin(2.0 * M_PI * 440.0 * t) + 0.25 * std::sin(2.0 * M_PI * 660.0 * t);
            right = 0.25 * std::sin(2.0 * M_PI * 550.0 * t) + 0.25 * std::sin(2.0 * M_PI * 660.0 * t);
        }
        signal[0][i] = static_cast<float>(left);
        signal[1][i] = static_cast<float>(right);
    }
    return signal;
}

class MemorySource : public AudioSource {
public:
    explicit MemorySource(const std::vector<std::vector<float>>& signal) : mSignal(signal) {}
    int GetChannelCount() const override { return static_cast<int>(mSignal.size()); }
    double GetSampleRate() const override { return kRate; }
    std::int64_t GetFrameCount() const override { return static_cast<std::int64_t>(mSignal.front().size()); }
    int Read(float* const* channels, int frameCount) override
    {
        const auto left = mSignal.front().size() - mPosition;
        const auto count = std::min(left, static_cast<std::size_t>(frameCount));
        for (std::size_t c = 0; c < mSignal.size(); ++c) {
            std::copy_n(mSignal[c].begin() + static_cast<std::ptrdiff_t>(mPosition), count, channels[c]);
        }
        mPosition += count;
        return static_cast<int>(count);
    }

private:
    const std::vector<std::vector<float>>& mSignal;
    std::size_t mPosition = 0;
};

class MemorySink : public AudioSink {
public:
    explicit MemorySink(int channels) : mChannels(static_cast<std::size_t>(channels)) {}
    bool Write(const float* const* channels, int frameCount) override
    {
        for (std::size_t c = 0; c < mChannels.size(); ++c) {
            mChannels[c].insert(mChannels[c].end(), channels[c], channels[c] + frameCount);
        }
        return true;
    }
    const std::vector<std::vector<float>>& GetChannels() const { return mChannels; }

private:
    std::vector<std::vector<float>> mChannels;
};

struct DemoRender {
    std::string label;
    std::string id;
    std::vector<std::string> parameters;
    bool checkAlignment = false;
};

// Where an installed kafh keeps the demo's plug-ins (relative to its own folder), else where the
// build made them; empty when the named file is in neither.
std::filesystem::path OwnPluginFolder(const char* relative, const char* buildFolder, const char* fileName)
{
    std::vector<std::filesystem::path> folders;
    const auto executable = kelcore::filesupport::ToPath(kelcore::platform::GetExecutablePath());
    if (!executable.empty()) {
        folders.push_back((executable.parent_path() / relative).lexically_normal());
    }
    folders.emplace_back(buildFolder);
    for (const auto& folder : folders) {
        std::error_code status;
        if (std::filesystem::exists(folder / fileName, status)) {
            return folder;
        }
    }
    return {};
}

// The ID of the catalogued filter whose module file has the name; empty when none.
std::string FilterOfModule(const std::string& fileName)
{
    const auto& manager = AudioFilterDescriptorManager::GetInstance();
    for (auto it = manager.InfoBegin(); it != manager.InfoEnd(); ++it) {
        const auto path = kelcore::filesupport::ToPath((*it)->GetLocator().GetPath());
        if (!(*it)->IsInternal() && path.filename() == fileName) {
            return kelcore::UTF16to8((*it)->GetUniqueID());
        }
    }
    return {};
}

constexpr std::size_t kLabelWidth = 37;

std::string Cell(std::string text, std::size_t width)
{
    if (text.size() < width) {
        text += std::string(width - text.size(), ' ');
    }
    return text + " ";
}

// Renders one filter; prints its row; false with a message when it could not be rendered.
bool RenderOne(const DemoRender& plan, const std::vector<std::vector<float>>& signal, std::string& error)
{
    auto filter = CreateFilter(plan.id, error);
    if (!filter) {
        return false;
    }
    RequestChannelLayout(*filter, kChannels);
    if (ApplyParameterAssignments(*filter, plan.parameters, error) != kExitOk) {
        return false;
    }
    RenderOptions options;
    options.sampleRate = kRate;
    options.blockSize = 512;
    Renderer renderer;
    if (!renderer.Prepare(filter, kChannels, options, error)) {
        return false;
    }
    MemorySource source(signal);
    MemorySink sink(kChannels);
    RenderReport report;
    if (!renderer.Run(source, sink, report, error)) {
        return false;
    }
    std::string latency = std::to_string(report.latency);
    if (plan.checkAlignment) {
        double difference = 0.0;
        for (std::size_t c = 0; c < signal.size(); ++c) {
            for (std::size_t i = 0; i < signal[c].size() && i < sink.GetChannels()[c].size(); ++i) {
                const float rendered = sink.GetChannels()[c][i];
                difference = std::max(difference, static_cast<double>(std::fabs(rendered - signal[c][i])));
            }
        }
        latency += difference == 0.0 ? ", removed: out = in" : ", removed";
    }
    char change[32];
    std::snprintf(change, sizeof change, "%+.1f dB",
                  20.0 * std::log10(std::max(report.output.GetRms(), 1e-12) / std::max(report.input.GetRms(), 1e-12)));
    char speed[32];
    std::snprintf(speed, sizeof speed, "%.0fx", report.GetRealTimeFactor(kRate));
    std::cout << "  " << Cell(plan.label, kLabelWidth) << Cell(latency, 24)
              << Cell(FormatDecibels(report.input.peak), 11) << Cell(FormatDecibels(report.output.peak), 11)
              << Cell(FormatDecibels(report.input.GetRms()), 11) << Cell(FormatDecibels(report.output.GetRms()), 11)
              << Cell(change, 9) << speed << '\n';
    return true;
}

std::filesystem::path MakeTemporaryFolder()
{
    const char* base = std::getenv("TMPDIR");
    auto pattern = (std::filesystem::path(base != nullptr && *base != 0 ? base : "/tmp") / "kafh-demo-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        return {};
    }
    return pattern;
}

} // namespace

int RunDemoCommand(const DemoOptions& options)
{
    const auto started = std::chrono::steady_clock::now();
    const auto folder = MakeTemporaryFolder();
    if (folder.empty()) {
        return Fail("cannot make a temporary settings folder (set TMPDIR to a writable folder)");
    }
    struct Cleanup {
        std::filesystem::path folder;
        bool keep;
        ~Cleanup()
        {
            std::error_code ignored;
            if (!keep) {
                std::filesystem::remove_all(folder, ignored);
            }
        }
    } cleanup{folder, options.keep};
    Settings settings(folder);
    std::string error;
    if (!settings.Load(error)) {
        return Fail(error);
    }

    std::cout << "kafh demo: find plug-ins, catalogue them, render audio through them\n\n"
              << "1. Scan, each module in its own process, into a temporary catalogue (" << folder.string() << ")\n";
    std::vector<PluginLocator> modules;
    const auto own = OwnPluginFolder(KAFH_DEMO_PLUGINS_RELATIVE, KAFH_DEMO_PLUGINS_BUILD_DIR, kOwnPlugins[0]);
    if (own.empty()) {
        std::cout << "   our example plug-ins: not found (build the project with tests enabled, or install it)\n";
    } else {
        std::cout << "   our example plug-ins in " << own.string() << ":";
        for (const char* name : kOwnPlugins) {
            modules.emplace_back(VST, kelcore::filesupport::FromPath(own / name));
            std::cout << " " << name;
        }
        std::cout << '\n';
    }
    std::vector<std::filesystem::path> zam;
    std::error_code status;
    for (const auto& entry : std::filesystem::directory_iterator(kZamFolder, status)) {
        const auto name = entry.path().filename().string();
        if (entry.is_regular_file(status) && name.rfind("Zam", 0) == 0 && entry.path().extension() == ".so") {
            zam.push_back(entry.path());
        }
    }
    std::sort(zam.begin(), zam.end());
    for (const auto& path : zam) {
        modules.emplace_back(VST, kelcore::filesupport::FromPath(path));
    }
    const auto zamCount = zam.size();
    std::cout << "   zam VST 2 modules in " << kZamFolder << ": "
              << (zamCount == 0 ? std::string("none installed") : std::to_string(zamCount)) << '\n';
    const bool zamVst3 = std::filesystem::is_directory(kZamVst3Plugin, status);
    const auto ownVst3 =
        OwnPluginFolder(KAFH_DEMO_VST3_PLUGINS_RELATIVE, KAFH_DEMO_VST3_PLUGINS_BUILD_DIR, kOwnVst3Plugin);
    if (zamVst3) {
        modules.emplace_back(VST3, kelcore::filesupport::FromPath(kZamVst3Plugin));
        std::cout << "   VST 3 bundle: " << kZamVst3Plugin << '\n';
    } else if (!ownVst3.empty()) {
        modules.emplace_back(VST3, kelcore::filesupport::FromPath(ownVst3 / kOwnVst3Plugin));
        std::cout << "   VST 3 bundle (zam's is not installed): " << (ownVst3 / kOwnVst3Plugin).string() << '\n';
    } else {
        std::cout << "   VST 3 bundle: none found (neither " << kZamVst3Plugin << " nor our " << kOwnVst3Plugin << ")\n";
    }

    ScanOptions scan;
    scan.timeoutSeconds = options.timeoutSeconds;
    scan.verbose = options.verbose;
    // The report is the demo's output; progress lines would only repeat it off a terminal.
    scan.showProgress = isatty(STDERR_FILENO) == 1;
    ScanSummary summary;
    if (!ScanModules(modules, settings, scan, summary, error)) {
        return Fail(error);
    }
    std::cout << "   scanned " << modules.size() << " modules in " << FormatSeconds(summary.seconds) << ": "
              << summary.added.size() << " catalogued (" << summary.filtersAdded << " filters), "
              << summary.failed.size() << " failed, " << summary.banned.size() << " banned\n";
    for (const auto& entry : summary.failed) {
        std::cout << "   failed " << DisplayText(entry.path) << ": " << DisplayText(entry.detail) << '\n';
    }
    for (const auto& entry : summary.banned) {
        std::cout << "   banned " << DisplayText(entry.path) << ": " << DisplayText(entry.detail) << '\n';
    }

    std::vector<DemoRender> plans{{"Gain (internal), -6 dB", "kafh.example.gain", {"Gain=-6"}, false}};
    int plugins = 0;
    if (const auto id = FilterOfModule("KafhGain.so"); !id.empty()) {
        plans.push_back({"KafhGain (VST 2), Gain 50 %", id, {"Gain=50"}, false});
        ++plugins;
    }
    if (const auto id = FilterOfModule("KafhLatency.so"); !id.empty()) {
        plans.push_back({"KafhLatency (VST 2), delays 64", id, {}, true});
        ++plugins;
    }
    for (const auto& choice : kZamChoices) {
        const auto id = FilterOfModule(choice.file);
        if (!id.empty() && plugins < 3) {
            plans.push_back({choice.label, id, choice.parameters, false});
            ++plugins;
        }
    }
    if (const auto id = FilterOfModule("ZamCompX2.vst3"); !id.empty()) {
        plans.push_back({"ZamCompX2 (VST 3), threshold -30 dB", id, {"Threshold=-30"}, false});
    } else if (const auto own3 = FilterOfModule(kOwnVst3Plugin); !own3.empty()) {
        plans.push_back({"Kafh Gain (VST 3), Gain 0.5 x", own3, {"Gain=0.5"}, false});
    }

    std::cout << "\n2. Render a " << FormatSeconds(kSeconds) << " stereo test signal at " << kRate
              << " Hz (sweep, noise bursts, chord, silence)\n  "
              << Cell("filter", kLabelWidth) << Cell("latency (frames)", 24) << Cell("peak in", 11)
              << Cell("peak out", 11)
              << Cell("RMS in", 11) << Cell("RMS out", 11) << Cell("change", 9) << "real time\n";
    const auto signal = MakeSignal();
    int rendered = 0;
    int renderedPlugins = 0;
    for (const auto& plan : plans) {
        if (RenderOne(plan, signal, error)) {
            ++rendered;
            renderedPlugins += plan.id.rfind("kafh.example.", 0) == 0 ? 0 : 1;
        } else {
            std::cout << "  " << Cell(plan.label, kLabelWidth) << "not rendered: " << error << '\n';
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    std::cout << "\nDone in " << FormatSeconds(seconds) << ": " << rendered << " of " << plans.size()
              << " filters rendered, latency compensated, FTZ/DAZ on. "
              << (options.keep ? "The temporary catalogue is kept in " + folder.string() + "."
                               : std::string("The temporary catalogue was removed."))
              << "\nNext: kafh scan, kafh list, kafh info ID, kafh process ID IN.wav OUT.wav (kafh --help).\n";
    if (rendered < static_cast<int>(plans.size()) || renderedPlugins < 2) {
        return Fail("the demo needs an internal filter and two plug-ins to render; " + std::to_string(renderedPlugins) +
                    " plug-in(s) rendered");
    }
    return kExitOk;
}

} // namespace kafh
