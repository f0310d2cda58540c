// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/services/File.h"

#include "kelaudiofilterhost/services/Trace.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <limits>
#include <set>
#include <string>
#include <system_error>
#include <utility>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kelcore::filesupport {

namespace fs = std::filesystem;

namespace {

// "a/b/" and "a/b" name the same thing; the trailing separator is dropped (but "/" stays).
fs::path WithoutTrailingSeparator(fs::path path)
{
    if (!path.has_filename() && path.has_relative_path()) {
        return path.parent_path();
    }
    return path;
}

// Absolute and lexically normal, without looking at the file system beyond the current directory.
fs::path Normalised(const fs::path& path)
{
    if (path.empty()) {
        return path;
    }
    fs::path absolute = path;
    if (!path.is_absolute()) {
        std::error_code error;
        absolute = fs::absolute(path, error);
        if (error) {
            absolute = path;
        }
    }
    return WithoutTrailingSeparator(absolute.lexically_normal());
}

using DirectoryId = std::pair<dev_t, ino_t>;

bool GetDirectoryId(const fs::path& path, DirectoryId& id)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        return false;
    }
    id = {info.st_dev, info.st_ino};
    return true;
}

using Visitor = std::function<WalkAction(const fs::path&, bool)>;

// Depth first, each directory's entries in name order. Directories are identified by device and
// inode, so a link back up the tree is reported but not entered a second time.
class Walker {
public:
    Walker(bool recursive, const Visitor& visitor) : mRecursive(recursive), mVisitor(visitor) {}

    void Run(const fs::path& root)
    {
        DirectoryId id;
        if (!GetDirectoryId(root, id)) {
            return;
        }
        mVisited.insert(id);
        WalkDirectory(root);
    }

private:
    struct Item {
        fs::path path;
        bool isDirectory;
    };

    void WalkDirectory(const fs::path& directory)
    {
        std::vector<Item> items = ListDirectory(directory);
        for (const Item& item : items) {
            const WalkAction action = mVisitor(item.path, item.isDirectory);
            if (action == WalkAction::Stop) {
                mStopped = true;
                return;
            }
            if (!item.isDirectory || !mRecursive || action == WalkAction::SkipChildren) {
                continue;
            }
            DirectoryId id;
            if (GetDirectoryId(item.path, id) && mVisited.insert(id).second) {
                WalkDirectory(item.path);
                if (mStopped) {
                    return;
                }
            }
        }
    }

    static std::vector<Item> ListDirectory(const fs::path& directory)
    {
        std::vector<Item> items;
        std::error_code error;
        fs::directory_iterator it(directory, error);
        if (error) {
            KAFH_TRACE("Dir::Walk", 5, "\"" << directory.native() << "\": not readable: " << error.message());
            return items;
        }
        for (; it != fs::directory_iterator(); it.increment(error)) {
            const fs::path& path = it->path();
            if (!IsValidUtf8(path.filename().native())) {
                KAFH_TRACE("Dir::Walk", 5, "\"" << path.native() << "\": name is not UTF-8, skipped");
                continue;
            }
            std::error_code statusError;
            const fs::file_status status = it->status(statusError);
            if (statusError || !fs::exists(status)) {
                continue;
            }
            items.push_back(Item{path, fs::is_directory(status)});
        }
        if (error) {
            KAFH_TRACE("Dir::Walk", 5, "\"" << directory.native() << "\": listing stopped: " << error.message());
        }
        // Siblings share their parent, so path order is name order (bytes, unsigned).
        std::sort(items.begin(), items.end(), [](const Item& a, const Item& b) { return a.path < b.path; });
        return items;
    }

    bool mRecursive;
    const Visitor& mVisitor;
    std::set<DirectoryId> mVisited;
    bool mStopped = false;
};

constexpr std::size_t kWriteBufferSize = 1 << 16;

bool WriteAll(int fd, std::string_view contents)
{
    while (!contents.empty()) {
        const ssize_t written = ::write(fd, contents.data(), contents.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        contents.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

// The part of a temporary file's name taken from its target; very long names would not leave
// room for the rest.
std::string TemporaryStem(const fs::path& target)
{
    const std::string name = target.filename().native();
    return name.size() <= 200 ? name : std::string("kafh");
}

// The id of the process that made a temporary file of this stem (".STEM.PID.N.tmp"); 0 when the name
// is not one of them.
pid_t TemporaryFileOwner(std::string_view name, std::string_view stem)
{
    constexpr std::string_view suffix = ".tmp";
    if (name.size() < stem.size() + 2 + suffix.size() || name[0] != '.' || name.substr(1, stem.size()) != stem ||
        name[stem.size() + 1] != '.' || !name.ends_with(suffix)) {
        return 0;
    }
    const std::string_view middle = name.substr(stem.size() + 2, name.size() - stem.size() - 2 - suffix.size());
    const auto dot = middle.find('.');
    if (dot == std::string_view::npos) {
        return 0;
    }
    const auto allDigits = [](std::string_view digits) {
        return !digits.empty() && digits.size() <= 18 &&
               std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
    };
    const std::string_view pid = middle.substr(0, dot);
    if (!allDigits(pid) || !allDigits(middle.substr(dot + 1))) {
        return 0;
    }
    long long value = 0;
    for (char c : pid) {
        value = value * 10 + (c - '0');
    }
    return value > 0 && value <= std::numeric_limits<pid_t>::max() ? static_cast<pid_t>(value) : 0;
}

constexpr int kMaxLinkHops = 40;

// The file a save replaces: links are followed to the last one's target (which need not exist
// yet), so that the link stays a link. False for a loop or an unreadable link.
bool ResolveSaveTarget(const fs::path& target, fs::path& resolved)
{
    resolved = target;
    for (int hops = 0; hops <= kMaxLinkHops; ++hops) {
        struct stat info {};
        if (::lstat(resolved.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) {
            return true;
        }
        std::error_code error;
        const fs::path next = fs::read_symlink(resolved, error);
        if (error) {
            return false;
        }
        resolved = next.is_absolute() ? next : resolved.parent_path() / next;
    }
    return false;
}

void SyncDirectory(const fs::path& directory)
{
    const int fd = ::open(directory.empty() ? "." : directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace

fs::path ToPath(const UTF16String& path)
{
    return fs::path(UTF16to8(path));
}

UTF16String FromPath(const fs::path& path)
{
    return UTF8to16(path.native());
}

File::File(const UTF16String& path) : mPath(ToPath(path)) {}

File::File(fs::path path) : mPath(std::move(path)) {}

File::File(const Dir& parent, const UTF16String& name) : mPath(parent.GetPath() / ToPath(name)) {}

bool File::Exists() const
{
    std::error_code error;
    const fs::file_status status = fs::status(mPath, error);
    return !mPath.empty() && !error && fs::exists(status) && !fs::is_directory(status);
}

UTF16String File::FullPath() const
{
    return FromPath(Normalised(mPath));
}

UTF16String File::GetName() const
{
    return FromPath(WithoutTrailingSeparator(mPath).filename());
}

UTF16String File::GetTitle() const
{
    return FromPath(WithoutTrailingSeparator(mPath).stem());
}

UTF16String File::GetExtension() const
{
    return FromPath(WithoutTrailingSeparator(mPath).extension());
}

Dir File::Parent() const
{
    return mPath.empty() ? Dir() : Dir(Normalised(mPath).parent_path());
}

Dir::Dir(const UTF16String& path) : mPath(ToPath(path)) {}

Dir::Dir(fs::path path) : mPath(std::move(path)) {}

Dir::Dir(const Dir& parent, const UTF16String& relativePath) : mPath(parent.mPath / ToPath(relativePath)) {}

bool Dir::Exists() const
{
    std::error_code error;
    return !mPath.empty() && fs::is_directory(mPath, error);
}

UTF16String Dir::FullPath() const
{
    return FromPath(Normalised(mPath));
}

UTF16String Dir::GetName() const
{
    return FromPath(WithoutTrailingSeparator(mPath).filename());
}

Dir Dir::Parent() const
{
    return mPath.empty() ? Dir() : Dir(Normalised(mPath).parent_path());
}

bool Dir::Create() const
{
    if (mPath.empty()) {
        return false;
    }
    std::error_code error;
    fs::create_directories(mPath, error);
    return Exists();
}

std::vector<File> Dir::GetFiles(bool recursive) const
{
    std::vector<File> files;
    Walk(recursive, [&files](const fs::path& path, bool isDirectory) {
        if (!isDirectory) {
            files.emplace_back(path);
        }
        return WalkAction::Continue;
    });
    return files;
}

std::vector<Dir> Dir::GetSubDirs(bool recursive) const
{
    std::vector<Dir> dirs;
    Walk(recursive, [&dirs](const fs::path& path, bool isDirectory) {
        if (isDirectory) {
            dirs.emplace_back(path);
        }
        return WalkAction::Continue;
    });
    return dirs;
}

void Dir::Walk(bool recursive, const std::function<WalkAction(const fs::path&, bool)>& visitor) const
{
    if (mPath.empty() || !visitor) {
        return;
    }
    Walker(recursive, visitor).Run(mPath);
}

Dir Dir::AppDir()
{
    std::error_code error;
    const fs::path executable = fs::read_symlink("/proc/self/exe", error);
    if (error) {
        KAFH_TRACE("Dir::AppDir", 5, "/proc/self/exe: " << error.message());
        return Dir();
    }
    return Dir(executable.parent_path());
}

Dir Dir::CommonFilesDir()
{
    return Dir(fs::path("/usr/lib"));
}

int CompareFileNames(const UTF16String& a, const UTF16String& b)
{
    if (a == b) {
        return 0;
    }
    const int order = FromPath(Normalised(ToPath(a))).compare(FromPath(Normalised(ToPath(b))));
    return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

int CreateTemporaryFileBeside(const fs::path& target, fs::path& temporary)
{
    // Process id and a per-process counter keep names apart; O_EXCL settles any clash with a
    // leftover of an earlier process of the same id.
    static std::atomic<unsigned> counter{0};
    const std::string stem = TemporaryStem(target);
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::string temporaryName = ".";
        temporaryName += stem;
        temporaryName += '.';
        temporaryName += std::to_string(::getpid());
        temporaryName += '.';
        temporaryName += std::to_string(counter++);
        temporaryName += ".tmp";
        temporary = target.parent_path();
        temporary /= temporaryName;
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST) {
            return fd;
        }
    }
    return -1;
}

std::size_t RemoveStaleTemporaryFiles(const fs::path& requested)
{
    fs::path target;
    if (requested.empty() || !requested.has_filename() || !ResolveSaveTarget(requested, target)) {
        return 0;
    }
    const fs::path directory = target.parent_path().empty() ? fs::path(".") : target.parent_path();
    const std::string stem = TemporaryStem(target);
    const pid_t self = ::getpid();
    std::size_t removed = 0;
    std::error_code error;
    for (fs::directory_iterator it(directory, error); !error && it != fs::directory_iterator(); it.increment(error)) {
        const pid_t owner = TemporaryFileOwner(it->path().filename().native(), stem);
        // Only a process that no longer exists cannot finish its save; ESRCH says so (EPERM means
        // it runs under another user).
        if (owner == 0 || owner == self || ::kill(owner, 0) == 0 || errno != ESRCH) {
            continue;
        }
        struct stat info {};
        if (::lstat(it->path().c_str(), &info) == 0 && S_ISREG(info.st_mode) && ::unlink(it->path().c_str()) == 0) {
            KAFH_TRACE("RemoveStaleTemporaryFiles", 5, "\"" << it->path().native() << "\": left by process " << owner
                                                             << ", removed");
            ++removed;
        }
    }
    return removed;
}

bool ReadRegularFile(const fs::path& path, std::string& contents)
{
    // Looked at before opening, so that no device is opened; non-blocking, so that a FIFO put in
    // place between the two steps cannot make the open wait for a writer.
    struct stat info {};
    if (path.empty() || ::stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
        return false;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        return false;
    }
    bool ok = ::fstat(fd, &info) == 0 && S_ISREG(info.st_mode);
    std::string read;
    if (ok) {
        read.resize(static_cast<std::size_t>(info.st_size));
        std::size_t size = 0;
        while (true) {
            if (size == read.size()) {
                // The file may have grown since fstat.
                read.resize(size + kWriteBufferSize);
            }
            const ssize_t got = ::read(fd, read.data() + size, read.size() - size);
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got <= 0) {
                ok = got == 0;
                break;
            }
            size += static_cast<std::size_t>(got);
        }
        read.resize(size);
    }
    ::close(fd);
    if (ok) {
        contents.swap(read);
    }
    return ok;
}

int BeginAtomicSave(const fs::path& requested, fs::path& target, fs::path& temporary)
{
    if (requested.empty() || !requested.has_filename()) {
        errno = EINVAL;
        return -1;
    }
    if (!ResolveSaveTarget(requested, target)) {
        KAFH_TRACE("BeginAtomicSave", 5, "\"" << requested.native() << "\": symbolic links lead nowhere; not saved");
        errno = ELOOP;
        return -1;
    }
    struct stat existing {};
    const bool exists = ::stat(target.c_str(), &existing) == 0;
    if (exists && !S_ISREG(existing.st_mode)) {
        KAFH_TRACE("BeginAtomicSave", 5, "\"" << target.native() << "\": not a regular file; not replaced");
        errno = S_ISDIR(existing.st_mode) ? EISDIR : EINVAL;
        return -1;
    }
    RemoveStaleTemporaryFiles(target);
    const int fd = CreateTemporaryFileBeside(target, temporary);
    if (fd < 0) {
        const int error = errno;
        KAFH_TRACE("BeginAtomicSave", 5, "\"" << target.native() << "\": no temporary file: " << std::strerror(error));
        errno = error;
        return -1;
    }
    // Keep the permissions of the file being replaced; a new file gets the usual 0666 less umask.
    if (exists) {
        ::fchmod(fd, existing.st_mode & 07777);
    }
    return fd;
}

bool CommitTemporaryFile(int fd, const fs::path& temporary, const fs::path& target)
{
    const char* failedStep = nullptr;
    int error = 0;
    if (::fsync(fd) != 0) {
        failedStep = "fsync";
        error = errno;
    }
    if (::close(fd) != 0 && !failedStep) {
        failedStep = "close";
        error = errno;
    }
    if (!failedStep && ::rename(temporary.c_str(), target.c_str()) != 0) {
        failedStep = "rename";
        error = errno;
    }
    if (failedStep) {
        ::unlink(temporary.c_str());
        KAFH_TRACE("CommitTemporaryFile", 5,
                   "\"" << target.native() << "\": " << failedStep << " failed: " << std::strerror(error));
        errno = error;
        return false;
    }
    SyncDirectory(target.parent_path());
    return true;
}

bool WriteFileAtomically(const fs::path& requested,
                         const std::function<bool(const std::function<bool(std::string_view)>& append)>& writer)
{
    fs::path target;
    fs::path temporary;
    const int fd = BeginAtomicSave(requested, target, temporary);
    if (fd < 0) {
        return false;
    }
    // Appends go through a buffer so that writers may hand over many small pieces.
    std::string buffer;
    buffer.reserve(kWriteBufferSize);
    bool appendFailed = false;
    const auto append = [&](std::string_view bytes) {
        if (buffer.size() + bytes.size() > kWriteBufferSize) {
            if (!WriteAll(fd, buffer) || !WriteAll(fd, bytes)) {
                appendFailed = true;
                return false;
            }
            buffer.clear();
            return true;
        }
        buffer.append(bytes);
        return true;
    };
    const bool written = writer(append) && !appendFailed;
    if (!written || !WriteAll(fd, buffer)) {
        const int error = errno;
        ::close(fd);
        ::unlink(temporary.c_str());
        KAFH_TRACE("WriteFileAtomically", 5, "\"" << target.native() << "\": write failed: " << std::strerror(error));
        return false;
    }
    return CommitTemporaryFile(fd, temporary, target);
}

bool WriteFileAtomically(const fs::path& target, std::string_view contents)
{
    return WriteFileAtomically(target, [contents](const std::function<bool(std::string_view)>& append) {
        return append(contents);
    });
}

} // namespace kelcore::filesupport
