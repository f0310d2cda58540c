// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/services/Strings.h"

#include <map>
#include <mutex>
#include <string_view>

namespace kelcore::debug {

/// Debug switches: entries come from environment variables KAFH_DEBUG_<key>, or from SetEntry.
/// Thread-safe.
class DebugDatabase {
public:
    static DebugDatabase& Instance();

    /// "true"/"1"/"yes"/"on" and "false"/"0"/"no"/"off" (any case); the default for other or absent text.
    bool GetEntry(std::string_view key, bool defaultValue) const;
    /// The default when absent or not a whole decimal number.
    std::int32_t GetEntry(std::string_view key, std::int32_t defaultValue) const;
    UTF8String GetEntry(std::string_view key, const UTF8String& defaultValue) const;
    /// Text form; without it a literal default such as "false" would pick the bool overload.
    UTF8String GetEntry(std::string_view key, const char* defaultValue) const
    {
        return GetEntry(key, UTF8String(defaultValue != nullptr ? defaultValue : ""));
    }

    /// Overrides the environment for the key (tests and embedding); RemoveEntry undoes it.
    void SetEntry(std::string_view key, const UTF8String& value);
    void RemoveEntry(std::string_view key);

private:
    DebugDatabase() = default;
    bool Lookup(std::string_view key, UTF8String& value) const;

    mutable std::mutex mMutex;
    std::map<UTF8String, UTF8String, std::less<>> mOverrides;
};

} // namespace kelcore::debug
