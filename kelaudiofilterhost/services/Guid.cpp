// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/services/Guid.h"

#include <tuple>

namespace kelcore {

namespace {

// "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX"
constexpr std::size_t kBareLength = 36;
constexpr std::size_t kDashPositions[] = {8, 13, 18, 23};

int HexValue(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// The hex digits of the bare form in order (32 of them), or false when the text is not that form.
bool ParseHexDigits(std::string_view text, std::array<std::uint8_t, 32>& digits)
{
    if (text.size() == kBareLength + 2 && text.front() == '{' && text.back() == '}') {
        text = text.substr(1, kBareLength);
    }
    if (text.size() != kBareLength) {
        return false;
    }
    std::size_t digit = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool dashExpected = i == kDashPositions[0] || i == kDashPositions[1] || i == kDashPositions[2]
                                  || i == kDashPositions[3];
        if (dashExpected) {
            if (text[i] != '-') {
                return false;
            }
            continue;
        }
        const int value = HexValue(text[i]);
        if (value < 0) {
            return false;
        }
        digits[digit++] = static_cast<std::uint8_t>(value);
    }
    return true;
}

std::uint64_t Combine(const std::array<std::uint8_t, 32>& digits, std::size_t first, std::size_t count)
{
    std::uint64_t value = 0;
    for (std::size_t i = first; i < first + count; ++i) {
        value = (value << 4) | digits[i];
    }
    return value;
}

void AppendHex(UTF8String& text, std::uint64_t value, int digits)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) {
        text.push_back(kDigits[(value >> shift) & 0xF]);
    }
}

} // namespace

Guid::Guid(std::string_view text)
{
    std::array<std::uint8_t, 32> digits{};
    if (!ParseHexDigits(text, digits)) {
        return;
    }
    mData1 = static_cast<std::uint32_t>(Combine(digits, 0, 8));
    mData2 = static_cast<std::uint16_t>(Combine(digits, 8, 4));
    mData3 = static_cast<std::uint16_t>(Combine(digits, 12, 4));
    for (std::size_t i = 0; i < mData4.size(); ++i) {
        mData4[i] = static_cast<std::uint8_t>(Combine(digits, 16 + 2 * i, 2));
    }
}

Guid::Guid(const UTF16String& text)
    : Guid(std::string_view(UTF16to8(text)))
{
}

Guid::Guid(std::uint32_t data1, std::uint16_t data2, std::uint16_t data3, const std::array<std::uint8_t, 8>& data4)
    : mData1(data1), mData2(data2), mData3(data3), mData4(data4)
{
}

Guid::Guid(std::uint32_t data1, std::uint16_t data2, std::uint16_t data3, std::uint8_t b0, std::uint8_t b1,
           std::uint8_t b2, std::uint8_t b3, std::uint8_t b4, std::uint8_t b5, std::uint8_t b6, std::uint8_t b7)
    : mData1(data1), mData2(data2), mData3(data3), mData4{b0, b1, b2, b3, b4, b5, b6, b7}
{
}

UTF8String Guid::AsUTF8String() const
{
    UTF8String text;
    text.reserve(kBareLength + 2);
    text.push_back('{');
    AppendHex(text, mData1, 8);
    text.push_back('-');
    AppendHex(text, mData2, 4);
    text.push_back('-');
    AppendHex(text, mData3, 4);
    text.push_back('-');
    AppendHex(text, mData4[0], 2);
    AppendHex(text, mData4[1], 2);
    text.push_back('-');
    for (std::size_t i = 2; i < mData4.size(); ++i) {
        AppendHex(text, mData4[i], 2);
    }
    text.push_back('}');
    return text;
}

UTF16String Guid::AsString() const
{
    return AsciiToUTF16(AsUTF8String());
}

bool Guid::IsValid() const
{
    return *this != Guid();
}

bool Guid::operator<(const Guid& other) const
{
    return std::tie(mData1, mData2, mData3, mData4) < std::tie(other.mData1, other.mData2, other.mData3, other.mData4);
}

} // namespace kelcore
