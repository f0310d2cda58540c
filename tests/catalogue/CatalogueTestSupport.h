// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/catalogue/AudioFilterDescriptorManager.h"
#include "kelaudiofilterhost/catalogue/PluginModuleInfoManager.h"
#include "kelaudiofilterhost/catalogue/PluginTechnology.h"
#include "kelaudiofilterhost/services/Trace.h"

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
    ~TempDir()
    {
        std::error_code error;
        for (auto it = fs::recursive_directory_iterator(mPath, error); !error && it != fs::recursive_directory_iterator();
             it.increment(error)) {
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, error);
        }
        fs::remove_all(mPath, error);
    }
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
};

/// Collects every trace line while alive.
class TraceCapture {
public:
    TraceCapture()
    {
        kelcore::debug::SetTraceConfiguration("*=5");
        kelcore::debug::SetTraceSink([this](std::string_view line) { mLines.emplace_back(line); });
    }
    ~TraceCapture()
    {
        kelcore::debug::SetTraceSink({});
        kelcore::debug::SetTraceConfiguration("");
    }
    bool Contains(const std::string& text) const
    {
        for (const std::string& line : mLines) {
            if (line.find(text) != std::string::npos) {
                return true;
            }
        }
        return false;
    }

private:
    std::vector<std::string> mLines;
};

/// A technology as a back end would make one: candidate files by suffix below each directory.
class TestTechnology : public PluginTechnology {
public:
    TestTechnology(TechnologyType type, std::u16string suffix, std::vector<UTF16String>* defaults)
        : PluginTechnology(
              type,
              [type, suffix](const kelcore::filesupport::Dir& dir) {
                  return CollectModuleFiles(dir, type, suffix, type == VST3);
              },
              {}, [defaults] { return defaults ? *defaults : std::vector<UTF16String>(); },
              [](const UTF16String& path) { return u"[" + path + u"]"; }, true)
    {
    }
};

/// Default directories of the catalogue's test technologies; tests change them.
inline std::vector<UTF16String>& TestDefaultDirectories()
{
    static std::vector<UTF16String> defaults;
    return defaults;
}

/// The catalogue with test technologies for types 2 (".so" files) and 3 (".vst3" bundles), emptied:
/// no module infos, no plug-in descriptors, no directories, no private configuration.
inline PluginModuleInfoManager& FreshCatalogue()
{
    PluginModuleInfoManager& catalogue = PluginModuleInfoManager::GetInstance();
    if (!catalogue.GetPluginTechnology(VST)) {
        catalogue.AddPluginTechnology(new TestTechnology(VST, u".so", &TestDefaultDirectories()));
        catalogue.AddPluginTechnology(new TestTechnology(VST3, u".vst3", nullptr));
    }
    TestDefaultDirectories().clear();
    catalogue.SetPrivatePluginConfiguration("");
    catalogue.ClearAll(true);
    for (const auto& technology : catalogue.GetPluginTechnologies()) {
        technology->RemoveAllPluginDirectories();
    }
    return catalogue;
}

inline std::vector<UTF16String> Directories(const PluginTechnology& technology)
{
    return {technology.DirectoryBegin(), technology.DirectoryEnd()};
}

} // namespace kelaudiofilterhost::testing
