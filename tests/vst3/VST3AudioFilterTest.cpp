// SPDX-License-Identifier: GPL-3.0-or-later
// VST 3 filters built over our own test bundles, whose classes, categories and messages are known.
#include "kelaudiofilterhost/catalogue/AudioFilterDescriptor.h"
#include "kelaudiofilterhost/framework/AudioFilter.h"
#include "kelaudiofilterhost/services/ChannelLayouts.h"
#include "kelaudiofilterhost/services/Config.h"
#include "kelaudiofilterhost/vst3/VST3AudioFilter.h"
#include "kelaudiofilterhost/vst3/VST3ClassID.h"
#include "kelaudiofilterhost/vst3/VST3PluginModule.h"
#include "tests/support/Vst3TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>

namespace kelaudiofilterhost::vst3 {
namespace {

namespace fixture = kafh_testplugins_vst3;
using testing::ClassID;
using testing::TestBundle;

boost::intrusive_ptr<AudioFilterDescriptor> Describe(AudioFilter& filter, const UTF16String& modulePath)
{
    return filter.CreateFilterDescriptor(PluginLocator(VST3, modulePath), false);
}

TEST(VST3AudioFilter, TestBundleClassesAreFiledBySubCategoryTableOrder)
{
    const UTF16String path = TestBundle("KafhVst3Multi");
    const auto module = GetOrLoadModule(path);
    ASSERT_NE(module, nullptr);

    auto delay = module->CreateAudioFilter(MakeVST3ComponentID(ClassID(fixture::kMultiDelayProcessor)));
    ASSERT_NE(delay, nullptr);
    EXPECT_EQ(delay->GetDisplayName(), u"Kafh Multi Delay");
    ASSERT_EQ(delay->GetInputBuses().size(), 1u);
    ASSERT_EQ(delay->GetOutputBuses().size(), 1u);
    EXPECT_EQ(delay->GetOutputBuses()[0].GetName(), u"Output");
    EXPECT_EQ(delay->GetOutputBuses()[0].GetChannelCount(), 2u);
    auto descriptor = Describe(*delay, path);
    ASSERT_NE(descriptor, nullptr);
    EXPECT_EQ(descriptor->GetCategory(), Vst3Analyzer);
    EXPECT_FALSE(descriptor->IsSynth());
    // A module in the application's own folder files every class there.
    EXPECT_EQ(delay->CreateFilterDescriptor(PluginLocator(VST3, path), true)->GetCategory(), ApplicationPlugIn);

    auto synth = module->CreateAudioFilter(MakeVST3ComponentID(ClassID(fixture::kMultiSynth)));
    ASSERT_NE(synth, nullptr);
    EXPECT_TRUE(synth->GetInputBuses().empty());
    descriptor = Describe(*synth, path);
    ASSERT_NE(descriptor, nullptr);
    EXPECT_EQ(descriptor->GetCategory(), Vst3Instrument);
    EXPECT_TRUE(descriptor->IsSynth());
}

TEST(VST3AudioFilter, ComponentIDsTheModuleCannotMakeGiveNoFilter)
{
    const auto module = GetOrLoadModule(TestBundle("KafhVst3Multi"));
    ASSERT_NE(module, nullptr);
    // The controller class is listed, but it is not an audio class the module makes filters of.
    EXPECT_EQ(module->CreateAudioFilter(MakeVST3ComponentID(ClassID({0x4B664D31, 3, 0, 1}))), nullptr);
    EXPECT_EQ(module->CreateAudioFilter(u"3:zz 1 2 3"), nullptr);
    EXPECT_EQ(module->CreateAudioFilter(u""), nullptr);
}

TEST(VST3AudioFilter, ProcessorAndControllerAreConnectedAndTalk)
{
    const auto module = GetOrLoadModule(TestBundle("KafhVst3Messages"));
    ASSERT_NE(module, nullptr);
    const auto take = testing::BundleFunction<fixture::TakeReceivedFunction>("KafhVst3Messages", fixture::kTakeReceivedName);
    ASSERT_NE(take, nullptr);
    fixture::Received received{};
    take(&received); // start over

    for (int round = 0; round < 2; ++round) {
        auto filter = module->CreateAudioFilter(MakeVST3ComponentID(ClassID(fixture::kMessagesProcessor)));
        ASSERT_NE(filter, nullptr);
        const auto* vst3 = dynamic_cast<const VST3AudioFilter*>(filter.get());
        EXPECT_TRUE(vst3->IsConnected());
        EXPECT_TRUE(vst3->HasSeparateController());
        take(&received);
        EXPECT_EQ(received.count, 1) << "round " << round;
        EXPECT_TRUE(received.allFound);
        EXPECT_EQ(received.intValue, fixture::kHelloInt);
        EXPECT_EQ(std::u16string(received.stringValue), fixture::kHelloString);
    }
}

TEST(VST3AudioFilter, HostContextMakesMessagesAndAttributeListsOnly)
{
    const auto module = GetOrLoadModule(TestBundle("KafhVst3Multi"));
    ASSERT_NE(module, nullptr);
    auto filter = module->CreateAudioFilter(MakeVST3ComponentID(ClassID(fixture::kMultiSynth)));
    ASSERT_NE(filter, nullptr);
    auto* host = static_cast<Steinberg::Vst::IHostApplication*>(dynamic_cast<VST3AudioFilter*>(filter.get()));

    // A client name longer than the plug-in's buffer is cut to fit with its terminator.
    const UTF16String saved = kelcore::config::GetClientName();
    kelcore::config::SetClientName(UTF16String(200, u'n'));
    Steinberg::Vst::String128 name;
    std::fill(std::begin(name), std::end(name), Steinberg::Vst::TChar{'x'});
    EXPECT_EQ(host->getName(name), Steinberg::kResultOk);
    kelcore::config::SetClientName(saved);
    EXPECT_EQ(std::u16string(reinterpret_cast<const char16_t*>(name)), UTF16String(127, u'n'));

    // What the host hands out carries one reference, the plug-in's.
    Steinberg::TUID messageID;
    std::memcpy(messageID, Steinberg::Vst::IMessage::iid, sizeof(messageID));
    void* object = nullptr;
    ASSERT_EQ(host->createInstance(messageID, messageID, &object), Steinberg::kResultOk);
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(static_cast<Steinberg::Vst::IMessage*>(object)->release(), 0u);
    Steinberg::TUID listID;
    std::memcpy(listID, Steinberg::Vst::IAttributeList::iid, sizeof(listID));
    ASSERT_EQ(host->createInstance(listID, listID, &object), Steinberg::kResultOk);
    ASSERT_NE(object, nullptr);
    EXPECT_EQ(static_cast<Steinberg::Vst::IAttributeList*>(object)->release(), 0u);
    // A message class asked for as an attribute list is refused, as is anything else.
    object = &name;
    EXPECT_EQ(host->createInstance(messageID, listID, &object), Steinberg::kResultFalse);
    EXPECT_EQ(object, nullptr);

    void* view = nullptr;
    EXPECT_EQ(host->queryInterface(Steinberg::Vst::IComponentHandler::iid, &view), Steinberg::kResultOk);
    EXPECT_NE(view, nullptr);
    EXPECT_EQ(host->queryInterface(Steinberg::Vst::IMessage::iid, &view), Steinberg::kNoInterface);
    EXPECT_EQ(view, nullptr);
}

TEST(VST3AudioFilter, ClassWhoseComponentCannotBeMadeGivesAFilterWithoutDescriptor)
{
    const UTF16String path = TestBundle("KafhVst3Multi");
    const auto module = GetOrLoadModule(path);
    ASSERT_NE(module, nullptr);
    Steinberg::PClassInfo info;
    const VST3ClassID unknown = ClassID({0x4B664D31, 0x7F, 0, 1});
    ClassIDToTUID(unknown, info.cid);
    std::strcpy(info.name, "Only In The Class Info");
    const boost::intrusive_ptr<VST3AudioFilter> filter(new VST3AudioFilter(path, module->GetFactory(), info));
    EXPECT_FALSE(filter->IsInitialised());
    EXPECT_EQ(filter->GetDisplayName(), u"Only In The Class Info");
    EXPECT_EQ(filter->GetVendor(), u"kelaudiofilterhost"); // the factory's
    EXPECT_TRUE(filter->GetInputBuses().empty());
    EXPECT_TRUE(filter->GetOutputBuses().empty());
    EXPECT_EQ(Describe(*filter, path), nullptr);
}

TEST(VST3AudioFilter, BusesTakeTheirNameAndLayoutFromTheArrangement)
{
    using Bus = AudioFilterBusDescription;
    auto bus = MakeVST3BusDescription(0x3F, Steinberg::Vst::kMain, u"");
    EXPECT_EQ(bus.GetName(), u"5.1");
    EXPECT_EQ(bus.GetLayout(), kelmediatypes::CreateBroadcast51ChannelLayout());
    EXPECT_EQ(bus.GetType(), Bus::kMain);

    bus = MakeVST3BusDescription(0x80000, Steinberg::Vst::kAux, u"Key");
    EXPECT_EQ(bus.GetName(), u"Key");
    EXPECT_EQ(bus.GetChannelCount(), 1u);
    EXPECT_EQ(bus.GetType(), Bus::kSideChain);

    // An arrangement outside the table: one unassigned channel per speaker.
    bus = MakeVST3BusDescription(0x30000, Steinberg::Vst::kMain, u"");
    EXPECT_EQ(bus.GetName(), u"Unknown");
    EXPECT_EQ(bus.GetLayout(), kelmediatypes::ChannelLayout(2));
    bus = MakeVST3BusDescription(0x30, Steinberg::Vst::kMain, u"");
    EXPECT_EQ(bus.GetName(), u"Stereo (Ls Rs)");
    EXPECT_EQ(bus.GetLayout(), kelmediatypes::ChannelLayout(2));
}

} // namespace
} // namespace kelaudiofilterhost::vst3
