// SPDX-License-Identifier: GPL-3.0-or-later
// The in-process VST 3 scan: every installed zam bundle and our own test bundles, checked against
// what their factories report.
#include "kelaudiofilterhost/catalogue/AudioFilterDescriptorManager.h"
#include "kelaudiofilterhost/catalogue/PluginModuleInfoManager.h"
#include "kelaudiofilterhost/catalogue/PluginModuleScanner.h"
#include "kelaudiofilterhost/framework/AudioFilterFactory.h"
#include "kelaudiofilterhost/vst3/VST3AudioFilter.h"
#include "kelaudiofilterhost/vst3/VST3Categories.h"
#include "kelaudiofilterhost/vst3/VST3ClassID.h"
#include "kelaudiofilterhost/vst3/VST3PluginGate.h"
#include "kelaudiofilterhost/vst3/VST3PluginModule.h"
#include "kelaudiofilterhost/vst3/VST3Technology.h"

#include "pluginterfaces/base/ipluginbase.h"
#include "pluginterfaces/vst/ivstaudioprocessor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace kelaudiofilterhost::vst3 {
namespace {

using namespace Steinberg;

std::vector<std::string> ScanInProcess(const std::vector<PluginLocator>& modules)
{
    RegisterVST3Technology();
    std::vector<std::string> suffixes;
    boost::intrusive_ptr<PluginModuleScanner> scanner = new PluginModuleScanner(modules);
    scanner->BeginScan();
    do {
        PluginLocator module;
        UTF16String suffix;
        int current = 0, total = 0;
        if (scanner->GetCurrentProgressInfo(module, suffix, current, total) && !suffix.empty()) {
            suffixes.push_back(kelcore::UTF16to8(suffix));
        }
    } while (scanner->ContinueScan());
    scanner->EndScan();
    return suffixes;
}

std::vector<AudioFilterDescriptorManager::DescriptorPtr> DescriptorsOf(const UTF16String& modulePath)
{
    std::vector<AudioFilterDescriptorManager::DescriptorPtr> found;
    const auto& descriptors = AudioFilterDescriptorManager::GetInstance();
    for (auto it = descriptors.InfoBegin(); it != descriptors.InfoEnd(); ++it) {
        const auto& descriptor = *it;
        if (descriptor->GetLocator().GetPath() == modulePath) {
            found.push_back(descriptor);
        }
    }
    return found;
}

std::string Field(const char* text, std::size_t size)
{
    return std::string(text, strnlen(text, size));
}

// Calls into the plug-in's factory: its type information is hidden in its own library, which the
// sanitizer's vptr check cannot see. Empty when the factory has no IPluginFactory2 or a class fails.
KAFH_VST3_PLUGIN_CALL std::vector<PClassInfo2> ClassInfos(IPluginFactory& plain, PFactoryInfo& factoryInfo)
{
    IPluginFactory2* factory = nullptr;
    if (plain.queryInterface(IPluginFactory2::iid, reinterpret_cast<void**>(&factory)) != kResultOk || !factory) {
        return {};
    }
    factory->getFactoryInfo(&factoryInfo);
    std::vector<PClassInfo2> classes(static_cast<std::size_t>(std::max(factory->countClasses(), 0)));
    for (std::size_t i = 0; i < classes.size(); ++i) {
        if (factory->getClassInfo2(static_cast<int32>(i), &classes[i]) != kResultOk) {
            classes.clear();
            break;
        }
    }
    factory->release();
    return classes;
}

TEST(VST3Scan, EveryZamBundleGetsOneDescriptorPerAudioClassAsItsFactoryReportsIt)
{
    std::vector<UTF16String> bundles;
    for (const auto& entry : std::filesystem::directory_iterator("/usr/lib/vst3")) {
        if (entry.path().filename().string().rfind("Za", 0) == 0 && entry.path().extension() == ".vst3") {
            bundles.push_back(kelcore::UTF8to16(entry.path().string()));
        }
    }
    ASSERT_EQ(bundles.size(), 17u);
    const auto candidates = CollectVST3PluginsIn({u"/usr/lib/vst3"});
    std::vector<PluginLocator> zam;
    for (const auto& locator : candidates) {
        if (std::find(bundles.begin(), bundles.end(), locator.GetPath()) != bundles.end()) {
            zam.push_back(locator);
        }
    }
    ASSERT_EQ(zam.size(), 17u);
    ScanInProcess(zam);

    for (const auto& locator : zam) {
        const auto path = kelcore::UTF16to8(locator.GetPath());
        ASSERT_TRUE(PluginModuleInfoManager::GetInstance().FindPluginInfo(locator)) << path;
        // The module stays loaded in the cache; its factory is what we compare against.
        const auto module = GetOrLoadModule(locator.GetPath());
        ASSERT_TRUE(module && module->GetFactory()) << path;
        PFactoryInfo factoryInfo;
        const auto classes = ClassInfos(*module->GetFactory(), factoryInfo);
        ASSERT_FALSE(classes.empty()) << path;
        std::size_t audioClasses = 0;
        for (const PClassInfo2& info : classes) {
            if (std::strcmp(info.category, kVstAudioEffectClass) != 0) {
                continue;
            }
            ++audioClasses;
            const auto id = MakeVST3ComponentID(ClassIDFromTUID(info.cid));
            const auto descriptor = AudioFilterDescriptorManager::GetInstance().GetComponentDescriptorForID(id);
            ASSERT_TRUE(descriptor) << path << " " << kelcore::UTF16to8(id);
            EXPECT_EQ(descriptor->GetLocator(), locator);
            EXPECT_EQ(kelcore::UTF16to8(descriptor->GetName()), Field(info.name, sizeof(info.name)));
            auto vendor = Field(info.vendor, sizeof(info.vendor));
            if (vendor.empty()) {
                vendor = Field(factoryInfo.vendor, sizeof(factoryInfo.vendor));
            }
            EXPECT_EQ(kelcore::UTF16to8(descriptor->GetVendorString()), vendor) << path;
            const auto category = CategoryFromSubCategories(Field(info.subCategories, sizeof(info.subCategories)));
            EXPECT_EQ(descriptor->GetCategory(), category.category) << path;
            EXPECT_EQ(descriptor->GetFactoryGuid(), GetVST3FactoryGuid());
        }
        EXPECT_GE(audioClasses, 1u) << path;
        EXPECT_EQ(DescriptorsOf(locator.GetPath()).size(), audioClasses) << path;
    }

    // Created again through the factory by component ID, as applications do.
    const auto any = DescriptorsOf(zam.front().GetPath()).front();
    const auto filter = utility::CreateAudioFilter(any->GetUniqueID());
    ASSERT_TRUE(filter);
    EXPECT_EQ(filter->GetDisplayName(), any->GetName());
    EXPECT_FALSE(utility::CreateAudioFilter(u"3:00000001 20003 40000 5")); // not catalogued
}

TEST(VST3Scan, OurBundlesRecordTheirAudioClassesAndRefusingModulesNothing)
{
    const UTF16String folder = kelcore::UTF8to16(KAFH_TESTPLUGINS_VST3_DIR);
    const auto bundle = [&](const char* name) { return folder + u"/" + kelcore::UTF8to16(name) + u".vst3"; };
    std::vector<PluginLocator> modules;
    for (const char* name : {"KafhVst3Multi", "KafhVst3EntryRefuses", "KafhVst3NoFactory", "KafhVst3NoClasses"}) {
        modules.emplace_back(VST3, bundle(name));
    }
    const auto suffixes = ScanInProcess(modules);
    // Shown between steps: the first step opens Multi and describes its first class.
    EXPECT_EQ(suffixes, std::vector<std::string>{" (2/2)"});

    auto& catalogue = PluginModuleInfoManager::GetInstance();
    const auto multi = catalogue.FindPluginInfo(modules[0]);
    ASSERT_TRUE(multi);
    EXPECT_TRUE(multi->IsShell());
    const auto described = DescriptorsOf(bundle("KafhVst3Multi"));
    ASSERT_EQ(described.size(), 2u);
    EXPECT_NE(described[0]->GetUniqueID(), described[1]->GetUniqueID());
    for (const char* refusing : {"KafhVst3EntryRefuses", "KafhVst3NoFactory", "KafhVst3NoClasses"}) {
        EXPECT_TRUE(DescriptorsOf(bundle(refusing)).empty()) << refusing;
    }
}

} // namespace
} // namespace kelaudiofilterhost::vst3
