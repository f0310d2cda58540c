// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <stdlib.h>

namespace kafhtest {

namespace fs = std::filesystem;

/// A fresh directory per test, removed with everything in it.
class TempTree {
public:
    TempTree()
    {
        std::string pattern = (fs::temp_directory_path() / "kafh-services-XXXXXX").string();
        mRoot = ::mkdtemp(pattern.data());
        // Open to everyone so that the tree can also be walked as an unprivileged user.
        fs::permissions(mRoot, fs::perms::all);
    }
    ~TempTree()
    {
        std::error_code error;
        fs::remove_all(mRoot, error);
    }
    const fs::path& Root() const { return mRoot; }
    /// Creates the file (and its directories) holding its own relative name.
    fs::path File(const std::string& relative)
    {
        fs::create_directories((mRoot / relative).parent_path());
        std::ofstream(mRoot / relative) << relative;
        return mRoot / relative;
    }
    void Link(const std::string& relative, const fs::path& to) { fs::create_symlink(to, mRoot / relative); }
    std::ptrdiff_t EntryCount() const { return std::distance(fs::directory_iterator(mRoot), fs::directory_iterator()); }
    /// Paths relative to the root, for readable expectations.
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
};

inline std::string ReadWholeFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

} // namespace kafhtest
