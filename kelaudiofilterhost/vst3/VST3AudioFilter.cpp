// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/vst3/VST3AudioFilter.h"

#include "kelaudiofilterhost/catalogue/PluginModule.h"
#include "kelaudiofilterhost/services/Config.h"
#include "kelaudiofilterhost/services/Trace.h"
#include "kelaudiofilterhost/vst3/HostMessage.h"
#include "kelaudiofilterhost/vst3/VST3Categories.h"
#include "kelaudiofilterhost/vst3/VST3FieldText.h"
#include "kelaudiofilterhost/vst3/VST3MemoryStream.h"
#include "kelaudiofilterhost/vst3/VST3PluginGate.h"
#include "kelaudiofilterhost/vst3/VST3StateChunk.h"

#include <pluginterfaces/vst/ivstmessage.h>

#include <algorithm>
#include <span>
#include <cstring>
#include <vector>

namespace kelaudiofilterhost::vst3 {

using namespace Steinberg;

namespace {

bool SameClass(const TUID tuid, const VST3ClassID& classID)
{
    return ClassIDFromTUID(tuid) == classID;
}

} // namespace

const FUID IVST3QueloVendorSpecificHost::iid(0x7FCBCFCE, 0x2862476A, 0xBFF2219B, 0xCA70789D);
const FUID IVST3VendorDisplayName::iid(0x872EE790, 0x61B243A2, 0x8DBA33C1, 0xD9262D3E);

const kelcore::Guid& GetVST3FactoryGuid()
{
    static const kelcore::Guid guid(0xEB0FED8B, 0x7841, 0x4F2B, 0xA6, 0x55, 0xD8, 0xCD, 0xDE, 0xA9, 0xF4, 0x65);
    return guid;
}

VST3AudioFilter::VST3AudioFilter(const UTF16String& modulePath, IPluginFactory* factory,
                                 const PClassInfo& classInfo, bool describeOnly)
    : AudioFilter(MakeVST3ComponentID(ClassIDFromTUID(classInfo.cid)), UTF16String()),
      mModulePath(modulePath),
      mGate(modulePath, "VST3AudioFilter"),
      mClassID(ClassIDFromTUID(classInfo.cid)),
      mFactory(factory),
      mInputChanges(new ParameterChanges()),
      mOutputChanges(new ParameterChanges())
{
    if (mFactory != nullptr) {
        mGate.Run("IPluginFactory::addRef", [this]() KAFH_VST3_PLUGIN_CALL { mFactory->addRef(); });
        ReadNames(classInfo);
    }
    if (mDisplayName.empty()) {
        KAFH_TRACE("VST3AudioFilter", 5, "VST3AudioFilter: Display name empty, using class info");
        mDisplayName = kelcore::UTF8to16(FieldText(classInfo.name));
    }
    KAFH_TRACE("VST3AudioFilter", 5, "VST3AudioFilter: Display name = " << mDisplayName);
    if (mFactory != nullptr) {
        CreateComponent();
    }
    if (mEditController != nullptr && !describeOnly) {
        SetUpController();
    }
    SetDisplayName(mDisplayName);
    BuildParameterInfos();
    SizeParameterQueues();
    BuildIOConfiguration();
    FindFactoryPresets();
    if (mEditController != nullptr && !describeOnly) {
        CreateEditor();
    }
    // Pieces of a block go through channels of these when the caller passes none.
    mSilentChannel.assign(kMaxProcessingBlockSize, 0.0f);
    mDiscardChannel.assign(kMaxProcessingBlockSize, 0.0f);
    mProcessorOutputChanges.Resize(kOutputChangeCapacity);
}

KAFH_VST3_PLUGIN_CALL void VST3AudioFilter::ReadNames(const PClassInfo& /*classInfo*/)
{
    const VST3PluginGate& gate = mGate;
    PFactoryInfo factoryInfo;
    const auto infoResult = gate.Call("IPluginFactory::getFactoryInfo", [&]() KAFH_VST3_PLUGIN_CALL {
        return mFactory->getFactoryInfo(&factoryInfo);
    }, tresult{kInternalError});
    if (infoResult != kResultOk) {
        return;
    }
    const int32 count = gate.ClassCountInRange(
        gate.Call("IPluginFactory::countClasses", [&]() KAFH_VST3_PLUGIN_CALL { return mFactory->countClasses(); },
                  int32{0}),
        4096);
    bool found = false;
    IPluginFactory3* factory3 = nullptr;
    gate.Call("IPluginFactory::queryInterface", [&]() KAFH_VST3_PLUGIN_CALL {
        return mFactory->queryInterface(IPluginFactory3::iid, reinterpret_cast<void**>(&factory3));
    }, tresult{kNoInterface});
    if (factory3 != nullptr) {
        for (int32 i = 0; i < count && !found; ++i) {
            PClassInfoW info; // zeroed by its constructor
            const auto result = gate.Call("IPluginFactory3::getClassInfoUnicode", [&]() KAFH_VST3_PLUGIN_CALL {
                return factory3->getClassInfoUnicode(i, &info);
            }, tresult{kInternalError});
            if (result == kResultOk && SameClass(info.cid, mClassID)) {
                mDisplayName = FieldText(info.name);
                mVendor = FieldText(info.vendor);
                mSubCategories = FieldText(info.subCategories);
                found = true;
            }
        }
        gate.Run("IPluginFactory3::release", [&]() KAFH_VST3_PLUGIN_CALL { factory3->release(); });
    }
    if (!found) {
        IPluginFactory2* factory2 = nullptr;
        gate.Call("IPluginFactory::queryInterface", [&]() KAFH_VST3_PLUGIN_CALL {
            return mFactory->queryInterface(IPluginFactory2::iid, reinterpret_cast<void**>(&factory2));
        }, tresult{kNoInterface});
        if (factory2 != nullptr) {
            for (int32 i = 0; i < count && !found; ++i) {
                PClassInfo2 info; // zeroed by its constructor
                const auto result = gate.Call("IPluginFactory2::getClassInfo2", [&]() KAFH_VST3_PLUGIN_CALL {
                    return factory2->getClassInfo2(i, &info);
                }, tresult{kInternalError});
                if (result == kResultOk && SameClass(info.cid, mClassID)) {
                    mDisplayName = kelcore::UTF8to16(FieldText(info.name));
                    mVendor = kelcore::UTF8to16(FieldText(info.vendor));
                    mSubCategories = FieldText(info.subCategories);
                    found = true;
                }
            }
            gate.Run("IPluginFactory2::release", [&]() KAFH_VST3_PLUGIN_CALL { factory2->release(); });
        }
    }
    if (mVendor.empty()) {
        mVendor = kelcore::UTF8to16(FieldText(factoryInfo.vendor));
    }
}

KAFH_VST3_PLUGIN_CALL void VST3AudioFilter::CreateComponent()
{
    const VST3PluginGate& gate = mGate;
    TUID cid;
    ClassIDToTUID(mClassID, cid);
    const auto created = gate.Call("IPluginFactory::createInstance", [&]() KAFH_VST3_PLUGIN_CALL {
        return mFactory->createInstance(cid, Vst::IComponent::iid, reinterpret_cast<void**>(&mComponent));
    }, tresult{kInternalError});
    if (created != kResultOk) {
        // A plug-in that failed may still have written the pointer: it is not ours to release.
        mComponent = nullptr;
        return;
    }
    if (mComponent == nullptr) {
        return;
    }
    auto* host = static_cast<Vst::IHostApplication*>(this);
    const auto initialised = gate.Call("IComponent::initialize", [&]() KAFH_VST3_PLUGIN_CALL {
        return mComponent->initialize(host);
    }, tresult{kInternalError});
    if (initialised != kResultOk) {
        KAFH_TRACE("VST3AudioFilter", 5, "VST3AudioFilter: component initialize failed: " << initialised);
        return;
    }
    ReadVendorDisplayName();
    gate.Call("IComponent::queryInterface", [&]() KAFH_VST3_PLUGIN_CALL {
        return mComponent->queryInterface(Vst::IAudioProcessor::iid, reinterpret_cast<void**>(&mAudioProcessor));
    }, tresult{kNoInterface});
    if (mAudioProcessor == nullptr) {
        return;
    }
    mInitialised = true;
    gate.Call("IComponent::queryInterface", [&]() KAFH_VST3_PLUGIN_CALL {
        return mComponent->queryInterface(Vst::IEditController::iid, reinterpret_cast<void**>(&mEditController));
    }, tresult{kNoInterface});
    if (mEditController != nullptr) {
        return;
    }
    TUID controllerCID;
    std::memset(controllerCID, 0, sizeof(controllerCID));
    const auto hasController = gate.Call("IComponent::getControllerClassId", [&]() KAFH_VST3_PLUGIN_CALL {
        return mComponent->getControllerClassId(controllerCID);
    }, tresult{kInternalError});
    if (hasController != kResultOk || ClassIDFromTUID(controllerCID) == VST3ClassID{}) {
        return;
    }
    const auto controllerCreated = gate.Call("IPluginFactory::createInstance", [&]() KAFH_VST3_PLUGIN_CALL {
        return mFactory->createInstance(controllerCID, Vst::IEditController::iid,
                                        reinterpret_cast<void**>(&mEditController));
    }, tresult{kInternalError});
    if (controllerCreated != kResultOk || mEditController == nullptr) {
        mEditController = nullptr;
        return;
    }
    mSeparateController = true;
    const auto controllerInitialised = gate.Call("IEditController::initialize", [&]() KAFH_VST3_PLUGIN_CALL {
        return mEditController->initialize(host);
    }, tresult{kInternalError});
    mInitialised = controllerInitialised == kResultOk;
    if (!mInitialised) {
        KAFH_TRACE("VST3AudioFilter", 5, "VST3AudioFilter: controller initialize failed: " << controllerInitialised);
    }
}

// A component may offer a better display name than its class name.
KAFH_VST3_PLUGIN_CALL void VST3AudioFilter::ReadVendorDisplayName()
{
    IVST3VendorDisplayName* vendorName = nullptr;
    mGate.Call("IComponent::queryInterface", [&]() KAFH_VST3_PLUGIN_CALL {
        return mComponent->queryInterface(IVST3VendorDisplayName::iid, reinterpret_cast<void**>(&vendorName));
    }, tresult{kNoInterface});
    if (vendorName == nullptr) {
        return;
    }
    const int32 length = mGate.Call("IVST3VendorDisplayName::GetDisplayNameLength", [&]() KAFH_VST3_PLUGIN_CALL {
        return vendorName->GetDisplayNameLength();
    }, int32{0});
    // A name longer than any display needs is not believed.
    if (length > 0 && length < 4096) {
        std::string name(static_cast<std::size_t>(length) + 1, '\0');
        if (mGate.Run("IVST3VendorDisplayName::GetDisplayName",
                      [&]() KAFH_VST3_PLUGIN_CALL { vendorName->GetDisplayName(name.data()); })) {
            name.resize(std::strlen(name.c_str()));
            mDisplayName = kelcore::UTF8to16(name);
        }
    }
    mGate.Run("IVST3VendorDisplayName::release", [&]() KAFH_VST3_PLUGIN_CALL { vendorName->release(); });
}

KAFH_VST3_PLUGIN_CALL Vst::IConnectionPoint* VST3AudioFilter::ProcessorConnectionPoint(const VST3PluginGate& gate)
{
    Vst::IConnectionPoint* point = nullptr;
    if (mAudioProcessor != nullptr) {
        gate.Call("IAudioProcessor::queryInterface", [&]() KAFH_VST3_PLUGIN_CALL {
            return mAudioProcessor->queryInterface(Vst::IConnectionPoint::iid, reinterpret_cast<void**>(&point));
        }, tresult{kNoInterface});
    }
    // Plug-ins whose processor is a sub-object of the component answer only on the component.
    if (point == nullptr && mComponent != nullptr) {
        gate.Call("IComponent::queryInterface", [&]() KAFH_VST3_PLUGIN_CALL {
            return mComponent->queryInterface(Vst::IConnectionPoint::iid, reinterpret_cast<void**>(&point));
        }, tresult{kNoInterface});
    }
    return point;
}

KAFH_VST3_PLUGIN_CALL void VST3AudioFilter::SetUpController()
{
    const VST3PluginGate& gate = mGate;
    gate.Call("IEditController::queryInterface", [&]() KAFH_VST3_PLUGIN_CALL {
        return mEditController->queryInterface(Vst::IUnitInfo::iid, reinterpret_cast<void**>(&mUnitInfo));
    }, tresult{kNoInterface});
    auto* handler = static_cast<Vst::IComponentHandler*>(this);
    gate.Call("IEditController::setComponentHandler", [&]() KAFH_VST3_PLUGIN_CALL {
        return mEditController->setComponentHandler(handler);
    }, tresult{kInternalError});
    mConnected = LinkConnectionPoints(gate, true);
    if (mComponent != nullptr) {
        auto* stream = new VST3MemoryStream();
        const auto saved = gate.Call("IComponent::getState", [&]() KAFH_VST3_PLUGIN_CALL {
            return mComponent->getState(stream);
        }, tresult{kInternalError});
        int64 written = 0;
        stream->tell(&written);
        // An empty state tells the controller nothing, and some controllers report it as an error.
        if (saved == kResultOk && written > 0) {
            stream->seek(0, IBStream::kIBSeekSet, nullptr);
            gate.Call("IEditController::setComponentState", [&]() KAFH_VST3_PLUGIN_CALL {
                return mEditController->setComponentState(stream);
            }, tresult{kInternalError});
        }
        stream->release();
    }
}

KAFH_VST3_PLUGIN_CALL void VST3AudioFilter::Disconnect()
{
    LinkConnectionPoints(VST3PluginGate(mModulePath, "~VST3AudioFilter"), false);
}

// Connects (or disconnects) the processor's and the controller's connection points both ways; true
// when both exist.
KAFH_VST3_PLUGIN_CALL bool VST3AudioFilter::LinkConnectionPoints(const VST3PluginGate& gate, bool connect)
{
    Vst::IConnectionPoint* processorPoint = ProcessorConnectionPoint(gate);
    Vst::IConnectionPoint* controllerPoint = nullptr;
    gate.Call("IEditController::queryInterface", [&]() KAFH_VST3_PLUGIN_CALL {
        return mEditController->queryInterface(Vst::IConnectionPoint::iid, reinterpret_cast<void**>(&controllerPoint));
    }, tresult{kNoInterface});
    const bool both = processorPoint != nullptr && controllerPoint != nullptr;
    if (both) {
        const char* call = connect ? "IConnectionPoint::connect" : "IConnectionPoint::disconnect";
        const auto link = [&](Vst::IConnectionPoint* from, Vst::IConnectionPoint* to) KAFH_VST3_PLUGIN_CALL {
            gate.Call(call, [&]() KAFH_VST3_PLUGIN_CALL {
                return connect ? from->connect(to) : from->disconnect(to);
            }, tresult{kInternalError});
        };
        link(processorPoint, controllerPoint);
        link(controllerPoint, processorPoint);
    }
    for (Vst::IConnectionPoint* point : {processorPoint, controllerPoint}) {
        if (point != nullptr) {
            gate.Run("IConnectionPoint::release", [&]() KAFH_VST3_PLUGIN_CALL { point->release(); });
        }
    }
    return both;
}

KAFH_VST3_PLUGIN_CALL VST3AudioFilter::~VST3AudioFilter()
{
    const VST3PluginGate gate(mModulePath, "~VST3AudioFilter");
    KAFH_TRACE("~VST3AudioFilter", 5, "entry");
    // A plug-in must be switched off before it is terminated.
    if (mActive) {
        Deactivate();
    }
    mParameterInfos.clear();
    mParameterIndexMap.clear();
    // The view belongs to the controller: it goes first.
    mEditor.reset();
    for (VST3EventList** list : {&mInputEvents, &mOutputEvents}) {
        if (*list != nullptr) {
            (*list)->release();
            *list = nullptr;
        }
    }
    KAFH_TRACE("~VST3AudioFilter", 5, "disconnecting processor/controller");
    if (mConnected) {
        Disconnect();
    }
    FreeBusBuffers();
    KAFH_TRACE("~VST3AudioFilter", 5, "releasing controller");
    if (mEditController != nullptr) {
        gate.Call("IEditController::setComponentHandler", [&]() KAFH_VST3_PLUGIN_CALL {
            return mEditController->setComponentHandler(nullptr);
        }, tresult{kInternalError});
        if (mSeparateController) {
            gate.Call("IEditController::terminate", [&]() KAFH_VST3_PLUGIN_CALL { return mEditController->terminate(); },
                      tresult{kInternalError});
        }
        if (mUnitInfo != nullptr) {
            gate.Run("IUnitInfo::release", [&]() KAFH_VST3_PLUGIN_CALL { mUnitInfo->release(); });
        }
        gate.Run("IEditController::release", [&]() KAFH_VST3_PLUGIN_CALL { mEditController->release(); });
    }
    KAFH_TRACE("~VST3AudioFilter", 5, "releasing audio processor");
    if (mAudioProcessor != nullptr) {
        gate.Run("IAudioProcessor::release", [&]() KAFH_VST3_PLUGIN_CALL { mAudioProcessor->release(); });
    }
    KAFH_TRACE("~VST3AudioFilter", 5, "releasing component");
    if (mComponent != nullptr) {
        gate.Call("IComponent::terminate", [&]() KAFH_VST3_PLUGIN_CALL { return mComponent->terminate(); },
                  tresult{kInternalError});
        gate.Run("IComponent::release", [&]() KAFH_VST3_PLUGIN_CALL { mComponent->release(); });
    }
    KAFH_TRACE("~VST3AudioFilter", 5, "releasing factory");
    if (mFactory != nullptr) {
        gate.Run("IPluginFactory::release", [&]() KAFH_VST3_PLUGIN_CALL { mFactory->release(); });
    }
    // The plug-in is gone; nothing can still hold the host's parameter changes.
    mInputChanges->release();
    mOutputChanges->release();
    KAFH_TRACE("~VST3AudioFilter", 5, "exit");
}

tresult PLUGIN_API VST3AudioFilter::queryInterface(const TUID iid, void** object)
{
    if (object == nullptr) {
        return kInvalidArgument;
    }
    if (FUnknownPrivate::iidEqual(iid, FUnknown::iid) || FUnknownPrivate::iidEqual(iid, Vst::IHostApplication::iid)) {
        *object = static_cast<Vst::IHostApplication*>(this);
    } else if (FUnknownPrivate::iidEqual(iid, Vst::IComponentHandler::iid)) {
        *object = static_cast<Vst::IComponentHandler*>(this);
    } else if (FUnknownPrivate::iidEqual(iid, Vst::IUnitHandler::iid)) {
        *object = static_cast<Vst::IUnitHandler*>(this);
    } else if (FUnknownPrivate::iidEqual(iid, IVST3QueloVendorSpecificHost::iid)) {
        *object = static_cast<IVST3QueloVendorSpecificHost*>(this);
    } else {
        *object = nullptr;
        return kNoInterface;
    }
    return kResultOk;
}

tresult PLUGIN_API VST3AudioFilter::getName(Vst::String128 name)
{
    if (name == nullptr) {
        return kInvalidArgument;
    }
    const UTF16String client = kelcore::config::GetClientName();
    const std::size_t length = std::min<std::size_t>(client.size(), 127);
    std::copy_n(client.data(), length, reinterpret_cast<char16_t*>(name));
    name[length] = 0;
    return kResultOk;
}

tresult PLUGIN_API VST3AudioFilter::createInstance(TUID cid, TUID iid, void** object)
{
    if (object == nullptr) {
        return kInvalidArgument;
    }
    if (FUnknownPrivate::iidEqual(cid, Vst::IMessage::iid) && FUnknownPrivate::iidEqual(iid, Vst::IMessage::iid)) {
        *object = static_cast<Vst::IMessage*>(new HostMessage());
        return kResultOk;
    }
    if (FUnknownPrivate::iidEqual(cid, Vst::IAttributeList::iid)
        && FUnknownPrivate::iidEqual(iid, Vst::IAttributeList::iid)) {
        *object = static_cast<Vst::IAttributeList*>(new HostAttributeList());
        return kResultOk;
    }
    *object = nullptr;
    return kResultFalse;
}

boost::intrusive_ptr<AudioFilterDescriptor> VST3AudioFilter::CreateFilterDescriptor(const PluginLocator& locator,
                                                                                    bool isApplicationPlugIn)
{
    if (!mInitialised) {
        return {};
    }
    const VST3Category category = isApplicationPlugIn ? VST3Category{ApplicationPlugIn, false}
                                                      : CategoryFromSubCategories(mSubCategories);
    return new AudioFilterDescriptor(locator, GetDisplayName(), mVendor, 0, category.category,
                                     MakeVST3ComponentID(mClassID), GetVST3FactoryGuid(), category.synth);
}

} // namespace kelaudiofilterhost::vst3

namespace kelaudiofilterhost::vst3 {

// ---- Parameters ----

KAFH_VST3_PLUGIN_CALL void VST3AudioFilter::BuildParameterInfos()
{
    mParameterInfos.clear();
    mParameterIndexMap.clear();
    mControllerParameterCount = 0;
    if (mEditController == nullptr) {
        return;
    }
    const int32 count = mGate.Call("IEditController::getParameterCount", [&]() KAFH_VST3_PLUGIN_CALL {
        return mEditController->getParameterCount();
    }, int32{0});
    // A count no controller can mean would make the host allocate without end.
    constexpr int32 kMaximumParameters = 1 << 16;
    if (count < 0 || count > kMaximumParameters) {
        KAFH_TRACE("VST3AudioFilter", 3, "\"" << mGate.GetModulePath() << "\": parameter count " << count
                                              << " out of range; none listed");
        return;
    }
    mControllerParameterCount = count;
    for (int32 index = 0; index < count; ++index) {
        Vst::ParameterInfo info{};
        mGate.Call("IEditController::getParameterInfo", [&]() KAFH_VST3_PLUGIN_CALL {
            return mEditController->getParameterInfo(index, info);
        }, tresult{kInternalError});
        if ((info.flags & Vst::ParameterInfo::kIsProgramChange) != 0 && info.unitId == Vst::kRootUnitId) {
            if (mProgramChangeID == Vst::kNoParamId) {
                mProgramChangeID = info.id;
                mProgramChangeIndex = index;
            }
            continue;
        }
        constexpr int32 kUnlisted =
            Vst::ParameterInfo::kIsReadOnly | Vst::ParameterInfo::kIsProgramChange | Vst::ParameterInfo::kIsBypass;
        if ((info.flags & kUnlisted) != 0) {
            continue;
        }
        mParameterIndexMap.emplace(info.id, static_cast<int>(mParameterInfos.size()));
        mParameterInfos.push_back(new VST3ParameterInfo(mGate, mEditController, index));
    }
}

void VST3AudioFilter::SizeParameterQueues()
{
    const int32 count = mControllerParameterCount;
    if (count == mQueuesSizedFor) {
        return;
    }
    mQueuesSizedFor = count;
    // Room for automation too: a render may queue many points of a few parameters for one block.
    const std::size_t ring = std::max<std::size_t>(2 * static_cast<std::size_t>(count), kMinimumPendingChanges);
    mPendingInputChanges.Resize(ring);
    // Plug-ins with thousands of parameters get fewer points per queue; outputs are the plug-in's to fill.
    mInputChanges->Reserve(count, std::clamp(2 * count, kMinimumPointsPerQueue, kDefaultPointsPerQueue));
    mOutputChanges->Reserve(count, count <= 128 ? kDefaultPointsPerQueue : 128);
}

int VST3AudioFilter::GetParameterCount() const
{
    return static_cast<int>(mParameterInfos.size());
}

int VST3AudioFilter::FindParameterIndex(Vst::ParamID id) const
{
    const auto found = mParameterIndexMap.find(id);
    return found != mParameterIndexMap.end() ? found->second : -1;
}

KAFH_VST3_PLUGIN_CALL void VST3AudioFilter::SetParameter(int index, float value)
{
    AudioFilter::SetParameter(index, value);
    DeliverProcessorParameterChanges();
    if (mEditController == nullptr || index < 0 || index >= GetParameterCount()) {
        return;
    }
    const Vst::ParamID id = mParameterInfos[static_cast<std::size_t>(index)]->GetID();
    mGate.Call("IEditController::setParamNormalized", [&]() KAFH_VST3_PLUGIN_CALL {
        return mEditController->setParamNormalized(id, value);
    }, tresult{kInternalError});
    mPendingInputChanges.Push({id, value, 0});
}

KAFH_VST3_PLUGIN_CALL float VST3AudioFilter::GetParameter(int index) const
{
    if (mEditController == nullptr || index < 0 || index >= GetParameterCount()) {
        return 0.0f;
    }
    const Vst::ParamID id = mParameterInfos[static_cast<std::size_t>(index)]->GetID();
    return static_cast<float>(mGate.Call("IEditController::getParamNormalized", [&]() KAFH_VST3_PLUGIN_CALL {
        return mEditController->getParamNormalized(id);
    }, Vst::ParamValue{0.0}));
}

boost::intrusive_ptr<AudioFilterParameterInfo> VST3AudioFilter::GetParameterInfo(int index) const
{
    if (index < 0 || index >= GetParameterCount()) {
        return {};
    }
    return mParameterInfos[static_cast<std::size_t>(index)];
}

UTF16String VST3AudioFilter::GetParameterString(int index) const
{
    if (mEditController == nullptr || index < 0 || index >= GetParameterCount()) {
        return {};
    }
    return mParameterInfos[static_cast<std::size_t>(index)]->GetStringForValue(GetParameter(index));
}

KAFH_VST3_PLUGIN_CALL void VST3AudioFilter::DeliverProcessorParameterChanges()
{
    ParameterChange change;
    while (mProcessorOutputChanges.Pop(change)) {
        if (mEditController != nullptr) {
            mGate.Call("IEditController::setParamNormalized", [&]() KAFH_VST3_PLUGIN_CALL {
                return mEditController->setParamNormalized(change.id, change.value);
            }, tresult{kInternalError});
        }
        if (const int index = FindParameterIndex(change.id); index >= 0) {
            GetAutomatedParameterChangeSignal()(index, static_cast<float>(change.value));
        }
    }
    ReportAudioThreadFaults();
}

// ---- Edits and restarts coming from the plug-in ----

tresult PLUGIN_API VST3AudioFilter::beginEdit(Vst::ParamID id)
{
    if (const int index = FindParameterIndex(id); index >= 0) {
        BeginEditing(index);
    }
    return kResultOk;
}

tresult PLUGIN_API VST3AudioFilter::performEdit(Vst::ParamID id, Vst::ParamValue value)
{
    if (const int index = FindParameterIndex(id); index >= 0) {
        BumpParameterDirtyCount();
        GetAutomatedParameterChangeSignal()(index, static_cast<float>(value));
    }
    // The processor follows edits made in the plug-in's own editor, listed or not.
    mPendingInputChanges.Push({id, value, 0});
    return kResultOk;
}

tresult PLUGIN_API VST3AudioFilter::endEdit(Vst::ParamID id)
{
    if (const int index = FindParameterIndex(id); index >= 0) {
        EndEditing(index);
    }
    return kResultOk;
}

tresult PLUGIN_API VST3AudioFilter::restartComponent(int32 flags)
{
    constexpr int32 kRecorded =
        Vst::kLatencyChanged | Vst::kParamValuesChanged | Vst::kParamTitlesChanged | Vst::kIoChanged;
    KAFH_TRACE("VST3AudioFilter", 5, "restartComponent " << flags);
    mRestartFlags.fetch_or(flags & kRecorded, std::memory_order_relaxed);
    if ((flags & (Vst::kParamValuesChanged | Vst::kParamTitlesChanged)) != 0) {
        // Titles, ranges or the set itself may have changed: the queues follow at the next Resume.
        BuildParameterInfos();
        BumpParameterDirtyCount();
        GetPresetChangedSignal()();
    }
    return kResultOk;
}

// ---- Factory presets ----

KAFH_VST3_PLUGIN_CALL void VST3AudioFilter::FindFactoryPresets()
{
    mFactoryPresetCount = 0;
    if (mUnitInfo == nullptr) {
        return;
    }
    const int32 listCount = mGate.Call("IUnitInfo::getProgramListCount", [&]() KAFH_VST3_PLUGIN_CALL {
        return mUnitInfo->getProgramListCount();
    }, int32{0});
    if (listCount <= 0) {
        return;
    }
    const int32 unitCount = mGate.Call("IUnitInfo::getUnitCount", [&]() KAFH_VST3_PLUGIN_CALL {
        return mUnitInfo->getUnitCount();
    }, int32{0});
    for (int32 unit = 0; unit < unitCount; ++unit) {
        Vst::UnitInfo info{};
        const auto found = mGate.Call("IUnitInfo::getUnitInfo", [&]() KAFH_VST3_PLUGIN_CALL {
            return mUnitInfo->getUnitInfo(unit, info);
        }, tresult{kInternalError});
        if (found != kResultOk || info.id != Vst::kRootUnitId) {
            continue;
        }
        if (info.programListId == Vst::kNoProgramListId) {
            return;
        }
        for (int32 list = 0; list < listCount; ++list) {
            Vst::ProgramListInfo listInfo{};
            const auto listFound = mGate.Call("IUnitInfo::getProgramListInfo", [&]() KAFH_VST3_PLUGIN_CALL {
                return mUnitInfo->getProgramListInfo(list, listInfo);
            }, tresult{kInternalError});
            if (listFound == kResultOk && listInfo.id == info.programListId) {
                mFactoryPresetCount = std::max(listInfo.programCount, int32{0});
                return;
            }
        }
        return;
    }
}

KAFH_VST3_PLUGIN_CALL UTF16String VST3AudioFilter::GetFactoryPresetName(int index) const
{
    if (mUnitInfo == nullptr) {
        return {};
    }
    Vst::ProgramListInfo listInfo{};
    const auto listFound = mGate.Call("IUnitInfo::getProgramListInfo", [&]() KAFH_VST3_PLUGIN_CALL {
        return mUnitInfo->getProgramListInfo(0, listInfo);
    }, tresult{kInternalError});
    if (listFound != kResultOk) {
        return {};
    }
    Vst::String128 name{};
    const auto named = mGate.Call("IUnitInfo::getProgramName", [&]() KAFH_VST3_PLUGIN_CALL {
        return mUnitInfo->getProgramName(listInfo.id, index, name);
    }, tresult{kInternalError});
    return named == kResultOk ? FieldText(name) : UTF16String();
}

KAFH_VST3_PLUGIN_CALL void VST3AudioFilter::SetFactoryPreset(int index)
{
    if (mEditController == nullptr || mProgramChangeID == Vst::kNoParamId) {
        return;
    }
    Vst::ParameterInfo info{};
    const auto found = mGate.Call("IEditController::getParameterInfo", [&]() KAFH_VST3_PLUGIN_CALL {
        return mEditController->getParameterInfo(mProgramChangeIndex, info);
    }, tresult{kInternalError});
    if (found != kResultOk || info.stepCount <= 0 || index < 0 || index > info.stepCount) {
        return;
    }
    const double value = static_cast<double>(index) / info.stepCount;
    mGate.Call("IEditController::setParamNormalized", [&]() KAFH_VST3_PLUGIN_CALL {
        return mEditController->setParamNormalized(mProgramChangeID, value);
    }, tresult{kInternalError});
    mPendingInputChanges.Push({mProgramChangeID, value, 0});
}

// ---- State ----

KAFH_VST3_PLUGIN_CALL std::vector<std::uint8_t> VST3AudioFilter::ReadState(bool controller) const
{
    auto* stream = new VST3MemoryStream();
    const auto result = controller ? mGate.Call("IEditController::getState", [&]() KAFH_VST3_PLUGIN_CALL {
        return mEditController->getState(stream);
    }, tresult{kInternalError})
                                   : mGate.Call("IComponent::getState", [&]() KAFH_VST3_PLUGIN_CALL {
        return mComponent->getState(stream);
    }, tresult{kInternalError});
    std::vector<std::uint8_t> bytes;
    if (result == kResultOk) {
        bytes.assign(stream->GetData(), stream->GetData() + stream->GetSize());
    } else {
        KAFH_TRACE("VST3AudioFilter", 5, "\"" << mGate.GetModulePath() << "\": "
                                              << (controller ? "controller" : "component")
                                              << " getState failed with result " << result);
    }
    stream->release();
    return bytes;
}

bool VST3AudioFilter::SaveChunkData(PresetData& preset) const
{
    if (mComponent == nullptr) {
        return false;
    }
    // The processor keeps the state; changes it has not yet heard of would be missing from it.
    const_cast<VST3AudioFilter*>(this)->FlushParameterChanges();
    const std::vector<std::uint8_t> component = ReadState(false);
    const std::vector<std::uint8_t> controller = mEditController != nullptr ? ReadState(true)
                                                                            : std::vector<std::uint8_t>();
    if (component.empty() && controller.empty()) {
        return true;
    }
    const std::vector<std::uint8_t> chunk = VST3StateChunk::Make(component, controller);
    preset.SetChunkData(chunk.data(), static_cast<unsigned int>(chunk.size()));
    preset.SetVersion(GetCurrentPresetVersion());
    preset.SetPresetType(PresetData::ChunkPreset);
    return true;
}

KAFH_VST3_PLUGIN_CALL bool VST3AudioFilter::LoadChunkData(const PresetData& preset)
{
    PresetData::ChunkBytes bytes;
    if (mComponent == nullptr || !preset.GetChunkData(bytes) || bytes.empty()) {
        return false;
    }
    VST3StateChunk parts;
    if (!VST3StateChunk::Parse(bytes, parts)) {
        KAFH_TRACE("VST3AudioFilter", 3, "\"" << mGate.GetModulePath() << "\": state chunk of " << bytes.size()
                                              << " bytes is shorter than its header");
        return false;
    }
    if (parts.componentTruncated || parts.controllerTruncated) {
        KAFH_TRACE("VST3AudioFilter", 3, "\"" << mGate.GetModulePath() << "\": state chunk of " << bytes.size()
                                              << " bytes is shorter than its lengths (" << parts.componentLength
                                              << ", " << parts.controllerLength << "); skipping what is missing");
    }
    const auto streamOf = [](std::span<const std::uint8_t> part) {
        auto* stream = new VST3MemoryStream();
        stream->SetSize(part.size());
        std::copy(part.begin(), part.end(), stream->GetData());
        return stream;
    };
    // Changes made before the load would undo it at the next block. While active the audio thread
    // is the one that takes them, so only an inactive filter can drop them here.
    if (!mActive) {
        for (ParameterChange stale; mPendingInputChanges.Pop(stale);) {
        }
    }
    if (!parts.componentTruncated) {
        VST3MemoryStream* stream = streamOf(parts.component);
        mGate.Call("IComponent::setState", [&]() KAFH_VST3_PLUGIN_CALL { return mComponent->setState(stream); },
                   tresult{kInternalError});
        if (mEditController != nullptr) {
            stream->seek(0, IBStream::kIBSeekSet, nullptr);
            mGate.Call("IEditController::setComponentState", [&]() KAFH_VST3_PLUGIN_CALL {
                return mEditController->setComponentState(stream);
            }, tresult{kInternalError});
        }
        stream->release();
    }
    if (mEditController != nullptr && parts.controllerLength != 0 && !parts.controllerTruncated) {
        VST3MemoryStream* stream = streamOf(parts.controller);
        mGate.Call("IEditController::setState", [&]() KAFH_VST3_PLUGIN_CALL {
            return mEditController->setState(stream);
        }, tresult{kInternalError});
        stream->release();
    }
    return true;
}

// ---- Vendor-specific host answers ----

int32 PLUGIN_API VST3AudioFilter::GetLocaleCode()
{
    return PluginModule::GetLocaleCode();
}

int32 PLUGIN_API VST3AudioFilter::GetThemeXMLSize()
{
    return static_cast<int32>(PluginModule::GetThemeXML().size() + 1);
}

void PLUGIN_API VST3AudioFilter::GetThemeXML(char* buffer)
{
    if (buffer != nullptr) {
        const auto& theme = PluginModule::GetThemeXML();
        std::memcpy(buffer, theme.c_str(), theme.size() + 1);
    }
}

void PLUGIN_API VST3AudioFilter::ShiftFocus(int32 direction)
{
    if (mEditor != nullptr) {
        mEditor->GetAdvanceFocusSignal()(direction == 1);
    }
}

KAFH_VST3_PLUGIN_CALL void VST3AudioFilter::CreateEditor()
{
    IPlugView* view = mGate.Call("IEditController::createView", [&]() KAFH_VST3_PLUGIN_CALL {
        return mEditController->createView(Vst::ViewType::kEditor);
    }, static_cast<IPlugView*>(nullptr));
    if (view == nullptr) {
        return;
    }
    mEditor = new VST3AudioFilterEditor(mModulePath, mEditController, view);
    // The editor holds its own reference; createView handed us one.
    mGate.Run("IPlugView::release", [&]() KAFH_VST3_PLUGIN_CALL { view->release(); });
}

} // namespace kelaudiofilterhost::vst3
