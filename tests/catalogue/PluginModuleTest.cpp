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
    using PluginModule::PluginModule;
    // These tests never create filters; the framework's filters are not linked into them.
    boost::intrusive_ptr<AudioFilter> CreateAudioFilter(UTF16String) override { std::abort(); }
    boost::intrusive_ptr<PluginModuleInfo> GetPluginInfo(std::vector<UTF16String>& ids) override
    {
        ids = {u"test:1"};
        return new PluginModuleInfo(PluginLocator(VST, GetPath()), u"Test", u"", 1, VST, true, false);
    }
};

bool IsLoadedInProcess(const std::string& path)
{
    void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (handle) {
        ::dlclose(handle);
    }
    return handle != nullptr;
}

} // namespace

TEST(PluginModule, LoadsRealLibrariesAndTracesFailures)
{
    TempDir dir;
    const std::string notALibrary = dir.Write("text.so", "this is no ELF file").native();
    struct Case {
        std::string path;
        bool loads;
        const char* traced;
    };
    const Case cases[] = {
        {KAFH_TEST_EXPORTING_MODULE, true, nullptr},
        {KAFH_TEST_UNRESOLVED_MODULE, false, "KafhTestSymbolDefinedNowhere"},
        {notALibrary, false, "text.so"},
        {(dir.Path() / "missing.so").native(), false, "missing.so"},
    };
    for (const Case& c : cases) {
        TraceCapture trace;
        boost::intrusive_ptr<TestModule> module(new TestModule(kelcore::UTF8to16(c.path), true));
        EXPECT_EQ(module->GetOSModule(), nullptr);
        EXPECT_EQ(module->Load(), c.loads) << c.path;
        EXPECT_EQ(module->GetOSModule() != nullptr, c.loads) << c.path;
        if (c.traced) {
            EXPECT_TRUE(trace.Contains("PluginModule::Load") && trace.Contains(c.traced)) << c.path;
        }
    }
}

TEST(PluginModule, LoadsOnceAndReleasesOnlyWhenAskedTo)
{
    const std::string path = KAFH_TEST_EXPORTING_MODULE;
    boost::intrusive_ptr<TestModule> module(new TestModule(kelcore::UTF8to16(path), true));
    module->Unload(); // never loaded: nothing happens
    ASSERT_TRUE(module->Load());
    const kelcore::ModuleHandle handle = module->GetOSModule();
    EXPECT_TRUE(module->Load());
    EXPECT_EQ(module->GetOSModule(), handle);
    const auto answer = kelcore::GetFunctionPointerFromModule<int (*)()>(handle, "KafhTestAnswer");
    ASSERT_NE(answer, nullptr);
    EXPECT_EQ(answer(), 42);
    module->Unload();
    EXPECT_EQ(module->GetOSModule(), nullptr);
    EXPECT_FALSE(IsLoadedInProcess(path));

    ASSERT_TRUE(module->Load());
    module.reset();
    EXPECT_FALSE(IsLoadedInProcess(path));

    boost::intrusive_ptr<TestModule> kept(new TestModule(kelcore::UTF8to16(path), false));
    ASSERT_TRUE(kept->Load());
    kept->Unload();
    EXPECT_NE(kept->GetOSModule(), nullptr);
    kept.reset();
    EXPECT_TRUE(IsLoadedInProcess(path));
}
