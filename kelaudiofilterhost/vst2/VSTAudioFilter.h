// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/framework/AudioFilter.h"
#include "kelaudiofilterhost/vst2/VSTDispatcherBase.h"
#include "kelaudiofilterhost/vst2/VstAbi.h"

#include <boost/function.hpp>

#include <cstdint>
#include <atomic>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace kelaudiofilterhost::vst {

class VSTParameterInfo;

/// The factory GUID of VST 2 filters: E84E3BDD-B4E2-416C-8B6D-5C0DD76D197F.
const kelcore::Guid& GetVSTFactoryGuid();

/// An AudioFilter over one open VST 2 effect. Owns the effect from construction (closes it when
/// destroyed); its module's library stays mapped for the life of the process. Every call into the
/// effect is guarded.
class VSTAudioFilter : public AudioFilter, private VSTDispatcherBase {
public:
    /// Arguments and result as the host callback's (opcode, index, value, pointer, option).
    /// Events one block can carry.
    static constexpr std::size_t kEventCapacity = 1024;
    /// Effects with more input or output channels than this are refused at creation.
    static constexpr int kMaximumChannels = 1024;

    using ExtraCallback = boost::function<std::intptr_t(std::int32_t, std::int32_t, std::intptr_t, void*, float)>;

    /// Opens the effect, tells it 44100 Hz and 2048 frames, names itself and builds parameter infos and buses.
    VSTAudioFilter(const UTF16String& componentID, const UTF16String& modulePath, abi::AEffect* effect,
                   bool fileTitleAsName);
    ~VSTAudioFilter() override;

    /// The host callback handed to every VST 2 entry point.
    static std::intptr_t StaticAudioMasterCallback(abi::AEffect* effect, std::int32_t opcode, std::int32_t index,
                                                   std::intptr_t value, void* ptr, float opt);
    /// This filter's answers; 0 hands the call on to the process-wide answers.
    std::intptr_t AudioMasterCallback(std::int32_t opcode, std::int32_t index, std::intptr_t value, void* ptr,
                                      float opt);

    /// Callbacks asked before the filter's own answers, in ascending key order (the editor's). Changed
    /// from non-audio threads; effects may ask meanwhile from any thread, without a lock.
    void AddExtraCallback(std::int32_t key, const ExtraCallback& callback);
    void RemoveExtraCallback(std::int32_t key);

    void SetSampleRate(float sampleRate) override;
    void SetBlockSize(int blockSize) override;
    int GetMaxProcessingBlockSize() const override;
    void SetCurrentOffset(long long offset) override;
    /// Runs one block; allocates nothing; a plug-in's exception ends the block. The arrays hold the
    /// buses' channels. The effect gets arrays as long as its own channel counts at the last Resume:
    /// channels beyond the buses are silent in and discarded out. Callers clear the outputs first:
    /// effects without replacing processing add into them.
    void Process(float** inputs, float** outputs, int frameCount) override;
    /// MIDI events reach the effect through effProcessEvents before the block they belong to.
    bool QueueEvent(const AudioFilterEvent& event) override;
    /// Instruments, and effects that say they can receive MIDI events.
    bool TakesEvents() const override;
    void Suspend() override;
    void Resume() override;
    int GetParameterCount() const override;
    void SetParameter(int index, float value) override;
    float GetParameter(int index) const override;
    boost::intrusive_ptr<AudioFilterParameterInfo> GetParameterInfo(int index) const override;
    UTF16String GetParameterString(int index) const override;
    bool DoPresetsUseChunkData() const override;
    void GetFactoryDefaultPresets(PresetList& list) const override;
    int GetNumFactoryPresets() const override;
    UTF16String GetFactoryPresetName(int index) const override;
    void SetFactoryPreset(int index) override;
    bool LoadChunkData(const PresetData& preset) override;
    bool SaveChunkData(PresetData& preset) const override;
    int GetInitialDelay() const override;
    void RequestIOConfiguration(const std::vector<std::vector<AudioChannelDescription>>& inputs,
                                const std::vector<std::vector<AudioChannelDescription>>& outputs) override;
    bool CanUseSideChaining() const override;
    bool HasCustomEditor() const override;
    boost::intrusive_ptr<AudioFilterEditor> CreateCustomEditor() override;
    boost::intrusive_ptr<AudioFilterDescriptor> CreateFilterDescriptor(const PluginLocator& locator,
                                                                       bool isApplicationPlugIn) override;

    /// The time info the effect gets for audioMasterGetTime, refreshed from the host and offset.
    void UpdateTimeInfo();
    const abi::VstTimeInfo& GetTimeInfo() const { return mTimeInfo; }
    bool IsMonoThroughStereo() const { return mMonoThroughStereo; }
    using VSTDispatcherBase::Dispatch;
    using VSTDispatcherBase::GetEffect;

private:
    struct SpeakerArrangementDeleter {
        void operator()(abi::VstSpeakerArrangement* arrangement) const;
    };
    using SpeakerArrangementPtr = std::unique_ptr<abi::VstSpeakerArrangement, SpeakerArrangementDeleter>;

    using ExtraCallbackList = std::vector<std::pair<std::int32_t, ExtraCallback>>;

    /// Publishes a changed list; the caller holds mExtraCallbackMutex.
    void PublishExtraCallbacks(std::unique_ptr<ExtraCallbackList> list);
    /// Frees replaced lists that no callback can still be reading; non-audio threads only.
    void ReclaimExtraCallbacks();
    void BuildIOConfiguration();
    static SpeakerArrangementPtr MakeArrangement(std::size_t channels);
    static SpeakerArrangementPtr CopyArrangement(const abi::VstSpeakerArrangement& source);
    /// Sizes the pointer arrays and padding channels for the effect's current counts and the buses.
    void PrepareChannels();
    /// The effect's channel and parameter counts, made sane (never negative, capped).
    int EffectInputs() const;
    int EffectOutputs() const;
    /// Hands the block's queued events to the effect, in time order; audio thread.
    void SendQueuedEvents(int frameCount);

    std::vector<boost::intrusive_ptr<VSTParameterInfo>> mParameterInfos;
    abi::VstTimeInfo mTimeInfo{};
    bool mTransportChanged = false;
    // Readers take the published list without a lock and count themselves in mExtraCallbackReaders; a
    // replaced list is freed only by a later non-audio call that sees no reader.
    std::mutex mExtraCallbackMutex;
    std::unique_ptr<ExtraCallbackList> mExtraCallbacks;
    std::atomic<const ExtraCallbackList*> mPublishedExtraCallbacks{nullptr};
    std::atomic<std::uint32_t> mExtraCallbackReaders{0};
    std::vector<std::unique_ptr<ExtraCallbackList>> mRetiredExtraCallbacks;
    long long mCurrentOffset = 0;
    // The queued events and the VstEvents record pointing at them, both sized at construction.
    std::vector<abi::VstMidiEvent> mQueuedEvents;
    std::vector<std::intptr_t> mEventRecord;
    bool mMonoThroughStereo = false;
    // What the effect is handed, sized by PrepareChannels: one pointer per channel of the effect (or of
    // the buses, when more), a silent channel for inputs nobody passes and one to discard outputs into.
    std::vector<float*> mEffectInputs;
    std::vector<float*> mEffectOutputs;
    std::vector<float> mSilentChannel;
    std::vector<float> mDiscardChannel;
    std::size_t mCallerInputs = 0;
    std::size_t mCallerOutputs = 0;
    bool mChannelsPadded = false;
    std::atomic<bool> mIOChanged{false};
    SpeakerArrangementPtr mInputArrangement;
    SpeakerArrangementPtr mOutputArrangement;
    UTF16String mModulePath;
};

} // namespace kelaudiofilterhost::vst
