// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/catalogue/BannedPluginManager.h"
#include "kelaudiofilterhost/services/Trace.h"
#include "kelaudiofilterhost/vst3/VST3Technology.h"
#include "tests/services/TempTree.h"
#include "tests/support/TraceCapture.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include <unistd.h>

namespace kelaudiofilterhost::vst3 {
namespace {

using kafhtest::TempTree;
using Names = std::vector<std::string>;
namespace fs = std::filesystem;

/// Sets (or, with nullopt, unsets) an environment variable for one scope.
class ScopedEnv {
public:
    ScopedEnv(const char* name, std::optional<std::string> value) : mName(name)
    {
        if (const char* old = std::getenv(name)) {
            mOld = old;
        }
        value ? ::setenv(name, value->c_str(), 1) : ::unsetenv(name);
    }
    ~ScopedEnv() { mOld ? ::setenv(mName, mOld->c_str(), 1) : ::unsetenv(mName); }

private:
    const char* mName;
    std::optional<std::string> mOld;
};

Names Utf8(const std::vector<UTF16String>& texts)
{
    Names names;
    for (const auto& text : texts) {
        names.push_back(kelcore::UTF16to8(text));
    }
    return names;
}

/// Module paths relative to the tree, in the order found.
Names Collected(const TempTree& tree, const kelcore::filesupport::Dir& argument = {})
{
    Names names;
    for (const PluginLocator& locator : CollectVST3Plugins(argument)) {
        EXPECT_EQ(locator.GetTechnologyType(), VST3);
        names.push_back(fs::path(kelcore::UTF16to8(locator.GetPath())).lexically_relative(tree.Root()).string());
    }
    return names;
}

void Bundle(TempTree& tree, const std::string& relative, const std::string& name)
{
    tree.File(relative + "/Contents/" + kelcore::UTF16to8(GetVST3ArchitectureFolder()) + "/" + name + ".so");
}

TEST(VST3Technology, DefaultFoldersAreExactlyVST3PathWhenSet)
{
    const std::string latin1 = "/tmp/caf\xe9";
    const struct {
        std::optional<std::string> vst3Path;
        std::optional<std::string> home;
        Names folders;
        const char* trace;
    } rows[] = {
        {std::nullopt, "/h", {"/h/.vst3", "/usr/lib/vst3", "/usr/local/lib/vst3"}, nullptr},
        {std::nullopt, "", {"/usr/lib/vst3", "/usr/local/lib/vst3"}, nullptr},
        {std::nullopt, std::nullopt, {"/usr/lib/vst3", "/usr/local/lib/vst3"}, nullptr},
        {std::nullopt, latin1, {"/usr/lib/vst3", "/usr/local/lib/vst3"}, "HOME"},
        // Set: nothing else is added, missing folders stay listed, repeats and empty entries drop out.
        {"/a::/missing:/a", "/h", {"/a", "/missing"}, nullptr},
        {"", "/h", {}, nullptr},
        {"/a:" + latin1 + ":/b", "/h", {"/a", "/b"}, "VST3_PATH entry"},
    };
    for (const auto& row : rows) {
        const ScopedEnv path("VST3_PATH", row.vst3Path);
        const ScopedEnv home("HOME", row.home);
        const testing::TraceCapture trace;
        EXPECT_EQ(Utf8(GetDefaultVST3Directories()), row.folders) << row.vst3Path.value_or("(unset)");
        if (row.trace != nullptr) {
            EXPECT_TRUE(trace.Contains(row.trace)) << row.trace;
        }
    }
}

TEST(VST3Technology, CollectsBundlesAndModuleFilesFromTheDefaultFoldersOnly)
{
    TempTree tree;
    Bundle(tree, "a/Bundle.vst3", "Bundle");
    tree.File("a/Bundle.vst3/Contents/Resources/Inner.vst3"); // part of the bundle, not a module
    tree.File("a/PLUGIN.VST3");
    tree.File("a/plugin.vst3.bak");
    tree.File("a/notes.txt");
    Bundle(tree, "a/sub/Deep.Vst3", "Deep");
    fs::create_directories(tree.Root() / "a/sub/NoLibrary.vst3"); // still a candidate: loading it fails later
    std::ofstream(tree.Root() / "a/Empty.vst3").close();
    Bundle(tree, "a/Banned.vst3", "Banned");
    tree.Link("a/sub/loop", tree.Root() / "a");
    tree.File("b/Second.vst3");
    tree.File("elsewhere/Ignored.vst3");

    const PluginLocator banned(VST3, kelcore::UTF8to16((tree.Root() / "a/Banned.vst3").string()));
    BannedPluginManager::GetInstance().AddBannedPlugin(banned);
    // "b" is also reached as a sub-folder of the first folder through a link: listed once.
    tree.Link("a/link-to-b", tree.Root() / "b");
    const ScopedEnv path("VST3_PATH", (tree.Root() / "a").string() + ":" + (tree.Root() / "b").string());
    const auto found = Collected(tree, kelcore::filesupport::Dir(tree.Root() / "elsewhere"));
    BannedPluginManager::GetInstance().RemoveBannedPlugin(banned);

    EXPECT_EQ(found, (Names{"a/Bundle.vst3", "a/Empty.vst3", "a/PLUGIN.VST3", "a/sub/Deep.Vst3",
                            "a/sub/NoLibrary.vst3", "a/link-to-b/Second.vst3"}));
}

TEST(VST3Technology, CollectionSurvivesUnreadableAndMissingFolders)
{
    TempTree tree;
    tree.File("locked/Hidden.vst3");
    Bundle(tree, "open/Seen.vst3", "Seen");
    const bool enforced = ::geteuid() != 0; // root reads every folder anyway
    if (enforced) {
        fs::permissions(tree.Root() / "locked", fs::perms::none);
    }
    const ScopedEnv path("VST3_PATH", (tree.Root() / "locked").string() + ":" + (tree.Root() / "gone").string() + ":" +
                                          (tree.Root() / "open").string());
    const testing::TraceCapture trace;
    const auto found = Collected(tree);
    fs::permissions(tree.Root() / "locked", fs::perms::owner_all);
    EXPECT_TRUE(trace.Contains("gone"));
    if (enforced) {
        EXPECT_EQ(found, Names{"open/Seen.vst3"});
        EXPECT_TRUE(trace.Contains("locked"));
    } else {
        EXPECT_EQ(found, (Names{"locked/Hidden.vst3", "open/Seen.vst3"}));
    }
}

TEST(VST3Technology, ResolvesTheLibraryOfThisMachineInsideABundle)
{
    TempTree tree;
    const std::string arch = kelcore::UTF16to8(GetVST3ArchitectureFolder());
    Bundle(tree, "Good.vst3", "Good");
    Bundle(tree, "UPPER.VST3", "UPPER");
    fs::create_directories(tree.Root() / "NoArch.vst3/Contents/other-linux");
    tree.File("NoArch.vst3/Contents/other-linux/NoArch.so");
    tree.File("WrongName.vst3/Contents/" + arch + "/Other.so");
    fs::create_directories(tree.Root() / "Bare.vst3");
    tree.File("Plain.vst3");
    std::ofstream(tree.Root() / "Empty.vst3").close();
    const struct {
        const char* module;
        std::string library; // relative; empty when not loadable
        const char* trace;
    } rows[] = {
        {"Good.vst3", "Good.vst3/Contents/" + arch + "/Good.so", nullptr},
        {"UPPER.VST3", "UPPER.VST3/Contents/" + arch + "/UPPER.so", nullptr},
        {"NoArch.vst3", "", "no folder"},
        {"Bare.vst3", "", "no folder"},
        {"WrongName.vst3", "", "no library"},
        {"Plain.vst3", "Plain.vst3", nullptr}, // loaded as it is
        {"Empty.vst3", "Empty.vst3", nullptr}, // refused by the loader, not here
    };
    for (const auto& row : rows) {
        const testing::TraceCapture trace;
        const auto library = ResolveVST3ModuleLibrary(kelcore::UTF8to16((tree.Root() / row.module).string()));
        EXPECT_EQ(kelcore::UTF16to8(library), row.library.empty() ? "" : (tree.Root() / row.library).string())
            << row.module;
        if (row.trace != nullptr) {
            EXPECT_TRUE(trace.Contains(row.trace)) << row.module;
        }
    }
    EXPECT_EQ(arch, "x86_64-linux"); // the machine these tests run on
}

} // namespace
} // namespace kelaudiofilterhost::vst3
