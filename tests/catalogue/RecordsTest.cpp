// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/catalogue/AudioFilterDescriptor.h"
#include "kelaudiofilterhost/catalogue/PluginLocator.h"
#include "kelaudiofilterhost/catalogue/PluginModuleInfo.h"
#include "kelaudiofilterhost/services/Config.h"
#include "kelaudiofilterhost/services/File.h"
#include "kelaudiofilterhost/services/PropList.h"

#include <boost/intrusive_ptr.hpp>
#include <gtest/gtest.h>

using namespace kelaudiofilterhost;
using kelcore::proplist::PropList;

TEST(PluginLocator, ParsesAndPrintsItsTextForm)
{
    struct Case {
        const char16_t* text;
        std::int32_t type;
        const char16_t* path;
    };
    const Case cases[] = {
        {u"2:/usr/lib/vst/Reverb.so", 2, u"/usr/lib/vst/Reverb.so"},
        {u"2:D:\\a\\b.dll", 2, u"D:\\a\\b.dll"},    // only the first colon separates
        {u"D:\\a\\b.dll", 0, u"\\a\\b.dll"},        // the drive letter is no number
        {u"no colon at all", 0, u""},
        {u":/x.so", 0, u"/x.so"},
        {u" \t3:/x.vst3", 3, u"/x.vst3"},             // leading white space skipped
        {u"3x:/x.vst3", 3, u"/x.vst3"},              // characters after the number ignored
        {u"-2:/x", -2, u"/x"},
        {u"99999999999:/x", 0, u"/x"},               // out of range reads as no number
        {u"", 0, u""},
    };
    for (const Case& c : cases) {
        PluginLocator locator(VST3, u"/previous");
        locator.FromString(c.text);
        EXPECT_EQ(locator.GetTechnologyType(), c.type) << kelcore::UTF16to8(c.text);
        EXPECT_EQ(locator.GetPath(), c.path) << kelcore::UTF16to8(c.text);
        PluginLocator reparsed;
        reparsed.FromString(locator.ToString());
        EXPECT_TRUE(reparsed == locator && reparsed.GetPath() == locator.GetPath()) << kelcore::UTF16to8(c.text);
    }
    EXPECT_EQ(PluginLocator(VST, u"/a:b/c.so").ToString(), u"2:/a:b/c.so");
}

TEST(PluginLocator, OrdersAndComparesLikeFileNames)
{
    const UTF16String cwd = kelcore::filesupport::FromPath(std::filesystem::current_path());
    const UTF16String paths[] = {
        u"/a/b.so", u"/a/./b.so", u"/a/x/../b.so", u"/a//b.so", u"/a/b.so/", u"/a-b.so", u"/a/b.so2",
        u"/a/B.so", u"b.so", cwd + u"/b.so", u"", u"/", u"/\U0001F600.so", u"/\uE000.so",
        UTF16String(u"/bad") + char16_t(0xD800) + u".so", u"/bad\uFFFD.so",
    };
    for (const UTF16String& a : paths) {
        for (const UTF16String& b : paths) {
            const int expected = kelcore::filesupport::CompareFileNames(a, b);
            const PluginLocator la(VST, a);
            const PluginLocator lb(VST, b);
            EXPECT_EQ(la < lb, expected < 0) << kelcore::UTF16to8(a) << " vs " << kelcore::UTF16to8(b);
            EXPECT_EQ(la == lb, expected == 0) << kelcore::UTF16to8(a) << " vs " << kelcore::UTF16to8(b);
        }
    }
    EXPECT_TRUE(PluginLocator(VST, u"/z.so") < PluginLocator(VST3, u"/a.vst3"));
    EXPECT_TRUE(PluginLocator(VST, u"/a.so") != PluginLocator(VST3, u"/a.so"));
}

TEST(CatalogueRecords, ReadingWhatWasWrittenGivesTheSameRecord)
{
    const kelcore::Guid guid(0x12345678, 0x9abc, 0xdef0, {1, 2, 3, 4, 5, 6, 7, 8});
    AudioFilterDescriptor descriptor(PluginLocator(VST3, u"/p/Eq.vst3"), u"Eq", u"V", 3, Vst3EQ, u"3:ABC", guid, true);
    descriptor.SetEnabled(false);
    PropList info, infoAgain, record, recordAgain;
    PluginModuleInfo(PluginLocator(VST, u"/p/Gain.so"), u"Gain", u"Vendor", 7, VST, false, true).Write(info);
    descriptor.Write(record);
    PluginModuleInfo(info).Write(infoAgain);
    AudioFilterDescriptor(record).Write(recordAgain);
    EXPECT_EQ(info.GetSize(), 7u);
    EXPECT_EQ(record.GetSize(), 9u);
    EXPECT_EQ(infoAgain, info);
    EXPECT_EQ(recordAgain, record);
}

TEST(CatalogueRecords, MissingKeysKeepOrResetFields)
{
    PropList info;
    PluginModuleInfo(PluginLocator(VST, u"/p/Gain.so"), u"Gain", u"V", 7, VST, true, false).Write(info);
    info.RemoveValue("enabled");
    info.RemoveValue("type");
    info.SetValue("name", std::int32_t(5)); // a wrong type counts as missing
    PluginModuleInfo reread(PluginLocator(VST3, u"/q"), u"Kept", u"", 0, VST3, true, false);
    reread.Read(info);
    EXPECT_EQ(reread.GetName(), u"Kept");
    EXPECT_EQ(reread.GetType(), NoTechnology);
    EXPECT_TRUE(reread.IsEnabled());
    EXPECT_FALSE(PluginModuleInfo(info).IsEnabled());

    const kelcore::Guid guid(1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11});
    PropList record;
    AudioFilterDescriptor(PluginLocator(VST, u"/d.so"), u"D", u"V", 1, Effect, u"2:1 d", guid, false).Write(record);
    for (const char* key : {"category", "name", "locator", "factory_guid"}) {
        record.RemoveValue(key);
    }
    AudioFilterDescriptor descriptor(u"Internal name", 1, Synth, u"int:1", guid, false);
    EXPECT_TRUE(descriptor.IsInternal());
    descriptor.Read(record);
    EXPECT_EQ(descriptor.GetCategory(), Uncategorized);
    EXPECT_EQ(descriptor.GetName(), u"Internal name");
    EXPECT_TRUE(descriptor.GetLocator() == PluginLocator() && !descriptor.IsInternal());
    EXPECT_FALSE(descriptor.GetFactoryGuid().IsValid());
}

TEST(AudioFilterDescriptor, CategoryNamesComeFromTheLocalizer)
{
    kelcore::config::Localizer::Get().SetText("$$$/kelaudiofilterhost/componentdescriptor/category/Vst3Tools",
                                              u"Werkzeuge");
    const std::pair<std::int32_t, const char16_t*> cases[] = {
        {Uncategorized, u""}, {Effect, u"Effect"},      {OfflineProcess, u"Offline"}, {Generator, u"Generator"},
        {Vst3PitchShift, u"Pitch Shift"}, {Vst3Tools, u"Werkzeuge"}, {ApplicationPlugIn, u""}, {28, u""}, {-1, u""},
    };
    for (const auto& [category, name] : cases) {
        const AudioFilterDescriptor d(u"n", 0, static_cast<ComponentCategory>(category), u"id", kelcore::Guid(), false);
        EXPECT_EQ(d.GetCategoryName(), name) << category;
    }
}
