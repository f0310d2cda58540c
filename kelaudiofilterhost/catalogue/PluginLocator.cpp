// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/catalogue/PluginLocator.h"

#include "kelaudiofilterhost/services/File.h"
#include "kelaudiofilterhost/services/Trace.h"

#include <charconv>
#include <limits>
#include <string_view>
#include <utility>

namespace kelaudiofilterhost {

namespace {

// A path that file-name comparison would leave unchanged: absolute, lexically normal ('/' followed
// by segments that are neither empty, "." nor ".."; no trailing '/' except for the root) and
// well-formed UTF-16, so that conversion to the file system and back keeps every code unit.
bool IsNormalAbsolutePath(std::u16string_view path)
{
    if (path.empty() || path.front() != u'/') {
        return false;
    }
    std::size_t start = 1;
    while (start < path.size()) {
        std::size_t end = path.find(u'/', start);
        if (end == std::u16string_view::npos) {
            end = path.size();
        }
        const std::u16string_view segment = path.substr(start, end - start);
        if (segment.empty() || segment == u"." || segment == u"..") {
            return false;
        }
        start = end + 1;
    }
    if (path.size() > 1 && path.back() == u'/') {
        return false;
    }
    for (std::size_t i = 0; i < path.size(); ++i) {
        const char16_t c = path[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < path.size() && path[i + 1] >= 0xDC00 && path[i + 1] <= 0xDFFF) {
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            return false;
        }
    }
    return true;
}

bool IsStreamSpace(char16_t c)
{
    return c == u' ' || c == u'\t' || c == u'\n' || c == u'\v' || c == u'\f' || c == u'\r';
}

// Reads a signed decimal number as a stream extraction would: white space skipped, an optional
// sign, digits up to the first other character. No digits or overflow give 0.
std::int32_t ParseLeadingInteger(std::u16string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && IsStreamSpace(text[i])) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    std::int64_t value = 0;
    bool anyDigit = false;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        anyDigit = true;
        value = value * 10 + (text[i] - u'0');
        if (value > std::int64_t(std::numeric_limits<std::int32_t>::max()) + 1) {
            KAFH_TRACE("PluginLocator::FromString", 5, "technology number out of range");
            return 0;
        }
    }
    if (!anyDigit) {
        return 0;
    }
    value = negative ? -value : value;
    if (value > std::numeric_limits<std::int32_t>::max()) {
        KAFH_TRACE("PluginLocator::FromString", 5, "technology number out of range");
        return 0;
    }
    return static_cast<std::int32_t>(value);
}

} // namespace

PluginLocator::PluginLocator(TechnologyType type, const UTF16String& path)
    : mType(type), mPath(path), mPathIsNormal(IsNormalAbsolutePath(path))
{
}

void PluginLocator::Swap(PluginLocator& other) noexcept
{
    std::swap(mType, other.mType);
    mPath.swap(other.mPath);
    std::swap(mPathIsNormal, other.mPathIsNormal);
}

int PluginLocator::ComparePaths(const PluginLocator& a, const PluginLocator& b)
{
    if (a.mPathIsNormal && b.mPathIsNormal) {
        return a.mPath.compare(b.mPath);
    }
    return kelcore::filesupport::CompareFileNames(a.mPath, b.mPath);
}

bool PluginLocator::operator<(const PluginLocator& other) const
{
    if (mType != other.mType) {
        return mType < other.mType;
    }
    return ComparePaths(*this, other) < 0;
}

bool PluginLocator::operator==(const PluginLocator& other) const
{
    return mType == other.mType && ComparePaths(*this, other) == 0;
}

UTF16String PluginLocator::ToString() const
{
    char digits[16];
    const auto result = std::to_chars(digits, digits + sizeof digits, static_cast<std::int32_t>(mType));
    UTF16String text(digits, result.ptr);
    text.reserve(text.size() + 1 + mPath.size());
    text.push_back(u':');
    text.append(mPath);
    return text;
}

void PluginLocator::FromString(const UTF16String& text)
{
    const std::size_t colon = text.find(u':');
    if (colon == UTF16String::npos) {
        *this = PluginLocator();
        return;
    }
    const auto type = static_cast<TechnologyType>(ParseLeadingInteger(std::u16string_view(text).substr(0, colon)));
    *this = PluginLocator(type, text.substr(colon + 1));
}

} // namespace kelaudiofilterhost
