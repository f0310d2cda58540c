// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/services/PropList.h"

#include <boost/beast/core/detail/base64.hpp>

namespace kelcore::proplist {

namespace {

namespace base64 = boost::beast::detail::base64;

// The decoder stops quietly at the first foreign character, so the text is checked first:
// whole quads of the standard alphabet, at most two '=' at the very end, and no stray bits
// under the padding (a text decodes only when encoding the result gives it back).
bool IsCanonicalBase64(const UTF8String& text)
{
    if (text.size() % 4 != 0) {
        return false;
    }
    const signed char* inverse = base64::get_inverse();
    std::size_t padding = 0;
    if (!text.empty() && text.back() == '=') {
        padding = text[text.size() - 2] == '=' ? 2 : 1;
    }
    const std::size_t digits = text.size() - padding;
    for (std::size_t n = 0; n < digits; ++n) {
        if (inverse[static_cast<unsigned char>(text[n])] < 0) {
            return false;
        }
    }
    if (padding != 0) {
        const int last = inverse[static_cast<unsigned char>(text[digits - 1])];
        const int unusedBits = padding == 1 ? 0x03 : 0x0F;
        if ((last & unusedBits) != 0) {
            return false;
        }
    }
    return true;
}

} // namespace

bool EncodeBinaryDataToUTF8String(const void* data, std::size_t size, UTF8String& text)
{
    if (!data && size != 0) {
        return false;
    }
    UTF8String encoded(base64::encoded_size(size), '\0');
    if (size != 0) {
        encoded.resize(base64::encode(encoded.data(), data, size));
    }
    text.swap(encoded);
    return true;
}

bool EncodeBinaryDataToUTF8String(const std::vector<std::uint8_t>& data, UTF8String& text)
{
    return EncodeBinaryDataToUTF8String(data.data(), data.size(), text);
}

bool DecodeBinaryDataFromUTF8String(const UTF8String& text, std::vector<std::uint8_t>& data)
{
    if (!IsCanonicalBase64(text)) {
        return false;
    }
    std::vector<std::uint8_t> decoded(base64::decoded_size(text.size()));
    decoded.resize(base64::decode(decoded.data(), text.data(), text.size()).first);
    data.swap(decoded);
    return true;
}

} // namespace kelcore::proplist
