// SPDX-License-Identifier: GPL-3.0-or-later
// Our VST 3 test bundles, loaded directly: each must be what the scanner and filter tests take it
// for, or those tests would prove nothing.
#include "kelaudiofilterhost/vst3/HostMessage.h"
#include "testplugins/vst3/TestVst3Ids.h"

#include "pluginterfaces/base/ipluginbase.h"
#include "pluginterfaces/vst/ivstaudioprocessor.h"
#include "pluginterfaces/vst/ivstcomponent.h"
#include "pluginterfaces/vst/ivsteditcontroller.h"
#include "pluginterfaces/vst/ivsthostapplication.h"
#include "pluginterfaces/vst/ivstmessage.h"

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace kelaudiofilterhost::vst3 {
namespace {

using namespace Steinberg;
namespace fixture = kafh_testplugins_vst3;

std::string LibraryPath(const char* folder, const std::string& name)
{
    return std::string(folder) + "/" + name + ".vst3/Contents/" + KAFH_TESTPLUGINS_VST3_ARCH + "/" + name + ".so";
}

bool SameClass(const TUID tuid, const fixture::Uid& uid)
{
    const std::uint32_t words[] = {uid.w1, uid.w2, uid.w3, uid.w4};
    for (int i = 0; i < 16; ++i) {
        if (static_cast<unsigned char>(tuid[i]) != ((words[i / 4] >> (24 - 8 * (i % 4))) & 0xFF)) {
            return false;
        }
    }
    return true;
}

void ToTUID(const fixture::Uid& uid, TUID tuid)
{
    const std::uint32_t words[] = {uid.w1, uid.w2, uid.w3, uid.w4};
    for (int i = 0; i < 16; ++i) {
        tuid[i] = static_cast<char>((words[i / 4] >> (24 - 8 * (i % 4))) & 0xFF);
    }
}

// The host context: hands out messages, as a plug-in's processor and controller need to talk.
class TestHost final : public Vst::IHostApplication {
public:
    tresult PLUGIN_API queryInterface(const TUID queried, void** object) override
    {
        if (FUnknownPrivate::iidEqual(queried, FUnknown::iid)
            || FUnknownPrivate::iidEqual(queried, Vst::IHostApplication::iid)) {
            *object = this;
            return kResultOk;
        }
        *object = nullptr;
        return kNoInterface;
    }
    uint32 PLUGIN_API addRef() override { return 1; }
    uint32 PLUGIN_API release() override { return 1; }
    tresult PLUGIN_API getName(Vst::String128 name) override
    {
        name[0] = 0;
        return kResultOk;
    }
    tresult PLUGIN_API createInstance(TUID cid, TUID wanted, void** object) override
    {
        if (FUnknownPrivate::iidEqual(cid, Vst::IMessage::iid) && FUnknownPrivate::iidEqual(wanted, Vst::IMessage::iid)) {
            *object = static_cast<Vst::IMessage*>(new HostMessage());
            return kResultOk;
        }
        *object = nullptr;
        return kNoInterface;
    }
};

// A loaded bundle library, closed again at the end of the test.
class Library {
public:
    explicit Library(const std::string& path) : mHandle(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {}
    ~Library()
    {
        if (mHandle != nullptr) {
            dlclose(mHandle);
        }
    }
    Library(const Library&) = delete;
    Library& operator=(const Library&) = delete;

    bool Loaded() const { return mHandle != nullptr; }
    template <class Function>
    Function Find(const char* name) const
    {
        return reinterpret_cast<Function>(dlsym(mHandle, name));
    }
    bool Enter() const { return Find<bool (*)(void*)>("ModuleEntry")(mHandle); }
    bool Exit() const { return Find<bool (*)()>("ModuleExit")(); }
    IPluginFactory* Factory() const
    {
        auto get = Find<IPluginFactory* (*)()>("GetPluginFactory");
        return get != nullptr ? get() : nullptr;
    }

private:
    void* mHandle;
};

template <class Interface>
Interface* Create(IPluginFactory& factory, const fixture::Uid& uid)
{
    TUID cid;
    ToTUID(uid, cid);
    void* object = nullptr;
    return factory.createInstance(cid, Interface::iid, &object) == kResultOk ? static_cast<Interface*>(object) : nullptr;
}

struct ExpectedClass {
    const fixture::Uid* uid;
    const char* category;
    const char* name;
    const char* subCategories;
    const fixture::Uid* controller; // for audio classes: the controller class named, or none
};

TEST(VST3TestBundles, EachBundleOffersTheClassesItIsBuiltFor)
{
    const ExpectedClass multi[] = {
        {&fixture::kMultiDelayProcessor, kVstAudioEffectClass, "Kafh Multi Delay", "Fx|Delay|Fx|Analyzer",
         &fixture::kMultiDelayController},
        {&fixture::kMultiDelayController, kVstComponentControllerClass, "Kafh Multi Delay Controller", "", nullptr},
        {&fixture::kMultiSynth, kVstAudioEffectClass, "Kafh Multi Synth", "Instrument|Synth", nullptr},
    };
    const ExpectedClass messages[] = {
        {&fixture::kMessagesProcessor, kVstAudioEffectClass, "Kafh Messages", "Fx|Tools", &fixture::kMessagesController},
        {&fixture::kMessagesController, kVstComponentControllerClass, "Kafh Messages Controller", "", nullptr},
    };
    const struct {
        const char* bundle;
        bool entry;
        bool factory;
        std::vector<ExpectedClass> classes;
    } bundles[] = {
        {"KafhVst3Multi", true, true, {std::begin(multi), std::end(multi)}},
        {"KafhVst3Messages", true, true, {std::begin(messages), std::end(messages)}},
        {"KafhVst3NoClasses", true, true, {}},
        {"KafhVst3NoFactory", true, false, {}},
        {"KafhVst3EntryRefuses", false, true, {}},
    };
    TestHost host;
    for (const auto& bundle : bundles) {
        SCOPED_TRACE(bundle.bundle);
        const Library library(LibraryPath(KAFH_TESTPLUGINS_VST3_DIR, bundle.bundle));
        ASSERT_TRUE(library.Loaded()) << dlerror();
        ASSERT_EQ(library.Enter(), bundle.entry);
        if (!bundle.entry) {
            continue; // a host uses nothing of a module that refused to start
        }
        IPluginFactory* factory = library.Factory();
        ASSERT_EQ(factory != nullptr, bundle.factory);
        if (factory != nullptr) {
            void* object = nullptr;
            ASSERT_EQ(factory->queryInterface(IPluginFactory3::iid, &object), kResultOk);
            auto* factory3 = static_cast<IPluginFactory3*>(object);
            ASSERT_EQ(factory->countClasses(), static_cast<int32>(bundle.classes.size()));
            for (int32 i = 0; i < factory->countClasses(); ++i) {
                const ExpectedClass& expected = bundle.classes[static_cast<std::size_t>(i)];
                PClassInfo info;
                PClassInfo2 info2;
                PClassInfoW infoW;
                ASSERT_EQ(factory->getClassInfo(i, &info), kResultOk);
                ASSERT_EQ(factory3->getClassInfo2(i, &info2), kResultOk);
                ASSERT_EQ(factory3->getClassInfoUnicode(i, &infoW), kResultOk);
                EXPECT_TRUE(SameClass(info.cid, *expected.uid) && SameClass(info2.cid, *expected.uid));
                EXPECT_STREQ(info.category, expected.category);
                EXPECT_STREQ(info2.name, expected.name);
                EXPECT_STREQ(info2.subCategories, expected.subCategories);
                EXPECT_STREQ(infoW.subCategories, expected.subCategories);
                EXPECT_EQ(infoW.name[0], static_cast<char16>(expected.name[0]));
                EXPECT_STREQ(info2.vendor, "kelaudiofilterhost");
                if (std::strcmp(expected.category, kVstAudioEffectClass) != 0) {
                    continue;
                }
                auto* component = Create<Vst::IComponent>(*factory, *expected.uid);
                ASSERT_NE(component, nullptr) << expected.name;
                ASSERT_EQ(component->initialize(&host), kResultOk);
                TUID controller{};
                EXPECT_EQ(component->getControllerClassId(controller) == kResultOk, expected.controller != nullptr);
                if (expected.controller != nullptr) {
                    EXPECT_TRUE(SameClass(controller, *expected.controller));
                }
                EXPECT_EQ(component->getBusCount(Vst::kAudio, Vst::kOutput), 1);
                EXPECT_EQ(component->terminate(), kResultOk);
                EXPECT_EQ(component->release(), 0u);
            }
            TUID unknown{};
            object = &host;
            EXPECT_NE(factory->createInstance(unknown, Vst::IComponent::iid, &object), kResultOk);
            EXPECT_EQ(object, nullptr);
        }
        EXPECT_TRUE(library.Exit());
    }
}

TEST(VST3TestBundles, HostileBundlesAreBuiltApart)
{
    for (const char* name : {"KafhVst3CrashEntry", "KafhVst3HangEntry"}) {
        EXPECT_TRUE(std::filesystem::is_regular_file(LibraryPath(KAFH_TESTPLUGINS_VST3_HOSTILE_DIR, name))) << name;
        EXPECT_FALSE(std::filesystem::exists(std::string(KAFH_TESTPLUGINS_VST3_DIR) + "/" + name + ".vst3")) << name;
    }
}

TEST(VST3TestBundles, MessagesCarryEveryAttributeTypeFromProcessorToController)
{
    const Library library(LibraryPath(KAFH_TESTPLUGINS_VST3_DIR, "KafhVst3Messages"));
    ASSERT_TRUE(library.Loaded()) << dlerror();
    ASSERT_TRUE(library.Enter());
    auto take = library.Find<fixture::TakeReceivedFunction>(fixture::kTakeReceivedName);
    ASSERT_NE(take, nullptr);
    TestHost host;
    auto* component = Create<Vst::IComponent>(*library.Factory(), fixture::kMessagesProcessor);
    auto* controller = Create<Vst::IEditController>(*library.Factory(), fixture::kMessagesController);
    ASSERT_TRUE(component != nullptr && controller != nullptr);
    ASSERT_EQ(component->initialize(&host), kResultOk);
    ASSERT_EQ(controller->initialize(&host), kResultOk);
    void* object = nullptr;
    ASSERT_EQ(component->queryInterface(Vst::IConnectionPoint::iid, &object), kResultOk);
    auto* processorPoint = static_cast<Vst::IConnectionPoint*>(object);
    ASSERT_EQ(controller->queryInterface(Vst::IConnectionPoint::iid, &object), kResultOk);
    auto* controllerPoint = static_cast<Vst::IConnectionPoint*>(object);

    EXPECT_EQ(controllerPoint->connect(processorPoint), kResultOk);
    EXPECT_EQ(processorPoint->connect(controllerPoint), kResultOk);
    fixture::Received received{};
    take(&received);
    EXPECT_EQ(received.count, 1);
    ASSERT_TRUE(received.allFound);
    EXPECT_EQ(received.intValue, fixture::kHelloInt);
    EXPECT_EQ(received.floatValue, fixture::kHelloFloat);
    EXPECT_EQ(std::u16string(received.stringValue), std::u16string(fixture::kHelloString));
    EXPECT_EQ(std::vector<unsigned char>(received.binaryValue, received.binaryValue + received.binarySize),
              std::vector<unsigned char>(std::begin(fixture::kHelloBinary), std::end(fixture::kHelloBinary)));

    // Asked to, the processor sends again; anything else it ignores.
    auto* resend = new HostMessage();
    resend->setMessageID(fixture::kResendMessageID);
    EXPECT_EQ(processorPoint->notify(resend), kResultOk);
    resend->setMessageID("Other");
    EXPECT_EQ(processorPoint->notify(resend), kResultFalse);
    resend->release();
    take(&received);
    EXPECT_EQ(received.count, 1);
    EXPECT_TRUE(received.allFound);

    EXPECT_EQ(processorPoint->disconnect(controllerPoint), kResultOk);
    EXPECT_EQ(controllerPoint->disconnect(processorPoint), kResultOk);
    processorPoint->release();
    controllerPoint->release();
    EXPECT_EQ(component->terminate(), kResultOk);
    EXPECT_EQ(controller->terminate(), kResultOk);
    EXPECT_EQ(component->release(), 0u);
    EXPECT_EQ(controller->release(), 0u);
    EXPECT_TRUE(library.Exit());
}

} // namespace
} // namespace kelaudiofilterhost::vst3
