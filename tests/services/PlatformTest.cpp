// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/services/Platform.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <unistd.h>

namespace kelcore {
namespace {

namespace fs = std::filesystem;

TEST(Platform, LoadsALibraryAndFindsOnlyItsExportedSymbols)
{
    UTF8String error = "stale";
    ModuleHandle module = platform::LoadModule(u"libm.so.6", error);
    ASSERT_NE(module, nullptr) << error;
    EXPECT_TRUE(error.empty());

    using Cosine = double (*)(double);
    const auto cosine = GetFunctionPointerFromModule<Cosine>(module, "cos");
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
}

TEST(Platform, RefusesMissingEmptyAndNonLibraryFilesWithTheLoaderText)
{
    const fs::path directory = fs::temp_directory_path() / ("kafh-platform-" + std::to_string(::getpid()));
    fs::create_directories(directory);
    const fs::path notLibrary = directory / "Not a library ü.so";
    std::ofstream(notLibrary) << "plain text, no ELF header";

    struct Case {
        UTF16String path;
        const char* textContains;
    };
    const Case cases[] = {
        {UTF8to16((directory / "missing.so").string()), "missing.so"},
        {UTF8to16(notLibrary.string()), "Not a library"},
        {u"", "empty"},
    };
    for (const Case& c : cases) {
        UTF8String error;
        EXPECT_EQ(platform::LoadModule(c.path, error), nullptr) << UTF16to8(c.path);
        EXPECT_NE(error.find(c.textContains), UTF8String::npos) << error;
    }
    fs::remove_all(directory);
}

TEST(Platform, ExecutablePathNamesThisTestProgram)
{
    const fs::path path(UTF16to8(platform::GetExecutablePath()));
    EXPECT_TRUE(path.is_absolute());
    EXPECT_TRUE(fs::is_regular_file(path));
    EXPECT_EQ(path, fs::canonical("/proc/self/exe"));
}

} // namespace
} // namespace kelcore
