// SPDX-License-Identifier: GPL-3.0-or-later
// kafh scan, ban, unban and banned over our own test plug-ins, the hostile ones included.
#include "tests/tools/JsonReader.h"
#include "tests/tools/KafhTestSupport.h"

#include <set>

namespace kafhtest {
namespace {

class KafhScan : public KafhTest {
protected:
    std::set<std::string> ListedIds() const
    {
        const auto list = Kafh({"list", "--json"});
        const auto json = ParseJson(list.out);
        EXPECT_TRUE(json.is_array()) << list.out;
        std::set<std::string> ids;
        for (const auto& filter : json.is_array() ? json : Json::array()) {
            ids.insert(filter.value("id", ""));
        }
        return ids;
    }
};

TEST_F(KafhScan, BansTheModulesThatCrashOrHangAndCataloguesTheRest)
{
    const std::string hostile = KAFH_TESTPLUGINS_VST2_HOSTILE_DIR;
    const auto scan = Kafh({"scan", "--dir", KAFH_TESTPLUGINS_VST2_DIR, "--dir", hostile, "--timeout", "5"}, 120);
    ASSERT_EQ(scan.exitCode, 0) << scan.err;
    for (const auto& line :
         std::vector<std::string>{"2 banned", "banned  " + hostile + "/KafhCrashOnLoad.so: crashed",
                                  "banned  " + hostile + "/KafhHangOnLoad.so: hung",
                                  "failed  " KAFH_TESTPLUGINS_VST2_DIR "/KafhNullEntry.so"}) {
        EXPECT_NE(scan.out.find(line), std::string::npos) << line << "\n" << scan.out;
    }
    // The hang costs the timeout once, not the default 30 s.
    EXPECT_LT(scan.seconds, 25.0);
    EXPECT_EQ(Kafh({"banned"}).out, hostile + "/KafhCrashOnLoad.so\n" + hostile + "/KafhHangOnLoad.so\n");
    const auto ids = ListedIds();
    for (const char* id : {"2:1264994158 KafhGain", "2:1264995444 KafhLatency", "2:1264993131 KafhChunk",
                           "2:1264997169 KafhShell", "2:1264997170 KafhShell", "2:1264997171 KafhShell",
                           "2:3405705229 KafhLiar", "2:1264997480 KafhThrows", "kafh.example.gain"}) {
        EXPECT_EQ(ids.count(id), 1u) << id;
    }

    // Banned modules are not collected again: a second scan does not wait for the hanging module.
    const auto again = Kafh({"scan", "--dir", KAFH_TESTPLUGINS_VST2_DIR, "--dir", hostile, "--timeout", "5"}, 60);
    EXPECT_EQ(again.exitCode, 0) << again.err;
    EXPECT_EQ(again.out.find("banned  "), std::string::npos) << again.out;
    EXPECT_LT(again.seconds, 4.0);
}

#ifdef KAFH_TESTPLUGINS_VST3_DIR
TEST_F(KafhScan, Vst3BundlesInGivenFoldersAreScannedAndTheHostileOnesBanned)
{
    const std::string hostile = KAFH_TESTPLUGINS_VST3_HOSTILE_DIR;
    // Only VST 3 is asked for: the VST 2 folder given as well contributes nothing.
    const auto scan = Kafh({"scan", "--tech", "vst3", "--dir", KAFH_TESTPLUGINS_VST3_DIR, "--dir", hostile, "--dir",
                            KAFH_TESTPLUGINS_VST2_DIR, "--timeout", "5"},
                           120);
    ASSERT_EQ(scan.exitCode, 0) << scan.err;
    for (const auto& line : std::vector<std::string>{
             "2 banned", "banned  " + hostile + "/KafhVst3CrashEntry.vst3: crashed",
             "banned  " + hostile + "/KafhVst3HangEntry.vst3: hung",
             "added   " KAFH_TESTPLUGINS_VST3_DIR "/KafhVst3Multi.vst3"}) {
        EXPECT_NE(scan.out.find(line), std::string::npos) << line << "\n" << scan.out;
    }
    EXPECT_EQ(scan.out.find(".so"), std::string::npos) << scan.out;
    EXPECT_LT(scan.seconds, 25.0);
    EXPECT_EQ(Kafh({"banned"}).out,
              hostile + "/KafhVst3CrashEntry.vst3\n" + hostile + "/KafhVst3HangEntry.vst3\n");
    const auto ids = ListedIds();
    for (const char* id : {"3:314d664b 100 0 1", "3:314d664b 200 0 1", "3:534d664b 0 0 1"}) {
        EXPECT_EQ(ids.count(id), 1u) << id;
    }
    EXPECT_EQ(ids.count("2:1264994158 KafhGain"), 0u);
    // Created by its ID in the child that shows it, like any catalogued filter.
    const auto info = Kafh({"info", "3:314d664b 100 0 1"});
    EXPECT_EQ(info.exitCode, 0) << info.err;
}
#endif

TEST_F(KafhScan, ParallelScanGivesTheCatalogueAndBannedSetOfASerialOne)
{
    std::vector<std::string> folders{"--dir", KAFH_TESTPLUGINS_VST2_DIR, "--dir", KAFH_TESTPLUGINS_VST2_HOSTILE_DIR};
#ifdef KAFH_TESTPLUGINS_VST3_DIR
    folders.insert(folders.end(), {"--dir", KAFH_TESTPLUGINS_VST3_DIR, "--dir", KAFH_TESTPLUGINS_VST3_HOSTILE_DIR});
#endif
    const auto scanWith = [&](const std::string& jobs) {
        const auto config = mFolder / ("config-j" + jobs);
        std::vector<std::string> arguments{"--config", config.string(), "scan", "-j", jobs, "--timeout", "2"};
        arguments.insert(arguments.end(), folders.begin(), folders.end());
        const auto scan = Kafh(arguments, 120, false);
        EXPECT_EQ(scan.exitCode, 0) << scan.err;
        EXPECT_NE(scan.out.find(" banned."), std::string::npos) << scan.out;
        const auto banned = Kafh({"--config", config.string(), "banned"}, 60, false);
        return std::make_pair(ReadText(config / "AudioPluginManagerSettings.xml"), banned.out);
    };
    const auto serial = scanWith("1");
    const auto parallel = scanWith("3");
    EXPECT_NE(serial.first.find("KafhGain"), std::string::npos);
    EXPECT_EQ(parallel.first, serial.first);
    EXPECT_NE(serial.second.find("KafhCrashOnLoad.so"), std::string::npos) << serial.second;
    EXPECT_EQ(parallel.second, serial.second);
}

TEST_F(KafhScan, TheScanAfterAKilledOneNamesTheModuleItWasTrying)
{
    const auto plugins = CopyPlugins(KAFH_TESTPLUGINS_VST2_HOSTILE_DIR, {"KafhHangOnLoad.so"});
    const auto hang = (plugins / "KafhHangOnLoad.so").string();
    // Killed (SIGKILL) while the module hangs.
    const auto killed = Kafh({"scan", "--dir", plugins.string(), "--timeout", "60"}, 1.5);
    EXPECT_EQ(killed.exitCode, 137) << killed.err;

    const auto again = Kafh({"scan", "--dir", plugins.string(), "--timeout", "1"});
    EXPECT_EQ(again.exitCode, 0) << again.err;
    EXPECT_NE(again.out.find("note    " + hang + ": an earlier scan was stopped"), std::string::npos) << again.out;
    EXPECT_EQ(Kafh({"banned"}).out, hang + "\n");
    EXPECT_FALSE(std::filesystem::exists(mConfig / "ScanInProgress"));
}

TEST_F(KafhScan, BanUnbanRescanAndRemovedFilesKeepTheCatalogueInStep)
{
    const auto plugins = CopyPlugins(KAFH_TESTPLUGINS_VST2_DIR, {"KafhGain.so", "KafhLatency.so"});
    const auto gain = (plugins / "KafhGain.so").string();
    ASSERT_EQ(Kafh({"scan", "--dir", plugins.string()}).exitCode, 0);

    ASSERT_EQ(Kafh({"ban", gain}).exitCode, 0);
    EXPECT_EQ(ListedIds().count("2:1264994158 KafhGain"), 0u);
    EXPECT_EQ(Kafh({"banned"}).out, gain + "\n");
    EXPECT_EQ(Kafh({"ban", "2:" + gain}).exitCode, 0) << "banning twice is not an error";
    // A banned module stays out of a full rescan.
    ASSERT_EQ(Kafh({"scan", "--rescan", "--dir", plugins.string()}).exitCode, 0);
    EXPECT_EQ(ListedIds().count("2:1264994158 KafhGain"), 0u);

    ASSERT_EQ(Kafh({"unban", gain}).exitCode, 0);
    EXPECT_EQ(Kafh({"banned"}).out, "");
    // A module whose file is gone leaves the catalogue; the unbanned one comes back.
    std::filesystem::remove(plugins / "KafhLatency.so");
    const auto scan = Kafh({"scan", "--dir", plugins.string()});
    ASSERT_EQ(scan.exitCode, 0) << scan.err;
    EXPECT_NE(scan.out.find("removed " + (plugins / "KafhLatency.so").string()), std::string::npos) << scan.out;
    const auto ids = ListedIds();
    EXPECT_EQ(ids.count("2:1264995444 KafhLatency"), 0u);
    EXPECT_EQ(ids.count("2:1264994158 KafhGain"), 1u);
}

} // namespace
} // namespace kafhtest
