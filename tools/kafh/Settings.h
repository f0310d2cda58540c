// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <filesystem>
#include <string>

namespace kafh {

/// The tool's settings folder: the module catalogue, the banned set and the static banned list,
/// under the library's file names. Loading refuses files it cannot use rather than replacing them,
/// so nothing in them is lost; saving is atomic.
class Settings {
public:
    /// $XDG_CONFIG_HOME/kafh, else ~/.config/kafh; empty when neither can be named.
    static std::filesystem::path DefaultDirectory();

    explicit Settings(std::filesystem::path directory);

    const std::filesystem::path& GetDirectory() const { return mDirectory; }
    std::filesystem::path GetCatalogueFile() const;
    std::filesystem::path GetBannedFile() const;
    std::filesystem::path GetStaticBannedFile() const;

    /// Loads the catalogue, the banned set and the static list into the library's singletons.
    /// Missing files are fine (an empty catalogue with the default folders); a file that exists but
    /// is malformed or of another version gives false and a message naming it.
    bool Load(std::string& error);
    /// Only the static banned list (what describing a module consults).
    bool LoadStaticList(std::string& error);
    /// Creates the folder when needed; false with a message naming the file when saving failed.
    /// A file that was read with fewer records than it holds is first kept beside it as NAME.bak.
    bool SaveCatalogue(std::string& error) const;
    bool SaveBanned(std::string& error) const;

private:
    bool EnsureDirectory(std::string& error) const;
    bool KeepUnreadRecords(const std::filesystem::path& file, bool& pending, std::string& error) const;

    std::filesystem::path mDirectory;
    // Set at Load for a file holding records its stored count leaves unread; cleared once its
    // copy is kept.
    mutable bool mCatalogueHoldsUnread = false;
    mutable bool mBannedHoldsUnread = false;
};

} // namespace kafh
