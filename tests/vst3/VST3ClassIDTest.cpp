// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/vst3/VST3ClassID.h"

#include <gtest/gtest.h>

#include <random>

namespace kelaudiofilterhost::vst3 {
namespace {

using kelcore::UTF16to8;

std::string Text(const VST3ClassID& id)
{
    return UTF16to8(FormatVST3ClassID(id));
}

// Only the first word is padded, digits are lower case, and the text parses back to the bytes.
TEST(VST3ClassID, FormatsWordsOfTheBytesAndParsesThemBack)
{
    const struct {
        VST3ClassID id;
        const char* text;
    } cases[] = {
        // GUID 00000001-0002-0003-0004-000000000005 in its in-memory (little-endian fields) layout.
        {{0x01, 0, 0, 0, 0x02, 0, 0x03, 0, 0, 0x04, 0, 0, 0, 0, 0, 0x05}, "00000001 20003 40000 5"},
        {{}, "00000000 0 0 0"},
        {{0xab, 0, 0, 0, 0x10, 0, 0, 0, 0, 0, 0, 0x01, 0, 0, 0x0f, 0}, "000000ab 100000 1 f00"},
        {{0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff},
         "ffffffff ffffffff ffffffff ffffffff"},
        {{0x78, 0x56, 0x34, 0x12, 0xcd, 0xab, 0x01, 0xef, 0xde, 0xad, 0xbe, 0xef, 0x00, 0x00, 0x0a, 0xbc},
         "12345678 abcdef01 deadbeef abc"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Text(c.id), c.text);
        EXPECT_EQ(MakeVST3ComponentID(c.id), u"3:" + kelcore::UTF8to16(c.text));
        EXPECT_EQ(ParseVST3ComponentID(u"3:" + kelcore::UTF8to16(c.text)), c.id) << c.text;
        EXPECT_EQ(ParseVST3ComponentID(kelcore::UTF8to16(c.text)), c.id) << c.text;
    }
}

// On Linux the SDK's INLINE_UID stores each word most significant byte first, so the first two
// words read back byte-swapped: the text follows the bytes, never the declaration.
TEST(VST3ClassID, TextFollowsTheTuidBytes)
{
    const Steinberg::TUID tuid = INLINE_UID(0x00000001, 0x00020003, 0x00040000, 0x00000005);
    const VST3ClassID id = ClassIDFromTUID(tuid);
    EXPECT_EQ(Text(id), "01000000 2000300 40000 5");

    Steinberg::TUID back{};
    ClassIDToTUID(id, back);
    EXPECT_TRUE(std::equal(std::begin(tuid), std::end(tuid), std::begin(back)));
}

TEST(VST3ClassID, RandomIdsRoundTrip)
{
    std::mt19937 random(20260612);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int n = 0; n < 2000; ++n) {
        VST3ClassID id{};
        for (auto& b : id) {
            // Many zero bytes, so that words with leading zeros and zero words are common.
            b = static_cast<std::uint8_t>(n % 3 == 0 && byte(random) < 160 ? 0 : byte(random));
        }
        const UTF16String componentID = MakeVST3ComponentID(id);
        ASSERT_EQ(ParseVST3ComponentID(componentID), id) << UTF16to8(componentID);
        ASSERT_EQ(ParseVST3ComponentID(FormatVST3ClassID(id)), id);
    }
}

TEST(VST3ClassID, ParsingReadsWhatItCanAndZeroesTheRest)
{
    const struct {
        const char16_t* input;
        const char* words;
    } cases[] = {
        {u"X:1 2", "00000001 2 0 0"},                            // any technology digit is dropped
        {u"3:1 zz 3 4", "00000001 0 0 0"},                       // a bad word zeroes all after it
        {u"3:12g4 5 6 7", "00000012 0 0 0"},                     // a word stops at a non-hex character
        {u"3:1 2 3 4 5 6", "00000001 2 3 4"},                    // extra words are ignored
        {u"3:ABCDEF01 DeadBeef 0 F", "abcdef01 deadbeef 0 f"},   // either case of hex digits
        {u"3:0000000000001 00002 3 004", "00000001 2 3 4"},      // leading zeros beyond eight digits
        {u"3:  1\t2\n3    4  ", "00000001 2 3 4"},               // any white space between words
        {u"3:100000000 1 2 3", "00000000 0 0 0"},                // more than 32 bits cannot be read
        {u"3:1 \u00e9 3 4", "00000001 0 0 0"},                   // non-ASCII stops the read
        {u"3:", "00000003 0 0 0"},                               // two characters: nothing is removed
        {u"12:1 2 3 4", "00000012 0 0 0"},                       // no colon in second place
        {u":1 2 3 4", "00000000 0 0 0"},
        {u"", "00000000 0 0 0"},
        {u"3:-", "00000000 0 0 0"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Text(ParseVST3ComponentID(c.input)), c.words) << UTF16to8(c.input);
    }
}

} // namespace
} // namespace kelaudiofilterhost::vst3
