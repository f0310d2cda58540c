// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/catalogue/BannedPluginManager.h"

#include "kelaudiofilterhost/services/File.h"
#include "kelaudiofilterhost/services/PropList.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace kelaudiofilterhost {
namespace {

namespace fs = std::filesystem;
using kelcore::filesupport::File;

class BannedPluginManagerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        mDir = fs::temp_directory_path() / ("kafh-banned-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(mDir);
        auto& manager = BannedPluginManager::GetInstance();
        while (manager.BannedBegin() != manager.BannedEnd()) {
            manager.RemoveBannedPlugin(*manager.BannedBegin());
        }
    }
    void TearDown() override { fs::remove_all(mDir); }

    File Write(const std::string& name, const std::string& text)
    {
        std::ofstream(mDir / name) << text;
        return File(mDir / name);
    }

    std::vector<PluginLocator> Banned() const
    {
        auto& manager = BannedPluginManager::GetInstance();
        return {manager.BannedBegin(), manager.BannedEnd()};
    }

    fs::path mDir;
};

TEST_F(BannedPluginManagerTest, BannedSetRoundTripsThroughItsFile)
{
    auto& manager = BannedPluginManager::GetInstance();
    const PluginLocator a(VST, u"/usr/lib/vst/Crash.so");
    const PluginLocator b(VST3, u"/usr/lib/vst3/Hang.vst3");
    manager.AddBannedPlugin(a);
    manager.AddBannedPlugin(b);
    manager.AddBannedPlugin(PluginLocator(VST, u"/usr/lib/vst/./x/../Crash.so")); // the same file
    EXPECT_EQ(Banned().size(), 2u);
    EXPECT_TRUE(manager.IsPluginBanned(PluginLocator(VST3, u"/usr/lib/vst3/Hang.vst3")));
    EXPECT_FALSE(manager.IsPluginBanned(PluginLocator(VST3, u"/usr/lib/vst/Crash.so")));

    File file(mDir / "DynamicAudioPlugInBlacklist.xml");
    ASSERT_TRUE(manager.SaveConfiguration(file));
    kelcore::proplist::PropList saved;
    ASSERT_TRUE(kelcore::proplist::utils::LoadPropList(file.FullPath(), saved, false));
    UTF16String first;
    EXPECT_TRUE(saved.GetValue("banned_plugin_files0", first));
    EXPECT_EQ(first, a.ToString());

    manager.RemoveBannedPlugin(a);
    manager.RemoveBannedPlugin(b);
    manager.AddBannedPlugin(PluginLocator(VST, u"/other.so"));
    manager.LoadConfiguration(file);
    EXPECT_EQ(Banned(), (std::vector<PluginLocator>{a, b}));
}

TEST_F(BannedPluginManagerTest, DamagedOrForeignFilesLeaveTheSetAlone)
{
    auto& manager = BannedPluginManager::GetInstance();
    const PluginLocator kept(VST, u"/kept.so");
    struct Case {
        const char* name;
        std::string text;
        std::vector<PluginLocator> expected;
    } cases[] = {
        {"version 2", "", {kept}},
        {"malformed", "<<<not xml", {kept}},
        {"empty file", "", {kept}},
        {"version 1 with no entries", "", {}},
        {"huge count, empty strings skipped", "", {PluginLocator(VST, u"/a.so")}},
    };
    auto write = [&](const Case& c) {
        kelcore::proplist::PropList list;
        const std::string name = c.name;
        if (name == "version 2") {
            list.SetValue("version", std::uint32_t{2});
            list.SetValue("num_banned_plugin_files", 1);
            list.SetValue("banned_plugin_files0", "2:/a.so");
        } else if (name == "version 1 with no entries") {
            list.SetValue("version", std::uint32_t{1});
            list.SetValue("num_banned_plugin_files", 0);
        } else if (name.rfind("huge", 0) == 0) {
            list.SetValue("version", std::uint32_t{1});
            list.SetValue("num_banned_plugin_files", 2147483647);
            list.SetValue("banned_plugin_files0", "");
            list.SetValue("banned_plugin_files1", "2:/a.so");
        } else {
            return Write("banned.xml", c.text);
        }
        File file(mDir / "banned.xml");
        EXPECT_TRUE(kelcore::proplist::utils::SavePropList(file, list));
        return file;
    };
    for (const auto& c : cases) {
        manager.AddBannedPlugin(kept);
        File file = write(c);
        manager.LoadConfiguration(file);
        EXPECT_EQ(Banned(), c.expected) << c.name;
        for (const auto& locator : Banned()) {
            manager.RemoveBannedPlugin(locator);
        }
    }
    File missing(mDir / "missing.xml");
    manager.AddBannedPlugin(kept);
    manager.LoadConfiguration(missing);
    EXPECT_EQ(Banned(), std::vector<PluginLocator>{kept});
}

TEST_F(BannedPluginManagerTest, StaticListMatchesByNameWithOptionalIdAndVersion)
{
    auto& manager = BannedPluginManager::GetInstance();
    File list = Write("PermanentAudioPlugInBlacklist.xml", R"(<?xml version="1.0"?>
<pluginlist>
  <plugin filename="Crashy.SO"/>
  <plugin filename="Exact.so" uniqueid="1234" version="7"/>
  <plugin filename="Ärger.so"/>
  <plugin uniqueid="99"/>
  <Plugin filename="Ignored.so"/>
  <group><plugin filename="Nested.so" uniqueid="5"/></group>
  text and <!-- comments --> are ignored
</pluginlist>)");
    ASSERT_TRUE(manager.LoadStaticConfiguration(list));
    struct Case {
        UTF16String file, id, version;
        bool banned;
    } cases[] = {
        {u"crashy.so", u"1", u"1", true},        {u"CRASHY.so", u"", u"", true},
        {u"Exact.so", u"1234", u"7", true},      {u"Exact.so", u"12345", u"7", false},
        {u"Exact.so", u"1234", u"8", false},     {u"ärger.so", u"1", u"1", false}, // only A-Z fold
        {u"Ärger.so", u"1", u"1", true},         {u"Ignored.so", u"", u"", false},
        {u"Nested.so", u"5", u"0", true},        {u"", u"99", u"", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(manager.IsPluginBannedStatically(c.file, c.id, c.version), c.banned) << kelcore::UTF16to8(c.file);
    }

    File malformed = Write("bad.xml", "<pluginlist><plugin filename=\"x\"");
    File missing(mDir / "none.xml");
    EXPECT_FALSE(manager.LoadStaticConfiguration(malformed));
    EXPECT_FALSE(manager.LoadStaticConfiguration(missing));
    EXPECT_TRUE(manager.IsPluginBannedStatically(u"Exact.so", u"1234", u"7")); // the list stays
}

} // namespace
} // namespace kelaudiofilterhost
