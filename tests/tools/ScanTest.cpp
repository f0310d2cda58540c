// SPDX-License-Identifier: GPL-3.0-or-later
// kafh scan, ban, unban and banned over our own test plug-ins, the hostile ones included.
#include "tests/tools/JsonReader.h"
#include "tests/tools/KafhTestSupport.h"

#include <set>

namespace kafhtest {
namespace {

std::set<std::string> ListedIds(const RunResult& list)
{
    std::set<std::string> ids;
    const auto json = JsonReader::Parse(list.out);
    if (!json || !json->IsArray()) {
        ADD_FAILURE() << "list --json is not a JSON array:\n" << list.out;
        return ids;
    }
    for (const auto& filter : json->AsArray()) {
        ids.insert(filter["id"].AsString());
    }
    return ids;
}

std::vector<std::string> Lines(const std::string& text)
{
    std::vector<std::string> lines;
    std::istringstream stream(text);
    for (std::string line; std::getline(stream, line);) {
        lines.push_back(line);
    }
    return lines;
}

using KafhScan = KafhTest;

TEST_F(KafhScan, BansTheModulesThatCrashOrHangAndCataloguesTheRest)
{
    const std::string hostile = KAFH_TESTPLUGINS_VST2_HOSTILE_DIR;
    const auto scan = Kafh({"scan", "--dir", KAFH_TESTPLUGINS_VST2_DIR, "--dir", hostile, "--timeout", "5"}, 120);
    ASSERT_FALSE(scan.timedOut);
    ASSERT_EQ(scan.exitCode, 0) << scan.err;
    EXPECT_NE(scan.out.find("2 banned"), std::string::npos) << scan.out;
    EXPECT_NE(scan.out.find("banned  " + hostile + "/KafhCrashOnLoad.so: crashed"), std::string::npos) << scan.out;
    EXPECT_NE(scan.out.find("banned  " + hostile + "/KafhHangOnLoad.so: hung"), std::string::npos) << scan.out;
    EXPECT_NE(scan.out.find("failed  " KAFH_TESTPLUGINS_VST2_DIR "/KafhNullEntry.so"), std::string::npos) << scan.out;
    // The hang costs the timeout once, not the default 30 s.
    EXPECT_LT(scan.seconds, 25.0);

    const auto banned = Kafh({"banned"});
    ASSERT_EQ(banned.exitCode, 0) << banned.err;
    EXPECT_EQ(Lines(banned.out),
              (std::vector<std::string>{hostile + "/KafhCrashOnLoad.so", hostile + "/KafhHangOnLoad.so"}));

    const auto ids = ListedIds(Kafh({"list", "--json"}));
    for (const char* id : {"2:1264994158 KafhGain", "2:1264995444 KafhLatency", "2:1264993131 KafhChunk",
                           "2:1264997169 KafhShell", "2:1264997170 KafhShell", "2:1264997171 KafhShell",
                           "2:3405705229 KafhLiar", "2:1264997480 KafhThrows", "kafh.example.gain"}) {
        EXPECT_EQ(ids.count(id), 1u) << id;
    }
    for (const auto& id : ids) {
        EXPECT_EQ(id.find("CrashOnLoad"), std::string::npos);
        EXPECT_EQ(id.find("NullEntry"), std::string::npos);
    }

    // Banned modules are not collected again: a second scan finds nothing new and does not wait
    // for the hanging module.
    const auto again = Kafh({"scan", "--dir", KAFH_TESTPLUGINS_VST2_DIR, "--dir", hostile, "--timeout", "5"}, 60);
    EXPECT_EQ(again.exitCode, 0) << again.err;
    EXPECT_EQ(again.out.find("banned  "), std::string::npos) << again.out;
    EXPECT_LT(again.seconds, 4.0);
}

TEST_F(KafhScan, BanUnbanAndRescanMoveAModuleBetweenCatalogueAndBannedSet)
{
    ScanTestPlugins();
    const std::string gain = std::string(KAFH_TESTPLUGINS_VST2_DIR) + "/KafhGain.so";
    ASSERT_EQ(ListedIds(Kafh({"list", "--json"})).count("2:1264994158 KafhGain"), 1u);

    const auto ban = Kafh({"ban", gain});
    ASSERT_EQ(ban.exitCode, 0) << ban.err;
    EXPECT_EQ(ListedIds(Kafh({"list", "--json"})).count("2:1264994158 KafhGain"), 0u);
    EXPECT_EQ(Lines(Kafh({"banned"}).out), std::vector<std::string>{gain});
    EXPECT_EQ(Kafh({"ban", "2:" + gain}).exitCode, 0) << "banning twice is not an error";

    // A banned module stays out of a full rescan.
    ASSERT_EQ(Kafh({"scan", "--rescan", "--dir", KAFH_TESTPLUGINS_VST2_DIR}).exitCode, 0);
    EXPECT_EQ(ListedIds(Kafh({"list", "--json"})).count("2:1264994158 KafhGain"), 0u);

    ASSERT_EQ(Kafh({"unban", gain}).exitCode, 0);
    EXPECT_TRUE(Kafh({"banned"}).out.empty());
    ASSERT_EQ(Kafh({"scan", "--dir", KAFH_TESTPLUGINS_VST2_DIR}).exitCode, 0);
    EXPECT_EQ(ListedIds(Kafh({"list", "--json"})).count("2:1264994158 KafhGain"), 1u);
}

TEST_F(KafhScan, DropsModulesWhoseFilesAreGoneAndKeepsTheOthers)
{
    const auto plugins = mFolder / "plugins";
    std::filesystem::create_directories(plugins);
    for (const char* name : {"KafhGain.so", "KafhLatency.so"}) {
        std::filesystem::copy_file(std::filesystem::path(KAFH_TESTPLUGINS_VST2_DIR) / name, plugins / name);
    }
    ASSERT_EQ(Kafh({"scan", "--dir", plugins.string()}).exitCode, 0);
    ASSERT_EQ(ListedIds(Kafh({"list", "--json"})).count("2:1264995444 KafhLatency"), 1u);

    std::filesystem::remove(plugins / "KafhLatency.so");
    const auto scan = Kafh({"scan", "--dir", plugins.string()});
    ASSERT_EQ(scan.exitCode, 0) << scan.err;
    EXPECT_NE(scan.out.find("removed " + (plugins / "KafhLatency.so").string()), std::string::npos) << scan.out;
    const auto ids = ListedIds(Kafh({"list", "--json"}));
    EXPECT_EQ(ids.count("2:1264995444 KafhLatency"), 0u);
    EXPECT_EQ(ids.count("2:1264994158 KafhGain"), 1u);
}

} // namespace
} // namespace kafhtest
