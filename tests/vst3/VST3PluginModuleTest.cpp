// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/catalogue/AudioFilterDescriptor.h"
#include "kelaudiofilterhost/catalogue/BannedPluginManager.h"
#include "kelaudiofilterhost/framework/AudioFilter.h"
#include "kelaudiofilterhost/services/File.h"
#include "kelaudiofilterhost/services/PluginCallTrail.h"
#include "kelaudiofilterhost/services/Trace.h"
#include "kelaudiofilterhost/vst3/VST3ClassID.h"
#include "kelaudiofilterhost/vst3/VST3PluginGate.h"
#include "kelaudiofilterhost/vst3/VST3PluginModule.h"
#include "kelaudiofilterhost/vst3/VST3Technology.h"
#include "tests/services/TempTree.h"
#include "tests/support/TraceCapture.h"
#include "tests/support/Vst3TestSupport.h"

#include <pluginterfaces/vst/ivstaudioprocessor.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace kelaudiofilterhost::vst3 {
namespace {

namespace fs = std::filesystem;
using kafhtest::TempTree;
using testing::TraceCapture;

const fs::path kZamFolder = "/usr/lib/vst3";

std::vector<fs::path> ZamBundles()
{
    std::vector<fs::path> bundles;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(kZamFolder, error)) {
        if (entry.path().extension() == ".vst3") {
            bundles.push_back(entry.path());
        }
    }
    return bundles;
}

UTF16String U16(const fs::path& path)
{
    return kelcore::UTF8to16(path.string());
}

TEST(VST3PluginModule, OurBundlesLoadAndListTheirAudioClasses)
{
    const std::pair<const char*, std::size_t> bundles[] = {
        {"KafhVst3Gain", 1}, {"KafhVst3Single", 1}, {"KafhVst3Recorder", 1}, {"KafhVst3SideChain", 1},
        {"KafhVst3Latency", 2}, {"KafhVst3Mono", 1}, {"KafhVst3Faulty", 5},
    };
    for (const auto& [name, audioClasses] : bundles) {
        SCOPED_TRACE(name);
        const auto module = GetOrLoadModule(testing::TestBundle(name));
        ASSERT_TRUE(module);
        std::vector<UTF16String> ids;
        ASSERT_TRUE(module->GetPluginInfo(ids));
        EXPECT_EQ(ids.size(), audioClasses);
    }
}

TEST(VST3PluginModule, AStaticallyBannedBundleIsNotDescribed)
{
    const fs::path bundle = kZamFolder / "ZamComp.vst3";
    if (!fs::exists(bundle)) {
        GTEST_SKIP() << bundle << " is missing";
    }
    TempTree tree;
    std::ofstream(tree.Root() / "static.xml") << "<pluginlist><plugin filename=\"zamcomp.VST3\"/></pluginlist>";
    std::ofstream(tree.Root() / "empty.xml") << "<pluginlist/>";
    kelcore::filesupport::File list(tree.Root() / "static.xml");
    kelcore::filesupport::File empty(tree.Root() / "empty.xml");
    auto& banned = BannedPluginManager::GetInstance();
    ASSERT_TRUE(banned.LoadStaticConfiguration(list));
    const auto module = GetOrLoadModule(U16(bundle));
    ASSERT_TRUE(module);
    std::vector<UTF16String> ids;
    {
        const TraceCapture trace;
        EXPECT_FALSE(module->GetPluginInfo(ids));
        EXPECT_TRUE(trace.Contains("banned statically")) << trace.Text();
    }
    EXPECT_TRUE(ids.empty());
    ASSERT_TRUE(banned.LoadStaticConfiguration(empty));
    EXPECT_TRUE(module->GetPluginInfo(ids));
    EXPECT_FALSE(ids.empty());
}

// Many plug-in frameworks cannot start again once stopped: whatever its modules do, a library is
// started once per process and never stopped. A zam bundle crashes when started again.
TEST(VST3PluginModule, ModulesUnloadAndLoadAgainWithoutRestartingTheirLibrary)
{
    const auto zam = ZamBundles();
    if (zam.empty()) {
        GTEST_SKIP() << kZamFolder << " holds no VST 3 bundles";
    }
    for (const fs::path& bundle : {zam.front(), fs::path(KAFH_TESTPLUGINS_VST3_DIR) / "KafhVst3Multi.vst3"}) {
        SCOPED_TRACE(bundle.string());
        const TraceCapture trace;
        boost::intrusive_ptr<VST3PluginModule> module = new VST3PluginModule(U16(bundle));
        ASSERT_TRUE(module->Load());
        module->Unload();
        EXPECT_EQ(module->GetFactory(), nullptr);
        EXPECT_EQ(module->GetOSModule(), nullptr);
        std::vector<UTF16String> ids{u"stale"};
        EXPECT_FALSE(module->GetPluginInfo(ids));
        EXPECT_TRUE(ids.empty());

        ASSERT_TRUE(module->Load());
        ASSERT_TRUE(module->GetPluginInfo(ids));
        ASSERT_FALSE(ids.empty());
        for (const auto& id : ids) {
            const auto filter = module->CreateAudioFilter(id);
            ASSERT_TRUE(filter);
            EXPECT_TRUE(filter->CreateFilterDescriptor(PluginLocator(VST3, U16(bundle)), false));
        }
        module->Unload();
        const auto cached = GetOrLoadModule(U16(bundle));
        ASSERT_TRUE(cached);
        EXPECT_TRUE(cached->GetPluginInfo(ids));

        EXPECT_FALSE(trace.Contains("Calling ExitDll")) << trace.Text();
        EXPECT_TRUE(trace.Contains("ModuleEntry already ran")) << trace.Text();
        const auto& text = trace.Text();
        const auto first = text.find("Calling InitDll");
        EXPECT_TRUE(first == std::string::npos || text.find("Calling InitDll", first + 1) == std::string::npos)
            << text;
    }
}

// Each bad module fails to load with a trace naming it, stays out of the cache and describes nothing.
TEST(VST3PluginModule, BadModulesAreRefusedWithATrace)
{
    TempTree tree;
    tree.File("NoArch.vst3/Contents/Resources/moduleinfo.json");
    tree.File("NoLib.vst3/Contents/x86_64-linux/Other.so");
    std::ofstream(tree.Root() / "Empty.vst3").flush();
    tree.File("Text.vst3");
    const std::pair<const char*, const char*> rows[] = {{"NoArch.vst3", "cannot load its library"},
                                                        {"NoLib.vst3", "cannot load its library"},
                                                        {"Empty.vst3", "PluginModule::Load"},
                                                        {"Text.vst3", "PluginModule::Load"}};
    for (const auto& [name, traced] : rows) {
        const fs::path path = tree.Root() / name;
        SCOPED_TRACE(path.string());
        const TraceCapture trace;
        boost::intrusive_ptr<VST3PluginModule> module = new VST3PluginModule(U16(path));
        EXPECT_FALSE(module->Load());
        EXPECT_EQ(module->GetOSModule(), nullptr);
        EXPECT_EQ(module->GetFactory(), nullptr);
        EXPECT_TRUE(trace.Contains(path.string()) && trace.Contains(traced)) << trace.Text();
        EXPECT_FALSE(GetOrLoadModule(U16(path)));
        std::vector<UTF16String> ids{u"stale"};
        EXPECT_FALSE(module->GetPluginInfo(ids));
        EXPECT_TRUE(ids.empty());
        module->Unload(); // never loaded: nothing happens
    }
}

TEST(VST3PluginGate, ReadsAThrowAsFailureAndTracesItWithTheModuleAndCall)
{
    const TraceCapture trace;
    const VST3PluginGate gate(u"/x/Thrower.vst3", "VST3PluginModule::GetPluginInfo");
    const int result = gate.Call("IPluginFactory::countClasses", []() -> int { throw std::runtime_error("boom"); }, -7);
    EXPECT_EQ(result, -7);
    EXPECT_TRUE(trace.Contains("VST3PluginModule::GetPluginInfo")) << trace.Text();
    EXPECT_TRUE(trace.Contains("\"/x/Thrower.vst3\": IPluginFactory::countClasses threw std::runtime_error: boom"))
        << trace.Text();
    EXPECT_FALSE(gate.Run("ModuleExit", [] { throw 42; }));
    EXPECT_TRUE(trace.Contains("ModuleExit threw int")) << trace.Text();

    // The trail saw the call, and that it ended, even though it threw.
    const auto snapshot = kelcore::trail::Read();
    EXPECT_EQ(snapshot.module, "/x/Thrower.vst3");
    EXPECT_EQ(snapshot.call, "ModuleExit");
    EXPECT_FALSE(snapshot.inCall);
    EXPECT_EQ(gate.Call("ModuleEntry", [] { return true; }, false), true);
}

TEST(VST3PluginGate, MisbehaviourChecksGiveSaneReadingsAndTrace)
{
    const TraceCapture trace;
    const VST3PluginGate gate(u"/x/Odd.vst3", "VST3PluginModule::GetPluginInfo");
    EXPECT_EQ(gate.ClassCountInRange(3, 10), 3);
    EXPECT_FALSE(trace.Contains("countClasses"));
    EXPECT_EQ(gate.ClassCountInRange(-1, 10), 0);
    EXPECT_EQ(gate.ClassCountInRange(11, 10), 10);
    EXPECT_TRUE(trace.Contains("\"/x/Odd.vst3\": countClasses 11 is out of range; read as 10")) << trace.Text();

    Steinberg::PClassInfo info;
    EXPECT_TRUE(gate.IsClassInfoTerminated(info, 0));
    std::memset(info.category, 'x', sizeof info.category);
    EXPECT_FALSE(gate.IsClassInfoTerminated(info, 2));
    EXPECT_TRUE(trace.Contains("getClassInfo(2) wrote a text without its end")) << trace.Text();

    Steinberg::PFactoryInfo factoryInfo;
    EXPECT_TRUE(gate.IsFactoryInfoTerminated(factoryInfo));
    std::memset(factoryInfo.email, 'x', sizeof factoryInfo.email);
    EXPECT_FALSE(gate.IsFactoryInfoTerminated(factoryInfo));
}

} // namespace
} // namespace kelaudiofilterhost::vst3
