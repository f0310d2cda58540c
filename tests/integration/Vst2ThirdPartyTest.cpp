// SPDX-License-Identifier: GPL-3.0-or-later
// The VST 2 modules installed on the machine and our own test plug-ins, each case in a child process:
// every module scanned alone into a fresh catalogue, every effect created, processed, changed, saved
// and restored. A plug-in that crashes, hangs or fails there is reported with the step and its last
// call, and the run goes on. The
// modules of the packages the set-up installs, and our own, must pass: from outside, a crash of the
// library cannot be told from a crash of the plug-in, so only modules known to be sound can judge it.
#include "ThirdPartyCase.h"

#include "kelaudiofilterhost/catalogue/PluginModuleInfoManager.h"
#include "kelaudiofilterhost/services/File.h"
#include "kelaudiofilterhost/vst2/VSTAudioFilter.h"
#include "kelaudiofilterhost/vst2/VSTPluginModule.h"
#include "kelaudiofilterhost/vst2/VSTTechnology.h"

#include <map>

namespace kelaudiofilterhost {
namespace {

using namespace integration;

// Every candidate of the VST 2 folders the library searches by default, and our own test plug-ins.
std::vector<Module> ModulesToTry()
{
    const auto known = KnownPackageFiles("zam-plugins dpf-plugins-vst", ".so");
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
    // Without outputs the channels it reads are silenced.
    const auto original = RenderChecked(*filter, kBlocks, filter->GetNumberOfOutputChannels() > 0);
    CheckRestore(id, saved, original, kBlocks, report, true);
}

class Vst2ThirdParty : public ThirdPartySuite<Vst2ThirdParty> {
protected:
    static void SetUpTestSuite()
    {
        vst::RegisterVSTTechnology();
        ScanEach(ModulesToTry(), ScanCase);
    }
};

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
    EXPECT_GT(RunEachComponent(EffectCase), 20u);
}

} // namespace
} // namespace kelaudiofilterhost
