// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/services/Debug.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdlib>

namespace kelcore::debug {

namespace {

bool EqualsIgnoringCase(std::string_view text, std::string_view lowerCase)
{
    return text.size() == lowerCase.size()
           && std::equal(text.begin(), text.end(), lowerCase.begin(), [](char a, char b) {
                  return std::tolower(static_cast<unsigned char>(a)) == b;
              });
}

} // namespace

DebugDatabase& DebugDatabase::Instance()
{
    static DebugDatabase database;
    return database;
}

bool DebugDatabase::Lookup(std::string_view key, UTF8String& value) const
{
    if (key.empty()) {
        return false;
    }
    {
        std::lock_guard lock(mMutex);
        if (const auto found = mOverrides.find(key); found != mOverrides.end()) {
            value = found->second;
            return true;
        }
    }
    const UTF8String variable = "KAFH_DEBUG_" + UTF8String(key);
    if (const char* text = std::getenv(variable.c_str()); text != nullptr) {
        value = text;
        return true;
    }
    return false;
}

bool DebugDatabase::GetEntry(std::string_view key, bool defaultValue) const
{
    UTF8String text;
    if (!Lookup(key, text)) {
        return defaultValue;
    }
    for (std::string_view yes : {"true", "1", "yes", "on"}) {
        if (EqualsIgnoringCase(text, yes)) {
            return true;
        }
    }
    for (std::string_view no : {"false", "0", "no", "off"}) {
        if (EqualsIgnoringCase(text, no)) {
            return false;
        }
    }
    return defaultValue;
}

std::int32_t DebugDatabase::GetEntry(std::string_view key, std::int32_t defaultValue) const
{
    UTF8String text;
    if (!Lookup(key, text) || text.empty()) {
        return defaultValue;
    }
    std::int32_t value = 0;
    const char* begin = text.data();
    const char* end = text.data() + text.size();
    // from_chars takes no plus sign; accept one, as the environment is typed by people.
    if (*begin == '+' && text.size() > 1 && begin[1] != '-') {
        ++begin;
    }
    const auto [stop, error] = std::from_chars(begin, end, value);
    if (error != std::errc{} || stop != end) {
        return defaultValue;
    }
    return value;
}

UTF8String DebugDatabase::GetEntry(std::string_view key, const UTF8String& defaultValue) const
{
    UTF8String text;
    return Lookup(key, text) ? text : defaultValue;
}

void DebugDatabase::SetEntry(std::string_view key, const UTF8String& value)
{
    std::lock_guard lock(mMutex);
    mOverrides.insert_or_assign(UTF8String(key), value);
}

void DebugDatabase::RemoveEntry(std::string_view key)
{
    std::lock_guard lock(mMutex);
    if (const auto found = mOverrides.find(key); found != mOverrides.end()) {
        mOverrides.erase(found);
    }
}

} // namespace kelcore::debug
