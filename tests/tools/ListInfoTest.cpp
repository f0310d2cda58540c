// SPDX-License-Identifier: GPL-3.0-or-later
// kafh list and kafh info: the JSON that scripts rely on, read back with a strict reader.
#include "tests/tools/JsonReader.h"
#include "tests/tools/KafhTestSupport.h"

namespace kafhtest {
namespace {

/// The element of ARRAY whose KEY is VALUE, or null.
const JsonValue& Find(const JsonValue& array, const std::string& key, const std::string& value)
{
    static const JsonValue null;
    const auto& elements = array.AsArray();
    const auto found =
        std::find_if(elements.begin(), elements.end(), [&](const auto& e) { return e[key].AsString() == value; });
    EXPECT_TRUE(found != elements.end()) << key << " " << value << " not found";
    return found != elements.end() ? *found : null;
}

class KafhListInfo : public KafhScannedTest {
protected:
    /// kafh ARGUMENTS --json, which must succeed with a well-formed document.
    JsonValue Json(std::vector<std::string> arguments) const
    {
        arguments.emplace_back("--json");
        const auto result = Kafh(arguments);
        EXPECT_EQ(result.exitCode, 0) << result.err;
        const auto json = JsonReader::Parse(result.out);
        EXPECT_TRUE(json) << result.out;
        return json.value_or(JsonValue{JsonValue::Array{}});
    }
};

TEST_F(KafhListInfo, ListJsonDescribesInternalAndPluginFilters)
{
    const auto list = Json({"list"});
    ASSERT_TRUE(list.IsArray());
    for (const auto& filter : list.AsArray()) {
        for (const char* key : {"id", "name", "vendor", "category", "technology", "locator", "enabled", "synth"}) {
            EXPECT_TRUE(filter.Has(key)) << key;
        }
    }
    const auto& gain = Find(list, "id", "2:1264994158 KafhGain");
    EXPECT_EQ(gain["technology"].AsString(), "vst2");
    EXPECT_EQ(gain["locator"].AsString(), std::string(KAFH_TESTPLUGINS_VST2_DIR) + "/KafhGain.so");
    EXPECT_TRUE(gain["enabled"].AsBool());
    EXPECT_FALSE(gain["synth"].AsBool());
    const auto& internal = Find(list, "id", "kafh.example.delay");
    EXPECT_EQ(internal["technology"].AsString(), "internal");
    EXPECT_EQ(internal["locator"].AsString(), "");
    // Texts a plug-in fills to the brim still come out as well-formed strings.
    EXPECT_EQ(Find(list, "id", "2:3405705229 KafhLiar")["vendor"].AsString().find_first_not_of('B'), std::string::npos);
}

TEST_F(KafhListInfo, InfoJsonDescribesBusesParametersProgramsAndLatency)
{
    const auto gain = Json({"info", "2:1264994158 KafhGain"});
    EXPECT_EQ(gain["name"].AsString(), "KafhGain");
    ASSERT_EQ(gain["inputs"].AsArray().size(), 1u);
    EXPECT_EQ(gain["inputs"].AsArray()[0]["channels"].AsNumber(), 2);
    EXPECT_EQ(gain["outputs"].AsArray()[0]["channels"].AsNumber(), 2);
    const auto& level = Find(gain["parameters"], "name", "Gain");
    EXPECT_EQ(level["index"].AsNumber(), 0);
    EXPECT_EQ(level["unit"].AsString(), "%");
    EXPECT_EQ(level["max"].AsNumber(), 200);
    ASSERT_EQ(gain["programs"].AsArray().size(), 3u);
    EXPECT_EQ(gain["programs"].AsArray()[2].AsString(), "Double");

    // Values given with --param show as the value, the default stays what the filter started with;
    // names are found whatever their letter case, or by index.
    for (const char* assignment : {"Gain=150", "gain=150", "0=150"}) {
        const auto changed = Find(Json({"info", "KafhGain", "--param", assignment})["parameters"], "name", "Gain");
        EXPECT_EQ(changed["value"].AsNumber(), 150) << assignment;
        EXPECT_EQ(changed["default"].AsNumber(), 100) << assignment;
        EXPECT_EQ(changed["text"].AsString(), "150") << assignment;
    }

    EXPECT_EQ(Json({"info", "KafhLatency"})["latency"].AsNumber(), 64);
    EXPECT_EQ(Json({"info", "KafhLatency", "--param", "Latency=1"})["latency"].AsNumber(), 128);
    const auto internal = Json({"info", "kafh.example.gain"});
    EXPECT_EQ(internal["technology"].AsString(), "internal");
    EXPECT_EQ(internal["parameters"].AsArray().size(), 1u);

    const auto presets = Json({"presets", "KafhGain"});
    ASSERT_EQ(presets.AsArray().size(), 3u);
    EXPECT_EQ(presets.AsArray()[1]["name"].AsString(), "Half");
    EXPECT_EQ(presets.AsArray()[1]["index"].AsNumber(), 1);
}

TEST_F(KafhListInfo, ControlCharactersAreEscapedAndLongListsCappedOnTheTerminal)
{
    // KafhOddText's vendor holds CR, LF and an escape sequence; it claims a million programs.
    const std::string vendor = "Odd\r\nVendor\x1b[2J";
    EXPECT_EQ(Find(Json({"list"}), "name", "KafhOddText")["vendor"].AsString(), vendor);
    for (const auto& arguments : std::vector<std::vector<std::string>>{{"list"}, {"info", "KafhOddText"}}) {
        SCOPED_TRACE(arguments.front());
        const auto result = Kafh(arguments);
        ASSERT_EQ(result.exitCode, 0) << result.err;
        EXPECT_EQ(result.out.find_first_of("\r\t\x1b"), std::string::npos);
        EXPECT_NE(result.out.find("Odd\\r\\nVendor\\x1b[2J"), std::string::npos) << result.out.substr(0, 2000);
    }
    const auto info = Kafh({"info", "KafhOddText"});
    EXPECT_LT(std::count(info.out.begin(), info.out.end(), '\n'), 200);
    EXPECT_NE(info.out.find("programs    1000000\n"), std::string::npos);
    EXPECT_NE(info.out.find("  99  P\\t99\n  ... and 999900 more\n"), std::string::npos);
}

} // namespace
} // namespace kafhtest
