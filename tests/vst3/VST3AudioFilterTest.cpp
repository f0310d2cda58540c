// SPDX-License-Identifier: GPL-3.0-or-later
// VST 3 filters built over real bundles: third-party ones as installed, and our own test bundles
// whose classes, categories and messages are known.
#include "kelaudiofilterhost/catalogue/AudioFilterDescriptor.h"
#include "kelaudiofilterhost/framework/AudioFilter.h"
#include "kelaudiofilterhost/services/ChannelLayouts.h"
#include "kelaudiofilterhost/services/Config.h"
#include "kelaudiofilterhost/vst3/VST3AudioFilter.h"
#include "kelaudiofilterhost/vst3/VST3ClassID.h"
#include "kelaudiofilterhost/vst3/VST3PluginGate.h"
#include "kelaudiofilterhost/vst3/VST3PluginModule.h"
#include "testplugins/vst3/TestVst3Ids.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace kelaudiofilterhost::vst3 {
namespace {

namespace fs = std::filesystem;
namespace fixture = kafh_testplugins_vst3;

UTF16String U16(const fs::path& path)
{
    return kelcore::UTF8to16(path.string());
}

UTF16String TestBundle(const char* name)
{
    return U16(fs::path(KAFH_TESTPLUGINS_VST3_DIR) / (std::string(name) + ".vst3"));
}

VST3ClassID ClassID(const fixture::Uid& uid)
{
    const std::uint32_t words[] = {uid.w1, uid.w2, uid.w3, uid.w4};
    VST3ClassID id{};
    for (std::size_t i = 0; i < id.size(); ++i) {
        id[i] = static_cast<std::uint8_t>(words[i / 4] >> (24 - 8 * (i % 4)));
    }
    return id;
}

KAFH_VST3_PLUGIN_CALL std::vector<Steinberg::PClassInfo> AudioClasses(Steinberg::IPluginFactory& factory)
{
    std::vector<Steinberg::PClassInfo> classes;
    for (Steinberg::int32 i = 0; i < factory.countClasses(); ++i) {
        Steinberg::PClassInfo info;
        if (factory.getClassInfo(i, &info) == Steinberg::kResultOk &&
            std::string(info.category) == kVstAudioEffectClass) {
            classes.push_back(info);
        }
    }
    return classes;
}

boost::intrusive_ptr<AudioFilterDescriptor> Describe(AudioFilter& filter, const UTF16String& modulePath)
{
    return filter.CreateFilterDescriptor(PluginLocator(VST3, modulePath), false);
}

TEST(VST3AudioFilter, EveryInstalledAudioClassIsBuiltNamedAndTornDown)
{
    std::error_code error;
    int built = 0;
    for (const auto& entry : fs::directory_iterator("/usr/lib/vst3", error)) {
        if (entry.path().extension() != ".vst3" || entry.path().filename().string().rfind("Zam", 0) != 0) {
            continue;
        }
        const auto module = GetOrLoadModule(U16(entry.path()));
        ASSERT_NE(module, nullptr) << entry.path();
        for (const auto& info : AudioClasses(*module->GetFactory())) {
            const UTF16String id = MakeVST3ComponentID(ClassIDFromTUID(info.cid));
            auto filter = module->CreateAudioFilter(id);
            ASSERT_NE(filter, nullptr) << entry.path();
            const auto* vst3 = dynamic_cast<const VST3AudioFilter*>(filter.get());
            ASSERT_NE(vst3, nullptr);
            EXPECT_TRUE(vst3->IsInitialised()) << entry.path();
            // These builds keep their controller apart from the component, connected to it.
            EXPECT_TRUE(vst3->HasSeparateController()) << entry.path();
            EXPECT_TRUE(vst3->IsConnected()) << entry.path();
            // The descriptors' fields are checked against the factories by the scan test.
            EXPECT_EQ(filter->GetDisplayName(), kelcore::UTF8to16(info.name)) << entry.path();
            EXPECT_FALSE(filter->GetOutputBuses().empty()) << entry.path();
            EXPECT_NE(Describe(*filter, U16(entry.path())), nullptr) << entry.path();
            filter.reset();
            ++built;
        }
    }
    EXPECT_GT(built, 0) << "no installed VST 3 bundles to build filters from";
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
    const UTF16String path = TestBundle("KafhVst3Messages");
    const auto module = GetOrLoadModule(path);
    ASSERT_NE(module, nullptr);
    const std::string library = std::string(KAFH_TESTPLUGINS_VST3_DIR) + "/KafhVst3Messages.vst3/Contents/" +
                                KAFH_TESTPLUGINS_VST3_ARCH + "/KafhVst3Messages.so";
    void* handle = dlopen(library.c_str(), RTLD_LAZY | RTLD_NOLOAD);
    ASSERT_NE(handle, nullptr) << dlerror();
    const auto take = reinterpret_cast<fixture::TakeReceivedFunction>(dlsym(handle, fixture::kTakeReceivedName));
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
    dlclose(handle);
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
