// SPDX-License-Identifier: GPL-3.0-or-later
// The third-party VST 2 modules installed on the machine and our own test plug-ins: scanned into a fresh
// catalogue, every effect created, processed, changed, saved and restored.
#include "kelaudiofilterhost/catalogue/AudioFilterDescriptorManager.h"
#include "kelaudiofilterhost/catalogue/PluginModuleInfoManager.h"
#include "kelaudiofilterhost/catalogue/PluginModuleScanner.h"
#include "kelaudiofilterhost/framework/AudioFilter.h"
#include "kelaudiofilterhost/framework/AudioFilterFactory.h"
#include "kelaudiofilterhost/presets/PresetData.h"
#include "kelaudiofilterhost/services/File.h"
#include "kelaudiofilterhost/services/PropList.h"
#include "kelaudiofilterhost/vst2/VSTAudioFilter.h"
#include "kelaudiofilterhost/vst2/VSTTechnology.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cmath>
#include <filesystem>
#include <iostream>
#include <set>

// Third-party plug-ins leak at exit; those leaks are theirs. The modules are kept mapped (below) so
// that the leak checker can name them, and their leaks are set aside.
extern "C" const char* __lsan_default_suppressions()
{
    return "leak:/usr/lib/vst/\n";
}

namespace kelaudiofilterhost {
namespace {

constexpr float kRate = 48000.0f;
constexpr int kBlock = 512;
constexpr int kBlocks = 94 * 2; // two seconds

std::vector<PluginLocator> InstalledVst2Modules()
{
    std::vector<PluginLocator> modules;
    for (const char* folder : {"/usr/lib/vst"}) {
        for (const auto& locator : vst::CollectVSTPlugins(kelcore::filesupport::Dir(kelcore::UTF8to16(folder)))) {
            modules.push_back(locator);
        }
    }
    return modules;
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

struct Rendered {
    std::vector<float> samples;
    bool finite = true;
    double energy = 0.0;
};

Rendered Render(AudioFilter& filter)
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
    Rendered result;
    for (int block = 0; block < kBlocks; ++block) {
        FillSignal(in, block);
        filter.ProcessWithMapping(inPointers, outPointers, kBlock);
        for (const auto& channel : out) {
            for (float sample : channel) {
                result.finite = result.finite && std::isfinite(sample);
                result.energy += static_cast<double>(sample) * sample;
                result.samples.push_back(sample);
            }
        }
    }
    filter.Suspend();
    return result;
}

class Vst2ThirdParty : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        vst::RegisterVSTTechnology();
        Initialize();
        auto modules = InstalledVst2Modules();
        for (const auto& module : modules) {
            ::dlopen(kelcore::UTF16to8(module.GetPath()).c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
        }
        sModuleCount = modules.size();
        for (const auto& own : vst::CollectVSTPlugins(kelcore::filesupport::Dir(kelcore::UTF8to16(KAFH_TESTPLUGINS_VST2_DIR)))) {
            modules.push_back(own);
        }
        boost::intrusive_ptr<PluginModuleScanner> scanner = new PluginModuleScanner(modules);
        scanner->BeginScan();
        while (scanner->ContinueScan()) {
        }
        scanner->EndScan();
    }
    static std::size_t sModuleCount;
};

std::size_t Vst2ThirdParty::sModuleCount = 0;

std::vector<boost::intrusive_ptr<AudioFilterDescriptor>> Vst2Descriptors()
{
    std::vector<boost::intrusive_ptr<AudioFilterDescriptor>> found;
    const auto& manager = AudioFilterDescriptorManager::GetInstance();
    for (auto it = manager.InfoBegin(); it != manager.InfoEnd(); ++it) {
        if ((*it)->GetLocator().GetTechnologyType() == VST) {
            found.push_back(*it);
        }
    }
    return found;
}

TEST_F(Vst2ThirdParty, ScanCataloguesEveryInstalledModule)
{
    ASSERT_GT(sModuleCount, 20u) << "zam-plugins and dpf-plugins-vst are installed by the set-up";
    std::size_t catalogued = 0;
    for (const auto& locator : InstalledVst2Modules()) {
        catalogued += PluginModuleInfoManager::GetInstance().FindPluginInfo(locator) ? 1 : 0;
    }
    EXPECT_EQ(catalogued, sModuleCount);
    EXPECT_GE(Vst2Descriptors().size(), sModuleCount - 3 + 11); // synths are catalogued without a filter
}

TEST_F(Vst2ThirdParty, EveryEffectProcessesChangesAndRestoresItsState)
{
    for (const auto& descriptor : Vst2Descriptors()) {
        const auto id = descriptor->GetUniqueID();
        SCOPED_TRACE(kelcore::UTF16to8(id));
        auto filter = utility::CreateAudioFilter(id);
        ASSERT_TRUE(filter);
        EXPECT_EQ(filter->GetDisplayName(), descriptor->GetName());

        // Change every parameter and read it back. Dyadic values survive the scaling effects apply
        // between their own ranges and the normalized one, so what is read back is what was set.
        const int parameters = filter->GetParameterCount();
        for (int i = 0; i < parameters; ++i) {
            const float value = 0.25f + 0.125f * static_cast<float>(i % 3);
            filter->SetParameter(i, value);
            const float back = filter->GetParameter(i);
            EXPECT_TRUE(std::isfinite(back));
            EXPECT_GE(back, -0.001f);
            EXPECT_LE(back, 1.001f);
        }
        kelcore::proplist::PropList stored;
        PresetData preset(stored);
        filter->SaveSettings(preset);
        EXPECT_FALSE(preset.IsEmpty());

        const auto first = Render(*filter);
        EXPECT_TRUE(first.finite);
        if (filter->GetNumberOfOutputChannels() > 0) { // without outputs the channels it reads are silenced
            EXPECT_GT(first.energy, 0.0) << "silent output";
        }

        // A fresh instance restored from the stored settings gives the same output from the same input.
        auto restored = utility::CreateAudioFilter(id);
        ASSERT_TRUE(restored);
        ASSERT_TRUE(restored->LoadSettings(preset));
        for (int i = 0; i < parameters; ++i) {
            EXPECT_NEAR(restored->GetParameter(i), filter->GetParameter(i), 1e-6) << "parameter " << i;
        }
        const auto second = Render(*restored);
        if (second.samples == first.samples) {
            continue;
        }
        // The restored state must be what was saved, and a second restored instance must agree with
        // the first unless the effect is not reproducible at all (random modulation).
        kelcore::proplist::PropList again;
        PresetData restoredState(again);
        restored->SaveSettings(restoredState);
        EXPECT_TRUE(restoredState == preset) << "the restored state differs from the saved one";
        auto twin = utility::CreateAudioFilter(id);
        ASSERT_TRUE(twin->LoadSettings(preset));
        const auto third = Render(*twin);
        if (third.samples != second.samples) {
            std::cout << "[ NOTE     ] " << kelcore::UTF16to8(id) << ": output not reproducible between instances\n";
            continue;
        }
        ADD_FAILURE() << "a restored instance reproducibly differs from the original";
    }
}

} // namespace
} // namespace kelaudiofilterhost
