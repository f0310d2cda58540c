// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/framework/AudioFilter.h"
#include "kelaudiofilterhost/services/Guid.h"
#include "kelaudiofilterhost/vst3/VST3ClassID.h"

#include <pluginterfaces/base/ipluginbase.h>
#include <pluginterfaces/vst/ivstaudioprocessor.h>
#include <pluginterfaces/vst/ivstcomponent.h>
#include <pluginterfaces/vst/ivsteditcontroller.h>
#include <pluginterfaces/vst/ivsthostapplication.h>
#include <pluginterfaces/vst/ivstmessage.h>
#include <pluginterfaces/vst/ivstunits.h>

#include <string>

namespace kelaudiofilterhost::vst3 {

class VST3PluginGate;

/// The factory GUID of VST 3 filters: EB0FED8B-7841-4F2B-A655-D8CDDEA9F465.
const kelcore::Guid& GetVST3FactoryGuid();

/// An AudioFilter over one VST 3 audio class: its component and edit controller, created through the
/// module's factory, initialised with the filter as host context and connected to each other. The
/// plug-in's references to the filter's host interfaces do not keep it alive: the application's
/// references do. Every call into the plug-in goes through the module's gate.
class VST3AudioFilter : public AudioFilter,
                        public Steinberg::Vst::IHostApplication,
                        public Steinberg::Vst::IComponentHandler,
                        public Steinberg::Vst::IUnitHandler {
public:
    /// Builds the whole filter; a class whose component cannot be created or initialised still
    /// gives a filter, which is not initialised and has no buses.
    VST3AudioFilter(const UTF16String& modulePath, Steinberg::IPluginFactory* factory,
                    const Steinberg::PClassInfo& classInfo);
    ~VST3AudioFilter() override;

    VST3AudioFilter(const VST3AudioFilter&) = delete;
    VST3AudioFilter& operator=(const VST3AudioFilter&) = delete;

    /// Null when not initialised.
    boost::intrusive_ptr<AudioFilterDescriptor> CreateFilterDescriptor(const PluginLocator& locator,
                                                                       bool isApplicationPlugIn) override;

    bool IsInitialised() const { return mInitialised; }
    bool IsConnected() const { return mConnected; }
    bool HasSeparateController() const { return mSeparateController; }
    const UTF16String& GetVendor() const { return mVendor; }
    const std::string& GetSubCategories() const { return mSubCategories; }
    const VST3ClassID& GetClassID() const { return mClassID; }

    // FUnknown, shared by the host interfaces. addRef and release do nothing.
    Steinberg::tresult PLUGIN_API queryInterface(const Steinberg::TUID iid, void** object) override;
    Steinberg::uint32 PLUGIN_API addRef() override { return 1; }
    Steinberg::uint32 PLUGIN_API release() override { return 1; }

    // IHostApplication
    Steinberg::tresult PLUGIN_API getName(Steinberg::Vst::String128 name) override;
    /// Messages and attribute lists, each with the one reference it is made with.
    Steinberg::tresult PLUGIN_API createInstance(Steinberg::TUID cid, Steinberg::TUID iid, void** object) override;

    // IComponentHandler: edits are taken up with parameters; until then they are accepted and ignored.
    Steinberg::tresult PLUGIN_API beginEdit(Steinberg::Vst::ParamID) override { return Steinberg::kResultOk; }
    Steinberg::tresult PLUGIN_API performEdit(Steinberg::Vst::ParamID, Steinberg::Vst::ParamValue) override
    {
        return Steinberg::kResultOk;
    }
    Steinberg::tresult PLUGIN_API endEdit(Steinberg::Vst::ParamID) override { return Steinberg::kResultOk; }
    Steinberg::tresult PLUGIN_API restartComponent(Steinberg::int32) override { return Steinberg::kResultFalse; }

    // IUnitHandler
    Steinberg::tresult PLUGIN_API notifyUnitSelection(Steinberg::Vst::UnitID) override { return Steinberg::kResultOk; }
    Steinberg::tresult PLUGIN_API notifyProgramListChange(Steinberg::Vst::ProgramListID, Steinberg::int32) override
    {
        return Steinberg::kResultOk;
    }

private:
    void ReadNames(const Steinberg::PClassInfo& classInfo);
    void CreateComponent();
    void SetUpController();
    void BuildIOConfiguration();
    void Disconnect();
    bool LinkConnectionPoints(const VST3PluginGate& gate, bool connect);
    /// The processor's connection point (one reference), else the component's; null when neither has one.
    Steinberg::Vst::IConnectionPoint* ProcessorConnectionPoint(const VST3PluginGate& gate);

    UTF16String mModulePath;
    VST3ClassID mClassID{};
    Steinberg::Vst::IComponent* mComponent = nullptr;
    Steinberg::Vst::IAudioProcessor* mAudioProcessor = nullptr;
    Steinberg::Vst::IEditController* mEditController = nullptr;
    Steinberg::Vst::IUnitInfo* mUnitInfo = nullptr;
    Steinberg::IPluginFactory* mFactory = nullptr;
    bool mInitialised = false;
    bool mConnected = false;
    bool mSeparateController = false;
    UTF16String mDisplayName;
    UTF16String mVendor;
    std::string mSubCategories;
};

/// The bus for a VST 3 speaker arrangement: the plug-in's name, else the arrangement's, else
/// "Unknown"; a side-chain bus for any bus type but main.
AudioFilterBusDescription MakeVST3BusDescription(Steinberg::Vst::SpeakerArrangement arrangement,
                                                 Steinberg::int32 busType, const UTF16String& name);

} // namespace kelaudiofilterhost::vst3
