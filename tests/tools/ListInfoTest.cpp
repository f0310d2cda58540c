// SPDX-License-Identifier: GPL-3.0-or-later
// kafh list and kafh info: the JSON that scripts rely on, read back with a strict reader.
#include "tests/tools/JsonReader.h"
#include "tests/tools/KafhTestSupport.h"

namespace kafhtest {
namespace {

const JsonValue* FindById(const JsonValue& list, const std::string& id)
{
    for (const auto& filter : list.AsArray()) {
        if (filter["id"].AsString() == id) {
            return &filter;
        }
    }
    return nullptr;
}

const JsonValue* FindParameter(const JsonValue& info, const std::string& name)
{
    for (const auto& parameter : info["parameters"].AsArray()) {
        if (parameter["name"].AsString() == name) {
            return &parameter;
        }
    }
    return nullptr;
}

std::optional<JsonValue> InfoJson(const KafhTest& test, std::vector<std::string> arguments)
{
    arguments.insert(arguments.begin(), "info");
    arguments.emplace_back("--json");
    const auto result = test.Kafh(arguments);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    auto json = JsonReader::Parse(result.out);
    EXPECT_TRUE(json && json->IsObject()) << result.out;
    return json;
}

class KafhListInfo : public KafhTest {
protected:
    void SetUp() override
    {
        KafhTest::SetUp();
        ScanTestPlugins();
    }
};

TEST_F(KafhListInfo, ListJsonDescribesInternalAndPluginFilters)
{
    const auto result = Kafh({"list", "--json"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const auto list = JsonReader::Parse(result.out);
    ASSERT_TRUE(list && list->IsArray()) << result.out;
    for (const auto& filter : list->AsArray()) {
        for (const char* key : {"id", "name", "vendor", "category", "technology", "locator", "enabled", "synth"}) {
            EXPECT_TRUE(filter.Has(key)) << key;
        }
    }

    const auto* gain = FindById(*list, "2:1264994158 KafhGain");
    ASSERT_NE(gain, nullptr);
    EXPECT_EQ((*gain)["technology"].AsString(), "vst2");
    EXPECT_EQ((*gain)["vendor"].AsString(), "kelaudiofilterhost");
    EXPECT_EQ((*gain)["locator"].AsString(), std::string(KAFH_TESTPLUGINS_VST2_DIR) + "/KafhGain.so");
    EXPECT_TRUE((*gain)["enabled"].AsBool());
    EXPECT_FALSE((*gain)["synth"].AsBool());

    const auto* internal = FindById(*list, "kafh.example.delay");
    ASSERT_NE(internal, nullptr);
    EXPECT_EQ((*internal)["technology"].AsString(), "internal");
    EXPECT_EQ((*internal)["locator"].AsString(), "");

    // Texts a plug-in fills to the brim still come out as well-formed strings.
    const auto* liar = FindById(*list, "2:3405705229 KafhLiar");
    ASSERT_NE(liar, nullptr);
    EXPECT_EQ((*liar)["vendor"].AsString().find_first_not_of('B'), std::string::npos);
}

TEST_F(KafhListInfo, InfoJsonDescribesBusesParametersProgramsAndLatency)
{
    const auto gain = InfoJson(*this, {"2:1264994158 KafhGain"});
    ASSERT_TRUE(gain);
    EXPECT_EQ((*gain)["name"].AsString(), "KafhGain");
    EXPECT_EQ((*gain)["latency"].AsNumber(), 0);
    ASSERT_EQ((*gain)["inputs"].AsArray().size(), 1u);
    EXPECT_EQ((*gain)["inputs"].AsArray()[0]["channels"].AsNumber(), 2);
    EXPECT_EQ((*gain)["outputs"].AsArray()[0]["channels"].AsNumber(), 2);
    const auto* level = FindParameter(*gain, "Gain");
    ASSERT_NE(level, nullptr);
    EXPECT_EQ((*level)["index"].AsNumber(), 0);
    EXPECT_EQ((*level)["unit"].AsString(), "%");
    EXPECT_EQ((*level)["default"].AsNumber(), 100);
    EXPECT_EQ((*level)["value"].AsNumber(), 100);
    EXPECT_EQ((*level)["text"].AsString(), "100");
    EXPECT_EQ((*level)["max"].AsNumber(), 200);
    const auto* bypass = FindParameter(*gain, "Bypass");
    ASSERT_NE(bypass, nullptr);
    EXPECT_EQ((*bypass)["text"].AsString(), "Off");
    std::vector<std::string> programs;
    for (const auto& program : (*gain)["programs"].AsArray()) {
        programs.push_back(program.AsString());
    }
    EXPECT_EQ(programs, (std::vector<std::string>{"Unity", "Half", "Double"}));

    // Values given with --param show as the value, the default stays what the filter started with;
    // names are found whatever their letter case, or by index.
    for (const char* assignment : {"Gain=150", "gain=150", "0=150"}) {
        const auto changed = InfoJson(*this, {"KafhGain", "--param", assignment});
        ASSERT_TRUE(changed);
        EXPECT_EQ((*FindParameter(*changed, "Gain"))["value"].AsNumber(), 150) << assignment;
        EXPECT_EQ((*FindParameter(*changed, "Gain"))["default"].AsNumber(), 100) << assignment;
        EXPECT_EQ((*FindParameter(*changed, "Gain"))["text"].AsString(), "150") << assignment;
    }

    const auto latency = InfoJson(*this, {"KafhLatency"});
    ASSERT_TRUE(latency);
    EXPECT_EQ((*latency)["latency"].AsNumber(), 64);
    const auto longer = InfoJson(*this, {"KafhLatency", "--param", "Latency=1"});
    ASSERT_TRUE(longer);
    EXPECT_EQ((*longer)["latency"].AsNumber(), 128);

    const auto internal = InfoJson(*this, {"kafh.example.gain"});
    ASSERT_TRUE(internal);
    EXPECT_EQ((*internal)["technology"].AsString(), "internal");
    EXPECT_EQ((*internal)["parameters"].AsArray().size(), 1u);
}

TEST_F(KafhListInfo, PresetsListsTheFactoryPrograms)
{
    const auto result = Kafh({"presets", "KafhGain", "--json"});
    ASSERT_EQ(result.exitCode, 0) << result.err;
    const auto presets = JsonReader::Parse(result.out);
    ASSERT_TRUE(presets && presets->IsArray()) << result.out;
    ASSERT_EQ(presets->AsArray().size(), 3u);
    EXPECT_EQ(presets->AsArray()[1]["name"].AsString(), "Half");
    EXPECT_EQ(presets->AsArray()[1]["index"].AsNumber(), 1);
}

} // namespace
} // namespace kafhtest
