// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/catalogue/AudioFilterDescriptorManager.h"
#include "kelaudiofilterhost/services/PropList.h"

#include <gtest/gtest.h>

using namespace kelaudiofilterhost;
using kelcore::proplist::PropList;
using DescriptorPtr = boost::intrusive_ptr<AudioFilterDescriptor>;

namespace {

DescriptorPtr PlugIn(const UTF16String& path, const UTF16String& id)
{
    return new AudioFilterDescriptor(PluginLocator(VST, path), u"n", u"v", 1, Effect, id, kelcore::Guid(), false);
}

std::vector<DescriptorPtr> External()
{
    const auto& manager = AudioFilterDescriptorManager::GetInstance();
    std::vector<DescriptorPtr> result;
    std::copy_if(manager.InfoBegin(), manager.InfoEnd(), std::back_inserter(result),
                 [](const DescriptorPtr& d) { return !d->IsInternal(); });
    return result;
}

} // namespace

TEST(AudioFilterDescriptorManager, FirstDescriptorOfAnIdentifierWinsUntilRemoved)
{
    auto& manager = AudioFilterDescriptorManager::GetInstance();
    manager.ClearExternalInfos();
    const DescriptorPtr first = PlugIn(u"/a.so", u"2:1 a");
    const DescriptorPtr second = PlugIn(u"/b.so", u"2:1 a");
    const DescriptorPtr other = PlugIn(u"/c.so", u"2:2 c");
    manager.AddAudioFilterDescriptor(first);
    manager.AddAudioFilterDescriptor(second);
    manager.AddAudioFilterDescriptor(other);
    manager.AddAudioFilterDescriptor(first); // the same object again: listed once, at the end
    EXPECT_EQ(External(), (std::vector<DescriptorPtr>{second, other, first}));
    EXPECT_EQ(manager.GetComponentDescriptorForID(u"2:1 a"), second);
    EXPECT_EQ(manager.GetComponentDescriptorForID(u"2:1 A"), nullptr);

    manager.ClearInfosForLocator(PluginLocator(VST, u"/x/../b.so"));
    EXPECT_EQ(manager.GetComponentDescriptorForID(u"2:1 a"), first);
    EXPECT_EQ(External(), (std::vector<DescriptorPtr>{other, first}));
    manager.ClearExternalInfos();
    EXPECT_TRUE(External().empty());
}

TEST(AudioFilterDescriptorManager, ReadsPlugInRecordsBesideInternalDescriptors)
{
    auto& manager = AudioFilterDescriptorManager::GetInstance();
    manager.ClearExternalInfos();
    const DescriptorPtr internal = new AudioFilterDescriptor(u"Gain", 1, Effect, u"internal:gain", kelcore::Guid(), false);
    manager.AddAudioFilterDescriptor(internal);

    PropList empty;
    manager.WriteExternalComponentDescriptors(empty);
    EXPECT_EQ(empty.GetKeys(), std::vector<UTF8String>{"num_descriptors"});

    // Three announced, the middle one missing, and one record claiming the internal filter's identifier.
    PropList list;
    list.SetValue("num_descriptors", std::int32_t(3));
    PlugIn(u"/a.so", u"2:1 a")->Write(*list.CreateChild("descriptor0"));
    PlugIn(u"/b.so", u"internal:gain")->Write(*list.CreateChild("descriptor2"));
    manager.AddAudioFilterDescriptor(PlugIn(u"/old.so", u"2:9 old"));
    manager.ReadExternalComponentDescriptors(list, false);
    ASSERT_EQ(External().size(), 1u);
    EXPECT_EQ(External()[0]->GetUniqueID(), u"2:1 a");
    EXPECT_TRUE(manager.GetComponentDescriptorForID(u"internal:gain")->IsInternal());

    PropList more;
    more.SetValue("num_descriptors", std::int32_t(2));
    PlugIn(u"/a2.so", u"2:1 a")->Write(*more.CreateChild("descriptor0"));
    PlugIn(u"/d.so", u"2:4 d")->Write(*more.CreateChild("descriptor1"));
    manager.ReadExternalComponentDescriptors(more, true);
    ASSERT_EQ(External().size(), 2u);
    EXPECT_TRUE(manager.GetComponentDescriptorForID(u"2:1 a")->GetLocator() == PluginLocator(VST, u"/a.so"));

    PropList written;
    manager.WriteExternalComponentDescriptors(written);
    std::int32_t count = 0;
    EXPECT_TRUE(written.GetValue("num_descriptors", count));
    EXPECT_EQ(count, 2);
    EXPECT_EQ(AudioFilterDescriptor(*written.GetChild("descriptor1")).GetUniqueID(), u"2:4 d");
    manager.ClearExternalInfos();
}
