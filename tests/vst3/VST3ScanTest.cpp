// SPDX-License-Identifier: GPL-3.0-or-later
// The in-process VST 3 scan: every installed zam bundle and our own test bundles, checked against
// what their factories report, and every zam audio class built and torn down here.
#include "kelaudiofilterhost/catalogue/PluginModuleInfoManager.h"
#include "kelaudiofilterhost/framework/AudioFilterFactory.h"
#include "kelaudiofilterhost/vst3/VST3AudioFilter.h"
#include "kelaudiofilterhost/vst3/VST3Categories.h"
#include "kelaudiofilterhost/vst3/VST3ClassID.h"
#include "kelaudiofilterhost/vst3/VST3PluginGate.h"
#include "kelaudiofilterhost/vst3/VST3PluginModule.h"
#include "kelaudiofilterhost/vst3/VST3Technology.h"
#include "tests/support/ScanSupport.h"
#include "tests/support/Vst3TestSupport.h"

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
using testing::DescriptorsOf;

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
    RegisterVST3Technology();
    std::vector<PluginLocator> zam;
    for (const auto& locator : CollectVST3PluginsIn({u"/usr/lib/vst3"})) {
        if (std::filesystem::path(kelcore::UTF16to8(locator.GetPath())).filename().string().rfind("Za", 0) == 0) {
            zam.push_back(locator);
        }
    }
    ASSERT_EQ(zam.size(), 17u);
    testing::ScanInProcess(zam);

    for (const auto& locator : zam) {
        const auto path = kelcore::UTF16to8(locator.GetPath());
        const auto moduleInfo = PluginModuleInfoManager::GetInstance().FindPluginInfo(locator);
        ASSERT_TRUE(moduleInfo) << path;
        EXPECT_EQ(kelcore::UTF16to8(moduleInfo->GetName()), std::filesystem::path(path).stem().string());
        // The module stays loaded in the cache; its factory is what we compare against.
        const auto module = GetOrLoadModule(locator.GetPath());
        ASSERT_TRUE(module && module->GetFactory()) << path;
        EXPECT_FALSE(module->Load()) << "a loaded module is not loaded again";
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

            // Built again by component ID, as applications do: these builds keep their controller
            // apart from the component, connected to it.
            auto filter = utility::CreateAudioFilter(id);
            const auto* vst3 = dynamic_cast<const VST3AudioFilter*>(filter.get());
            ASSERT_NE(vst3, nullptr) << path;
            EXPECT_TRUE(vst3->IsInitialised() && vst3->HasSeparateController() && vst3->IsConnected()) << path;
            EXPECT_EQ(filter->GetDisplayName(), descriptor->GetName());
            EXPECT_FALSE(filter->GetOutputBuses().empty()) << path;
        }
        EXPECT_GE(audioClasses, 1u) << path;
        EXPECT_EQ(DescriptorsOf(locator).size(), audioClasses) << path;
        EXPECT_EQ(moduleInfo->IsShell(), audioClasses > 1) << path;
    }
    EXPECT_FALSE(utility::CreateAudioFilter(u"3:00000001 20003 40000 5")); // not catalogued
}

TEST(VST3Scan, OurBundlesRecordTheirAudioClassesAndRefusingModulesNothing)
{
    RegisterVST3Technology();
    std::vector<PluginLocator> modules;
    for (const char* name : {"KafhVst3Multi", "KafhVst3EntryRefuses", "KafhVst3NoFactory", "KafhVst3NoClasses"}) {
        modules.emplace_back(VST3, testing::TestBundle(name));
    }
    // Shown between steps: the first step opens Multi and describes its first class.
    EXPECT_EQ(testing::ScanInProcess(modules), std::vector<std::string>{" (2/2)"});

    const auto multi = PluginModuleInfoManager::GetInstance().FindPluginInfo(modules[0]);
    ASSERT_TRUE(multi);
    EXPECT_TRUE(multi->IsShell());
    const auto described = DescriptorsOf(modules[0]);
    ASSERT_EQ(described.size(), 2u);
    EXPECT_NE(described[0]->GetUniqueID(), described[1]->GetUniqueID());
    for (std::size_t refusing = 1; refusing < modules.size(); ++refusing) {
        EXPECT_TRUE(DescriptorsOf(modules[refusing]).empty()) << kelcore::UTF16to8(modules[refusing].GetPath());
    }
}

} // namespace
} // namespace kelaudiofilterhost::vst3
