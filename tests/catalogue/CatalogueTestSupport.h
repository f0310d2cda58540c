// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/catalogue/AudioFilterDescriptorManager.h"
#include "kelaudiofilterhost/catalogue/PluginModuleInfoManager.h"
#include "kelaudiofilterhost/catalogue/PluginTechnology.h"
#include "tests/support/TraceCapture.h"

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <stdlib.h>

namespace kelaudiofilterhost::testing {

namespace fs = std::filesystem;

/// A fresh directory per test, removed with everything in it afterwards.
class TempDir {
public:
    TempDir()
    {
        std::string pattern = (fs::temp_directory_path() / "kafh-catalogue-XXXXXX").native();
        mPath = ::mkdtemp(pattern.data());
    }
    ~TempDir() { fs::remove_all(mPath, mError); }
    const fs::path& Path() const { return mPath; }
    UTF16String Text(const std::string& relative = {}) const
    {
        return kelcore::filesupport::FromPath(relative.empty() ? mPath : mPath / relative);
    }
    /// Creates the file (and its folders) with the text.
    fs::path Write(const std::string& relative, const std::string& text = "x") const
    {
        const fs::path path = mPath / relative;
        fs::create_directories(path.parent_path());
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }

private:
    fs::path mPath;
    std::error_code mError;
};

// Property-list XML written by hand, so that files can hold what the writers never produce.
inline std::string Value(const std::string& key, const char* type, const std::string& data)
{
    return "<value key=\"" + key + "\" type=\"" + type + "\" data=\"" + data + "\"/>";
}
inline std::string List(const std::string& key, const std::string& content)
{
    return "<list key=\"" + key + "\">" + content + "</list>";
}
inline std::string Document(const std::string& content)
{
    return "<?xml version=\"1.0\"?><proplist>" + content + "</proplist>";
}

/// The catalogue with test technologies for types 2 (".so" files) and 3 (".vst3" bundles) that collect
/// candidate files below each directory, emptied:
/// no module infos, no plug-in descriptors, no directories, no private configuration.
inline PluginModuleInfoManager& FreshCatalogue()
{
    PluginModuleInfoManager& catalogue = PluginModuleInfoManager::GetInstance();
    if (!catalogue.GetPluginTechnology(VST)) { // as a back end would make them, "/default" their default directory
        for (const auto& [type, suffix] : {std::pair(VST, u".so"), std::pair(VST3, u".vst3")}) {
            catalogue.AddPluginTechnology(new PluginTechnology(
                type, [type = type, suffix = suffix](const kelcore::filesupport::Dir& d) {
                    return PluginTechnology::CollectModuleFiles(d, type, suffix, type == VST3);
                },
                {}, [] { return std::vector<UTF16String>{u"/default"}; }, {}, true));
        }
    }
    catalogue.SetPrivatePluginConfiguration("");
    catalogue.ClearAll(true);
    for (const auto& technology : catalogue.GetPluginTechnologies()) {
        technology->RemoveAllPluginDirectories();
    }
    return catalogue;
}

} // namespace kelaudiofilterhost::testing
