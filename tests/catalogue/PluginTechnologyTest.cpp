// SPDX-License-Identifier: GPL-3.0-or-later
#include "CatalogueTestSupport.h"

#include <gtest/gtest.h>

#include <unistd.h>

using namespace kelaudiofilterhost;
using namespace kelaudiofilterhost::testing;
using Dirs = std::vector<UTF16String>;

namespace {

struct Change {
    Dirs added;
    Dirs removed;
    bool operator==(const Change&) const = default;
};

std::vector<UTF16String> Paths(const std::vector<PluginLocator>& locators, const TempDir& root)
{
    std::vector<UTF16String> result;
    for (const PluginLocator& locator : locators) {
        result.push_back(locator.GetPath().substr(root.Text().size() + 1));
    }
    return result;
}

} // namespace

TEST(PluginTechnology, DirectoryOperationsChangeTheListAndSignal)
{
    enum Operation { Add, Remove, RemoveAll, Reset };
    struct Case {
        const char* name;
        Dirs before;
        Operation operation;
        Dirs argument;
        bool usesDirectories;
        Dirs after;
        std::vector<Change> changes;
    };
    Dirs defaults{u"/d1", u"/d2"};
    const Case cases[] = {
        {"add listed", {u"/A"}, Add, {u"/A"}, true, {u"/A"}, {}},
        {"add partly new", {u"/A"}, Add, {u"/A", u"/B"}, true, {u"/A", u"/B"}, {{{u"/A", u"/B"}, {}}}},
        {"add twice new", {}, Add, {u"/D", u"/D"}, true, {u"/D", u"/D"}, {{{u"/D", u"/D"}, {}}}},
        {"exact comparison", {u"/A"}, Add, {u"/A/"}, true, {u"/A", u"/A/"}, {{{u"/A/"}, {}}}},
        {"remove unlisted", {u"/A"}, Remove, {u"/B"}, true, {u"/A"}, {}},
        {"remove first only", {u"/A", u"/B", u"/A"}, Remove, {u"/A"}, true, {u"/B", u"/A"}, {{{}, {u"/A"}}}},
        {"remove all of none", {}, RemoveAll, {}, true, {}, {}},
        {"remove all", {u"/A", u"/B"}, RemoveAll, {}, true, {}, {{{}, {u"/A", u"/B"}}}},
        {"reset", {u"/A"}, Reset, {}, true, defaults, {{{}, {u"/A"}}, {defaults, {}}}},
        {"reset unused", {}, Reset, {}, false, {}, {{{}, {}}}},
    };
    for (const Case& c : cases) {
        std::vector<Change> changes;
        boost::intrusive_ptr<PluginTechnology> technology(
            new PluginTechnology(VST, {}, {}, [&defaults] { return defaults; }, {}, c.usesDirectories));
        technology->AddPluginDirectories(c.before);
        technology->GetDirectoriesChangedSignal().connect(
            [&changes](auto, const Dirs& added, const Dirs& removed) { changes.push_back({added, removed}); });
        switch (c.operation) {
        case Add: technology->AddPluginDirectories(c.argument); break;
        case Remove: technology->RemovePluginDirectories(c.argument); break;
        case RemoveAll: technology->RemoveAllPluginDirectories(); break;
        case Reset: technology->ResetDirectoriesToDefault(); break;
        }
        EXPECT_EQ(Directories(*technology), c.after) << c.name;
        EXPECT_EQ(changes, c.changes) << c.name;
    }
}

TEST(PluginTechnology, CollectsCandidateFilesOnceThroughLinks)
{
    TempDir root;
    for (const char* file : {"a.so", "b.SO", "c.txt", "sub1/d.so", "sub1/deeper/e.so", "sub2/f.so", "sub2/f.so.txt",
                             "Y.vst3", "X.vst3/Contents/x86_64-linux/X.so", "bad\xff.so"}) {
        root.Write(file);
    }
    fs::create_directory_symlink(root.Path() / "sub1", root.Path() / "link-to-sub1");
    fs::create_directory_symlink(root.Path(), root.Path() / "sub2" / "loop");
    fs::create_symlink(root.Path() / "missing.so", root.Path() / "dangling.so");

    TraceCapture trace;
    const kelcore::filesupport::Dir dir(root.Path());
    EXPECT_EQ(Paths(PluginTechnology::CollectModuleFiles(dir, VST, u".so", false), root),
              (Dirs{u"a.so", u"b.SO", u"sub2/f.so", u"sub1/d.so", u"sub1/deeper/e.so", u"X.vst3/Contents/x86_64-linux/X.so"}));
    EXPECT_TRUE(trace.Contains("not UTF-8"));
    EXPECT_EQ(Paths(PluginTechnology::CollectModuleFiles(dir, VST3, u".vst3", true), root), (Dirs{u"X.vst3", u"Y.vst3"}));
    const auto skipA = [](const PluginLocator& l) { return l.GetPath().ends_with(u"/a.so"); };
    EXPECT_EQ(PluginTechnology::CollectModuleFiles(dir, VST, u".so", false, skipA).front().GetPath(),
              root.Text("b.SO"));
    EXPECT_TRUE(PluginTechnology::CollectModuleFiles(kelcore::filesupport::Dir(root.Path() / "gone"), VST, u".so", false)
                    .empty());
    EXPECT_TRUE(trace.Contains("gone"));

    if (::geteuid() != 0) { // root reads every directory
        fs::permissions(root.Path() / "sub1", fs::perms::none);
        EXPECT_EQ(Paths(PluginTechnology::CollectModuleFiles(dir, VST, u".so", false), root).size(), 4u);
    }
}

TEST(PluginTechnology, CollectPluginsVisitsEveryListedDirectory)
{
    TempDir root;
    root.Write("a.so");
    root.Write("sub/b.so");
    std::vector<kelcore::filesupport::Dir> visited;
    boost::intrusive_ptr<PluginTechnology> technology(new TestTechnology(VST, u".so", nullptr));
    EXPECT_TRUE(technology->CollectPlugins().empty());
    technology->AddPluginDirectories({root.Text(), root.Text("sub"), root.Text()});
    EXPECT_EQ(Paths(technology->CollectPlugins(), root), (Dirs{u"a.so", u"sub/b.so", u"sub/b.so", u"a.so", u"sub/b.so"}));

    boost::intrusive_ptr<PluginTechnology> finder(new PluginTechnology(
        VST3,
        [&visited](const kelcore::filesupport::Dir& d) {
            visited.push_back(d);
            return std::vector<PluginLocator>{PluginLocator(VST3, u"/found.vst3")};
        },
        {}, {}, {}, false));
    finder->AddPluginDirectories({u"/ignored"});
    EXPECT_EQ(finder->CollectPlugins().size(), 1u);
    ASSERT_EQ(visited.size(), 1u);
    EXPECT_TRUE(visited[0].GetPath().empty());

    TraceCapture trace;
    EXPECT_EQ(finder->CreateScanContext(), nullptr);
    EXPECT_TRUE(trace.Contains("no scan context"));
}
