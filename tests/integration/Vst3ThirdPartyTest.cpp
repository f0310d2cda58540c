// SPDX-License-Identifier: GPL-3.0-or-later
// The VST 3 modules installed on the machine, each case in a child process: every module scanned
// alone into a fresh catalogue, every audio class created by its component ID, processed, changed
// from the host, saved and restored into a fresh instance. The bundles of the packages the set-up
// installs must pass; anything else installed is only reported, as for VST 2.
#include "ThirdPartyCase.h"

#include "kelaudiofilterhost/vst3/VST3ClassID.h"
#include "kelaudiofilterhost/vst3/VST3PluginGate.h"
#include "kelaudiofilterhost/vst3/VST3PluginModule.h"
#include "kelaudiofilterhost/vst3/VST3Technology.h"

#include <pluginterfaces/vst/ivstaudioprocessor.h>

namespace kelaudiofilterhost {
namespace {

using namespace integration;

constexpr int kSeconds = 3;

// Every candidate of the VST 3 folders the library searches by default.
std::vector<Module> ModulesToTry()
{
    const auto known = KnownPackageFiles("zam-plugins", ".vst3");
    std::vector<Module> modules;
    for (const auto& locator : vst3::CollectVST3PluginsIn(vst3::GetDefaultVST3Directories())) {
        const auto path = kelcore::UTF16to8(locator.GetPath());
        modules.push_back(
            {locator, path, known.contains(Canonical(path)) ? Module::Source::Package : Module::Source::Other});
    }
    return modules;
}

KAFH_VST3_PLUGIN_CALL std::set<UTF16String> AudioClassIDs(Steinberg::IPluginFactory& factory)
{
    std::set<UTF16String> ids;
    for (Steinberg::int32 i = 0; i < factory.countClasses(); ++i) {
        Steinberg::PClassInfo info;
        if (factory.getClassInfo(i, &info) == Steinberg::kResultOk &&
            std::string(info.category) == kVstAudioEffectClass) {
            ids.insert(vst3::MakeVST3ComponentID(vst3::ClassIDFromTUID(info.cid)));
        }
    }
    return ids;
}

// In the child: scans the module alone; the catalogue must hold a filter for each audio class the
// factory lists. Reports one line per component for the class cases.
void ScanCase(const Module& module, std::ostream& report)
{
    kelcore::trail::SetStep("scan");
    ScanAlone(module.locator);
    std::set<UTF16String> catalogued;
    for (const auto& descriptor : DescriptorsOf(module.locator)) {
        EXPECT_TRUE(catalogued.insert(descriptor->GetUniqueID()).second) << "a filter is catalogued twice";
        report << kComponentLine << kelcore::UTF16to8(descriptor->GetUniqueID()) << '\n';
    }
    kelcore::trail::SetStep("inspect");
    const auto loaded = vst3::GetOrLoadModule(module.locator.GetPath());
    ASSERT_TRUE(loaded && loaded->GetFactory()) << "not a loadable module";
    EXPECT_EQ(catalogued, AudioClassIDs(*loaded->GetFactory()));
}

// Whether a parameter reads back the value set, or the nearest point of its grid when it has steps:
// a plug-in may snap the value to its steps.
::testing::AssertionResult ReadsBack(const AudioFilter& filter, int index, float read, float set)
{
    const auto info = filter.GetParameterInfo(index);
    const float steps = info ? static_cast<float>(info->GetStepCount()) : 0.0f;
    const float snapped = steps > 0.0f ? std::round(set * steps) / steps : set;
    if (std::abs(read - set) <= 1e-4f || std::abs(read - snapped) <= 1e-4f) {
        return ::testing::AssertionSuccess();
    }
    return ::testing::AssertionFailure() << "parameter " << index << " reads " << read << " after " << set << " ("
                                         << steps << " steps)";
}

// In the child: the class's case. Parameter changes reach the processor with the first processed
// block, so the state is saved after processing: before it, the component would not hold them yet.
void ClassCase(const Module& module, const UTF16String& id, std::ostream& report)
{
    kelcore::trail::SetStep("scan");
    ScanAlone(module.locator);
    kelcore::trail::SetStep("create");
    auto filter = utility::CreateAudioFilter(id);
    ASSERT_TRUE(filter);

    kelcore::trail::SetStep("change parameters");
    for (int i = 0; i < filter->GetParameterCount(); ++i) {
        // Off the midpoints between steps of small grids, where rounding is the plug-in's choice.
        const float value = 0.29f + 0.17f * static_cast<float>(i % 3);
        filter->SetParameter(i, value);
        EXPECT_TRUE(ReadsBack(*filter, i, filter->GetParameter(i), value));
    }

    const int blocks = kSeconds * kBlocks;
    // Without inputs or outputs the mapped channels are silenced; an effect with both passes signal.
    const auto original = RenderChecked(
        *filter, blocks, filter->GetNumberOfInputChannels() > 0 && filter->GetNumberOfOutputChannels() > 0);
    EXPECT_GE(filter->GetInitialDelay(), 0);
    EXPECT_GE(filter->GetTail(), 0);

    kelcore::trail::SetStep("save");
    kelcore::proplist::PropList savedList;
    PresetData saved(savedList);
    filter->SaveSettings(saved);
    ASSERT_FALSE(saved.IsEmpty());
    if (filter->GetParameterCount() > 0) { // the changes reached the plug-in and are kept in its state
        auto fresh = utility::CreateAudioFilter(id);
        ASSERT_TRUE(fresh);
        kelcore::proplist::PropList defaultsList;
        PresetData defaults(defaultsList);
        fresh->SaveSettings(defaults);
        EXPECT_FALSE(defaults == saved) << "the saved state is that of a fresh instance";
    }

    // The processor may settle a value otherwise than the controller did (linked switches) without
    // telling it, so the controllers are compared once both have taken the saved state. An effect whose
    // output two fresh instances with equal settings do not reproduce is judged by its state alone.
    ASSERT_TRUE(filter->LoadSettings(saved));
    CheckRestore(id, saved, original, blocks, report, false, [&](AudioFilter& restored) {
        for (int i = 0; i < filter->GetParameterCount(); ++i) {
            EXPECT_EQ(restored.GetParameter(i), filter->GetParameter(i)) << "parameter " << i;
        }
    });
    filter.reset();
}

class Vst3ThirdParty : public ThirdPartySuite<Vst3ThirdParty> {
protected:
    static void SetUpTestSuite()
    {
        vst3::RegisterVST3Technology();
        ScanEach(ModulesToTry(), ScanCase);
    }
    void SetUp() override
    {
        if (sScanned.empty()) {
            GTEST_SKIP() << "no VST 3 modules installed";
        }
    }
};

TEST_F(Vst3ThirdParty, EveryAudioClassProcessesChangesAndRestoresItsState)
{
    for (const auto& [module, scan] : sScanned) {
        Judge(module, "scan", scan);
    }
    const auto classes = RunEachComponent(ClassCase);
    std::cout << "[ NOTE     ] " << sScanned.size() << " modules, " << classes << " audio classes\n";
}

} // namespace
} // namespace kelaudiofilterhost
