// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/catalogue/PluginModuleScanner.h"

#include "kelaudiofilterhost/catalogue/PluginModuleInfoManager.h"

#include <gtest/gtest.h>

#include <string>

namespace kelaudiofilterhost {
namespace {

// Technologies of the tests' own under types no back end uses.
constexpr auto kTestType = static_cast<TechnologyType>(7);
constexpr auto kOtherTestType = static_cast<TechnologyType>(8);

std::string Name(const PluginLocator& locator)
{
    const std::string path = kelcore::UTF16to8(locator.GetPath());
    return path.substr(path.rfind('/') + 1);
}

// Modules are described by their names: "fail" fails to load, "multi3" takes three steps, "off" in a
// name makes a disabled module, anything else takes one step.
class NameScanContext : public PluginScanContext {
public:
    void BeginScan(const std::vector<PluginLocator>& locators) override { mLocators = locators; mModule = mStep = 0; }
    bool GetCurrentPlugin(PluginLocator& locator, UTF16String&, std::uint32_t& index) const override
    {
        if (mModule < mLocators.size()) {
            locator = mLocators[mModule];
            index = static_cast<std::uint32_t>(mModule);
        }
        return mModule < mLocators.size();
    }
    bool ScanNextPlugin() override
    {
        if (mModule >= mLocators.size()) {
            return false;
        }
        const PluginLocator& locator = mLocators[mModule];
        const std::string name = Name(locator);
        if (name == "multi3" && ++mStep < 3) {
            return true;
        }
        if (name != "fail") {
            PluginModuleInfoManager::GetInstance().AddPluginModuleInfo(new PluginModuleInfo(
                locator, u"n", u"Test", 1, locator.GetTechnologyType(), name.find("off") == std::string::npos, false));
        }
        mStep = 0;
        return ++mModule < mLocators.size();
    }

private:
    std::vector<PluginLocator> mLocators;
    std::size_t mModule = 0;
    std::size_t mStep = 0;
};

/// A scanner over the locators, with the tests' technologies registered.
boost::intrusive_ptr<PluginModuleScanner> MakeScanner(const std::vector<PluginLocator>& locators)
{
    for (auto type : {kTestType, kOtherTestType}) { // registered once; later ones are ignored
        PluginModuleInfoManager::GetInstance().AddPluginTechnology(new PluginTechnology(
            type, {}, [](const auto&) { return boost::intrusive_ptr<PluginScanContext>(new NameScanContext); }, {}, {},
            false));
    }
    return new PluginModuleScanner(locators);
}

using Step = std::tuple<std::string, int, int>; // module name, current, total

/// The progress shown before each step, as the application would show it; stops after maxSteps.
std::vector<Step> ScanAll(PluginModuleScanner& scanner, std::size_t maxSteps = 1000)
{
    std::vector<Step> steps;
    scanner.BeginScan();
    do {
        PluginLocator module;
        UTF16String suffix;
        int current = 0, total = 0;
        if (scanner.GetCurrentProgressInfo(module, suffix, current, total)) {
            steps.emplace_back(Name(module), current, total);
        }
    } while (--maxSteps > 0 && scanner.ContinueScan());
    return steps;
}

TEST(PluginModuleScanner, ScansInTypeOrderWithProgressAndKeepsWhatWasDoneWhenStopped)
{
    boost::intrusive_ptr<PluginModuleScanner> scanner = MakeScanner({
        {kOtherTestType, u"/scan/b/single"}, {kTestType, u"/scan/a/multi3"}, {NoTechnology, u"/scan/x/none"},
        {Internal, u"/scan/x/internal"},     {kTestType, u"/scan/a/fail"},   {kTestType, u"/scan/a/last"},
    });
    // The step that finishes one technology also takes the first step of the next, so "single" (4 of 4)
    // is scanned within the last call without being shown.
    EXPECT_EQ(ScanAll(*scanner), (std::vector<Step>{{"multi3", 1, 4}, {"multi3", 1, 4}, {"multi3", 1, 4},
                                                    {"fail", 2, 4}, {"last", 3, 4}}));
    scanner->EndScan();

    const auto found = [](TechnologyType type, const char16_t* path) {
        return PluginModuleInfoManager::GetInstance().FindPluginInfo({type, path}) != nullptr;
    };
    EXPECT_TRUE(found(kTestType, u"/scan/a/multi3") && found(kTestType, u"/scan/a/last") &&
                found(kOtherTestType, u"/scan/b/single"));
    EXPECT_FALSE(found(kTestType, u"/scan/a/fail") || found(Internal, u"/scan/x/internal"));

    EXPECT_TRUE(ScanAll(*MakeScanner({})).empty());

    // Stopped halfway: finished modules stay recorded. One enabled before the scan stays enabled although its
    // fresh info says disabled ("off").
    const PluginLocator wasEnabled(kTestType, u"/stop/off-enabled"), offNew(kTestType, u"/stop/off-new");
    auto& catalogue = PluginModuleInfoManager::GetInstance();
    catalogue.AddPluginModuleInfo(new PluginModuleInfo(wasEnabled, u"x", u"T", 1, kTestType, true, false));
    scanner = MakeScanner({wasEnabled, offNew, {kTestType, u"/stop/second"}, {kTestType, u"/stop/third"}});
    // The application shows the third module and stops before scanning it.
    EXPECT_EQ(ScanAll(*scanner, 3).back(), (Step{"second", 3, 4}));
    scanner->EndScan();
    EXPECT_TRUE(catalogue.IsPluginEnabled(wasEnabled, false) && !catalogue.IsPluginEnabled(offNew, false));
    EXPECT_TRUE(catalogue.FindPluginInfo(offNew) && !catalogue.FindPluginInfo({kTestType, u"/stop/second"}));
}

} // namespace
} // namespace kelaudiofilterhost
