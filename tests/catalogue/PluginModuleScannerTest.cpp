// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/catalogue/PluginModuleScanner.h"

#include "kelaudiofilterhost/catalogue/AudioFilterDescriptorManager.h"
#include "kelaudiofilterhost/catalogue/PluginModuleInfoManager.h"

#include <gtest/gtest.h>

#include <string>

namespace kelaudiofilterhost {
namespace {

// A technology of the tests' own under a type no back end uses. Its modules are described by their
// names: "fail" fails to load, "multiN" holds N components, anything else one.
constexpr auto kTestType = static_cast<TechnologyType>(7);
constexpr auto kOtherTestType = static_cast<TechnologyType>(8);

class NameScanContext : public PluginScanContext {
public:
    void BeginScan(const std::vector<PluginLocator>& locators) override
    {
        mLocators = locators;
        mModule = 0;
        mComponent = 0;
    }
    bool GetCurrentPlugin(PluginLocator& locator, UTF16String& suffix, std::uint32_t& index) const override
    {
        if (mModule >= mLocators.size()) {
            return false;
        }
        locator = mLocators[mModule];
        suffix = kelcore::AsciiToUTF16(" (" + std::to_string(mComponent + 1) + ")");
        index = static_cast<std::uint32_t>(mModule);
        return true;
    }
    bool ScanNextPlugin() override
    {
        if (mModule >= mLocators.size()) {
            return false;
        }
        const auto& locator = mLocators[mModule];
        const auto path = kelcore::UTF16to8(locator.GetPath());
        const auto name = path.substr(path.rfind('/') + 1);
        int components = 1;
        if (name.rfind("multi", 0) == 0) {
            components = std::stoi(name.substr(5));
        }
        if (name == "fail") {
            ++mModule; // one step, nothing recorded
        } else if (++mComponent >= components) {
            for (int c = 0; c < components; ++c) {
                AudioFilterDescriptorManager::GetInstance().AddAudioFilterDescriptor(new AudioFilterDescriptor(
                    locator, kelcore::UTF8to16(name), u"Test", 1, Effect,
                    kelcore::UTF8to16("7:" + path + "#" + std::to_string(c)), kelcore::Guid(), false));
            }
            PluginModuleInfoManager::GetInstance().AddPluginModuleInfo(
                new PluginModuleInfo(locator, kelcore::UTF8to16(name), u"Test", 1, locator.GetTechnologyType(),
                                     name.find("off") == std::string::npos, false));
            ++mModule;
            mComponent = 0;
        }
        return mModule < mLocators.size();
    }

private:
    std::vector<PluginLocator> mLocators;
    std::size_t mModule = 0;
    int mComponent = 0;
};

void RegisterTestTechnologies()
{
    for (auto type : {kTestType, kOtherTestType}) {
        PluginModuleInfoManager::GetInstance().AddPluginTechnology(new PluginTechnology(
            type, {}, [](const std::vector<kelcore::filesupport::Dir>&) {
                return boost::intrusive_ptr<PluginScanContext>(new NameScanContext);
            },
            {}, {}, false));
    }
}

struct Step {
    std::string module;
    int current;
    int total;
    bool operator==(const Step&) const = default;
};

std::vector<Step> ScanAll(PluginModuleScanner& scanner, std::size_t maxSteps = 1000)
{
    std::vector<Step> steps;
    scanner.BeginScan();
    do {
        PluginLocator module;
        UTF16String suffix;
        int current = 0;
        int total = 0;
        if (scanner.GetCurrentProgressInfo(module, suffix, current, total)) {
            const auto path = kelcore::UTF16to8(module.GetPath());
            steps.push_back({path.substr(path.rfind('/') + 1), current, total});
        }
    } while (steps.size() < maxSteps && scanner.ContinueScan());
    return steps;
}

TEST(PluginModuleScanner, ScansTechnologiesInTypeOrderWithProgress)
{
    RegisterTestTechnologies();
    const std::vector<PluginLocator> locators{
        {kOtherTestType, u"/scan/b/single"}, {kTestType, u"/scan/a/multi3"}, {NoTechnology, u"/scan/x/none"},
        {Internal, u"/scan/x/internal"},     {kTestType, u"/scan/a/fail"},   {kTestType, u"/scan/a/last"},
    };
    boost::intrusive_ptr<PluginModuleScanner> scanner = new PluginModuleScanner(locators);
    const auto steps = ScanAll(*scanner);
    const std::vector<Step> expected{
        {"multi3", 1, 4}, {"multi3", 1, 4}, {"multi3", 1, 4}, {"fail", 2, 4}, {"last", 3, 4},
    };
    // The step that finishes one technology also takes the first step of the next, so "single" (4 of 4)
    // is scanned within the last call without being shown.
    EXPECT_EQ(steps, expected);
    scanner->EndScan();

    auto& catalogue = PluginModuleInfoManager::GetInstance();
    EXPECT_TRUE(catalogue.FindPluginInfo({kTestType, u"/scan/a/multi3"}));
    EXPECT_TRUE(catalogue.FindPluginInfo({kOtherTestType, u"/scan/b/single"}));
    EXPECT_FALSE(catalogue.FindPluginInfo({kTestType, u"/scan/a/fail"}));
    EXPECT_FALSE(catalogue.FindPluginInfo({Internal, u"/scan/x/internal"}));
    auto& descriptors = AudioFilterDescriptorManager::GetInstance();
    for (const char* id : {"7:/scan/a/multi3#0", "7:/scan/a/multi3#2", "7:/scan/a/last#0"}) {
        EXPECT_TRUE(descriptors.GetComponentDescriptorForID(kelcore::UTF8to16(id))) << id;
    }
}

TEST(PluginModuleScanner, EmptyListHasNothingToDo)
{
    boost::intrusive_ptr<PluginModuleScanner> scanner = new PluginModuleScanner({});
    scanner->BeginScan();
    EXPECT_FALSE(scanner->ContinueScan());
    PluginLocator module(kTestType, u"/untouched");
    UTF16String suffix = u"s";
    int current = -1, total = -1;
    EXPECT_FALSE(scanner->GetCurrentProgressInfo(module, suffix, current, total));
    EXPECT_EQ(current, -1);
    EXPECT_EQ(module.GetPath(), u"/untouched");
}

TEST(PluginModuleScanner, StoppedScanKeepsFinishedModulesAndEndScanReEnables)
{
    RegisterTestTechnologies();
    auto& catalogue = PluginModuleInfoManager::GetInstance();
    // Enabled before the scan; its fresh info says disabled ("off"), but it stays enabled.
    const PluginLocator wasEnabled(kTestType, u"/stop/off-enabled");
    catalogue.AddPluginModuleInfo(new PluginModuleInfo(wasEnabled, u"x", u"T", 1, kTestType, true, false));
    const std::vector<PluginLocator> locators{
        wasEnabled, {kTestType, u"/stop/off-new"}, {kTestType, u"/stop/second"}, {kTestType, u"/stop/third"}};
    {
        boost::intrusive_ptr<PluginModuleScanner> scanner = new PluginModuleScanner(locators);
        // The application shows the third module and stops before scanning it.
        const auto steps = ScanAll(*scanner, 3);
        EXPECT_EQ(steps.back().current, 3);
        EXPECT_EQ(steps.back().module, "second");
        scanner->EndScan();
    }
    EXPECT_TRUE(catalogue.IsPluginEnabled(wasEnabled, false));
    EXPECT_FALSE(catalogue.IsPluginEnabled({kTestType, u"/stop/off-new"}, false));
    EXPECT_TRUE(catalogue.FindPluginInfo({kTestType, u"/stop/off-new"}));
    EXPECT_FALSE(catalogue.FindPluginInfo({kTestType, u"/stop/second"}));
}

} // namespace
} // namespace kelaudiofilterhost
