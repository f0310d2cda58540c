// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/services/Strings.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace kelcore {
namespace {

TEST(Strings, ConversionsRoundTripWellFormedText)
{
    const UTF16String samples[] = {u"", u"plain", u"Grüße", u"日本語", u"\U0001F3B8 guitar", u"a\0b"};
    for (const auto& text : samples) {
        EXPECT_EQ(UTF8to16(UTF16to8(text)), text);
    }
    EXPECT_EQ(UTF16to8(u"\U0001F3B8"), "\xF0\x9F\x8E\xB8");
}

TEST(Strings, IllFormedInputBecomesReplacementCharacters)
{
    struct Case {
        std::string utf8;
        UTF16String expected;
    } cases[] = {
        {"\xFF", u"\uFFFD"},
        {"a\xC3", u"a\uFFFD"},             // truncated two-byte sequence
        {"\xE2\x82", u"\uFFFD\uFFFD"},     // truncated three-byte sequence
        {"\xC0\xAF", u"\uFFFD\uFFFD"},     // overlong encoding
        {"\xED\xA0\x80x", u"\uFFFD\uFFFD\uFFFDx"}, // encoded surrogate
        {"ok\x80ok", u"ok\uFFFDok"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(UTF8to16(c.utf8), c.expected) << c.utf8;
    }
    const char16_t loneHigh[] = {u'a', 0xD800, u'b', 0};
    const char16_t loneLow[] = {0xDC00, 0};
    EXPECT_EQ(UTF16to8(loneHigh), "a\xEF\xBF\xBD" "b");
    EXPECT_EQ(UTF16to8(loneLow), "\xEF\xBF\xBD");
    EXPECT_EQ(AsciiToUTF16("ab\xE9"), u"ab\uFFFD");
}

TEST(Strings, NumbersAndStreamsUseClassicFormatting)
{
    EXPECT_EQ(NumberToString(std::int32_t{-2147483647 - 1}), u"-2147483648");
    EXPECT_EQ(NumberToString(std::uint32_t{4294967295u}), u"4294967295");
    EXPECT_EQ(NumberToString(std::int32_t{0}), u"0");

    oUTF16StringStream wide;
    wide << 0.5f << u" " << 1.0f << u" " << 0.1234567f << u" " << 42 << u" " << 1e10f;
    EXPECT_EQ(wide.str(), u"0.5 1 0.123457 42 1e+10");

    oUTF8StringStream narrow;
    narrow << "x=" << -3 << ' ' << UTF16String(u"ü");
    EXPECT_EQ(narrow.str(), "x=-3 \xC3\xBC");

    iUTF16StringStream input(u"12 -0.25 junk");
    int i = 0;
    float f = 0;
    int bad = 7;
    input >> i >> f;
    EXPECT_FALSE(input.fail());
    EXPECT_EQ(i, 12);
    EXPECT_EQ(f, -0.25f);
    input >> bad;
    EXPECT_TRUE(input.fail());
}

} // namespace
} // namespace kelcore
