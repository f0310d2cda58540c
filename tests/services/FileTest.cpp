// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/services/File.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>

#include <sys/stat.h>
#include <unistd.h>

using namespace kelcore;
using namespace kelcore::filesupport;
namespace fs = std::filesystem;

namespace {

class TempTree {
public:
    TempTree()
    {
        std::string pattern = (fs::temp_directory_path() / "kafh-file-XXXXXX").string();
        mRoot = ::mkdtemp(pattern.data());
        // Open to everyone so that the tree can also be walked as an unprivileged user.
        fs::permissions(mRoot, fs::perms::all);
    }
    ~TempTree()
    {
        std::error_code error;
        for (const fs::path& locked : mLocked) {
            fs::permissions(locked, fs::perms::owner_all, error);
        }
        fs::remove_all(mRoot, error);
    }
    fs::path Dir(const std::string& relative)
    {
        fs::create_directories(mRoot / relative);
        return mRoot / relative;
    }
    fs::path File(const std::string& relative)
    {
        fs::create_directories((mRoot / relative).parent_path());
        std::ofstream(mRoot / relative) << relative;
        return mRoot / relative;
    }
    void Link(const std::string& relative, const fs::path& to) { fs::create_symlink(to, mRoot / relative); }
    void Lock(const fs::path& path)
    {
        fs::permissions(path, fs::perms::none);
        mLocked.push_back(path);
    }
    const fs::path& Root() const { return mRoot; }
    // Paths relative to the root, for readable expectations.
    template <typename T> std::vector<std::string> Relative(const std::vector<T>& items) const
    {
        std::vector<std::string> names;
        for (const T& item : items) {
            names.push_back(item.GetPath().lexically_relative(mRoot).string());
        }
        return names;
    }

private:
    fs::path mRoot;
    std::vector<fs::path> mLocked;
};

// Permission checks do not apply to root: walk as "nobody" for the duration of a scope.
class UnprivilegedScope {
public:
    UnprivilegedScope()
    {
        if (::geteuid() == 0) {
            mDropped = ::setegid(65534) == 0 && ::seteuid(65534) == 0;
        }
    }
    ~UnprivilegedScope()
    {
        if (mDropped) {
            [[maybe_unused]] const int restoredUser = ::seteuid(0);
            [[maybe_unused]] const int restoredGroup = ::setegid(0);
        }
    }
    bool Active() const { return ::geteuid() != 0; }

private:
    bool mDropped = false;
};

int Sign(int value)
{
    return (value > 0) - (value < 0);
}

} // namespace

TEST(CompareFileNames, EqualWhenBothNameTheSamePathLexically)
{
    const std::string cwd = fs::current_path().string();
    const std::pair<UTF16String, UTF16String> same[] = {
        {u"/a/b", u"/a/b"},
        {u"/a/./b", u"/a/b"},
        {u"/a/c/../b", u"/a/b"},
        {u"/a/b/", u"/a/b"},
        {u"//a///b", u"/a/b"},
        {u"/..", u"/"},
        {u"rel/x.so", UTF8to16(cwd) + u"/rel/x.so"},
        {u"./rel/../x", UTF8to16(cwd) + u"/x"},
        {u"/no/such/\U0001F3B5.vst3", u"/no/such/./\U0001F3B5.vst3"},
    };
    for (const auto& [a, b] : same) {
        EXPECT_EQ(CompareFileNames(a, b), 0) << UTF16to8(a) << " vs " << UTF16to8(b);
        EXPECT_EQ(CompareFileNames(b, a), 0) << UTF16to8(b) << " vs " << UTF16to8(a);
    }
}

TEST(CompareFileNames, OrdersByUtf16CodeUnitsConsistently)
{
    // Each pair is in ascending order.
    const std::pair<UTF16String, UTF16String> ordered[] = {
        {u"/a/B", u"/a/b"},                   // case matters
        {u"/a/b", u"/a/b/c"},                 // a prefix first
        {u"/a/b-c", u"/a/b/c"},               // '-' sorts before '/'
        {u"/b", u"/a/../z"},                  // compared after normalising
        {u"/x/\U0001F3B5", u"/x/\uFFFD"},     // surrogates sort below U+E000..U+FFFF in UTF-16
        {u"", u"/"},
    };
    for (const auto& [a, b] : ordered) {
        EXPECT_LT(CompareFileNames(a, b), 0) << UTF16to8(a) << " < " << UTF16to8(b);
        EXPECT_GT(CompareFileNames(b, a), 0) << UTF16to8(b) << " > " << UTF16to8(a);
    }
    const UTF16String names[] = {u"/a", u"/a/", u"/A", u"/a/b", u"/a/./b/..", u"rel", u"/b"};
    for (const UTF16String& a : names) {
        for (const UTF16String& b : names) {
            EXPECT_EQ(Sign(CompareFileNames(a, b)), -Sign(CompareFileNames(b, a)));
        }
    }
}

TEST(File, NamePartsAndFullPath)
{
    struct Case {
        const char16_t* path;
        const char16_t* name;
        const char16_t* title;
        const char16_t* extension;
    };
    const Case cases[] = {
        {u"/usr/lib/vst/Gain.so", u"Gain.so", u"Gain", u".so"},
        {u"/x/archive.tar.gz", u"archive.tar.gz", u"archive.tar", u".gz"},
        {u"/x/noext", u"noext", u"noext", u""},
        {u"/x/.hidden", u".hidden", u".hidden", u""},
        {u"/x/Bundle.vst3/", u"Bundle.vst3", u"Bundle", u".vst3"},
        {u"/x/\u00DCber Gain.so", u"\u00DCber Gain.so", u"\u00DCber Gain", u".so"},
    };
    for (const Case& c : cases) {
        File file{UTF16String(c.path)};
        EXPECT_EQ(file.GetName(), c.name);
        EXPECT_EQ(file.GetTitle(), c.title);
        EXPECT_EQ(file.GetExtension(), c.extension);
    }
    EXPECT_EQ(File(UTF16String(u"/x/y/../Gain.so")).FullPath(), u"/x/Gain.so");
    EXPECT_EQ(File(UTF16String(u"/x/y/../Gain.so")).Parent().FullPath(), u"/x");
    EXPECT_EQ(File(UTF16String(u"Gain.so")).FullPath(), FromPath(fs::current_path() / "Gain.so"));
    EXPECT_EQ(File(Dir(UTF16String(u"/a")), u"b/c.so").FullPath(), u"/a/b/c.so");
    EXPECT_EQ(Dir(Dir(UTF16String(u"/a/")), u"b/").FullPath(), u"/a/b");
}

TEST(File, ExistsOnlyForThingsThatAreNotDirectories)
{
    TempTree tree;
    const fs::path file = tree.File("f.so");
    const fs::path dir = tree.Dir("d.vst3");
    tree.Link("dangling", tree.Root() / "nowhere");
    EXPECT_TRUE(File(file).Exists());
    EXPECT_FALSE(File(dir).Exists());
    EXPECT_TRUE(Dir(dir).Exists());
    EXPECT_FALSE(Dir(file).Exists());
    EXPECT_FALSE(File(tree.Root() / "dangling").Exists());
    EXPECT_FALSE(File().Exists());
    EXPECT_FALSE(Dir().Exists());
    EXPECT_TRUE(Dir(tree.Root() / "new" / "deeper").Create());
    EXPECT_TRUE(fs::is_directory(tree.Root() / "new" / "deeper"));
    EXPECT_FALSE(Dir(file / "below").Create());
}

TEST(Dir, WalksSortedDepthFirstAndEntersLinkLoopsOnce)
{
    TempTree tree;
    tree.File("b.txt");
    tree.File("a.so");
    tree.File("sub/c.so");
    tree.File("sub/deep/d.so");
    tree.File("sub-x/e.so");
    tree.File("Z.so");
    tree.Link("sub/up", tree.Root());               // a loop back to the root
    tree.Link("alias", tree.Root() / "sub" / "deep"); // a second way to reach a directory
    tree.Link("dangling.so", tree.Root() / "nowhere");
    const Dir root(tree.Root());

    EXPECT_EQ(tree.Relative(root.GetFiles(false)), (std::vector<std::string>{"Z.so", "a.so", "b.txt"}));
    EXPECT_EQ(tree.Relative(root.GetFiles(true)),
              (std::vector<std::string>{"Z.so", "a.so", "alias/d.so", "b.txt", "sub/c.so", "sub-x/e.so"}));
    EXPECT_EQ(tree.Relative(root.GetSubDirs(false)), (std::vector<std::string>{"alias", "sub", "sub-x"}));
    // "sub/deep" was already reached through "alias", "sub/up" is the root itself: both listed, neither entered.
    EXPECT_EQ(tree.Relative(root.GetSubDirs(true)),
              (std::vector<std::string>{"alias", "sub", "sub/deep", "sub/up", "sub-x"}));

    std::vector<std::string> soFiles;
    for (const File& file : root.GetFiles(true)) {
        if (file.GetExtension() == u".so") {
            soFiles.push_back(UTF16to8(file.GetName()));
        }
    }
    EXPECT_EQ(soFiles, (std::vector<std::string>{"Z.so", "a.so", "d.so", "c.so", "e.so"}));
    EXPECT_TRUE(Dir(tree.Root() / "missing").GetFiles(true).empty());
    EXPECT_TRUE(Dir(tree.Root() / "a.so").GetSubDirs(true).empty());
}

TEST(Dir, WalkVisitorCanSkipAndStop)
{
    TempTree tree;
    tree.File("a/1");
    tree.File("b/2");
    tree.File("c/3");
    std::vector<std::string> visited;
    Dir(tree.Root()).Walk(true, [&](const fs::path& path, bool isDirectory) {
        const std::string name = path.lexically_relative(tree.Root()).string();
        visited.push_back(name + (isDirectory ? "/" : ""));
        if (name == "a") {
            return WalkAction::SkipChildren;
        }
        return name == "b/2" ? WalkAction::Stop : WalkAction::Continue;
    });
    EXPECT_EQ(visited, (std::vector<std::string>{"a/", "b/", "b/2"}));
}

TEST(Dir, UnreadableDirectoriesAndForeignNamesAreSkipped)
{
    TempTree tree;
    tree.File("a/1.so");
    tree.File("locked/hidden.so");
    tree.File("z/2.so");
    tree.File("bad\xFFname.so");
    tree.File("bad\xC3/inside.so");
    tree.Lock(tree.Root() / "locked");
    UnprivilegedScope unprivileged;
    if (!unprivileged.Active()) {
        GTEST_SKIP() << "cannot drop privileges, so every directory is readable";
    }
    const Dir root(tree.Root());
    EXPECT_EQ(tree.Relative(root.GetFiles(true)), (std::vector<std::string>{"a/1.so", "z/2.so"}));
    EXPECT_EQ(tree.Relative(root.GetSubDirs(true)), (std::vector<std::string>{"a", "locked", "z"}));
    EXPECT_TRUE(Dir(tree.Root() / "locked").GetFiles(false).empty());
}

TEST(Dir, AppDirHoldsTheRunningProgram)
{
    const Dir app = Dir::AppDir();
    ASSERT_TRUE(app.Exists());
    EXPECT_TRUE(File(app, UTF8to16(program_invocation_short_name)).Exists());
    EXPECT_EQ(Dir::CommonFilesDir().FullPath(), u"/usr/lib");
}

TEST(File, AtomicWriteReplacesContentsAndKeepsPermissions)
{
    TempTree tree;
    const fs::path target = tree.File("settings.xml");
    fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write);
    ASSERT_TRUE(WriteFileAtomically(target, "new contents"));
    std::ifstream in(target);
    std::string text;
    std::getline(in, text);
    EXPECT_EQ(text, "new contents");
    EXPECT_EQ(fs::status(target).permissions() & fs::perms::mask, fs::perms::owner_read | fs::perms::owner_write);
    ASSERT_TRUE(WriteFileAtomically(tree.Root() / "empty", ""));
    EXPECT_EQ(fs::file_size(tree.Root() / "empty"), 0u);
    EXPECT_EQ(std::distance(fs::directory_iterator(tree.Root()), fs::directory_iterator()), 2);
    EXPECT_FALSE(WriteFileAtomically(tree.Root() / "", "x"));
}
