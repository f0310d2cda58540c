// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/kafh/Settings.h"

#include "kelaudiofilterhost/catalogue/BannedPluginManager.h"
#include "kelaudiofilterhost/catalogue/PluginModuleInfoManager.h"
#include "kelaudiofilterhost/services/File.h"
#include "kelaudiofilterhost/services/PropList.h"
#include "tools/kafh/Console.h"

#include <algorithm>
#include <cstdlib>
#include <system_error>

namespace kafh {

namespace {

using kelaudiofilterhost::BannedPluginManager;
using kelaudiofilterhost::PluginModuleInfoManager;
using kelcore::filesupport::File;

constexpr std::uint32_t kBannedFileVersion = 1;

std::string PathText(const std::filesystem::path& path)
{
    return Quoted(path.string());
}

bool IsPresent(const std::filesystem::path& path)
{
    std::error_code error;
    return std::filesystem::exists(path, error);
}

} // namespace

std::filesystem::path Settings::DefaultDirectory()
{
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && *xdg == '/') {
        return std::filesystem::path(xdg) / "kafh";
    }
    if (const char* home = std::getenv("HOME"); home != nullptr && *home != 0) {
        return std::filesystem::path(home) / ".config" / "kafh";
    }
    return {};
}

Settings::Settings(std::filesystem::path directory) : mDirectory(std::move(directory)) {}

std::filesystem::path Settings::GetCatalogueFile() const
{
    return mDirectory / kelcore::filesupport::ToPath(PluginModuleInfoManager::GetInstance().GetSettingsFileName());
}

std::filesystem::path Settings::GetBannedFile() const
{
    return mDirectory / kelcore::filesupport::ToPath(BannedPluginManager::GetInstance().GetSettingsFileName());
}

std::filesystem::path Settings::GetStaticBannedFile() const
{
    return mDirectory /
           kelcore::filesupport::ToPath(BannedPluginManager::GetInstance().GetPermanentBannedSettingsFileName());
}

bool Settings::Load(std::string& error)
{
    const auto banned = GetBannedFile();
    if (IsPresent(banned)) {
        // The library ignores a banned file it cannot read; the tool must not then save an empty
        // set over it, so it checks the file first.
        kelcore::proplist::PropList list;
        std::uint32_t version = 0;
        if (!kelcore::proplist::utils::LoadPropList(kelcore::filesupport::FromPath(banned), list, false)) {
            error = "the banned-plug-in file " + PathText(banned) + " is unreadable or malformed";
            return false;
        }
        if (!list.GetValue("version", version) || version != kBannedFileVersion) {
            error = "the banned-plug-in file " + PathText(banned) + " is of another version";
            return false;
        }
        File file(banned);
        BannedPluginManager::GetInstance().LoadConfiguration(file);
        mBannedHoldsUnread = BannedPluginManager::GetInstance().WasReadIncompletely();
    }
    if (!LoadStaticList(error)) {
        return false;
    }
    const auto catalogue = GetCatalogueFile();
    File file(catalogue);
    // Banned modules are skipped while the technologies collect, so the set is read first.
    if (!PluginModuleInfoManager::GetInstance().LoadConfiguration(file) && IsPresent(catalogue)) {
        error = "the catalogue " + PathText(catalogue) +
                " is unreadable, malformed or of another version (move it away to start a new one)";
        return false;
    }
    mCatalogueHoldsUnread = IsPresent(catalogue) && PluginModuleInfoManager::GetInstance().WasReadIncompletely();
    return true;
}

bool Settings::KeepUnreadRecords(const std::filesystem::path& file, bool& pending, std::string& error) const
{
    if (!pending) {
        return true;
    }
    auto copy = file;
    copy += ".bak";
    std::error_code status;
    if (!std::filesystem::copy_file(file, copy, std::filesystem::copy_options::overwrite_existing, status)) {
        error = "cannot keep a copy of " + PathText(file) + " as " + PathText(copy) + " (" + status.message() +
                "); not replacing it, since it holds records kafh did not read";
        return false;
    }
    Warn(PathText(file) + " holds more records than its count says, which were not read; kept a copy as " +
         PathText(copy) + " before replacing it");
    pending = false;
    return true;
}

bool Settings::LoadStaticList(std::string& error)
{
    const auto path = GetStaticBannedFile();
    if (!IsPresent(path)) {
        return true;
    }
    File file(path);
    if (!BannedPluginManager::GetInstance().LoadStaticConfiguration(file)) {
        error = "the static banned list " + PathText(path) + " is unreadable or malformed";
        return false;
    }
    return true;
}

bool Settings::EnsureDirectory(std::string& error) const
{
    if (mDirectory.empty()) {
        error = "no settings folder: set HOME or XDG_CONFIG_HOME, or give --config DIR";
        return false;
    }
    if (!kelcore::filesupport::Dir(mDirectory).Create()) {
        error = "cannot create the settings folder " + PathText(mDirectory);
        return false;
    }
    return true;
}

bool Settings::SaveCatalogue(std::string& error) const
{
    if (!EnsureDirectory(error)) {
        return false;
    }
    if (!KeepUnreadRecords(GetCatalogueFile(), mCatalogueHoldsUnread, error)) {
        return false;
    }
    File file(GetCatalogueFile());
    if (!PluginModuleInfoManager::GetInstance().SaveConfiguration(file, true)) {
        error = "cannot write the catalogue " + PathText(GetCatalogueFile());
        return false;
    }
    return true;
}

bool Settings::SaveBanned(std::string& error) const
{
    if (!EnsureDirectory(error)) {
        return false;
    }
    if (!KeepUnreadRecords(GetBannedFile(), mBannedHoldsUnread, error)) {
        return false;
    }
    File file(GetBannedFile());
    if (!BannedPluginManager::GetInstance().SaveConfiguration(file)) {
        error = "cannot write the banned-plug-in file " + PathText(GetBannedFile());
        return false;
    }
    return true;
}

} // namespace kafh
