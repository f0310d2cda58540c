// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/catalogue/AudioFilterDescriptorManager.h"
#include "kelaudiofilterhost/catalogue/BannedPluginManager.h"
#include "kelaudiofilterhost/catalogue/PluginModuleInfoManager.h"
#include "kelaudiofilterhost/catalogue/PluginModuleScanner.h"
#include "kelaudiofilterhost/framework/AudioFilterFactory.h"
#include "kelaudiofilterhost/vst2/VSTScanContext.h"
#include "kelaudiofilterhost/vst2/VSTTechnology.h"
#include "tests/services/TempTree.h"
#include "tests/support/ScanSupport.h"
#include "tests/support/Vst2TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>

namespace kelaudiofilterhost {
namespace {

using namespace kelaudiofilterhost::testing;

TEST(VSTComponentID, ParsesTheNumberAfterAnyTwoCharacterPrefix)
{
    struct Case {
        UTF16String id;
        std::uint32_t number;
    } cases[] = {
        {u"2:1234 Echo", 1234}, {u"1234 Echo", 1234}, {u"X:1234", 1234}, {u"abc", 0}, {u"2:  77x", 77},
        {u"2:", 2}, // too short for a prefix
        {u"", 0},   {u"2:4294967295 Big", 4294967295u}, {u"2:99999999999 Overflow", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(vst::ParseUniqueID(c.id), c.number) << kelcore::UTF16to8(c.id);
    }
    EXPECT_EQ(vst::MakeComponentID(3405705229u, u"/x/Liar.so"), u"2:3405705229 Liar");
}

TEST(VSTTechnology, CollectsModulesAndSkipsBannedOnes)
{
    const auto all = vst::CollectVSTPlugins(kelcore::filesupport::Dir(TestPluginsDir()));
    std::map<std::string, bool> found;
    for (const auto& locator : all) {
        EXPECT_EQ(locator.GetTechnologyType(), VST);
        found[std::filesystem::path(kelcore::UTF16to8(locator.GetPath())).filename()] = true;
    }
    EXPECT_TRUE(found["KafhGain.so"]);
    EXPECT_TRUE(found["Empty.so"]);
    EXPECT_FALSE(found["NotALibrary.txt"]);

    const PluginLocator gain(VST, TestPlugin("KafhGain"));
    BannedPluginManager::GetInstance().AddBannedPlugin(gain);
    const auto withoutBanned = vst::CollectVSTPlugins(kelcore::filesupport::Dir(TestPluginsDir()));
    BannedPluginManager::GetInstance().RemoveBannedPlugin(gain);
    EXPECT_EQ(withoutBanned.size() + 1, all.size());
    EXPECT_EQ(std::count(withoutBanned.begin(), withoutBanned.end(), gain), 0);
}

TEST(VSTTechnology, TheLibrariesOfVst3BundlesAreNotCollected)
{
    kafhtest::TempTree tree;
    tree.File("Other.vst3/Contents/x86_64-linux/Other.so");
    const auto plain = tree.File("Plain.so");
    const auto found = vst::CollectVSTPlugins(kelcore::filesupport::Dir(tree.Root()));
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found.front().GetPath(), kelcore::UTF8to16(plain.string()));
}

TEST(VSTTechnology, DefaultFoldersFollowTheEnvironment)
{
    const kafhtest::TempTree tree;
    const std::string list = tree.Root().string() + ":/does/not/exist::" + tree.Root().string();
    ::setenv("VST_PATH", list.c_str(), 1);
    const auto folders = vst::GetDefaultVSTDirectories();
    ::unsetenv("VST_PATH");
    ASSERT_GE(folders.size(), 2u);
    EXPECT_EQ(folders.front(), kelcore::UTF8to16(tree.Root().string()));
    EXPECT_EQ(std::count(folders.begin(), folders.end(), folders.front()), 1); // listed once
    EXPECT_EQ(folders.back(), kelcore::UTF8to16(std::string(std::getenv("HOME")) + "/.vst")); // not tested
}

// Scans the whole test-plug-in folder; modules that cannot be described take one step and record nothing.
TEST(VSTScanContext, RecordsEveryDescribableModuleAndOneDescriptorPerEffect)
{
    vst::RegisterVSTTechnology();
    const auto modules = vst::CollectVSTPlugins(kelcore::filesupport::Dir(TestPluginsDir()));
    // Shown between steps: the first step opens the shell and describes its first effect.
    EXPECT_EQ(ScanInProcess(modules), (std::vector<std::string>{" (2/3)", " (3/3)"}));

    auto& catalogue = PluginModuleInfoManager::GetInstance();
    auto info = [&](const std::string& title) { return catalogue.FindPluginInfo({VST, TestPlugin(title)}); };
    for (const char* described : {"KafhGain", "KafhChunk", "KafhShell", "KafhSynth", "KafhSurround", "KafhLatency",
                                  "KafhAccumulate", "KafhOldMain", "KafhThrows", "KafhLiar"}) {
        EXPECT_TRUE(info(described)) << described;
    }
    for (const char* refused : {"KafhNullEntry", "KafhBadMagic", "KafhNoEntry", "Empty", "Folder"}) {
        EXPECT_FALSE(info(refused)) << refused;
    }
    EXPECT_TRUE(info("KafhShell")->IsShell());
    EXPECT_EQ(info("KafhGain")->GetName(), u"Kafh Gain");

    auto& descriptors = AudioFilterDescriptorManager::GetInstance();
    auto descriptor = [&](std::int32_t id, const std::string& title) {
        return descriptors.GetComponentDescriptorForID(vst::MakeComponentID(static_cast<std::uint32_t>(id),
                                                                            TestPlugin(title)));
    };
    for (std::int32_t part : {kafhtest::kShellQuarterId, kafhtest::kShellHalfId, kafhtest::kShellThreeQuartersId}) {
        EXPECT_TRUE(descriptor(part, "KafhShell"));
    }
    EXPECT_FALSE(descriptor(kafhtest::kShellId, "KafhShell"));
    EXPECT_FALSE(descriptor(kafhtest::kSynthId, "KafhSynth")); // a synth is catalogued without a filter
    const auto gain = descriptor(kafhtest::kGainId, "KafhGain");
    ASSERT_TRUE(gain);
    EXPECT_EQ(gain->GetCategory(), Effect);
    EXPECT_EQ(gain->GetFactoryGuid(), vst::GetVSTFactoryGuid());
    EXPECT_EQ(gain->GetVersion(), 2400u);
    EXPECT_EQ(descriptor(kafhtest::kOldMainId, "KafhOldMain")->GetCategory(), Uncategorized); // version 0
    EXPECT_TRUE(descriptor(kafhtest::kLiarId, "KafhLiar"));

    // Created through the factory by identifier, also without the prefix, named by the descriptor.
    Initialize();
    auto filter = utility::CreateAudioFilter(gain->GetUniqueID().substr(2));
    ASSERT_TRUE(filter);
    EXPECT_EQ(filter->GetComponentID(), gain->GetUniqueID());
    EXPECT_EQ(filter->GetDisplayName(), gain->GetName());
    auto shellPart = utility::CreateAudioFilter(descriptor(kafhtest::kShellHalfId, "KafhShell")->GetUniqueID());
    ASSERT_TRUE(shellPart);
    EXPECT_EQ(shellPart->GetComponentID(), vst::MakeComponentID(kafhtest::kShellHalfId, TestPlugin("KafhShell")));
}

TEST(VSTPluginModule, LoadsByEitherEntryAndRefusesWhatIsNotAModule)
{
    vst::VSTPluginModule oldMain(TestPlugin("KafhOldMain"));
    EXPECT_TRUE(oldMain.Load());
    EXPECT_FALSE(oldMain.Load()); // already loaded
    oldMain.Unload();
    for (const char* broken : {"KafhNoEntry", "Empty", "Folder", "Missing"}) {
        boost::intrusive_ptr<vst::VSTPluginModule> module = new vst::VSTPluginModule(TestPlugin(broken));
        EXPECT_FALSE(module->Load()) << broken;
        EXPECT_EQ(module->GetOSModule(), nullptr) << broken;
        EXPECT_FALSE(vst::GetOrLoadModule(TestPlugin(broken))) << broken;
    }
    std::vector<UTF16String> ids{u"stale"};
    auto nullEntry = vst::GetOrLoadModule(TestPlugin("KafhNullEntry"));
    ASSERT_TRUE(nullEntry);
    EXPECT_FALSE(nullEntry->GetPluginInfo(ids));
    EXPECT_TRUE(ids.empty());
    EXPECT_FALSE(nullEntry->CreateAudioFilter(u"2:1 KafhNullEntry"));
    auto badMagic = vst::GetOrLoadModule(TestPlugin("KafhBadMagic"));
    EXPECT_FALSE(badMagic->GetPluginInfo(ids));
    EXPECT_FALSE(badMagic->CreateAudioFilter(u"2:1 KafhBadMagic"));
}

// The effect leaves a thread behind when closed that calls the host after its module was unloaded.
TEST(VSTPluginModule, LibrariesStayMappedForThreadsTheirEffectsLeaveBehind)
{
    const auto path = TestPlugin("KafhStray");
    auto module = vst::GetOrLoadModule(path);
    ASSERT_TRUE(module);
    using TakeLateAnswers = void (*)(std::intptr_t*, std::intptr_t*);
    const auto takeLateAnswers =
        kelcore::GetFunctionPointerFromModule<TakeLateAnswers>(module->GetOSModule(), "KafhStrayTakeLateAnswers");
    ASSERT_TRUE(takeLateAnswers);
    auto filter = module->CreateAudioFilter(vst::MakeComponentID(kafhtest::kStrayId, path));
    ASSERT_TRUE(filter);
    filter->Resume(); // a late call still taken for this filter's would get its time info
    std::intptr_t time = -1;
    std::intptr_t version = -1;
    std::this_thread::sleep_for(std::chrono::milliseconds(200)); // threads of earlier closes are done
    takeLateAnswers(&time, &version);
    filter.reset();
    module->Unload();
    module.reset();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    takeLateAnswers(&time, &version);
    EXPECT_EQ(time, 0); // answered as from an effect the host does not know
    EXPECT_EQ(version, 2400);
}

TEST(VSTPluginModule, StaticallyBannedModulesAreNotDescribedUnlessSynths)
{
    const kafhtest::TempTree tree;
    const auto& dir = tree.Root();
    std::ofstream(dir / "static.xml") << "<pluginlist><plugin filename=\"kafhgain.so\"/>"
                                         "<plugin filename=\"KafhSynth.so\"/></pluginlist>";
    kelcore::filesupport::File list(dir / "static.xml");
    auto& banned = BannedPluginManager::GetInstance();
    ASSERT_TRUE(banned.LoadStaticConfiguration(list));
    std::vector<UTF16String> ids;
    EXPECT_FALSE(vst::GetOrLoadModule(TestPlugin("KafhGain"))->GetPluginInfo(ids));
    EXPECT_TRUE(vst::GetOrLoadModule(TestPlugin("KafhSynth"))->GetPluginInfo(ids));
    EXPECT_TRUE(ids.empty());
    std::ofstream(dir / "empty.xml") << "<pluginlist/>";
    kelcore::filesupport::File empty(dir / "empty.xml");
    ASSERT_TRUE(banned.LoadStaticConfiguration(empty));
    EXPECT_TRUE(vst::GetOrLoadModule(TestPlugin("KafhGain"))->GetPluginInfo(ids));
}

} // namespace
} // namespace kelaudiofilterhost
