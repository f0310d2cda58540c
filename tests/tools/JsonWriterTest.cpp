// SPDX-License-Identifier: GPL-3.0-or-later
// kafh's JSON writer on its own: the layout scripts and the README rely on, and valid documents from
// any text a plug-in may return.
#include "tests/tools/JsonReader.h"
#include "tools/kafh/Json.h"

#include <gtest/gtest.h>

#include <limits>
#include <sstream>

namespace kafhtest {
namespace {

TEST(JsonWriter, KeepsMemberOrderLayoutAndNumberForms)
{
    std::ostringstream out;
    {
        kafh::JsonWriter writer(out);
        writer.BeginObject().Field("z", 1).Field("a", 0.1f).Field("n", std::numeric_limits<double>::quiet_NaN());
        writer.Field("whole", 150.0).Field("tiny", 1e-7f).Field("on", true).Field("text", "x");
        writer.Key("empty").BeginArray().EndArray();
        writer.Key("none").BeginObject().EndObject();
        writer.Key("list").BeginArray().BeginObject().Field("i", -3).EndObject().Null().EndArray();
        writer.EndObject();
    }
    EXPECT_EQ(out.str(), R"({
  "z": 1,
  "a": 0.100000001,
  "n": null,
  "whole": 150,
  "tiny": 1.00000001e-07,
  "on": true,
  "text": "x",
  "empty": [],
  "none": {},
  "list": [
    {
      "i": -3
    },
    null
  ]
}
)");
}

TEST(JsonWriter, AnyTextGivesAValidDocument)
{
    const std::pair<std::string, std::string> cases[] = {
        {"Odd\r\nVendor\x1b[2J\t\"\\", "Odd\r\nVendor\x1b[2J\t\"\\"},
        {std::string("nul\0end", 7), std::string("nul\0end", 7)},
        {"caf\xC3\xA9", "caf\xC3\xA9"},
        // Ill-formed UTF-8: a lone continuation byte, a cut sequence, an overlong form.
        {"a\x80z", "a\xEF\xBF\xBDz"},
        {"cut\xE2\x82", "cut\xEF\xBF\xBD"},
        {"\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},
    };
    for (const auto& [text, expected] : cases) {
        std::ostringstream out;
        {
            kafh::JsonWriter writer(out);
            writer.BeginArray().String(text).EndArray();
        }
        const Json json = ParseJson(out.str());
        ASSERT_FALSE(json.is_discarded()) << out.str();
        EXPECT_EQ(json.at(0).get<std::string>(), expected) << out.str();
        EXPECT_EQ(out.str().find_first_of("\r\n\t\x1b", 2), out.str().size() - 3) << "raw control character";
    }
}

} // namespace
} // namespace kafhtest
