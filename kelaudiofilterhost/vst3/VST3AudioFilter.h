// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/framework/AudioFilter.h"
#include "kelaudiofilterhost/services/Guid.h"
#include "kelaudiofilterhost/vst3/ParameterChangeRing.h"
#include "kelaudiofilterhost/vst3/ParameterChanges.h"
#include "kelaudiofilterhost/vst3/VST3AudioFilterEditor.h"
#include "kelaudiofilterhost/vst3/VST3ClassID.h"
#include "kelaudiofilterhost/vst3/VST3EventList.h"
#include "kelaudiofilterhost/vst3/VST3ParameterInfo.h"
#include "kelaudiofilterhost/vst3/VST3PluginGate.h"
#include "kelaudiofilterhost/vst3/VST3VendorInterfaces.h"

#include <pluginterfaces/base/ipluginbase.h>
#include <pluginterfaces/vst/ivstaudioprocessor.h>
#include <pluginterfaces/vst/ivstcomponent.h>
#include <pluginterfaces/vst/ivsteditcontroller.h>
#include <pluginterfaces/vst/ivsthostapplication.h>
#include <pluginterfaces/vst/ivstmessage.h>
#include <pluginterfaces/vst/ivstunits.h>

#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace kelaudiofilterhost::vst3 {

/// The factory GUID of VST 3 filters: EB0FED8B-7841-4F2B-A655-D8CDDEA9F465.
const kelcore::Guid& GetVST3FactoryGuid();

/// An AudioFilter over one VST 3 audio class: its component and edit controller, created through the
/// module's factory, initialised with the filter as host context and connected to each other. The
/// plug-in's references to the filter's host interfaces do not keep it alive: the application's
/// references do. Every call into the plug-in goes through the module's gate.
class VST3AudioFilter : public AudioFilter,
                        public Steinberg::Vst::IHostApplication,
                        public Steinberg::Vst::IComponentHandler,
                        public Steinberg::Vst::IUnitHandler,
                        public IVST3QueloVendorSpecificHost {
public:
    /// Blocks longer than this reach the plug-in in pieces.
    static constexpr int kMaxProcessingBlockSize = 1024;
    /// Parameter changes that can wait for the next block, and points each input queue holds, at least.
    static constexpr std::size_t kMinimumPendingChanges = 4096;
    static constexpr Steinberg::int32 kMinimumPointsPerQueue = 256;
    /// Events an event list holds per block.
    static constexpr Steinberg::int32 kEventListCapacity = 2048;
    /// Changes the processor may report per block before the oldest undelivered ones are dropped.
    static constexpr std::size_t kOutputChangeCapacity = 4096;

    /// Builds the whole filter; a class whose component cannot be created or initialised still
    /// gives a filter, which is not initialised and has no buses. A filter made only for its
    /// descriptor (describeOnly, a scan) creates and initialises its controller but does not wire
    /// it to the component: no handler, connection or state copy, which some plug-ins pay for
    /// dearly (a controller that rebuilds its whole sound engine from the copied state).
    VST3AudioFilter(const UTF16String& modulePath, Steinberg::IPluginFactory* factory,
                    const Steinberg::PClassInfo& classInfo, bool describeOnly = false);
    ~VST3AudioFilter() override;

    VST3AudioFilter(const VST3AudioFilter&) = delete;
    VST3AudioFilter& operator=(const VST3AudioFilter&) = delete;

    // Processing. SetSampleRate and SetBlockSize reach the plug-in at once while inactive, else at
    // the next Resume (plug-ins may only be set up while inactive).
    void SetSampleRate(float sampleRate) override;
    void SetBlockSize(int blockSize) override;
    int GetMaxProcessingBlockSize() const override { return kMaxProcessingBlockSize; }
    void SetCurrentOffset(long long offset) override;
    /// Runs one block in pieces of at most kMaxProcessingBlockSize frames, with the parameter
    /// changes made since the last block at their offsets. Allocates nothing and takes no lock;
    /// whatever the plug-in throws ends the call. The arrays hold the buses' channels, in bus order.
    void Process(float** inputs, float** outputs, int frameCount) override;
    /// Changes reach the processor in the parameter queues at their offsets (the controller is not told).
    bool HandlesParameterOffsets() const override { return true; }
    void QueueParameterChange(int index, float value, int sampleOffset) override;
    /// Notes and poly pressure go into the event list; controllers, channel pressure, pitch bend and
    /// program changes become changes of the parameters the controller's MIDI mapping names.
    bool QueueEvent(const AudioFilterEvent& event) override;
    /// Components with an event input bus.
    bool TakesEvents() const override { return mInputEvents != nullptr; }
    void SetOfflineRendering(bool offline) override;
    int GetTail() const override;
    void Suspend() override;
    /// Activates the plug-in, first re-reading buses and parameters it said had changed.
    void Resume() override;
    int GetInitialDelay() const override;
    /// Asks for one arrangement per bus by channel count; the buses change only when the plug-in accepts.
    void RequestIOConfiguration(const std::vector<std::vector<AudioChannelDescription>>& inputs,
                                const std::vector<std::vector<AudioChannelDescription>>& outputs) override;

    // Parameters: the controller's, without read-only, bypass and program-change ones.
    int GetParameterCount() const override;
    void SetParameter(int index, float value) override;
    float GetParameter(int index) const override;
    boost::intrusive_ptr<AudioFilterParameterInfo> GetParameterInfo(int index) const override;
    UTF16String GetParameterString(int index) const override;
    /// The index of a parameter ID in the list; -1 when not listed.
    int FindParameterIndex(Steinberg::Vst::ParamID id) const;
    /// Hands what the processor reported about its parameters to the controller and, for listed
    /// parameters, to the automated-parameter-change signal. Non-audio threads; Resume, Suspend and
    /// SetParameter do it too.
    void DeliverProcessorParameterChanges();

    // Presets: the programs of the root unit, and the two-part state chunk.
    bool DoPresetsUseChunkData() const override { return true; }
    int GetNumFactoryPresets() const override { return mFactoryPresetCount; }
    UTF16String GetFactoryPresetName(int index) const override;
    void SetFactoryPreset(int index) override;
    bool LoadChunkData(const PresetData& preset) override;
    bool SaveChunkData(PresetData& preset) const override;

    /// True when the controller made a view at construction (never for a describe-only filter).
    bool HasCustomEditor() const override { return mEditor != nullptr; }
    /// The one editor made at construction; null without a view.
    boost::intrusive_ptr<AudioFilterEditor> CreateCustomEditor() override { return mEditor; }

    /// Null when not initialised.
    boost::intrusive_ptr<AudioFilterDescriptor> CreateFilterDescriptor(const PluginLocator& locator,
                                                                       bool isApplicationPlugIn) override;

    bool IsInitialised() const { return mInitialised; }
    bool IsConnected() const { return mConnected; }
    bool HasSeparateController() const { return mSeparateController; }
    const UTF16String& GetVendor() const { return mVendor; }
    const std::string& GetSubCategories() const { return mSubCategories; }
    const VST3ClassID& GetClassID() const { return mClassID; }
    const Steinberg::Vst::ProcessContext& GetProcessContext() const { return mProcessContext; }
    /// The restart flags the plug-in asked for that the next Resume has not yet handled.
    Steinberg::int32 GetPendingRestartFlags() const { return mRestartFlags.load(std::memory_order_relaxed); }

    // FUnknown, shared by the host interfaces. addRef and release do nothing.
    Steinberg::tresult PLUGIN_API queryInterface(const Steinberg::TUID iid, void** object) override;
    Steinberg::uint32 PLUGIN_API addRef() override { return 1; }
    Steinberg::uint32 PLUGIN_API release() override { return 1; }

    // IHostApplication
    Steinberg::tresult PLUGIN_API getName(Steinberg::Vst::String128 name) override;
    /// Messages and attribute lists, each with the one reference it is made with.
    Steinberg::tresult PLUGIN_API createInstance(Steinberg::TUID cid, Steinberg::TUID iid, void** object) override;

    // IComponentHandler: edits made in the plug-in reach the filter's signals and the processor.
    Steinberg::tresult PLUGIN_API beginEdit(Steinberg::Vst::ParamID id) override;
    Steinberg::tresult PLUGIN_API performEdit(Steinberg::Vst::ParamID id, Steinberg::Vst::ParamValue value) override;
    Steinberg::tresult PLUGIN_API endEdit(Steinberg::Vst::ParamID id) override;
    /// Latency, I/O and parameter changes are recorded for the next Resume; parameter infos are
    /// rebuilt at once. Other flags are accepted and ignored.
    Steinberg::tresult PLUGIN_API restartComponent(Steinberg::int32 flags) override;

    // IUnitHandler
    Steinberg::tresult PLUGIN_API notifyUnitSelection(Steinberg::Vst::UnitID) override { return Steinberg::kResultOk; }
    Steinberg::tresult PLUGIN_API notifyProgramListChange(Steinberg::Vst::ProgramListID, Steinberg::int32) override
    {
        return Steinberg::kResultOk;
    }

    // IVST3QueloVendorSpecificHost
    Steinberg::int32 PLUGIN_API GetLocaleCode() override;
    Steinberg::int32 PLUGIN_API GetThemeXMLSize() override;
    void PLUGIN_API GetThemeXML(char* buffer) override;
    void PLUGIN_API ShiftFocus(Steinberg::int32 direction) override;

private:
    void ReadNames(const Steinberg::PClassInfo& classInfo);
    void CreateComponent();
    void ReadVendorDisplayName();
    void SetUpController();
    /// Lists the controller's parameters; the infos and index map only, safe while processing.
    void BuildParameterInfos();
    /// Sizes the pending ring and the parameter-change queues for the controller's parameter count;
    /// only while the audio thread cannot be using them.
    void SizeParameterQueues();
    void FindFactoryPresets();
    void CreateEditor();
    void BuildIOConfiguration();
    void Disconnect();
    bool LinkConnectionPoints(const VST3PluginGate& gate, bool connect);
    /// The processor's connection point (one reference), else the component's; null when neither has one.
    Steinberg::Vst::IConnectionPoint* ProcessorConnectionPoint(const VST3PluginGate& gate);
    /// setupProcessing with the filter's rate and block size; only while inactive and with a rate.
    void SetUpProcessing();
    void ActivateBuses();
    /// Handles the restarts asked for, then sets up processing and the buses and activates the
    /// component, unless it is active.
    void Activate();
    /// setProcessing (false) when processing, then setActive (false).
    void Deactivate();
    /// Hands the parameter changes still pending to an inactive processor with one frame of
    /// silence, so that its state holds them; an active one takes them with its next block.
    void FlushParameterChanges();
    /// One process call without audio that hands the pending changes over, which stay pending for
    /// the first block; only while active and while the audio thread cannot be processing.
    void ProcessParameterChangesOnly();
    void AllocateBusBuffers();
    void FreeBusBuffers();
    void UpdateProcessContext();
    /// Points the bus buffers at the caller's channels, offset frames in.
    void PointChannels(float** inputs, float** outputs, int offset);
    /// Moves the pending changes into the block's staging list; the next pieces take their share.
    void StageParameterChanges();
    /// Hands the staged changes and events of frames [first, first + frames) to the piece, at offsets
    /// within it (the last piece takes any beyond the block); the output queues are emptied.
    void PrepareParameterChanges(int first, int frames, bool lastPiece);
    /// Reads the controller's MIDI mapping into mMidiMapping; non-audio threads.
    void ReadMidiMapping();
    /// The position of the process context from the tempo map, at its project time.
    void ApplyTempoMap();
    /// Keeps what the processor wrote into the output queues for DeliverProcessorParameterChanges.
    void CollectOutputParameterChanges();
    /// Traces what the audio thread could only count: refusals, drops, failures and throws.
    void ReportAudioThreadFaults();
    /// Writes the component's (or controller's) state into a new stream; empty on failure.
    std::vector<std::uint8_t> ReadState(bool controller) const;

    UTF16String mModulePath;
    VST3PluginGate mGate;
    VST3ClassID mClassID{};
    Steinberg::Vst::IComponent* mComponent = nullptr;
    Steinberg::Vst::IAudioProcessor* mAudioProcessor = nullptr;
    Steinberg::Vst::IEditController* mEditController = nullptr;
    Steinberg::Vst::IUnitInfo* mUnitInfo = nullptr;
    boost::intrusive_ptr<VST3AudioFilterEditor> mEditor;
    Steinberg::IPluginFactory* mFactory = nullptr;
    bool mInitialised = false;
    bool mConnected = false;
    bool mSeparateController = false;
    UTF16String mDisplayName;
    UTF16String mVendor;
    std::string mSubCategories;

    // Processing state.
    Steinberg::Vst::ProcessData mProcessData{};
    Steinberg::Vst::ProcessContext mProcessContext{};
    std::vector<Steinberg::Vst::AudioBusBuffers> mInputBusBuffers;
    std::vector<Steinberg::Vst::AudioBusBuffers> mOutputBusBuffers;
    std::vector<Steinberg::Vst::Sample32*> mInputChannelPointers;
    std::vector<Steinberg::Vst::Sample32*> mOutputChannelPointers;
    VST3EventList* mInputEvents = nullptr;
    VST3EventList* mOutputEvents = nullptr;
    ParameterChanges* mInputChanges = nullptr;
    ParameterChanges* mOutputChanges = nullptr;
    std::vector<float> mSilentChannel;
    std::vector<float> mDiscardChannel;
    bool mActive = false;
    bool mProcessing = false;
    bool mSetupPending = false;
    int mPieceLimit = kMaxProcessingBlockSize;
    // The block's changes and events, sorted out piece by piece; reserved, never grown on the audio thread.
    std::vector<ParameterChange> mStagedChanges;
    std::vector<Steinberg::Vst::Event> mStagedEvents;
    // Parameter per channel and controller (0-127, then channel pressure, pitch bend, program change);
    // empty when the controller maps no MIDI.
    std::vector<Steinberg::Vst::ParamID> mMidiMapping;
    bool mMidiMappingRead = false;

    // Parameters.
    Steinberg::int32 mFactoryPresetCount = 0;
    Steinberg::Vst::ParamID mProgramChangeID = 0xFFFFFFFF;
    Steinberg::int32 mProgramChangeIndex = 0;
    std::vector<boost::intrusive_ptr<VST3ParameterInfo>> mParameterInfos;
    std::map<Steinberg::Vst::ParamID, int> mParameterIndexMap;
    Steinberg::int32 mControllerParameterCount = 0;
    Steinberg::int32 mQueuesSizedFor = -1;
    // Side-chain buses this filter switched on, to switch them off when the side chain goes.
    std::vector<Steinberg::int32> mActivatedAuxBuses;
    // From the thread that changes parameters to the audio thread, and back.
    ParameterChangeRing mPendingInputChanges;
    ParameterChangeRing mProcessorOutputChanges;
    std::atomic<Steinberg::int32> mRestartFlags{0};

    // What the audio thread found, reported by the next non-audio call.
    std::atomic<Steinberg::tresult> mProcessFailure{Steinberg::kResultOk};
    bool mProcessFailureReported = false;
    std::atomic<std::uint32_t> mProcessThrows{0};
};

/// The bus for a VST 3 speaker arrangement: the plug-in's name, else the arrangement's, else
/// "Unknown"; a side-chain bus for any bus type but main.
AudioFilterBusDescription MakeVST3BusDescription(Steinberg::Vst::SpeakerArrangement arrangement,
                                                 Steinberg::int32 busType, const UTF16String& name);

} // namespace kelaudiofilterhost::vst3
