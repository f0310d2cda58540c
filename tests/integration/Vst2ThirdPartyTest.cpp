// SPDX-License-Identifier: GPL-3.0-or-later
// Every VST 2 module installed on the machine and our own test plug-ins, each case in a child process:
// scanned alone, every effect created, processed, changed, saved and restored. Only the modules of the
// packages the set-up installs, and our own, are known to be sound and must pass; others are reported.
#include "kelaudiofilterhost/catalogue/AudioFilterDescriptorManager.h"
#include "kelaudiofilterhost/catalogue/PluginModuleInfoManager.h"
#include "kelaudiofilterhost/catalogue/PluginModuleScanner.h"
#include "kelaudiofilterhost/framework/AudioFilter.h"
#include "kelaudiofilterhost/framework/AudioFilterFactory.h"
#include "kelaudiofilterhost/isolation/IsolatedRun.h"
#include "kelaudiofilterhost/presets/PresetData.h"
#include "kelaudiofilterhost/services/File.h"
#include "kelaudiofilterhost/services/PluginCallTrail.h"
#include "kelaudiofilterhost/services/PropList.h"
#include "kelaudiofilterhost/vst2/VSTAudioFilter.h"
#include "kelaudiofilterhost/vst2/VSTPluginModule.h"
#include "kelaudiofilterhost/vst2/VSTTechnology.h"

#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>
#include <set>
#include <sstream>

namespace kelaudiofilterhost {
namespace {

using isolation::Result;

constexpr float kRate = 48000.0f;
constexpr int kBlock = 512;
constexpr int kBlocks = 94; // one second
// Generous for a slow plug-in under sanitizers; only a plug-in that hangs ever waits this long.
constexpr std::chrono::milliseconds kScanTimeout{30000};
constexpr std::chrono::milliseconds kEffectTimeout{60000};

struct Module {
    /// From a package the set-up installs, one of our own test plug-ins, or anything else installed.
    enum class Source { Package, Ours, Other };
    PluginLocator locator;
    std::string path;
    Source source = Source::Other;
    /// Known to be sound: it must pass every case.
    bool Required() const { return source != Source::Other; }
};

std::string Canonical(const std::string& path)
{
    std::error_code error;
    const auto canonical = std::filesystem::weakly_canonical(path, error);
    return error ? path : canonical.string();
}

// The files of the packages the set-up installs, as the package manager lists them.
std::set<std::string> KnownPackageFiles()
{
    std::set<std::string> files;
    FILE* list = ::popen("dpkg-query -L zam-plugins dpf-plugins-vst 2>/dev/null", "r");
    if (list == nullptr) {
        return files;
    }
    char line[4096];
    while (std::fgets(line, sizeof line, list) != nullptr) {
        std::string path(line);
        while (!path.empty() && (path.back() == '\n' || path.back() == '\r')) {
            path.pop_back();
        }
        if (path.ends_with(".so")) {
            files.insert(Canonical(path));
        }
    }
    ::pclose(list);
    return files;
}

// Every candidate of the VST 2 folders the library searches by default, and our own test plug-ins.
std::vector<Module> ModulesToTry()
{
    const auto known = KnownPackageFiles();
    std::vector<Module> modules;
    std::set<std::string> seen;
    auto add = [&](const UTF16String& folder, bool ours) {
        for (const auto& locator : vst::CollectVSTPlugins(kelcore::filesupport::Dir(folder))) {
            const auto path = kelcore::UTF16to8(locator.GetPath());
            if (seen.insert(Canonical(path)).second) {
                const auto source = ours                              ? Module::Source::Ours
                                    : known.contains(Canonical(path)) ? Module::Source::Package
                                                                      : Module::Source::Other;
                modules.push_back({locator, path, source});
            }
        }
    };
    for (const auto& folder : vst::GetDefaultVSTDirectories()) {
        add(folder, false);
    }
    add(kelcore::UTF8to16(KAFH_TESTPLUGINS_VST2_DIR), true);
    add(kelcore::UTF8to16(KAFH_INTEGRATION_VST2_DIR), true);
    return modules;
}

// Runs the body in a child process: what it reports and the test framework's failures inside it come
// back as the payload; after a crash or hang the trail's step and the last plug-in call tell how far it got.
Result RunCase(const std::function<void(std::ostream&)>& body, std::chrono::milliseconds timeout)
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
void Judge(const Module& module, const std::string& what, const Result& result)
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

void ScanAlone(const PluginLocator& locator)
{
    boost::intrusive_ptr<PluginModuleScanner> scanner = new PluginModuleScanner({locator});
    scanner->BeginScan();
    while (scanner->ContinueScan()) {
    }
    scanner->EndScan();
}

std::vector<boost::intrusive_ptr<AudioFilterDescriptor>> DescriptorsOf(const PluginLocator& locator)
{
    std::vector<boost::intrusive_ptr<AudioFilterDescriptor>> found;
    const auto& manager = AudioFilterDescriptorManager::GetInstance();
    for (auto it = manager.InfoBegin(); it != manager.InfoEnd(); ++it) {
        if ((*it)->GetLocator() == locator) {
            found.push_back(*it);
        }
    }
    return found;
}

constexpr const char* kComponentLine = "component: ";

// In the child: scans the module alone and checks what the catalogue records against what the module
// is, read through the binary interface. Reports one line per component for the effect cases.
void ScanCase(const Module& module, std::ostream& report)
{
    kelcore::trail::SetStep("scan");
    ScanAlone(module.locator);
    const auto info = PluginModuleInfoManager::GetInstance().FindPluginInfo(module.locator);
    const auto descriptors = DescriptorsOf(module.locator);

    kelcore::trail::SetStep("inspect");
    auto loaded = vst::GetOrLoadModule(module.locator.GetPath());
    vst::abi::AEffect* effect = loaded ? loaded->Instantiate(0) : nullptr;
    if (effect == nullptr || effect->magic != vst::abi::kEffectMagic) {
        report << "not a plug-in\n";
        EXPECT_FALSE(info) << "a file that is not a plug-in is catalogued";
        EXPECT_TRUE(descriptors.empty()) << "a file that is not a plug-in has filters";
        return;
    }
    const bool synth = (effect->flags & vst::abi::effFlagsIsSynth) != 0;
    const bool shell = effect->dispatcher(effect, vst::abi::effGetPlugCategory, 0, 0, nullptr, 0.0f) ==
                       vst::abi::kPlugCategShell;
    const auto uniqueID = static_cast<std::uint32_t>(effect->uniqueID);
    // Opened and closed again as every instance is.
    boost::intrusive_ptr<vst::VSTAudioFilter> probe =
        new vst::VSTAudioFilter(vst::MakeComponentID(uniqueID, module.locator.GetPath()), module.locator.GetPath(),
                                effect, true);
    probe.reset();

    report << (shell ? "shell" : synth ? "instrument" : "effect") << ", " << descriptors.size() << " filter(s)\n";
    EXPECT_TRUE(info) << "a plug-in is not catalogued";
    std::set<UTF16String> ids;
    for (const auto& descriptor : descriptors) {
        EXPECT_TRUE(ids.insert(descriptor->GetUniqueID()).second) << "a filter is catalogued twice";
        report << kComponentLine << kelcore::UTF16to8(descriptor->GetUniqueID()) << '\n';
    }
    if (shell) {
        return;
    }
    if (synth) {
        EXPECT_TRUE(descriptors.empty()) << "an instrument is catalogued with a filter";
        return;
    }
    // An effect the library refuses to host (its channel counts, say) is catalogued without a filter;
    // the packages' effects are all hostable.
    ASSERT_LE(descriptors.size(), 1u);
    if (module.source == Module::Source::Package) {
        EXPECT_EQ(descriptors.size(), 1u) << "an effect is catalogued without a filter";
    }
    if (!descriptors.empty()) {
        EXPECT_EQ(kelcore::UTF16to8(descriptors.front()->GetUniqueID()),
                  kelcore::UTF16to8(vst::MakeComponentID(uniqueID, module.locator.GetPath())));
    }
}

std::vector<UTF16String> ComponentsIn(const std::string& report)
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
void FillSignal(std::vector<std::vector<float>>& in, int block)
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

std::vector<float> Render(AudioFilter& filter)
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
    for (int block = 0; block < kBlocks; ++block) {
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

double RmsDifference(const std::vector<float>& a, const std::vector<float>& b)
{
    double sum = 0.0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const double d = static_cast<double>(a[i]) - b[i];
        sum += d * d;
    }
    return std::sqrt(sum / static_cast<double>(std::max<std::size_t>(a.size(), 1)));
}

// In the child: the effect's case. The restore is judged by the state and the audio, not by what
// getParameter echoes: a plug-in may echo a value exactly and store it rounded to its own steps.
void EffectCase(const Module& module, const UTF16String& id, std::ostream& report)
{
    kelcore::trail::SetStep("scan");
    ScanAlone(module.locator);
    kelcore::trail::SetStep("create");
    auto filter = utility::CreateAudioFilter(id);
    ASSERT_TRUE(filter);
    const auto descriptor = AudioFilterDescriptorManager::GetInstance().GetComponentDescriptorForID(id);
    ASSERT_TRUE(descriptor);
    EXPECT_EQ(kelcore::UTF16to8(filter->GetDisplayName()), kelcore::UTF16to8(descriptor->GetName()));

    kelcore::trail::SetStep("change parameters");
    for (int i = 0; i < filter->GetParameterCount(); ++i) {
        filter->SetParameter(i, 0.25f + 0.125f * static_cast<float>(i % 3));
        EXPECT_TRUE(std::isfinite(filter->GetParameter(i))) << "parameter " << i;
    }
    kelcore::proplist::PropList savedList;
    PresetData saved(savedList);
    filter->SaveSettings(saved);
    ASSERT_FALSE(saved.IsEmpty());
    // The original takes its own saved state back, so that it holds exactly what was saved, rounded
    // as the plug-in stores it.
    ASSERT_TRUE(filter->LoadSettings(saved));

    kelcore::trail::SetStep("process");
    const auto original = Render(*filter);
    for (float sample : original) {
        ASSERT_TRUE(std::isfinite(sample)) << "non-finite output";
    }
    if (filter->GetNumberOfOutputChannels() > 0) { // without outputs the channels it reads are silenced
        EXPECT_GT(RmsDifference(original, std::vector<float>(original.size())), 0.0) << "silent output";
    }

    kelcore::trail::SetStep("restore");
    auto restore = [&] {
        auto instance = utility::CreateAudioFilter(id);
        EXPECT_TRUE(instance && instance->LoadSettings(saved)) << "the saved state is refused";
        return instance;
    };
    auto restored = restore();
    ASSERT_TRUE(restored);
    kelcore::proplist::PropList againList;
    PresetData again(againList);
    restored->SaveSettings(again);
    EXPECT_TRUE(again == saved) << "the restored instance saves another state";

    kelcore::trail::SetStep("process restored");
    const auto second = Render(*restored);
    ASSERT_EQ(second.size(), original.size());
    if (second == original) {
        return;
    }
    // Bitwise for a deterministic effect. One that is not (random modulation, threads) is held to
    // its own spread: the original may differ from a restored instance only as much as two restored
    // instances differ from each other.
    auto twin = restore();
    ASSERT_TRUE(twin);
    const auto third = Render(*twin);
    const double spread = RmsDifference(second, third);
    const double difference = RmsDifference(original, second);
    report << "not bitwise equal: difference " << difference << ", spread between restored instances " << spread
           << '\n';
    EXPECT_GT(spread, 0.0) << "restored instances agree with each other, not with the original";
    EXPECT_LE(difference, 2.0 * spread) << "a restored instance differs from the original more than its own spread";
}

class Vst2ThirdParty : public ::testing::Test {
protected:
    struct Scanned {
        Module module;
        Result result;
    };

    // Scanned once per process; each module in its own child, so nothing of a plug-in is loaded here.
    static void SetUpTestSuite()
    {
        vst::RegisterVSTTechnology();
        Initialize();
        for (const auto& module : ModulesToTry()) {
            sScanned.push_back({module, RunCase([&](std::ostream& report) { ScanCase(module, report); },
                                                kScanTimeout)});
        }
    }
    static void TearDownTestSuite() { sScanned.clear(); }

    static std::vector<Scanned> sScanned;
};

std::vector<Vst2ThirdParty::Scanned> Vst2ThirdParty::sScanned;

TEST_F(Vst2ThirdParty, ScanRecordsWhatEachModuleIs)
{
    std::map<Module::Source, std::size_t> modules;
    std::size_t passedOthers = 0;
    for (const auto& [module, result] : sScanned) {
        Judge(module, "scan", result);
        ++modules[module.source];
        passedOthers += module.source == Module::Source::Other && result.Completed() ? 1 : 0;
    }
    const auto known = modules[Module::Source::Package], ours = modules[Module::Source::Ours],
               others = modules[Module::Source::Other];
    std::cout << "[ NOTE     ] " << known << " modules of the set-up's packages, " << ours << " of ours, " << others
              << " others (" << passedOthers << " passed)\n";
    EXPECT_GT(known, 20u) << "the set-up installs zam-plugins and dpf-plugins-vst";
    EXPECT_GT(ours, 10u);
}

TEST_F(Vst2ThirdParty, EveryEffectProcessesChangesAndRestoresItsState)
{
    std::size_t effects = 0;
    for (const auto& [module, scan] : sScanned) {
        for (const auto& id : ComponentsIn(scan.payload)) {
            ++effects;
            const auto result = RunCase([&](std::ostream& report) { EffectCase(module, id, report); },
                                        kEffectTimeout);
            Judge(module, kelcore::UTF16to8(id), result);
        }
    }
    EXPECT_GT(effects, 20u);
}

} // namespace
} // namespace kelaudiofilterhost
