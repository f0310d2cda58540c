// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/services/Platform.h"

#include "TempTree.h"

#include <gtest/gtest.h>

using namespace kelcore;
using namespace kafhtest;

TEST(Platform, LoadsALibraryFindsOnlyItsExportedSymbolsAndNamesThisProgram)
{
    UTF8String error = "stale";
    ModuleHandle module = platform::LoadModule(u"libm.so.6", error);
    ASSERT_NE(module, nullptr) << error;
    EXPECT_TRUE(error.empty());
    const auto cosine = GetFunctionPointerFromModule<double (*)(double)>(module, "cos");
    ASSERT_NE(cosine, nullptr);
    EXPECT_EQ(cosine(0.0), 1.0);
    EXPECT_EQ(GetFunctionPointerFromModuleImpl(module, "NoSuchSymbolAnywhere"), nullptr);
    EXPECT_EQ(GetFunctionPointerFromModuleImpl(module, ""), nullptr);
    EXPECT_EQ(GetFunctionPointerFromModuleImpl(module, nullptr), nullptr);
    // A null handle must not search the whole process, where "malloc" would be found.
    EXPECT_EQ(GetFunctionPointerFromModuleImpl(nullptr, "malloc"), nullptr);
    EXPECT_TRUE(platform::UnloadModule(module, error)) << error;
    EXPECT_FALSE(platform::UnloadModule(nullptr, error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(fs::path(UTF16to8(platform::GetExecutablePath())), fs::canonical("/proc/self/exe"));
}

TEST(Platform, RefusesMissingEmptyAndNonLibraryFilesWithTheLoaderText)
{
    TempTree tree;
    const fs::path notLibrary = tree.File("Not a library \xC3\xBC.so");
    const std::pair<UTF16String, const char*> cases[] = {
        {UTF8to16((tree.Root() / "missing.so").string()), "missing.so"},
        {UTF8to16(notLibrary.string()), "Not a library"},
        {u"", "empty"},
    };
    for (const auto& [path, textContains] : cases) {
        UTF8String error;
        EXPECT_EQ(platform::LoadModule(path, error), nullptr) << UTF16to8(path);
        EXPECT_NE(error.find(textContains), UTF8String::npos) << error;
    }
}
