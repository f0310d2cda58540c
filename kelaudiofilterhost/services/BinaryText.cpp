// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/services/PropList.h"

#include <boost/archive/iterators/base64_from_binary.hpp>
#include <boost/archive/iterators/binary_from_base64.hpp>
#include <boost/archive/iterators/transform_width.hpp>

#include <algorithm>
#include <optional>

namespace kelcore::proplist {

namespace {

using boost::archive::iterators::base64_from_binary;
using boost::archive::iterators::binary_from_base64;
using boost::archive::iterators::transform_width;

// Six bits at a time out of the bytes, as base64 digits; the iterators add no padding.
using EncodingIterator = base64_from_binary<transform_width<const std::uint8_t*, 6, 8>>;
// Eight bits at a time out of the digits' six; a foreign character would throw, so the text is
// checked before it is decoded.
using DecodingIterator = transform_width<binary_from_base64<std::string::const_iterator>, 8, 6>;

/// The six bits a digit of the standard alphabet stands for, or -1.
int DigitValue(char c)
{
    if (c >= 'A' && c <= 'Z') {
        return c - 'A';
    }
    if (c >= 'a' && c <= 'z') {
        return c - 'a' + 26;
    }
    if (c >= '0' && c <= '9') {
        return c - '0' + 52;
    }
    return c == '+' ? 62 : c == '/' ? 63 : -1;
}

// The number of '=' ending the text when it is canonical base64: whole quads of the standard
// alphabet, at most two '=' at the very end, and no stray bits under the padding (a text decodes
// only when encoding the result gives it back). Empty otherwise.
std::optional<std::size_t> CanonicalPadding(const UTF8String& text)
{
    if (text.size() % 4 != 0) {
        return std::nullopt;
    }
    std::size_t padding = 0;
    if (!text.empty() && text.back() == '=') {
        padding = text[text.size() - 2] == '=' ? 2 : 1;
    }
    const std::size_t digits = text.size() - padding;
    if (!std::all_of(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(digits),
                     [](char c) { return DigitValue(c) >= 0; })) {
        return std::nullopt;
    }
    if (padding != 0) {
        const int unusedBits = padding == 1 ? 0x03 : 0x0F;
        if ((DigitValue(text[digits - 1]) & unusedBits) != 0) {
            return std::nullopt;
        }
    }
    return padding;
}

} // namespace

bool EncodeBinaryDataToUTF8String(const void* data, std::size_t size, UTF8String& text)
{
    if (!data && size != 0) {
        return false;
    }
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    UTF8String encoded;
    encoded.reserve((size + 2) / 3 * 4);
    if (size != 0) {
        encoded.assign(EncodingIterator(bytes), EncodingIterator(bytes + size));
    }
    encoded.append((3 - size % 3) % 3, '=');
    text.swap(encoded);
    return true;
}

bool EncodeBinaryDataToUTF8String(const std::vector<std::uint8_t>& data, UTF8String& text)
{
    return EncodeBinaryDataToUTF8String(data.data(), data.size(), text);
}

bool DecodeBinaryDataFromUTF8String(const UTF8String& text, std::vector<std::uint8_t>& data)
{
    const auto padding = CanonicalPadding(text);
    if (!padding) {
        return false;
    }
    // Padding decodes as zero digits whose bytes are then dropped, so that whole quads are read and
    // the iterators never look past the end.
    UTF8String digits = text;
    std::fill(digits.end() - static_cast<std::ptrdiff_t>(*padding), digits.end(), 'A');
    std::vector<std::uint8_t> decoded(digits.size() / 4 * 3);
    std::copy_n(DecodingIterator(digits.cbegin()), decoded.size(), decoded.begin());
    decoded.resize(decoded.size() - *padding);
    data.swap(decoded);
    return true;
}

} // namespace kelcore::proplist
