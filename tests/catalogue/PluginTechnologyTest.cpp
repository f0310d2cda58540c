// SPDX-License-Identifier: GPL-3.0-or-later
#include "CatalogueTestSupport.h"

#include <gtest/gtest.h>

#include <unistd.h>

using namespace kelaudiofilterhost;
using namespace kelaudiofilterhost::testing;
using Dirs = std::vector<UTF16String>;

TEST(PluginTechnology, DirectoryChangesSignalOnlyWhenTheListChanges)
{
    std::vector<std::pair<Dirs, Dirs>> changes; // added, removed
    boost::intrusive_ptr<PluginTechnology> technology(
        new PluginTechnology(VST, {}, {}, [] { return Dirs{u"/d"}; }, {}, true));
    technology->GetDirectoriesChangedSignal().connect(
        [&changes](auto, const Dirs& added, const Dirs& removed) { changes.emplace_back(added, removed); });
    technology->RemoveAllPluginDirectories();                 // nothing to remove: no signal
    technology->AddPluginDirectories({u"/A", u"/A/", u"/A"}); // compared exactly; both "/A" are new
    technology->AddPluginDirectories({u"/A"});                // nothing new: no signal
    technology->RemovePluginDirectories({u"/A", u"/C"});      // the first "/A" only
    EXPECT_EQ(Dirs(technology->DirectoryBegin(), technology->DirectoryEnd()), (Dirs{u"/A/", u"/A"}));
    technology->ResetDirectoriesToDefault();
    EXPECT_EQ(Dirs(technology->DirectoryBegin(), technology->DirectoryEnd()), Dirs{u"/d"});
    EXPECT_EQ(changes, (std::vector<std::pair<Dirs, Dirs>>{{{u"/A", u"/A/", u"/A"}, {}}, {{}, {u"/A", u"/C"}},
                                                          {{}, {u"/A/", u"/A"}}, {{u"/d"}, {}}}));
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
    const kelcore::filesupport::Dir dir(root.Path());
    const auto collect = [&](TechnologyType type, const std::u16string& suffix, bool bundles) {
        Dirs found;
        for (const PluginLocator& l : PluginTechnology::CollectModuleFiles(dir, type, suffix, bundles)) {
            found.push_back(l.GetPath().substr(root.Text().size() + 1));
        }
        return found;
    };

    TraceCapture trace;
    EXPECT_EQ(collect(VST, u".so", false),
              (Dirs{u"a.so", u"b.SO", u"sub2/f.so", u"sub1/d.so", u"sub1/deeper/e.so", u"X.vst3/Contents/x86_64-linux/X.so"}));
    EXPECT_TRUE(trace.Contains("not UTF-8"));
    EXPECT_EQ(collect(VST3, u".vst3", true), (Dirs{u"X.vst3", u"Y.vst3"}));
    const kelcore::filesupport::Dir gone(root.Path() / "gone");
    EXPECT_TRUE(PluginTechnology::CollectModuleFiles(gone, VST, u".so", false).empty());
    EXPECT_TRUE(trace.Contains("gone"));

    if (::geteuid() != 0) { // root reads every directory
        fs::permissions(root.Path() / "sub1", fs::perms::none);
        EXPECT_EQ(collect(VST, u".so", false).size(), 4u);
        fs::permissions(root.Path() / "sub1", fs::perms::owner_all);
    }
}
