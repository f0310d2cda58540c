// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/services/Strings.h"

#include <array>
#include <cstdint>
#include <string_view>

namespace kelcore {

/// A 128-bit identifier with the usual text form "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}".
/// A default-constructed Guid, or one made from text that is not a GUID, is invalid (all zero).
class Guid {
public:
    Guid() = default;
    /// Accepts the text with or without braces, either letter case; anything else gives an invalid Guid.
    explicit Guid(std::string_view text);
    explicit Guid(const UTF16String& text);
    Guid(std::uint32_t data1, std::uint16_t data2, std::uint16_t data3, const std::array<std::uint8_t, 8>& data4);
    Guid(std::uint32_t data1, std::uint16_t data2, std::uint16_t data3, std::uint8_t b0, std::uint8_t b1,
         std::uint8_t b2, std::uint8_t b3, std::uint8_t b4, std::uint8_t b5, std::uint8_t b6, std::uint8_t b7);

    /// Upper-case text with braces; the invalid Guid gives the all-zero text.
    UTF16String AsString() const;
    UTF8String AsUTF8String() const;
    /// False for the all-zero Guid.
    bool IsValid() const;

    std::uint32_t GetData1() const { return mData1; }
    std::uint16_t GetData2() const { return mData2; }
    std::uint16_t GetData3() const { return mData3; }
    const std::array<std::uint8_t, 8>& GetData4() const { return mData4; }

    bool operator==(const Guid&) const = default;
    /// Orders by the parts in order: data1, data2, data3, then the eight bytes.
    bool operator<(const Guid& other) const;

private:
    std::uint32_t mData1 = 0;
    std::uint16_t mData2 = 0;
    std::uint16_t mData3 = 0;
    std::array<std::uint8_t, 8> mData4{};
};

} // namespace kelcore
