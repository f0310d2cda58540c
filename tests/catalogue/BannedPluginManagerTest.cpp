// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/catalogue/BannedPluginManager.h"

#include "CatalogueTestSupport.h"

#include <gtest/gtest.h>

#include <optional>

namespace kelaudiofilterhost {
namespace {

using namespace kelaudiofilterhost::testing;
using kelcore::filesupport::File;

/// The banned set, emptied first when asked to.
std::vector<PluginLocator> Banned(bool clear = false)
{
    auto& manager = BannedPluginManager::GetInstance();
    std::vector<PluginLocator> banned(manager.BannedBegin(), manager.BannedEnd());
    for (std::size_t i = 0; clear && i < banned.size(); ++i) {
        manager.RemoveBannedPlugin(banned[i]);
    }
    return banned;
}

TEST(BannedPluginManager, BannedSetRoundTripsThroughItsFile)
{
    TempDir dir;
    auto& manager = BannedPluginManager::GetInstance();
    Banned(true);
    const PluginLocator a(VST, u"/usr/lib/vst/Crash.so"), b(VST3, u"/usr/lib/vst3/Hang.vst3");
    for (const PluginLocator& l : {a, b, PluginLocator(VST, u"/usr/lib/vst/./x/../Crash.so")}) { // a twice
        manager.AddBannedPlugin(l);
    }
    EXPECT_EQ(Banned().size(), 2u);
    EXPECT_TRUE(manager.IsPluginBanned(b) && !manager.IsPluginBanned(PluginLocator(VST3, u"/usr/lib/vst/Crash.so")));

    File file(dir.Path() / "DynamicAudioPlugInBlacklist.xml");
    ASSERT_TRUE(manager.SaveConfiguration(file));
    kelcore::proplist::PropList saved;
    UTF16String first;
    ASSERT_TRUE(kelcore::proplist::utils::LoadPropList(file.FullPath(), saved, false));
    EXPECT_TRUE(saved.GetValue("banned_plugin_files0", first) && first == a.ToString());

    Banned(true);
    manager.AddBannedPlugin(PluginLocator(VST, u"/other.so"));
    manager.LoadConfiguration(file);
    EXPECT_EQ(Banned(), (std::vector<PluginLocator>{a, b}));
}

TEST(BannedPluginManager, DamagedFilesLeaveTheSetAloneAndEntriesPastTheCountAreTold)
{
    const PluginLocator kept(VST, u"/kept.so"), a(VST, u"/a.so"), b(VST, u"/b.so");
    const auto file = [](const std::string& version, const std::string& count, const std::string& at0,
                         const std::string& at1, int index1 = 1) {
        return Document(Value("version", "uint32", version) + Value("num_banned_plugin_files", "int32", count) +
                        Value("banned_plugin_files0", "string", at0) +
                        Value("banned_plugin_files" + std::to_string(index1), "string", at1));
    };
    // File text (none: missing), the banned set afterwards, whether records were left unread.
    const std::tuple<std::optional<std::string>, std::vector<PluginLocator>, bool> cases[] = {
        {std::nullopt, {kept}, false},
        {"<<<not xml", {kept}, true},
        {file("2", "2", "2:/a.so", "2:/b.so"), {kept}, true},
        {file("1", "2", "2:/a.so", "2:/b.so"), {a, b}, false},
        {file("1", "1", "2:/a.so", "2:/b.so"), {a}, true},
        {file("1", "-1", "2:/a.so", "2:/b.so"), {}, true},
        // A huge count costs no more than the entries present; empty entries and gaps are skipped.
        {file("1", "2147483647", "", "2:/a.so"), {a}, false},
        {file("1", "10", "2:/a.so", "2:/b.so", 9), {a, b}, false},
    };
    for (const auto& [text, expected, incomplete] : cases) {
        TempDir dir;
        File banFile(text ? dir.Write("banned.xml", *text) : dir.Path() / "missing.xml");
        Banned(true);
        BannedPluginManager::GetInstance().AddBannedPlugin(kept);
        BannedPluginManager::GetInstance().LoadConfiguration(banFile);
        EXPECT_EQ(Banned(), expected) << text.value_or("missing");
        EXPECT_EQ(BannedPluginManager::GetInstance().WasReadIncompletely(), incomplete) << text.value_or("missing");
    }
}

TEST(BannedPluginManager, StaticListMatchesByNameWithOptionalIdAndVersion)
{
    TempDir dir;
    auto& manager = BannedPluginManager::GetInstance();
    File list(dir.Write("PermanentAudioPlugInBlacklist.xml", R"(<?xml version="1.0"?>
<pluginlist>
  <plugin filename="Crashy.SO"/>
  <plugin filename="Exact.so" uniqueid="1234" version="7"/>
  <plugin filename="Ärger.so"/>
  <plugin uniqueid="99"/>
  <Plugin filename="Ignored.so"/>
  <group><plugin filename="Nested.so" uniqueid="5"/></group>
</pluginlist>)"));
    ASSERT_TRUE(manager.LoadStaticConfiguration(list));
    const std::tuple<const char16_t*, const char16_t*, const char16_t*, bool> cases[] = {
        {u"crashy.so", u"1", u"1", true},    {u"CRASHY.so", u"", u"", true},   {u"Exact.so", u"1234", u"7", true},
        {u"Exact.so", u"12345", u"7", false}, {u"Exact.so", u"1234", u"8", false},
        {u"ärger.so", u"1", u"1", false}, // only A-Z fold
        {u"Ärger.so", u"1", u"1", true},     {u"Ignored.so", u"", u"", false}, {u"Nested.so", u"5", u"0", true},
        {u"", u"99", u"", false},
    };
    for (const auto& [file, id, version, banned] : cases) {
        EXPECT_EQ(manager.IsPluginBannedStatically(file, id, version), banned) << kelcore::UTF16to8(file);
    }

    File malformed(dir.Write("bad.xml", "<pluginlist><plugin filename=\"x\"")), missing(dir.Path() / "none.xml");
    EXPECT_FALSE(manager.LoadStaticConfiguration(malformed));
    EXPECT_FALSE(manager.LoadStaticConfiguration(missing));
    EXPECT_TRUE(manager.IsPluginBannedStatically(u"Exact.so", u"1234", u"7")); // the list stays
}

TEST(BannedPluginManager, DeeplyNestedStaticListIsRefusedWithoutCrashing)
{
    TempDir dir;
    auto& manager = BannedPluginManager::GetInstance();
    const auto nested = [](int depth, const std::string& inner) {
        std::string text;
        for (int i = 0; i < depth; ++i) {
            text += "<g>";
        }
        text += inner;
        for (int i = 0; i < depth; ++i) {
            text += "</g>";
        }
        return "<pluginlist>" + text + "</pluginlist>";
    };
    File usual(dir.Write("usual.xml", nested(100, "<plugin filename=\"Deep.so\"/>")));
    ASSERT_TRUE(manager.LoadStaticConfiguration(usual));
    EXPECT_TRUE(manager.IsPluginBannedStatically(u"Deep.so", u"", u""));

    // 40,000 levels (280 KB) used to exhaust the reader's stack.
    File hostile(dir.Write("hostile.xml", nested(40000, "<plugin filename=\"Hostile.so\"/>")));
    EXPECT_FALSE(manager.LoadStaticConfiguration(hostile));
    EXPECT_TRUE(manager.IsPluginBannedStatically(u"Deep.so", u"", u"")); // the list stays
    EXPECT_FALSE(manager.IsPluginBannedStatically(u"Hostile.so", u"", u""));
}

} // namespace
} // namespace kelaudiofilterhost
