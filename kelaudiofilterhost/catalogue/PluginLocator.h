// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/services/Strings.h"

#include <cstdint>

namespace kelaudiofilterhost {

using kelcore::UTF16String;
using kelcore::UTF8String;

/// Which technology loads a module. Values are stored in files: never renumber.
enum TechnologyType : std::int32_t {
    NoTechnology = 0,
    Internal = 1,
    VST = 2,
    VST3 = 3,
};

/// Names one plug-in module: technology type and full path. Paths compare as file names
/// (CompareFileNames), one rule for ordering and equality, so maps keyed by locator stay consistent.
class PluginLocator {
public:
    PluginLocator() = default;
    PluginLocator(TechnologyType type, const UTF16String& path);

    void Swap(PluginLocator& other) noexcept;

    TechnologyType GetTechnologyType() const { return mType; }
    UTF16String GetPath() const { return mPath; }

    bool operator<(const PluginLocator& other) const;
    bool operator==(const PluginLocator& other) const;
    bool operator!=(const PluginLocator& other) const { return !(*this == other); }

    /// "2:/usr/lib/vst/Reverb.so": the type in signed decimal, a colon, the path unchanged.
    UTF16String ToString() const;
    /// Parses the text form; only the first colon separates. No colon gives (0, empty path);
    /// no readable number before the colon gives type 0.
    void FromString(const UTF16String& text);

private:
    /// Negative, 0 or positive, as CompareFileNames orders the two paths.
    static int ComparePaths(const PluginLocator& a, const PluginLocator& b);

    TechnologyType mType = NoTechnology;
    UTF16String mPath;
    // True when the path is already absolute and lexically normal: comparing two such paths needs
    // no normalisation, which keeps large catalogues fast to load.
    bool mPathIsNormal = false;
};

} // namespace kelaudiofilterhost
