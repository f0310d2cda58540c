// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/framework/AudioFilterFactory.h"

#include "kelaudiofilterhost/catalogue/AudioFilterDescriptorManager.h"
#include "kelaudiofilterhost/catalogue/PluginModuleInfoManager.h"
#include "kelaudiofilterhost/framework/AudioFilter.h"
#include "tests/support/TestFilters.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace kelaudiofilterhost {
namespace {

using DescriptorPtr = boost::intrusive_ptr<AudioFilterDescriptor>;

// Every test uses identifiers and GUIDs of its own: the factory and the descriptor manager are process-wide.
kelcore::Guid TestGuid(std::uint16_t n)
{
    return kelcore::Guid(0x7E570000, n, 0x1000, 1, 2, 3, 4, 5, 6, 7, 8);
}

struct Recorder {
    std::vector<UTF16String> requested;
    AudioFilterCreationFunction Function(const UTF16String& name)
    {
        return [this, name](const UTF16String& id) -> boost::intrusive_ptr<AudioFilter> {
            requested.push_back(id);
            return new AudioFilter(id, name);
        };
    }
};

DescriptorPtr Internal(const UTF16String& id, std::uint16_t guid)
{
    return new AudioFilterDescriptor(u"Internal " + id, 1, Effect, id, TestGuid(guid), false);
}

DescriptorPtr Plugin(const UTF16String& id, std::uint16_t guid, const UTF16String& path)
{
    return new AudioFilterDescriptor(PluginLocator(VST, path), u"Plug-in", u"Vendor", 1, Effect, id, TestGuid(guid),
                                     false);
}

TEST(AudioFilterFactory, WholeRoadOfAnInternalFilter)
{
    static AudioFilterRegistrar registrar(
        [] { return Internal(u"test.road", 1); },
        [](const UTF16String&) -> boost::intrusive_ptr<AudioFilter> {
            return new testing::DelayingGainFilter({testing::StereoBus()}, {testing::StereoBus()}, 0);
        });
    auto listed = [] {
        int count = 0;
        const auto& manager = AudioFilterDescriptorManager::GetInstance();
        for (auto it = manager.InfoBegin(); it != manager.InfoEnd(); ++it) {
            count += (*it)->GetUniqueID() == u"test.road" ? 1 : 0;
        }
        return count;
    };
    Terminate(); // another test may have initialised before this registrar existed
    ASSERT_TRUE(Initialize());
    const int registered = listed();
    EXPECT_GE(registered, 1);
    ASSERT_TRUE(Initialize()); // a second call registers nothing again
    EXPECT_EQ(listed(), registered);

    auto filter = utility::CreateAudioFilter(u"test.road");
    ASSERT_TRUE(filter);
    filter->SetSampleRate(44100.0f);
    filter->SetBlockSize(16);
    filter->SetParameter(0, 2.0f);
    filter->Resume();
    std::vector<float> left(16, 0.25f), right(16, 0.5f), outLeft(16), outRight(16);
    float* in[] = {left.data(), right.data()};
    float* out[] = {outLeft.data(), outRight.data()};
    filter->Process(in, out, 16);
    EXPECT_EQ(outRight[15], 1.0f);
    filter->Suspend();
    EXPECT_EQ(filter->GetRefCount(), 1);
}

TEST(AudioFilterFactory, IdentifiersFindTheirDescriptorWithPrefixesAndRenamedModules)
{
    Recorder recorder;
    auto& manager = AudioFilterDescriptorManager::GetInstance();
    auto& factory = AudioFilterFactory::GetInstance();
    manager.AddAudioFilterDescriptor(Plugin(u"2:1234 Reverb", 10, u"/plugins/Reverb.so"));
    manager.AddAudioFilterDescriptor(Plugin(u"4:legacy", 10, u"/plugins/Legacy.so"));
    factory.RegisterFactoryFunction(TestGuid(10), recorder.Function(u"first"));

    struct Case {
        UTF16String asked;
        UTF16String created;
    } cases[] = {
        {u"2:1234 Reverb", u"2:1234 Reverb"},
        {u"1234 Reverb", u"2:1234 Reverb"},      // stored with a prefix, asked without
        {u"2:1234 ReverbRenamed", u"2:1234 Reverb"}, // module file renamed: found by effect number
        {u"legacy", u"4:legacy"},
    };
    for (const auto& c : cases) {
        recorder.requested.clear();
        auto filter = utility::CreateAudioFilter(c.asked);
        ASSERT_TRUE(filter) << kelcore::UTF16to8(c.asked);
        ASSERT_EQ(recorder.requested.size(), 1u);
        EXPECT_EQ(recorder.requested.front(), c.created); // the canonical identifier
    }
    for (const UTF16String unknown : {u"", u"2:", u"2:999 Reverb", u"2:12345 Reverb", u"3:{00000000}", u" ", u"2: x"}) {
        EXPECT_FALSE(utility::CreateAudioFilter(unknown)) << kelcore::UTF16to8(unknown);
    }
}

TEST(AudioFilterFactory, DisabledDescriptorsAndModulesAreRefused)
{
    Recorder recorder;
    auto& manager = AudioFilterDescriptorManager::GetInstance();
    AudioFilterFactory::GetInstance().RegisterFactoryFunction(TestGuid(20), recorder.Function(u"f"));
    auto disabled = Internal(u"test.disabled", 20);
    disabled->SetEnabled(false);
    manager.AddAudioFilterDescriptor(disabled);
    manager.AddAudioFilterDescriptor(Plugin(u"2:77 Off", 20, u"/plugins/Off.so"));
    manager.AddAudioFilterDescriptor(Plugin(u"2:78 Unknown", 20, u"/plugins/NotCatalogued.so"));
    auto& catalogue = PluginModuleInfoManager::GetInstance();
    catalogue.AddPluginModuleInfo(new PluginModuleInfo(PluginLocator(VST, u"/plugins/Off.so"), u"Off", u"V", 1, VST,
                                                       true, false));
    catalogue.SetPluginEnabled(PluginLocator(VST, u"/plugins/Off.so"), false);

    EXPECT_FALSE(utility::CreateAudioFilter(u"test.disabled"));
    EXPECT_FALSE(utility::CreateAudioFilter(u"2:77 Off"));
    EXPECT_TRUE(utility::CreateAudioFilter(u"2:78 Unknown")); // a module the catalogue does not know counts as enabled
    catalogue.SetPluginEnabled(PluginLocator(VST, u"/plugins/Off.so"), true);
    EXPECT_TRUE(utility::CreateAudioFilter(u"2:77 Off"));
    EXPECT_EQ(recorder.requested.size(), 2u);
}

TEST(AudioFilterFactory, FirstFunctionPerGuidWinsAndFailuresAreEmpty)
{
    Recorder first, second;
    static AudioFilterRegistrar a([] { return Internal(u"test.same.a", 30); }, first.Function(u"a"));
    static AudioFilterRegistrar b([] { return Internal(u"test.same.b", 30); }, second.Function(u"b"));
    static AudioFilterRegistrar noDescriptor([] { return DescriptorPtr(); }, second.Function(u"none"));
    static AudioFilterRegistrar nullFilter([] { return Internal(u"test.null", 31); },
                                           [](const UTF16String&) { return boost::intrusive_ptr<AudioFilter>(); });
    static AudioFilterRegistrar throwing([] { return Internal(u"test.throws", 32); },
                                         [](const UTF16String&) -> boost::intrusive_ptr<AudioFilter> {
                                             throw std::runtime_error("constructor failed");
                                         });
    Terminate();
    Initialize();

    EXPECT_EQ(utility::CreateAudioFilter(u"test.same.b")->GetDisplayName(), u"a");
    EXPECT_EQ(second.requested.size(), 0u);
    EXPECT_FALSE(utility::CreateAudioFilter(u"test.null"));
    // An internal filter's exception is the application's own and reaches it unchanged.
    EXPECT_THROW(utility::CreateAudioFilter(u"test.throws"), std::runtime_error);

    // A descriptor whose factory has no function.
    AudioFilterDescriptorManager::GetInstance().AddAudioFilterDescriptor(Internal(u"test.orphan", 33));
    EXPECT_FALSE(utility::CreateAudioFilter(u"test.orphan"));
    EXPECT_FALSE(AudioFilterFactory::GetInstance().CreateAudioFilter(u"test.orphan"));
}

} // namespace
} // namespace kelaudiofilterhost
