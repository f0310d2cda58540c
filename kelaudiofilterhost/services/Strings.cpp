// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/services/Strings.h"

#include <boost/locale/utf.hpp>

#include <algorithm>
#include <charconv>

namespace kelcore {

namespace {

namespace utf = boost::locale::utf;
constexpr char32_t kReplacement = 0xFFFD;

// Decodes with the library's UTF traits; each ill-formed unit becomes U+FFFD and decoding
// continues after it, so no input can stop or crash the conversion.
template <typename In, typename Out> Out Convert(const In* begin, const In* end)
{
    Out out;
    out.reserve(static_cast<std::size_t>(end - begin));
    auto appender = std::back_inserter(out);
    using OutChar = typename Out::value_type;
    while (begin != end) {
        const In* start = begin;
        utf::code_point cp = utf::utf_traits<In>::decode(begin, end);
        if (cp == utf::illegal || cp == utf::incomplete) {
            cp = kReplacement;
            begin = start + 1;
        }
        utf::utf_traits<OutChar>::encode(cp, appender);
    }
    return out;
}

template <typename T> UTF16String ToText(T value)
{
    char buffer[16];
    auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    return UTF16String(buffer, result.ptr);
}

} // namespace

UTF16String AsciiToUTF16(std::string_view ascii)
{
    UTF16String out;
    out.reserve(ascii.size());
    for (char c : ascii) {
        const auto byte = static_cast<unsigned char>(c);
        out.push_back(byte < 0x80 ? static_cast<char16_t>(byte) : char16_t(kReplacement));
    }
    return out;
}

UTF8String UTF16to8(std::u16string_view text)
{
    return Convert<char16_t, UTF8String>(text.data(), text.data() + text.size());
}

UTF16String UTF8to16(std::string_view text)
{
    return Convert<char, UTF16String>(text.data(), text.data() + text.size());
}

bool IsValidUtf8(std::string_view text)
{
    const char* it = text.data();
    const char* end = it + text.size();
    while (it != end) {
        if (static_cast<unsigned char>(*it) < 0x80) {
            ++it;
            continue;
        }
        const utf::code_point cp = utf::utf_traits<char>::decode(it, end);
        if (cp == utf::illegal || cp == utf::incomplete) {
            return false;
        }
    }
    return true;
}

bool EqualIgnoringAsciiCase(std::u16string_view a, std::u16string_view b)
{
    auto fold = [](char16_t c) { return c >= u'a' && c <= u'z' ? static_cast<char16_t>(c - u'a' + u'A') : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [&](char16_t x, char16_t y) { return fold(x) == fold(y); });
}

UTF16String NumberToString(std::int32_t value)
{
    return ToText(value);
}

UTF16String NumberToString(std::uint32_t value)
{
    return ToText(value);
}

} // namespace kelcore
