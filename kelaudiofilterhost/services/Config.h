// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/services/Strings.h"

#include <cstdint>
#include <map>
#include <mutex>
#include <string_view>

namespace kelcore {

/// The user's locale identifier ("de_DE"); set by the application, else read from LC_ALL / LANG.
class Locale {
public:
    /// The identifier set with SetDefault, else the one of LC_ALL, else of LANG; read on every call.
    static Locale Default();
    /// An empty identifier returns to the environment's.
    static void SetDefault(const UTF8String& identifier);
    /// The identifier in a POSIX locale name: "de_DE.UTF-8@euro" gives "de_DE"; "C", "POSIX" and
    /// empty names give "en_US".
    static UTF8String IdentifierFromLocaleName(std::string_view name);
    /// "de_DE"; "en_US" when nothing is known.
    const UTF8String& GetIdentifier() const { return mIdentifier; }
    /// The language part ("de").
    UTF8String GetLanguage() const;

private:
    explicit Locale(UTF8String identifier) : mIdentifier(std::move(identifier)) {}
    UTF8String mIdentifier;
};

namespace config {

/// Localised texts. A key has the form "$$$/path/key=default text"; without a translation the
/// default text after the first "=" is returned, and text without the "$$$/" prefix or without "="
/// is returned unchanged. Thread-safe.
class Localizer {
public:
    static Localizer& Get();
    UTF16String GetText(std::string_view key) const;
    /// Adds a translation for the key path (the part before "="; a whole key is accepted too).
    void SetText(std::string_view keyPath, const UTF16String& text);

private:
    Localizer() = default;

    mutable std::mutex mMutex;
    std::map<UTF8String, UTF16String, std::less<>> mTexts;
};

/// The embedding application's name; "kelaudiofilterhost" until the application sets it.
UTF16String GetClientName();
void SetClientName(const UTF16String& name);

/// Reports a violated contract (a programming error of the caller) as a trace line under
/// "kelcore::ThrowError" at level 1. Never aborts and never throws: a library must not end its host.
void ThrowError(std::string_view message);

} // namespace config

namespace utility {
/// Monotonic high-precision clock.
class HighPrecisionTime {
public:
    /// Ticks of a monotonic clock.
    static std::int64_t GetTickCount();
    /// Ticks to nanoseconds (for differences of ticks too).
    static std::int64_t ConvertToNanos(std::int64_t ticks);
};
} // namespace utility

} // namespace kelcore
