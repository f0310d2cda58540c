// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/services/Strings.h"

#include <gtest/gtest.h>

using namespace kelcore;

TEST(Strings, ConversionsRoundTripWellFormedText)
{
    for (const UTF16String& text : {UTF16String(u""), UTF16String(u"Grüße"), UTF16String(u"日本語"),
                                    UTF16String(u"\U0001F3B8 guitar"), UTF16String(u"a\0b", 3)}) {
        EXPECT_EQ(UTF8to16(UTF16to8(text)), text);
    }
    EXPECT_EQ(UTF16to8(u"\U0001F3B8"), "\xF0\x9F\x8E\xB8");
}

TEST(Strings, IllFormedInputBecomesReplacementCharacters)
{
    // A stray byte, truncated two- and three-byte sequences, an overlong encoding, an encoded surrogate.
    const std::pair<std::string, UTF16String> cases[] = {
        {"\xFF", u"\uFFFD"},          {"a\xC3", u"a\uFFFD"},       {"\xE2\x82", u"\uFFFD\uFFFD"},
        {"\xC0\xAF", u"\uFFFD\uFFFD"}, {"\xED\xA0\x80x", u"\uFFFD\uFFFD\uFFFDx"}, {"ok\x80ok", u"ok\uFFFDok"},
    };
    for (const auto& [utf8, expected] : cases) {
        EXPECT_EQ(UTF8to16(utf8), expected) << utf8;
        EXPECT_FALSE(IsValidUtf8(utf8)) << utf8;
    }
    for (const std::string utf8 : {"", "plain", "Gr\xC3\xBC\xC3\x9F" "e", "\xEF\xBF\xBD", "\xF0\x9F\x8E\xB8"}) {
        EXPECT_TRUE(IsValidUtf8(utf8)) << utf8;
    }
    EXPECT_EQ(UTF16to8(UTF16String{u'a', 0xD800, u'b'}), "a\xEF\xBF\xBD" "b"); // lone surrogates
    EXPECT_EQ(UTF16to8(UTF16String{0xDC00}), "\xEF\xBF\xBD");
    EXPECT_EQ(AsciiToUTF16("ab\xE9"), u"ab\uFFFD");
}

TEST(Strings, NumbersAndStreamsUseClassicFormatting)
{
    EXPECT_EQ(NumberToString(std::int32_t{-2147483647 - 1}), u"-2147483648");
    EXPECT_EQ(NumberToString(std::uint32_t{4294967295u}), u"4294967295");
    oUTF16StringStream wide;
    wide << 0.5f << u" " << 1.0f << u" " << 0.1234567f << u" " << 42 << u" " << 1e10f;
    EXPECT_EQ(wide.str(), u"0.5 1 0.123457 42 1e+10");
    oUTF8StringStream narrow;
    narrow << "x=" << -3 << ' ' << UTF16String(u"ü");
    EXPECT_EQ(narrow.str(), "x=-3 \xC3\xBC");
}
