// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/vst3/VST3AudioFilter.h"

#include "kelaudiofilterhost/services/ChannelLayouts.h"
#include "kelaudiofilterhost/services/Config.h"
#include "kelaudiofilterhost/services/Trace.h"
#include "kelaudiofilterhost/vst3/HostMessage.h"
#include "kelaudiofilterhost/vst3/VST3Categories.h"
#include "kelaudiofilterhost/vst3/VST3MemoryStream.h"
#include "kelaudiofilterhost/vst3/VST3PluginGate.h"

#include <pluginterfaces/vst/ivstmessage.h>

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

namespace kelaudiofilterhost::vst3 {

using namespace Steinberg;

namespace {

using kelmediatypes::ChannelLayout;

struct ArrangementRow {
    Vst::SpeakerArrangement arrangement;
    const char16_t* name;
    ChannelLayout (*layout)();
};

// Bus names and layouts by speaker arrangement; a row without a layout function gets a generic one.
constexpr ArrangementRow kArrangements[] = {
    {0x80000, u"Mono", kelmediatypes::CreateMonoChannelLayout},
    {0x3, u"Stereo", kelmediatypes::CreateStereoChannelLayout},
    {0x7, u"LRC", kelmediatypes::Create_L_R_C_ChannelLayout},
    {0xC, u"Stereo (C Lfe)", kelmediatypes::Create_C_LFE_ChannelLayout},
    {0xF, u"LRC+Lfe", kelmediatypes::Create_L_R_C_LFE_ChannelLayout},
    {0x30, u"Stereo (Ls Rs)", nullptr},
    {0x33, u"Quadro", kelmediatypes::CreateQuadraphonicChannelLayout},
    {0x37, u"5.0", kelmediatypes::Create_L_R_C_Ls_Rs_ChannelLayout},
    {0x3B, u"Quadro+Lfe", kelmediatypes::Create_L_R_LFE_Ls_Rs_ChannelLayout},
    {0x3F, u"5.1", kelmediatypes::CreateBroadcast51ChannelLayout},
    {0xC0, u"Stereo (Lc Rc)", kelmediatypes::Create_Lc_Rc_ChannelLayout},
    {0xF7, u"7.0 Cine", kelmediatypes::Create_L_R_C_Ls_Rs_Lc_Rc_ChannelLayout},
    {0xFF, u"7.1 Cine", kelmediatypes::Create7_1ChannelLayout},
    {0x103, u"LRS", kelmediatypes::Create_L_R_Cs_ChannelLayout},
    {0x107, u"LRCS", kelmediatypes::Create_L_R_C_Cs_ChannelLayout},
    {0x10B, u"LRS+Lfe", kelmediatypes::Create_L_R_LFE_Cs_ChannelLayout},
    {0x10F, u"LRCS+Lfe", kelmediatypes::Create_L_R_C_LFE_Cs_ChannelLayout},
    {0x137, u"6.0 Cine", kelmediatypes::Create_L_R_C_Ls_Rs_Cs_ChannelLayout},
    {0x13F, u"6.1 Cine", kelmediatypes::Create_L_R_C_LFE_Ls_Rs_Cs_ChannelLayout},
    {0x1F7, u"8.0 Cine", kelmediatypes::Create_L_R_C_Ls_Rs_Lc_Rc_Cs_ChannelLayout},
    {0x1FF, u"8.1 Cine", kelmediatypes::Create_L_R_C_LFE_Ls_Rs_Lc_Rc_Cs_ChannelLayout},
    {0x600, u"Stereo (Sl Sr)", kelmediatypes::Create_Lsd_Rsd_ChannelLayout},
    {0x633, u"6.0 Music", kelmediatypes::Create_L_R_Ls_Rs_Lsd_Rsd_ChannelLayout},
    {0x637, u"7.0 Music", kelmediatypes::Create_L_R_C_Ls_Rs_Lsd_Rsd_ChannelLayout},
    {0x63B, u"6.1 Music", kelmediatypes::Create_L_R_LFE_Ls_Rs_Lsd_Rsd_ChannelLayout},
    {0x63F, u"7.1 Music", kelmediatypes::Create_L_R_C_LFE_Ls_Rs_Lsd_Rsd_ChannelLayout},
    {0x737, u"8.0 Music", kelmediatypes::Create_L_R_C_Ls_Rs_Cs_Lsd_Rsd_ChannelLayout},
    {0x73F, u"8.1 Music", kelmediatypes::Create_L_R_C_LFE_Ls_Rs_Cs_Lsd_Rsd_ChannelLayout},
    {0x93F, u"7.1 Cine Top Center", kelmediatypes::Create_VST_7_1_Cine_Top_Center_Layout},
    {0x213F, u"7.1 Cine Center High", kelmediatypes::Create_VST_7_1_Cine_Center_High_Layout},
    {0x503F, u"7.1 Cine Front High", kelmediatypes::Create_VST_7_1_Cine_Front_High_Layout},
    {0x2D033, u"Cube", kelmediatypes::CreateCubeChannelLayout},
    {0x6F03F, u"10.2", kelmediatypes::CreateVST10_2ChannelLayout},
    {0x6F0FF, u"12.2", kelmediatypes::CreateVST10_2_PlusChannelLayout},
    {0xF00000, u"BFormat", kelmediatypes::CreateAmbisonicsBFormatChannelLayout},
    {0x300003F, u"7.1 Cine Side High", kelmediatypes::Create_VST_7_1_Cine_Side_High_Layout},
    {0xC00003F, u"7.1 Cine Full Rear", kelmediatypes::Create7_1ItuChannelLayout},
};

const ArrangementRow* FindArrangement(Vst::SpeakerArrangement arrangement)
{
    for (const auto& row : kArrangements) {
        if (row.arrangement == arrangement) {
            return &row;
        }
    }
    return nullptr;
}

/// Text of a fixed-size 16-bit field, up to its terminator or the field's end.
template <std::size_t N> UTF16String FieldText(const Vst::TChar (&field)[N])
{
    std::size_t length = 0;
    while (length < N && field[length] != 0) {
        ++length;
    }
    return UTF16String(reinterpret_cast<const char16_t*>(field), length);
}

/// Text of a fixed-size 8-bit field, up to its terminator or the field's end.
template <std::size_t N> std::string FieldText(const char8 (&field)[N])
{
    std::size_t length = 0;
    while (length < N && field[length] != 0) {
        ++length;
    }
    return std::string(field, length);
}

bool SameClass(const TUID tuid, const VST3ClassID& classID)
{
    return ClassIDFromTUID(tuid) == classID;
}

} // namespace

const kelcore::Guid& GetVST3FactoryGuid()
{
    static const kelcore::Guid guid(0xEB0FED8B, 0x7841, 0x4F2B, 0xA6, 0x55, 0xD8, 0xCD, 0xDE, 0xA9, 0xF4, 0x65);
    return guid;
}

AudioFilterBusDescription MakeVST3BusDescription(Vst::SpeakerArrangement arrangement, int32 busType,
                                                 const UTF16String& name)
{
    const ArrangementRow* row = FindArrangement(arrangement);
    UTF16String busName = name;
    if (busName.empty() && row != nullptr) {
        busName = row->name;
    }
    if (busName.empty()) {
        busName = u"Unknown";
    }
    ChannelLayout layout;
    if (row != nullptr && row->layout != nullptr) {
        layout = row->layout();
    } else {
        layout.resize(static_cast<std::size_t>(std::popcount(static_cast<std::uint64_t>(arrangement))));
    }
    return AudioFilterBusDescription(busName, std::move(layout),
                                     busType != Vst::kMain ? AudioFilterBusDescription::kSideChain
                                                           : AudioFilterBusDescription::kMain);
}

VST3AudioFilter::VST3AudioFilter(const UTF16String& modulePath, IPluginFactory* factory,
                                 const PClassInfo& classInfo)
    : AudioFilter(MakeVST3ComponentID(ClassIDFromTUID(classInfo.cid)), UTF16String()),
      mModulePath(modulePath),
      mClassID(ClassIDFromTUID(classInfo.cid)),
      mFactory(factory)
{
    const VST3PluginGate gate(mModulePath, "VST3AudioFilter");
    if (mFactory != nullptr) {
        gate.Run("IPluginFactory::addRef", [this]() KAFH_VST3_PLUGIN_CALL { mFactory->addRef(); });
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
    if (mEditController != nullptr) {
        SetUpController();
    }
    SetDisplayName(mDisplayName);
    BuildIOConfiguration();
}

KAFH_VST3_PLUGIN_CALL void VST3AudioFilter::ReadNames(const PClassInfo& classInfo)
{
    (void)classInfo;
    const VST3PluginGate gate(mModulePath, "VST3AudioFilter");
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
    const VST3PluginGate gate(mModulePath, "VST3AudioFilter");
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
    const VST3PluginGate gate(mModulePath, "VST3AudioFilter");
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

KAFH_VST3_PLUGIN_CALL void VST3AudioFilter::BuildIOConfiguration()
{
    ClearBusConfiguration();
    if (!mInitialised) {
        return;
    }
    const VST3PluginGate gate(mModulePath, "VST3AudioFilter::BuildIOConfiguration");
    for (const Vst::BusDirection direction : {Vst::kInput, Vst::kOutput}) {
        const int32 count = gate.Call("IComponent::getBusCount", [&]() KAFH_VST3_PLUGIN_CALL {
            return mComponent->getBusCount(Vst::kAudio, direction);
        }, int32{0});
        for (int32 index = 0; index < count; ++index) {
            Vst::BusInfo info;
            std::memset(&info, 0, sizeof(info));
            const auto hasInfo = gate.Call("IComponent::getBusInfo", [&]() KAFH_VST3_PLUGIN_CALL {
                return mComponent->getBusInfo(Vst::kAudio, direction, index, info);
            }, tresult{kInternalError});
            const UTF16String name = hasInfo == kResultOk ? FieldText(info.name) : UTF16String();
            const int32 busType = hasInfo == kResultOk ? info.busType : Vst::kMain;
            Vst::SpeakerArrangement arrangement = 0;
            const auto hasArrangement = gate.Call("IAudioProcessor::getBusArrangement", [&]() KAFH_VST3_PLUGIN_CALL {
                return mAudioProcessor->getBusArrangement(direction, index, arrangement);
            }, tresult{kInternalError});
            // An arrangement without speakers makes no bus.
            if (hasArrangement != kResultOk || arrangement == 0) {
                continue;
            }
            const auto bus = MakeVST3BusDescription(arrangement, busType, name);
            if (direction == Vst::kInput) {
                AddInputBus(bus);
            } else {
                AddOutputBus(bus);
            }
        }
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
    KAFH_TRACE("~VST3AudioFilter", 5, "disconnecting processor/controller");
    if (mConnected) {
        Disconnect();
    }
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
