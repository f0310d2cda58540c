// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/catalogue/AudioFilterDescriptorManager.h"
#include "kelaudiofilterhost/services/PropList.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace kelaudiofilterhost;
using DescriptorPtr = boost::intrusive_ptr<AudioFilterDescriptor>;

TEST(PluginLocator, ParsesItsTextFormAndOrdersByTypeFirst)
{
    const std::tuple<const char16_t*, std::int32_t, const char16_t*> cases[] = {
        {u"2:D:\\a\\b.dll", 2, u"D:\\a\\b.dll"}, // only the first colon separates
        {u"D:\\a\\b.dll", 0, u"\\a\\b.dll"},     // the drive letter is no number
        {u"no colon at all", 0, u""},
        {u" \t3x:/x.vst3", 3, u"/x.vst3"}, // leading white space skipped, characters after the number ignored
        {u"99999999999:/x", 0, u"/x"}, // out of range reads as no number
    };
    for (const auto& [text, type, path] : cases) {
        PluginLocator locator(VST3, u"/previous"), reparsed;
        locator.FromString(text);
        EXPECT_TRUE(locator.GetTechnologyType() == type && locator.GetPath() == path) << kelcore::UTF16to8(text);
        reparsed.FromString(locator.ToString());
        EXPECT_TRUE(reparsed == locator && reparsed.GetPath() == locator.GetPath()) << kelcore::UTF16to8(text);
    }
    EXPECT_TRUE(PluginLocator(VST, u"/z.so") < PluginLocator(VST3, u"/a.vst3") &&
                PluginLocator(VST, u"/a.so") != PluginLocator(VST3, u"/a.so"));
}

TEST(AudioFilterDescriptor, MissingKeysKeepFieldsExceptLocatorCategoryAndGuid)
{
    kelcore::proplist::PropList record;
    record.SetValue("name", std::int32_t(5)); // a wrong type counts as missing
    AudioFilterDescriptor descriptor({VST, u"/d.so"}, u"Kept", u"V", 1, Synth, u"2:1 d",
                                     kelcore::Guid(1, 2, 3, {4, 5, 6, 7, 8, 9, 10, 11}), false);
    descriptor.Read(record);
    EXPECT_TRUE(descriptor.GetName() == u"Kept" && descriptor.GetUniqueID() == u"2:1 d");
    EXPECT_TRUE(descriptor.GetCategory() == Uncategorized && descriptor.GetLocator() == PluginLocator() &&
                !descriptor.GetFactoryGuid().IsValid());
    record.SetValue("category", std::int32_t(99)); // a damaged file: no text, no read past the names
    EXPECT_EQ(AudioFilterDescriptor(record).GetCategoryName(), u"");
}

TEST(AudioFilterDescriptorManager, FirstDescriptorOfAnIdentifierWinsAndRecordsSpareInternalOnes)
{
    auto& manager = AudioFilterDescriptorManager::GetInstance();
    const auto plugIn = [](const UTF16String& path, const UTF16String& id) {
        return DescriptorPtr(new AudioFilterDescriptor({VST, path}, u"n", u"v", 1, Effect, id, {}, false));
    };
    const auto external = [&manager] {
        std::vector<DescriptorPtr> result;
        std::ranges::copy_if(manager.InfoBegin(), manager.InfoEnd(), std::back_inserter(result),
                             [](const DescriptorPtr& d) { return !d->IsInternal(); });
        return result;
    };
    manager.ClearExternalInfos();
    const DescriptorPtr first = plugIn(u"/a.so", u"2:1 a"), second = plugIn(u"/b.so", u"2:1 a");
    const DescriptorPtr other = plugIn(u"/c.so", u"2:2 c");
    for (const DescriptorPtr& d : {first, second, other, first}) { // first again: listed once, at the end
        manager.AddAudioFilterDescriptor(d);
    }
    EXPECT_EQ(external(), (std::vector<DescriptorPtr>{second, other, first}));
    EXPECT_EQ(manager.GetComponentDescriptorForID(u"2:1 a"), second);
    manager.ClearInfosForLocator(PluginLocator(VST, u"/x/../b.so"));
    EXPECT_EQ(manager.GetComponentDescriptorForID(u"2:1 a"), first);
    EXPECT_EQ(external(), (std::vector<DescriptorPtr>{other, first}));

    // Three announced, the middle one missing, and one record claiming an internal filter's identifier.
    manager.AddAudioFilterDescriptor(new AudioFilterDescriptor(u"Gain", 1, Effect, u"internal:gain", {}, false));
    kelcore::proplist::PropList list;
    list.SetValue("num_descriptors", std::int32_t(3));
    plugIn(u"/a.so", u"2:1 a")->Write(*list.CreateChild("descriptor0"));
    plugIn(u"/b.so", u"internal:gain")->Write(*list.CreateChild("descriptor2"));
    manager.ReadExternalComponentDescriptors(list, false); // replaces the plug-ins' descriptors
    EXPECT_TRUE(external().size() == 1 && external()[0]->GetUniqueID() == u"2:1 a");
    EXPECT_TRUE(manager.GetComponentDescriptorForID(u"internal:gain")->IsInternal());
    manager.ClearExternalInfos();
}
