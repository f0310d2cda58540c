// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/services/Strings.h"

#include <cstddef>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace kelcore::filesupport {

class Dir;

/// A file path. Paths are UTF-16 at the interface and UTF-8 on disk.
class File {
public:
    File() = default;
    explicit File(const UTF16String& path);
    explicit File(std::filesystem::path path);
    File(const Dir& parent, const UTF16String& name);

    /// True when something that is not a directory exists at the path.
    bool Exists() const;
    /// Absolute, lexically normalised path.
    UTF16String FullPath() const;
    /// File name with its extension ("Gain.so").
    UTF16String GetName() const;
    /// File name without its last extension ("Gain").
    UTF16String GetTitle() const;
    /// Last extension with its dot (".so"); empty when there is none.
    UTF16String GetExtension() const;
    Dir Parent() const;
    const std::filesystem::path& GetPath() const { return mPath; }
    bool IsEmpty() const { return mPath.empty(); }

private:
    std::filesystem::path mPath;
};

/// What a directory walk does after visiting an entry.
enum class WalkAction { Continue, SkipChildren, Stop };

/// A directory path.
class Dir {
public:
    Dir() = default;
    explicit Dir(const UTF16String& path);
    explicit Dir(std::filesystem::path path);
    Dir(const Dir& parent, const UTF16String& relativePath);

    bool Exists() const;
    UTF16String FullPath() const;
    UTF16String GetName() const;
    Dir Parent() const;
    const std::filesystem::path& GetPath() const { return mPath; }
    /// Creates the directory and its parents; true when it exists afterwards.
    bool Create() const;

    /// Files directly in the directory (recursive false) or in the whole tree, sorted by path.
    /// Unreadable directories are skipped; symbolic-link loops are entered once. Names that are not
    /// well-formed UTF-8 cannot be named in UTF-16 again, so such entries (and what lies below them)
    /// are left out, with a trace line; so are dangling symbolic links.
    std::vector<File> GetFiles(bool recursive) const;
    /// Sub-directories, likewise.
    std::vector<Dir> GetSubDirs(bool recursive) const;
    /// Visits every entry (files and directories) in path order, depth first. The visitor gets the
    /// entry's path and whether it is a directory; SkipChildren keeps the walk out of a directory.
    /// Unreadable directories are skipped; a directory reached again through links is not entered twice;
    /// names that are not UTF-8 and dangling links are left out. Never throws (unless the visitor does).
    void Walk(bool recursive, const std::function<WalkAction(const std::filesystem::path&, bool isDirectory)>& visitor) const;

    /// Directory of the running executable.
    static Dir AppDir();
    /// The machine-wide directory for shared components ("/usr/lib").
    static Dir CommonFilesDir();

private:
    std::filesystem::path mPath;
};

/// Negative, 0 or positive; 0 when both name the same file. Compares the lexically normalised
/// absolute paths (relative ones taken against the current directory, a trailing separator dropped)
/// by UTF-16 code units, without touching the file system; the same rule orders and equates.
int CompareFileNames(const UTF16String& a, const UTF16String& b);

/// UTF-16 path to a file-system path (UTF-8 bytes) and back; bytes that are not UTF-8 become U+FFFD.
std::filesystem::path ToPath(const UTF16String& path);
UTF16String FromPath(const std::filesystem::path& path);

/// Creates a temporary file beside target (".NAME.PID.N.tmp" in target's directory, no link
/// followed) and opens it for writing; the descriptor, or -1 with errno set. The name tells
/// RemoveStaleTemporaryFiles which process made it; the caller renames or removes the file.
int CreateTemporaryFileBeside(const std::filesystem::path& target, std::filesystem::path& temporary);
/// Removes the temporary files of target (links followed, as a save does) that processes which no
/// longer exist left behind; files of running processes, this one included, stay. Returns how
/// many were removed. Atomic saves call it before writing.
std::size_t RemoveStaleTemporaryFiles(const std::filesystem::path& target);

/// The first half of an atomic save, for writers that fill the temporary file themselves through
/// its descriptor: follows links and refuses what WriteFileAtomically refuses, removes stale
/// temporary files, and creates the temporary file beside the file to replace (target gets that
/// file), with its permissions when it exists. The descriptor, or -1 with errno set (ELOOP for
/// links that lead nowhere, EISDIR or EINVAL for a target that is not a regular file).
int BeginAtomicSave(const std::filesystem::path& requested, std::filesystem::path& target,
                    std::filesystem::path& temporary);
/// The second half: flushes the finished temporary file to disk, closes fd (in any case) and renames
/// the file over target. On failure the temporary file is removed, target stays as it was, and the
/// result is false with errno set.
bool CommitTemporaryFile(int fd, const std::filesystem::path& temporary, const std::filesystem::path& target);

/// The whole contents of a regular file, symbolic links followed. False (contents untouched) for
/// anything else (a FIFO, a device, a directory) and on a read error; never waits for a writer.
bool ReadRegularFile(const std::filesystem::path& path, std::string& contents);

/// Replaces the file's contents atomically: writes a uniquely named temporary file in the same
/// directory, flushes it to disk and renames it over the target. A symbolic link is followed: the
/// file it leads to is replaced and the link stays. A target that exists but is not a regular file
/// is refused. On any failure the temporary file is removed, the old file stays as it was, and the
/// result is false.
bool WriteFileAtomically(const std::filesystem::path& target, std::string_view contents);
/// The same, with the contents produced by a writer that gets a function appending bytes to the
/// temporary file (false from the writer, or a failed append, abandons the save).
bool WriteFileAtomically(const std::filesystem::path& target,
                         const std::function<bool(const std::function<bool(std::string_view)>& append)>& writer);

} // namespace kelcore::filesupport
