// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/services/Config.h"

#include "kelaudiofilterhost/services/Trace.h"

#include <chrono>
#include <cstdlib>

namespace kelcore {

namespace {

constexpr std::string_view kKeyPrefix = "$$$/";
constexpr const char* kFallbackLocale = "en_US";

struct ApplicationSettings {
    std::mutex mutex;
    UTF8String localeIdentifier;
    UTF16String clientName = u"kelaudiofilterhost";
};

ApplicationSettings& Settings()
{
    static ApplicationSettings settings;
    return settings;
}

// The key path of "$$$/path=default" or of "path": what translations are filed under.
std::string_view KeyPath(std::string_view key)
{
    if (key.starts_with(kKeyPrefix)) {
        key.remove_prefix(kKeyPrefix.size());
    }
    return key.substr(0, key.find('='));
}

} // namespace

Locale Locale::Default()
{
    {
        std::lock_guard lock(Settings().mutex);
        if (!Settings().localeIdentifier.empty()) {
            return Locale(Settings().localeIdentifier);
        }
    }
    // An empty LC_ALL counts as unset, as for the C library.
    for (const char* variable : {"LC_ALL", "LANG"}) {
        const char* name = std::getenv(variable);
        if (name != nullptr && *name != '\0') {
            return Locale(IdentifierFromLocaleName(name));
        }
    }
    return Locale(kFallbackLocale);
}

void Locale::SetDefault(const UTF8String& identifier)
{
    std::lock_guard lock(Settings().mutex);
    Settings().localeIdentifier = identifier;
}

UTF8String Locale::IdentifierFromLocaleName(std::string_view name)
{
    name = name.substr(0, name.find_first_of(".@"));
    if (name.empty() || name == "C" || name == "POSIX") {
        return kFallbackLocale;
    }
    return UTF8String(name);
}

UTF8String Locale::GetLanguage() const
{
    return mIdentifier.substr(0, mIdentifier.find_first_of("_-"));
}

namespace config {

Localizer& Localizer::Get()
{
    static Localizer localizer;
    return localizer;
}

UTF16String Localizer::GetText(std::string_view key) const
{
    const auto equals = key.find('=');
    if (!key.starts_with(kKeyPrefix) || equals == std::string_view::npos) {
        return UTF8to16(key);
    }
    {
        std::lock_guard lock(mMutex);
        if (const auto found = mTexts.find(KeyPath(key)); found != mTexts.end()) {
            return found->second;
        }
    }
    return UTF8to16(key.substr(equals + 1));
}

void Localizer::SetText(std::string_view keyPath, const UTF16String& text)
{
    std::lock_guard lock(mMutex);
    mTexts.insert_or_assign(UTF8String(KeyPath(keyPath)), text);
}

UTF16String GetClientName()
{
    std::lock_guard lock(Settings().mutex);
    return Settings().clientName;
}

void SetClientName(const UTF16String& name)
{
    std::lock_guard lock(Settings().mutex);
    Settings().clientName = name;
}

void ThrowError(std::string_view message)
{
    KAFH_TRACE("kelcore::ThrowError", 1, message);
}

} // namespace config

namespace utility {

std::int64_t HighPrecisionTime::GetTickCount()
{
    return static_cast<std::int64_t>(std::chrono::steady_clock::now().time_since_epoch().count());
}

std::int64_t HighPrecisionTime::ConvertToNanos(std::int64_t ticks)
{
    const std::chrono::steady_clock::duration duration(ticks);
    return static_cast<std::int64_t>(std::chrono::duration_cast<std::chrono::nanoseconds>(duration).count());
}

} // namespace utility

} // namespace kelcore
