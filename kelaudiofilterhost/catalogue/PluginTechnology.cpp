// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/catalogue/PluginTechnology.h"

#include "kelaudiofilterhost/services/Trace.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <set>
#include <utility>

namespace kelaudiofilterhost {

using kelcore::filesupport::Dir;
using kelcore::filesupport::File;

namespace {

char FoldAsciiUpper(char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

// Compares the file name's bytes with the (ASCII) suffix, only A to Z folded to lower case.
bool NameEndsWith(const std::filesystem::path& path, std::u16string_view suffix)
{
    const std::string& name = path.native();
    if (suffix.empty() || name.size() < suffix.size()) {
        return false;
    }
    const std::size_t offset = name.size() - suffix.size();
    for (std::size_t i = 0; i < suffix.size(); ++i) {
        if (suffix[i] > 0x7F || FoldAsciiUpper(name[offset + i]) != FoldAsciiUpper(static_cast<char>(suffix[i]))) {
            return false;
        }
    }
    return true;
}

// The category is the caller's, so the site cannot be the macro's static one.
void TraceSkipped(const char* traceCategory, const UTF8String& message)
{
    kelcore::debug::TraceSite site(traceCategory, 5);
    if (site.IsEnabled()) {
        site.Write(message);
    }
}

} // namespace

PluginTechnology::PluginTechnology(TechnologyType type, CollectFunction collect, ScanContextFunction scanContext,
                                   DefaultDirectoriesFunction defaultDirectories, PathDisplayFunction pathDisplay,
                                   bool usesDirectories)
    : mType(type), mCollectFunction(std::move(collect)), mScanContextFunction(std::move(scanContext)),
      mDefaultDirectoriesFunction(std::move(defaultDirectories)), mPathDisplayFunction(std::move(pathDisplay)),
      mUsesDirectories(usesDirectories)
{
}

PluginTechnology::~PluginTechnology() = default;

void PluginTechnology::Notify(const std::vector<UTF16String>& added, const std::vector<UTF16String>& removed)
{
    mDirectoriesChangedSignal(boost::intrusive_ptr<PluginTechnology>(this), added, removed);
}

void PluginTechnology::AddPluginDirectories(const std::vector<UTF16String>& directories)
{
    std::vector<UTF16String> updated = mDirectories;
    for (const UTF16String& directory : directories) {
        if (std::find(mDirectories.begin(), mDirectories.end(), directory) == mDirectories.end()) {
            updated.push_back(directory);
        }
    }
    if (updated.size() != mDirectories.size()) {
        mDirectories.swap(updated);
        Notify(directories, {});
    }
}

void PluginTechnology::RemovePluginDirectories(const std::vector<UTF16String>& directories)
{
    std::vector<UTF16String> updated = mDirectories;
    for (const UTF16String& directory : directories) {
        const auto found = std::find(updated.begin(), updated.end(), directory);
        if (found != updated.end()) {
            updated.erase(found);
        }
    }
    if (updated.size() != mDirectories.size()) {
        mDirectories.swap(updated);
        Notify({}, directories);
    }
}

void PluginTechnology::RemoveAllPluginDirectories()
{
    std::vector<UTF16String> removed;
    removed.swap(mDirectories);
    if (!removed.empty()) {
        Notify({}, removed);
    }
}

void PluginTechnology::ResetDirectoriesToDefault()
{
    Notify({}, mDirectories);
    if (mDefaultDirectoriesFunction && mUsesDirectories) {
        mDirectories = mDefaultDirectoriesFunction();
        Notify(mDirectories, {});
    }
}

UTF16String PluginTechnology::GetPathDisplayString(const UTF16String& path) const
{
    return mPathDisplayFunction ? mPathDisplayFunction(path) : path;
}

std::vector<PluginLocator> PluginTechnology::CollectPlugins() const
{
    std::vector<PluginLocator> result;
    if (!mCollectFunction) {
        return result;
    }
    if (!mUsesDirectories) {
        return mCollectFunction(Dir(UTF16String()));
    }
    for (const UTF16String& directory : mDirectories) {
        std::vector<PluginLocator> found = mCollectFunction(Dir(directory));
        result.insert(result.end(), std::make_move_iterator(found.begin()), std::make_move_iterator(found.end()));
    }
    return result;
}

boost::intrusive_ptr<PluginScanContext> PluginTechnology::CreateScanContext() const
{
    if (!mScanContextFunction) {
        KAFH_TRACE("PluginTechnology::CreateScanContext", 5, "technology " << mType << " has no scan context");
        return {};
    }
    std::vector<Dir> directories;
    directories.reserve(mDirectories.size());
    for (const UTF16String& directory : mDirectories) {
        directories.emplace_back(directory);
    }
    return mScanContextFunction(directories);
}

std::vector<PluginLocator> PluginTechnology::CollectModuleFiles(const Dir& root, TechnologyType type,
                                                                std::u16string_view suffix, bool bundleDirectories,
                                                                const boost::function<bool(const PluginLocator&)>& skip)
{
    std::vector<PluginLocator> result;
    std::vector<Dir> pending{root};
    // Canonical paths of the directories searched so far: a link back up the tree is not followed again.
    std::set<std::filesystem::path> searched;
    while (!pending.empty()) {
        const Dir directory = std::move(pending.back());
        pending.pop_back();
        std::error_code error;
        std::filesystem::path canonical = std::filesystem::canonical(directory.GetPath(), error);
        if (error) {
            KAFH_TRACE("PluginTechnology::CollectModuleFiles", 5,
                       "\"" << directory.GetPath().native() << "\": " << error.message() << "; skipped");
            continue;
        }
        if (!searched.insert(std::move(canonical)).second) {
            KAFH_TRACE("PluginTechnology::CollectModuleFiles", 5,
                       "\"" << directory.GetPath().native() << "\": reached again through a link; skipped");
            continue;
        }
        std::vector<std::filesystem::path> candidates;
        for (const File& file : directory.GetFiles(false)) {
            if (NameEndsWith(file.GetPath(), suffix)) {
                candidates.push_back(file.GetPath());
            }
        }
        std::vector<Dir> subDirectories;
        for (Dir& sub : directory.GetSubDirs(false)) {
            if (bundleDirectories && NameEndsWith(sub.GetPath(), suffix)) {
                candidates.push_back(sub.GetPath());
            } else {
                subDirectories.push_back(std::move(sub));
            }
        }
        std::sort(candidates.begin(), candidates.end());
        for (const std::filesystem::path& candidate : candidates) {
            PluginLocator locator(type, Dir(candidate).FullPath());
            if (!skip || !skip(locator)) {
                result.push_back(std::move(locator));
            }
        }
        pending.insert(pending.end(), std::make_move_iterator(subDirectories.begin()),
                       std::make_move_iterator(subDirectories.end()));
    }
    return result;
}

std::optional<std::vector<UTF16String>> PluginTechnology::GetSearchPathVariable(const char* variable,
                                                                                const char* traceCategory)
{
    const char* list = std::getenv(variable);
    if (list == nullptr) {
        return std::nullopt;
    }
    std::vector<UTF16String> directories;
    std::string_view rest(list);
    while (!rest.empty()) {
        const auto colon = rest.find(':');
        const auto entry = rest.substr(0, colon);
        rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
        if (entry.empty()) {
            continue;
        }
        // Would be stored mangled (U+FFFD) and name another directory.
        if (!kelcore::IsValidUtf8(entry)) {
            TraceSkipped(traceCategory,
                         UTF8String(variable) + " entry \"" + UTF8String(entry) + "\" is not UTF-8; skipped");
            continue;
        }
        auto directory = Dir(kelcore::UTF8to16(entry)).FullPath();
        if (std::find(directories.begin(), directories.end(), directory) == directories.end()) {
            directories.push_back(std::move(directory));
        }
    }
    return directories;
}

UTF16String PluginTechnology::GetHomeSubfolder(std::string_view folderName, const char* traceCategory)
{
    const char* home = std::getenv("HOME");
    if (home == nullptr || *home == 0) {
        return {};
    }
    if (!kelcore::IsValidUtf8(home)) {
        TraceSkipped(traceCategory, "HOME \"" + UTF8String(home) + "\" is not UTF-8; its " + UTF8String(folderName) +
                                        " folder skipped");
        return {};
    }
    return Dir(Dir(kelcore::UTF8to16(home)), kelcore::UTF8to16(folderName)).FullPath();
}

} // namespace kelaudiofilterhost
