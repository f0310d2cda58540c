// SPDX-License-Identifier: GPL-3.0-or-later
// kafh list and kafh info: the JSON that scripts rely on, read back with a strict reader.
#include "tests/tools/JsonReader.h"
#include "tests/tools/KafhTestSupport.h"

namespace kafhtest {
namespace {

/// The element of ARRAY whose KEY is VALUE, or an empty object.
const Json& Find(const Json& array, const std::string& key, const std::string& value)
{
    static const Json none = Json::object();
    const auto found = std::find_if(array.begin(), array.end(),
                                    [&](const Json& e) { return e.is_object() && e.value(key, "") == value; });
    EXPECT_TRUE(found != array.end()) << key << " " << value << " not found";
    return found != array.end() ? *found : none;
}

class KafhListInfo : public KafhScannedTest {
protected:
    /// kafh ARGUMENTS --json, which must succeed with a well-formed document.
    Json KafhJson(std::vector<std::string> arguments) const
    {
        arguments.emplace_back("--json");
        const auto result = Kafh(arguments);
        EXPECT_EQ(result.exitCode, 0) << result.err;
        const auto json = ParseJson(result.out);
        EXPECT_FALSE(json.is_discarded()) << result.out;
        return json.is_discarded() ? Json::array() : json;
    }
};

TEST_F(KafhListInfo, ListJsonDescribesInternalAndPluginFilters)
{
    const auto list = KafhJson({"list"});
    ASSERT_TRUE(list.is_array());
    for (const auto& filter : list) {
        for (const char* key : {"id", "name", "vendor", "category", "technology", "locator", "enabled", "synth"}) {
            EXPECT_TRUE(filter.contains(key)) << key;
        }
    }
    const auto& gain = Find(list, "id", "2:1264994158 KafhGain");
    EXPECT_EQ(gain.at("technology"), "vst2");
    EXPECT_EQ(gain.at("locator"), std::string(KAFH_TESTPLUGINS_VST2_DIR) + "/KafhGain.so");
    EXPECT_EQ(gain.at("enabled"), true);
    EXPECT_EQ(gain.at("synth"), false);
    const auto& internal = Find(list, "id", "kafh.example.delay");
    EXPECT_EQ(internal.at("technology"), "internal");
    EXPECT_EQ(internal.at("locator"), "");
    // Texts a plug-in fills to the brim still come out as well-formed strings.
    const auto liarVendor = Find(list, "id", "2:3405705229 KafhLiar").at("vendor").get<std::string>();
    EXPECT_EQ(liarVendor.find_first_not_of('B'), std::string::npos);
}

TEST_F(KafhListInfo, InfoJsonDescribesBusesParametersProgramsAndLatency)
{
    const auto gain = KafhJson({"info", "2:1264994158 KafhGain"});
    EXPECT_EQ(gain.at("name"), "KafhGain");
    ASSERT_EQ(gain.at("inputs").size(), 1u);
    EXPECT_EQ(gain.at("inputs").at(0).at("channels"), 2);
    EXPECT_EQ(gain.at("outputs").at(0).at("channels"), 2);
    const auto& level = Find(gain.at("parameters"), "name", "Gain");
    EXPECT_EQ(level.at("index"), 0);
    EXPECT_EQ(level.at("unit"), "%");
    EXPECT_EQ(level.at("max"), 200);
    ASSERT_EQ(gain.at("programs").size(), 3u);
    EXPECT_EQ(gain.at("programs").at(2), "Double");

    // Values given with --param show as the value, the default stays what the filter started with;
    // names are found whatever their letter case, or by index.
    for (const char* assignment : {"Gain=150", "gain=150", "0=150"}) {
        const auto info = KafhJson({"info", "KafhGain", "--param", assignment});
        const auto& changed = Find(info.at("parameters"), "name", "Gain");
        EXPECT_EQ(changed.at("value"), 150) << assignment;
        EXPECT_EQ(changed.at("default"), 100) << assignment;
        EXPECT_EQ(changed.at("text"), "150") << assignment;
    }

    EXPECT_EQ(KafhJson({"info", "KafhLatency"}).at("latency"), 64);
    EXPECT_EQ(KafhJson({"info", "KafhLatency", "--param", "Latency=1"}).at("latency"), 128);
    const auto internal = KafhJson({"info", "kafh.example.gain"});
    EXPECT_EQ(internal.at("technology"), "internal");
    EXPECT_EQ(internal.at("parameters").size(), 1u);

    const auto presets = KafhJson({"presets", "KafhGain"});
    ASSERT_EQ(presets.size(), 3u);
    EXPECT_EQ(presets.at(1).at("name"), "Half");
    EXPECT_EQ(presets.at(1).at("index"), 1);
}

TEST_F(KafhListInfo, ControlCharactersAreEscapedAndLongListsCappedOnTheTerminal)
{
    // KafhOddText's vendor holds CR, LF and an escape sequence; it claims a million programs.
    const std::string vendor = "Odd\r\nVendor\x1b[2J";
    EXPECT_EQ(Find(KafhJson({"list"}), "name", "KafhOddText").at("vendor"), vendor);
    RunResult info;
    for (const auto& arguments : std::vector<std::vector<std::string>>{{"list"}, {"info", "KafhOddText"}}) {
        SCOPED_TRACE(arguments.front());
        info = Kafh(arguments);
        ASSERT_EQ(info.exitCode, 0) << info.err;
        EXPECT_EQ(info.out.find_first_of("\r\t\x1b"), std::string::npos);
        EXPECT_NE(info.out.find("Odd\\r\\nVendor\\x1b[2J"), std::string::npos) << info.out.substr(0, 2000);
    }
    EXPECT_LT(std::count(info.out.begin(), info.out.end(), '\n'), 200);
    EXPECT_NE(info.out.find("programs    1000000\n"), std::string::npos);
    EXPECT_NE(info.out.find("  99  P\\t99\n  ... and 999900 more\n"), std::string::npos);
}

} // namespace
} // namespace kafhtest
