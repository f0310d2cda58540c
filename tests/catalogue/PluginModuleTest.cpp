// SPDX-License-Identifier: GPL-3.0-or-later
#include "CatalogueTestSupport.h"

#include "kelaudiofilterhost/catalogue/PluginModule.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include <dlfcn.h>

using namespace kelaudiofilterhost;
using namespace kelaudiofilterhost::testing;

namespace {

class TestModule : public PluginModule {
public:
    TestModule(const std::string& path, bool freeOnUnload) : PluginModule(kelcore::UTF8to16(path), freeOnUnload) {}
    // These tests never create filters; the framework's filters are not linked into them.
    boost::intrusive_ptr<AudioFilter> CreateAudioFilter(UTF16String) override { std::abort(); }
    boost::intrusive_ptr<PluginModuleInfo> GetPluginInfo(std::vector<UTF16String>&) override { return {}; }
};

bool IsLoadedInProcess(const std::string& path)
{
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    return handle && ::dlclose(handle) == 0;
}

} // namespace

TEST(PluginModule, LoadsRealLibrariesAndTracesFailures)
{
    TempDir dir;
    const std::pair<std::string, const char*> cases[] = {
        {KAFH_TEST_EXPORTING_MODULE, nullptr},
        {KAFH_TEST_UNRESOLVED_MODULE, "KafhTestSymbolDefinedNowhere"},
        {dir.Write("text.so", "this is no ELF file").native(), "text.so"},
        {(dir.Path() / "missing.so").native(), "missing.so"},
    };
    for (const auto& [path, traced] : cases) {
        TraceCapture trace;
        boost::intrusive_ptr<TestModule> module(new TestModule(path, true));
        EXPECT_EQ(module->Load(), traced == nullptr) << path;
        EXPECT_EQ(module->GetOSModule() != nullptr, traced == nullptr) << path;
        EXPECT_TRUE(!traced || (trace.Contains("PluginModule::Load") && trace.Contains(traced))) << path;
    }
}

TEST(PluginModule, LoadsOnceAndReleasesOnlyWhenAskedTo)
{
    const std::string path = KAFH_TEST_EXPORTING_MODULE;
    boost::intrusive_ptr<TestModule> module(new TestModule(path, true));
    module->Unload(); // never loaded: nothing happens
    ASSERT_TRUE(module->Load());
    EXPECT_TRUE(module->Load()); // must take no second reference: the Unload below releases the library
    const auto answer = kelcore::GetFunctionPointerFromModule<int (*)()>(module->GetOSModule(), "KafhTestAnswer");
    EXPECT_TRUE(answer && answer() == 42);
    module->Unload();
    EXPECT_TRUE(module->GetOSModule() == nullptr && !IsLoadedInProcess(path));
    ASSERT_TRUE(module->Load());
    module.reset();
    EXPECT_FALSE(IsLoadedInProcess(path));

    // A copy, as a library kept loaded stays in the process for good.
    TempDir dir;
    const std::string copy = (dir.Path() / "kept.so").native();
    fs::copy_file(path, copy);
    module = new TestModule(copy, false);
    ASSERT_TRUE(module->Load());
    module->Unload();
    module.reset();
    EXPECT_TRUE(IsLoadedInProcess(copy));
}
