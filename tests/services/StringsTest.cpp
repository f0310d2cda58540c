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
