// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/services/Guid.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace kelcore;

TEST(Guid, TextRoundTripsThroughItsPartsAndBadTextGivesTheInvalidGuid)
{
    const Guid guid(0x0123ABCDu, 0x4567u, 0x89EFu, 0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10);
    EXPECT_EQ(guid, Guid(0x0123ABCDu, 0x4567u, 0x89EFu, {0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10}));
    EXPECT_EQ(guid.AsUTF8String(), "{0123ABCD-4567-89EF-FEDC-BA9876543210}");
    EXPECT_EQ(guid.AsString(), u"{0123ABCD-4567-89EF-FEDC-BA9876543210}");
    EXPECT_TRUE(guid.IsValid());
    // Either case, with or without braces, from 8- and 16-bit text.
    for (const char* text : {"{0123ABCD-4567-89EF-FEDC-BA9876543210}", "0123abcd-4567-89ef-fedc-ba9876543210",
                             "{0123aBcD-4567-89Ef-FeDc-bA9876543210}"}) {
        EXPECT_EQ(Guid(std::string_view(text)), guid) << text;
        EXPECT_EQ(Guid(UTF8to16(text)), guid) << text;
    }

    // Anything else gives the invalid Guid.
    const std::string good = "{0123ABCD-4567-89EF-FEDC-BA9876543210}";
    const std::string bad[] = {
        "", "{}", "{", "not a guid", good.substr(0, good.size() - 1), good.substr(1), good + "}", "{" + good + "}",
        " " + good, "{0123ABCD-4567-89EF-FEDC-BA987654321G}", "{0123ABCD-4567-89EF-FEDC-BA98765432100}",
        "{0123ABCD-4567-89EF-FEDCBA9876543210-}", "{0123ABCD_4567-89EF-FEDC-BA9876543210}",
        "{0123ABC-D4567-89EF-FEDC-BA9876543210}", "{+123ABCD-4567-89EF-FEDC-BA9876543210}",
        "{0x23ABCD-4567-89EF-FEDC-BA9876543210}", "[0123ABCD-4567-89EF-FEDC-BA9876543210]",
        "0123ABCD456789EFFEDCBA9876543210", std::string("{0123ABCD-4567-89EF-FEDC-BA98765432\0" "0}", 38),
    };
    for (const std::string& text : bad) {
        EXPECT_EQ(Guid(std::string_view(text)), Guid()) << text;
    }
    EXPECT_FALSE(Guid().IsValid());
    EXPECT_FALSE(Guid(u"{0123ABCD-4567-89EF-FEDC-BA98765432\u00E9}").IsValid());
    EXPECT_FALSE(Guid(u"{0123ABCD-4567-89EF-FEDC-BA987654321\xD800}").IsValid());
    EXPECT_EQ(Guid().AsUTF8String(), "{00000000-0000-0000-0000-000000000000}");
}

TEST(Guid, OrdersByItsPartsInOrder)
{
    // Ascending: data1 decides before data2, before data3, before the bytes in order.
    const std::vector<Guid> ascending = {
        Guid(), Guid(0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1), Guid(0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0),
        Guid(0, 0, 1, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF), Guid(0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0),
        Guid(0, 0xFFFF, 0xFFFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF), Guid(1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0),
        Guid(0x80000000u, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0), Guid(0xFFFFFFFFu, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0),
    };
    for (std::size_t i = 0; i < ascending.size(); ++i) {
        for (std::size_t j = 0; j < ascending.size(); ++j) {
            EXPECT_EQ(ascending[i] < ascending[j], i < j) << i << " " << j;
        }
    }
}
