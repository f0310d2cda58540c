// SPDX-License-Identifier: GPL-3.0-or-later
// KafhVst3Messages: a processor and a controller connected through IConnectionPoint. The processor
// sends a "KafhHello" message (an int, a float, a string and a binary attribute) when connected and
// whenever it is notified with "KafhResend"; the controller records what it receives, which the
// exported KafhVst3MessagesTakeReceived hands to the test. Messages come from the host context.
#include "testplugins/vst3/TestVst3.h"

#include "pluginterfaces/vst/ivsthostapplication.h"
#include "pluginterfaces/vst/ivstmessage.h"

#include <mutex>

using namespace kafh_testplugins_vst3;

namespace {

std::mutex gReceivedMutex;
Received gReceived{};

bool IsMessage(Vst::IMessage* message, const char* id)
{
    return message != nullptr && message->getMessageID() != nullptr
        && std::strcmp(message->getMessageID(), id) == 0;
}

class Processor final : public BasicProcessor<Vst::IConnectionPoint> {
public:
    Processor() : BasicProcessor(&kMessagesController) {}
    ~Processor() override { terminate(); }

    tresult PLUGIN_API initialize(FUnknown* context) override
    {
        if (context == nullptr || mHost != nullptr) {
            return kInvalidArgument;
        }
        void* host = nullptr;
        if (context->queryInterface(Vst::IHostApplication::iid, &host) != kResultOk) {
            return kResultFalse;
        }
        mHost = static_cast<Vst::IHostApplication*>(host);
        return kResultOk;
    }
    tresult PLUGIN_API terminate() override
    {
        disconnect(mPeer);
        if (mHost != nullptr) {
            mHost->release();
            mHost = nullptr;
        }
        return kResultOk;
    }

    tresult PLUGIN_API connect(Vst::IConnectionPoint* other) override
    {
        if (other == nullptr || mPeer != nullptr) {
            return kInvalidArgument;
        }
        mPeer = other;
        mPeer->addRef();
        return SendHello();
    }
    tresult PLUGIN_API disconnect(Vst::IConnectionPoint* other) override
    {
        if (other == nullptr || other != mPeer) {
            return kInvalidArgument;
        }
        mPeer->release();
        mPeer = nullptr;
        return kResultOk;
    }
    tresult PLUGIN_API notify(Vst::IMessage* message) override
    {
        return IsMessage(message, kResendMessageID) ? SendHello() : kResultFalse;
    }

private:
    tresult SendHello()
    {
        if (mHost == nullptr || mPeer == nullptr) {
            return kResultFalse;
        }
        TUID iid;
        Vst::IMessage::iid.toTUID(iid);
        void* made = nullptr;
        if (mHost->createInstance(iid, iid, &made) != kResultOk || made == nullptr) {
            return kResultFalse;
        }
        auto* message = static_cast<Vst::IMessage*>(made);
        message->setMessageID(kHelloMessageID);
        if (Vst::IAttributeList* list = message->getAttributes()) {
            list->setInt("Int", kHelloInt);
            list->setFloat("Float", kHelloFloat);
            list->setString("String", kHelloString);
            list->setBinary("Binary", kHelloBinary, sizeof kHelloBinary);
        }
        const tresult result = mPeer->notify(message);
        message->release();
        return result;
    }

    Vst::IHostApplication* mHost = nullptr;
    Vst::IConnectionPoint* mPeer = nullptr;
};

class Controller final : public BasicController<Vst::IConnectionPoint> {
public:
    // The processor keeps no reference to the controller beyond the connection; neither do we.
    tresult PLUGIN_API connect(Vst::IConnectionPoint* other) override
    {
        return other != nullptr ? kResultOk : kInvalidArgument;
    }
    tresult PLUGIN_API disconnect(Vst::IConnectionPoint* /*other*/) override { return kResultOk; }
    tresult PLUGIN_API notify(Vst::IMessage* message) override
    {
        if (!IsMessage(message, kHelloMessageID)) {
            return kResultFalse;
        }
        Vst::IAttributeList* list = message->getAttributes();
        Received got{};
        const void* data = nullptr;
        uint32 size = 0;
        got.allFound = list != nullptr && list->getInt("Int", got.intValue) == kResultOk
            && list->getFloat("Float", got.floatValue) == kResultOk
            && list->getString("String", got.stringValue, sizeof got.stringValue) == kResultOk
            && list->getBinary("Binary", data, size) == kResultOk && size <= sizeof got.binaryValue;
        if (got.allFound) {
            std::memcpy(got.binaryValue, data, size);
            got.binarySize = size;
        }
        const std::lock_guard lock(gReceivedMutex);
        got.count = gReceived.count + 1;
        gReceived = got;
        return kResultOk;
    }
};

const ClassEntry kClasses[] = {
    {&kMessagesProcessor, kVstAudioEffectClass, "Kafh Messages", "Fx|Tools", &Create<Processor>},
    {&kMessagesController, kVstComponentControllerClass, "Kafh Messages Controller", "", &Create<Controller>},
};

} // namespace

KAFH_VST3_DEFAULT_ENTRY_EXIT
KAFH_VST3_FACTORY(kClasses)

KAFH_VST3_EXPORT void KafhVst3MessagesTakeReceived(Received* out)
{
    const std::lock_guard lock(gReceivedMutex);
    *out = gReceived;
    gReceived = {};
}
