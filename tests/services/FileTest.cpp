// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/services/File.h"

#include "TempTree.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <tuple>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace kelcore;
using namespace kelcore::filesupport;
using namespace kafhtest;

TEST(CompareFileNames, EqualWhenLexicallyTheSamePathElseOrderedByUtf16CodeUnits)
{
    const UTF16String cwd = UTF8to16(fs::current_path().string());
    const std::pair<UTF16String, UTF16String> same[] = {
        {u"/a/./b", u"/a/b"}, {u"/a/c/../b", u"/a/b"}, {u"/a/b/", u"/a/b"},  {u"//a///b", u"/a/b"},
        {u"/..", u"/"},       {u"rel/x.so", cwd + u"/rel/x.so"},            {u"./rel/../x", cwd + u"/x"},
    };
    for (const auto& [a, b] : same) {
        EXPECT_EQ(CompareFileNames(a, b), 0) << UTF16to8(a) << " vs " << UTF16to8(b);
        EXPECT_EQ(CompareFileNames(b, a), 0) << UTF16to8(b) << " vs " << UTF16to8(a);
    }
    // Each pair is in ascending order: case matters, a prefix comes first, '-' sorts before '/', names are
    // compared after normalising, and surrogates sort below U+E000..U+FFFF in UTF-16.
    const std::pair<UTF16String, UTF16String> ordered[] = {
        {u"/a/B", u"/a/b"}, {u"/a/b", u"/a/b/c"},           {u"/a/b-c", u"/a/b/c"},
        {u"/b", u"/a/../z"}, {u"/x/\U0001F3B5", u"/x/\uFFFD"}, {u"", u"/"},
    };
    for (const auto& [a, b] : ordered) {
        EXPECT_LT(CompareFileNames(a, b), 0) << UTF16to8(a) << " < " << UTF16to8(b);
        EXPECT_GT(CompareFileNames(b, a), 0) << UTF16to8(b) << " > " << UTF16to8(a);
    }
}

TEST(File, NamePartsAndFullPath)
{
    // Path, name, title, extension.
    const std::tuple<UTF16String, UTF16String, UTF16String, UTF16String> cases[] = {
        {u"/usr/lib/vst/Gain.so", u"Gain.so", u"Gain", u".so"},
        {u"/x/archive.tar.gz", u"archive.tar.gz", u"archive.tar", u".gz"},
        {u"/x/noext", u"noext", u"noext", u""},
        {u"/x/.hidden", u".hidden", u".hidden", u""},
        {u"/x/Bundle.vst3/", u"Bundle.vst3", u"Bundle", u".vst3"},
    };
    for (const auto& [path, name, title, extension] : cases) {
        const File file{path};
        EXPECT_EQ(file.GetName() + u"|" + file.GetTitle() + u"|" + file.GetExtension(),
                  name + u"|" + title + u"|" + extension);
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
    tree.Link("dangling", tree.Root() / "nowhere");
    const Dir dir(tree.Root() / "new" / "d.vst3");
    EXPECT_TRUE(dir.Create());
    EXPECT_TRUE(dir.Exists());
    EXPECT_FALSE(File(dir.GetPath()).Exists());
    EXPECT_TRUE(File(file).Exists());
    EXPECT_FALSE(Dir(file).Exists());
    EXPECT_FALSE(File(tree.Root() / "dangling").Exists());
    EXPECT_FALSE(File().Exists());
    EXPECT_FALSE(Dir().Exists());
    EXPECT_FALSE(Dir(file / "below").Create());
    // The program's own directory, and where shared plug-ins live.
    EXPECT_TRUE(File(Dir::AppDir(), UTF8to16(program_invocation_short_name)).Exists());
    EXPECT_EQ(Dir::CommonFilesDir().FullPath(), u"/usr/lib");
}

TEST(Dir, WalksSortedDepthFirstAndEntersLinkLoopsOnce)
{
    TempTree tree;
    for (const char* file : {"b.txt", "a.so", "sub/c.so", "sub/deep/d.so", "sub-x/e.so", "Z.so"}) {
        tree.File(file);
    }
    tree.Link("sub/up", tree.Root());                 // a loop back to the root
    tree.Link("alias", tree.Root() / "sub" / "deep"); // a second way to reach a directory
    tree.Link("dangling.so", tree.Root() / "nowhere");
    const Dir root(tree.Root());

    using Names = std::vector<std::string>;
    EXPECT_EQ(tree.Relative(root.GetFiles(false)), (Names{"Z.so", "a.so", "b.txt"}));
    EXPECT_EQ(tree.Relative(root.GetFiles(true)),
              (Names{"Z.so", "a.so", "alias/d.so", "b.txt", "sub/c.so", "sub-x/e.so"}));
    EXPECT_EQ(tree.Relative(root.GetSubDirs(false)), (Names{"alias", "sub", "sub-x"}));
    // "sub/deep" was already reached through "alias", "sub/up" is the root itself: both listed, neither entered.
    EXPECT_EQ(tree.Relative(root.GetSubDirs(true)), (Names{"alias", "sub", "sub/deep", "sub/up", "sub-x"}));
    EXPECT_TRUE(Dir(tree.Root() / "missing").GetFiles(true).empty());
    EXPECT_TRUE(Dir(tree.Root() / "a.so").GetSubDirs(true).empty());
}

TEST(Dir, WalkVisitorCanSkipAndStop)
{
    TempTree tree;
    for (const char* file : {"a/1", "b/2", "c/3"}) {
        tree.File(file);
    }
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
    for (const char* file : {"a/1.so", "locked/hidden.so", "z/2.so", "bad\xFFname.so", "bad\xC3/inside.so"}) {
        tree.File(file);
    }
    const fs::path locked = tree.Root() / "locked";
    fs::permissions(locked, fs::perms::none);
    // Permission checks do not apply to root: walk as "nobody".
    const bool dropped = ::geteuid() == 0 && ::setegid(65534) == 0 && ::seteuid(65534) == 0;
    if (::geteuid() != 0) {
        const Dir root(tree.Root());
        EXPECT_EQ(tree.Relative(root.GetFiles(true)), (std::vector<std::string>{"a/1.so", "z/2.so"}));
        EXPECT_EQ(tree.Relative(root.GetSubDirs(true)), (std::vector<std::string>{"a", "locked", "z"}));
        EXPECT_TRUE(Dir(locked).GetFiles(false).empty());
    }
    ASSERT_TRUE(!dropped || (::seteuid(0) == 0 && ::setegid(0) == 0));
    fs::permissions(locked, fs::perms::owner_all);
    if (!dropped && ::geteuid() == 0) {
        GTEST_SKIP() << "cannot drop privileges, so every directory is readable";
    }
}

TEST(File, AtomicWriteReplacesContentsAndKeepsPermissions)
{
    TempTree tree;
    const fs::path target = tree.File("settings.xml");
    fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write);
    ASSERT_TRUE(WriteFileAtomically(target, "new contents"));
    EXPECT_EQ(ReadWholeFile(target), "new contents");
    EXPECT_EQ(fs::status(target).permissions() & fs::perms::mask, fs::perms::owner_read | fs::perms::owner_write);
    ASSERT_TRUE(WriteFileAtomically(tree.Root() / "empty", ""));
    EXPECT_EQ(ReadWholeFile(tree.Root() / "empty"), "");
    EXPECT_EQ(tree.EntryCount(), 2);
    EXPECT_FALSE(WriteFileAtomically(tree.Root() / "", "x"));
}

TEST(File, AtomicWriteThroughALinkReplacesTheLinksTarget)
{
    TempTree tree;
    const fs::path real = tree.File("real/settings.xml");
    tree.Link("hop", "real/settings.xml");     // relative to the link's folder
    tree.Link("settings.xml", tree.Root() / "hop"); // a chain of two links
    ASSERT_TRUE(WriteFileAtomically(tree.Root() / "settings.xml", "through the link"));
    EXPECT_TRUE(fs::is_symlink(tree.Root() / "settings.xml"));
    EXPECT_TRUE(fs::is_symlink(tree.Root() / "hop"));
    EXPECT_EQ(ReadWholeFile(real), "through the link");
    EXPECT_EQ(std::distance(fs::directory_iterator(real.parent_path()), fs::directory_iterator()), 1);

    // A dangling link gets its target created; a link loop and a target that is not a regular file
    // are refused and left as they were.
    tree.Link("dangling", "real/new.xml");
    ASSERT_TRUE(WriteFileAtomically(tree.Root() / "dangling", "created"));
    EXPECT_EQ(ReadWholeFile(real.parent_path() / "new.xml"), "created");
    tree.Link("loop", tree.Root() / "loop");
    EXPECT_FALSE(WriteFileAtomically(tree.Root() / "loop", "x"));
    EXPECT_TRUE(fs::is_symlink(tree.Root() / "loop"));
    ASSERT_EQ(::mkfifo((tree.Root() / "fifo").c_str(), 0600), 0);
    EXPECT_FALSE(WriteFileAtomically(tree.Root() / "fifo", "x"));
    EXPECT_TRUE(fs::is_fifo(tree.Root() / "fifo"));
}

TEST(File, AtomicSaveInTwoHalvesShowsNothingUntilCommittedAndCleansUpAfterFailure)
{
    TempTree tree;
    const fs::path real = tree.File("real/out.wav");
    tree.Link("out.wav", "real/out.wav");
    fs::path target;
    fs::path temporary;
    int fd = BeginAtomicSave(tree.Root() / "out.wav", target, temporary);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(target, real);
    EXPECT_EQ(temporary.parent_path(), real.parent_path());
    ASSERT_EQ(::write(fd, "new", 3), 3);
    EXPECT_EQ(ReadWholeFile(real), "real/out.wav");
    ASSERT_TRUE(CommitTemporaryFile(fd, temporary, target));
    EXPECT_EQ(ReadWholeFile(real), "new");
    EXPECT_TRUE(fs::is_symlink(tree.Root() / "out.wav"));

    errno = 0;
    EXPECT_EQ(BeginAtomicSave(tree.Root() / "real", target, temporary), -1);
    EXPECT_EQ(errno, EISDIR);

    // A directory put in the target's place while writing: the rename fails, nothing is left.
    fd = BeginAtomicSave(tree.Root() / "late", target, temporary);
    ASSERT_GE(fd, 0);
    fs::create_directory(target);
    EXPECT_FALSE(CommitTemporaryFile(fd, temporary, target));
    EXPECT_FALSE(fs::exists(temporary));
    EXPECT_TRUE(fs::is_directory(target));
}

TEST(File, ReadingRefusesWhatIsNotARegularFileWithoutBlocking)
{
    TempTree tree;
    const fs::path file = tree.File("settings.xml");
    tree.Link("link.xml", file);
    std::string contents = "stale";
    ASSERT_TRUE(ReadRegularFile(tree.Root() / "link.xml", contents));
    EXPECT_EQ(contents, "settings.xml");

    const fs::path fifo = tree.Root() / "fifo.xml";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    for (const fs::path& path : {fifo, tree.Root(), tree.Root() / "missing"}) {
        EXPECT_FALSE(ReadRegularFile(path, contents)) << path;
    }
}

TEST(File, AtomicWriteRemovesTemporaryFilesOfDeadProcessesOnly)
{
    TempTree tree;
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::_exit(0);
    }
    ASSERT_EQ(::waitpid(child, nullptr, 0), child);
    const std::string dead = std::to_string(child), alive = std::to_string(::getpid());
    const std::string stale[] = {".settings.xml." + dead + ".0.tmp", ".settings.xml." + dead + ".12.tmp"};
    const std::string kept[] = {
        ".settings.xml." + alive + ".3.tmp", // this process may be saving on another thread
        ".settings.xml.1.0.tmp",             // a running process
        ".other.xml." + dead + ".0.tmp",      // another file's
        ".settings.xml." + dead + ".x.tmp",   // not a name saves make
        "settings.xml." + dead + ".0.tmp",
    };
    for (const auto& names : {std::vector<std::string>(std::begin(stale), std::end(stale)),
                              std::vector<std::string>(std::begin(kept), std::end(kept))}) {
        for (const std::string& name : names) {
            tree.File(name);
        }
    }
    ASSERT_TRUE(WriteFileAtomically(tree.Root() / "settings.xml", "saved"));
    for (const std::string& name : stale) {
        EXPECT_FALSE(fs::exists(tree.Root() / name)) << name;
    }
    for (const std::string& name : kept) {
        EXPECT_TRUE(fs::exists(tree.Root() / name)) << name;
    }
    // Asked through a link, the helper looks beside the file the link leads to.
    tree.File("real/" + stale[0]);
    tree.File("real/settings.xml");
    tree.Link("link.xml", tree.Root() / "real/settings.xml");
    EXPECT_EQ(RemoveStaleTemporaryFiles(tree.Root() / "link.xml"), 1u);
    EXPECT_FALSE(fs::exists(tree.Root() / "real" / stale[0]));
}
