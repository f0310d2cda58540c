// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <cstdint>
#include <sstream>
#include <string>
#include <string_view>

namespace kelcore {

/// 16-bit Unicode text: every name, path and identifier at the library's interface.
using UTF16String = std::u16string;
/// UTF-8 text: property-list keys and XML.
using UTF8String = std::string;

/// Widens 7-bit text; bytes above 0x7F become U+FFFD.
UTF16String AsciiToUTF16(std::string_view ascii);
/// Ill-formed input (lone surrogates) becomes U+FFFD; never throws.
UTF8String UTF16to8(std::u16string_view text);
/// Ill-formed or truncated sequences become U+FFFD; never throws.
UTF16String UTF8to16(std::string_view text);

/// Whether the bytes are well-formed UTF-8, so that UTF8to16 keeps them exactly (file names on
/// Linux need not be; such a name cannot be given back to the file system from UTF-16).
bool IsValidUtf8(std::string_view text);

/// Equal length and characters, with only the ASCII letters A to Z compared without regard to case.
bool EqualIgnoringAsciiCase(std::u16string_view a, std::u16string_view b);

UTF16String NumberToString(std::int32_t value);
UTF16String NumberToString(std::uint32_t value);

namespace detail {
/// Classic-locale narrow stream; the 16-bit stream formats through it because the standard
/// library has no numeric facets for char16_t.
class ClassicStringStream {
public:
    ClassicStringStream() { mStream.imbue(std::locale::classic()); }
    std::ostringstream& Stream() { return mStream; }
    const std::ostringstream& Stream() const { return mStream; }

private:
    std::ostringstream mStream;
};
} // namespace detail

/// Output stream for decimal numbers, floats and text producing UTF-8; standard formatting rules.
class oUTF8StringStream : public detail::ClassicStringStream {
public:
    template <typename T> oUTF8StringStream& operator<<(const T& value)
    {
        Stream() << value;
        return *this;
    }
    oUTF8StringStream& operator<<(const UTF16String& text)
    {
        Stream() << UTF16to8(text);
        return *this;
    }
    UTF8String str() const { return Stream().str(); }
};

/// Output stream for decimal numbers, floats and text producing UTF-16; standard formatting rules
/// (a float with no format set gives six significant digits, no trailing zeros).
class oUTF16StringStream : public detail::ClassicStringStream {
public:
    template <typename T> oUTF16StringStream& operator<<(const T& value)
    {
        Stream() << value;
        return *this;
    }
    oUTF16StringStream& operator<<(const UTF16String& text)
    {
        Stream() << UTF16to8(text);
        return *this;
    }
    oUTF16StringStream& operator<<(const char16_t* text)
    {
        return *this << UTF16String(text);
    }
    UTF16String str() const { return UTF8to16(Stream().str()); }
};

/// Input stream reading decimal numbers and floats from UTF-8 text; fail() after a bad read.
class iUTF8StringStream {
public:
    explicit iUTF8StringStream(const UTF8String& text) : mStream(text) { mStream.imbue(std::locale::classic()); }
    template <typename T> iUTF8StringStream& operator>>(T& value)
    {
        mStream >> value;
        return *this;
    }
    bool fail() const { return mStream.fail(); }
    bool eof() const { return mStream.eof(); }
    explicit operator bool() const { return !mStream.fail(); }

private:
    std::istringstream mStream;
};

/// Input stream reading decimal numbers and floats from UTF-16 text.
class iUTF16StringStream : public iUTF8StringStream {
public:
    explicit iUTF16StringStream(const UTF16String& text) : iUTF8StringStream(UTF16to8(text)) {}
};

} // namespace kelcore
