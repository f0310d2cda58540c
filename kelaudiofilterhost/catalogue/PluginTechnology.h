// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/catalogue/PluginLocator.h"
#include "kelaudiofilterhost/catalogue/PluginScanContext.h"
#include "kelaudiofilterhost/services/File.h"
#include "kelaudiofilterhost/services/RefCountedObject.h"

#include <boost/function.hpp>
#include <boost/intrusive_ptr.hpp>
#include <boost/signals2/signal.hpp>

#include <optional>
#include <string_view>
#include <vector>

namespace kelaudiofilterhost {

/// One plug-in technology inside the catalogue: its plug-in directories, collecting candidate modules,
/// making its scan context. The technology's own behaviour comes in through the four functions; back
/// ends (and tests) may also derive from it. Held through boost::intrusive_ptr: the directory signal
/// passes the technology as such a pointer, so it must never live on the stack.
class PluginTechnology : public kelcore::utility::RefCountedObject {
public:
    using CollectFunction = boost::function<std::vector<PluginLocator>(const kelcore::filesupport::Dir&)>;
    using ScanContextFunction =
        boost::function<boost::intrusive_ptr<PluginScanContext>(const std::vector<kelcore::filesupport::Dir>&)>;
    using DefaultDirectoriesFunction = boost::function<std::vector<UTF16String>()>;
    using PathDisplayFunction = boost::function<UTF16String(const UTF16String&)>;
    /// Technology, added directories, removed directories.
    using DirectoriesChangedSignal = boost::signals2::signal<void(
        boost::intrusive_ptr<PluginTechnology>, const std::vector<UTF16String>&, const std::vector<UTF16String>&)>;
    using const_iterator = std::vector<UTF16String>::const_iterator;

    /// The directory list starts empty; the default-directories function is not called here.
    PluginTechnology(TechnologyType type, CollectFunction collect, ScanContextFunction scanContext,
                     DefaultDirectoriesFunction defaultDirectories, PathDisplayFunction pathDisplay,
                     bool usesDirectories);
    ~PluginTechnology() override;

    TechnologyType GetType() const { return mType; }
    DirectoriesChangedSignal& GetDirectoriesChangedSignal() { return mDirectoriesChangedSignal; }

    /// Directories compare exactly (no normalisation) in all four operations.
    const_iterator DirectoryBegin() const { return mDirectories.begin(); }
    const_iterator DirectoryEnd() const { return mDirectories.end(); }
    /// Appends the entries not listed before the call; signals when the list grew.
    void AddPluginDirectories(const std::vector<UTF16String>& directories);
    /// Removes the first occurrence of each entry; signals when the list shrank.
    void RemovePluginDirectories(const std::vector<UTF16String>& directories);
    void RemoveAllPluginDirectories();
    /// Always signals the removal of the current list, then (when the technology uses directories and
    /// has a default-directories function) replaces it by the defaults and signals their addition.
    void ResetDirectoriesToDefault();

    /// The path-display function's text, or the path unchanged without one.
    UTF16String GetPathDisplayString(const UTF16String& path) const;
    /// Candidates of every listed directory, in directory order; duplicates kept. Without a collect
    /// function, nothing.
    std::vector<PluginLocator> CollectPlugins() const;
    /// The technology's scan context over the listed directories; empty (with a trace line) when the
    /// technology has no scan-context function or the function fails.
    boost::intrusive_ptr<PluginScanContext> CreateScanContext() const;

    /// Candidate modules under root for collect functions: every file whose name ends with suffix
    /// (A to Z folded) becomes a locator of type, and with bundleDirectories true so does every such
    /// directory, which is then not searched further. Order: a directory's candidates in path order,
    /// then its sub-directories, the last one first. Links are followed, each directory searched once;
    /// unreadable directories are skipped with a trace line, and so are names that are not valid UTF-8
    /// (a locator could not name them).
    /// skip, when set, drops locators (the banned set).
    static std::vector<PluginLocator> CollectModuleFiles(const kelcore::filesupport::Dir& root, TechnologyType type,
                                                         std::u16string_view suffix, bool bundleDirectories,
                                                         const boost::function<bool(const PluginLocator&)>& skip = {});

    /// The entries of the colon-separated directory list in the environment variable, as full paths in
    /// order, each once; empty entries skipped, and entries that are not valid UTF-8 skipped with a trace
    /// line of traceCategory. Nothing when the variable is unset.
    static std::optional<std::vector<UTF16String>> GetSearchPathVariable(const char* variable,
                                                                         const char* traceCategory);
    /// The full path of folderName in HOME's folder; empty when HOME is unset or empty, and (with a
    /// trace line of traceCategory) when it is not valid UTF-8.
    static UTF16String GetHomeSubfolder(std::string_view folderName, const char* traceCategory);

private:
    void Notify(const std::vector<UTF16String>& added, const std::vector<UTF16String>& removed);

    TechnologyType mType;
    DirectoriesChangedSignal mDirectoriesChangedSignal;
    CollectFunction mCollectFunction;
    ScanContextFunction mScanContextFunction;
    DefaultDirectoriesFunction mDefaultDirectoriesFunction;
    PathDisplayFunction mPathDisplayFunction;
    bool mUsesDirectories;
    std::vector<UTF16String> mDirectories;
};

} // namespace kelaudiofilterhost
