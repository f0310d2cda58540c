// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/catalogue/AudioFilterDescriptor.h"
#include "kelaudiofilterhost/framework/AudioFilterBusDescription.h"
#include "kelaudiofilterhost/framework/AudioFilterEditor.h"
#include "kelaudiofilterhost/framework/AudioFilterParameterInfo.h"
#include "kelaudiofilterhost/framework/DelayLine.h"
#include "kelaudiofilterhost/framework/IAudioFilterHost.h"
#include "kelaudiofilterhost/framework/PreparedChannelMap.h"
#include "kelaudiofilterhost/framework/TempoMap.h"
#include "kelaudiofilterhost/presets/PresetData.h"
#include "kelaudiofilterhost/presets/PresetList.h"
#include "kelaudiofilterhost/services/Geometry.h"
#include "kelaudiofilterhost/services/RefCountedObject.h"

#include <boost/core/noncopyable.hpp>
#include <boost/intrusive_ptr.hpp>
#include <boost/signals2/signal.hpp>
#include <boost/thread/recursive_mutex.hpp>

#include <atomic>
#include <cstdint>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <utility>
#include <vector>

namespace kelcore::proplist {
class PropList;
}

namespace kelaudiofilterhost {

using ChannelMap = std::map<int, int>;

/// A channel message for the next block, at a frame of it: the MIDI bytes (status with its channel
/// in the low four bits, then up to two data bytes).
struct AudioFilterEvent {
    std::int32_t sampleOffset = 0;
    std::uint8_t status = 0;
    std::uint8_t data1 = 0;
    std::uint8_t data2 = 0;

    static AudioFilterEvent NoteOn(int offset, int channel, int note, int velocity)
    {
        return Make(offset, 0x90, channel, note, velocity);
    }
    static AudioFilterEvent NoteOff(int offset, int channel, int note, int velocity = 0)
    {
        return Make(offset, 0x80, channel, note, velocity);
    }
    static AudioFilterEvent Controller(int offset, int channel, int controller, int value)
    {
        return Make(offset, 0xB0, channel, controller, value);
    }
    static AudioFilterEvent ProgramChange(int offset, int channel, int program)
    {
        return Make(offset, 0xC0, channel, program, 0);
    }
    /// value from 0 to 16383, 8192 in the middle.
    static AudioFilterEvent PitchBend(int offset, int channel, int value)
    {
        return Make(offset, 0xE0, channel, value & 0x7F, (value >> 7) & 0x7F);
    }
    int GetType() const { return status & 0xF0; }
    int GetChannel() const { return status & 0x0F; }

private:
    static AudioFilterEvent Make(int offset, int type, int channel, int data1, int data2)
    {
        return {offset, static_cast<std::uint8_t>(type | (channel & 0x0F)), static_cast<std::uint8_t>(data1 & 0x7F),
                static_cast<std::uint8_t>(data2 & 0x7F)};
    }
};

/// Base of every filter the library hands out: plug-in filters and the application's internal filters.
/// Every virtual has a neutral default; back ends override what they support. Held through
/// boost::intrusive_ptr; a filter starts suspended.
///
/// Threads: configuration, parameters, presets and map edits come from non-audio threads; Process and
/// ProcessWithMapping run on the audio thread, allocate nothing and take no lock.
class AudioFilter : public kelcore::utility::RefCountedObject, private boost::noncopyable {
public:
    using PresetChangedSignal = boost::signals2::signal<void()>;
    using AutomatedParameterChangeSignal = boost::signals2::signal<void(int, float)>;
    using EditingStateChangeSignal = boost::signals2::signal<void(int, bool)>;
    using ChannelMapChangedSignal = boost::signals2::signal<void(bool, ChannelMap, ChannelMap)>;
    using TargetFormatChangedSignal = boost::signals2::signal<void()>;
    using SuspendedStateChangedSignal = boost::signals2::signal<void(bool)>;

    AudioFilter(const UTF16String& componentID, const UTF16String& displayName);
    ~AudioFilter() override;

    // Identity.
    UTF16String GetComponentID() const { return mComponentID; }
    UTF16String GetDisplayName() const { return mDisplayName; }
    void SetDisplayName(const UTF16String& name) { mDisplayName = name; }

    // Processing context.
    virtual void SetAudioFilterHost(IAudioFilterHost* host);
    IAudioFilterHost* GetAudioFilterHost() const { return mHost; }
    virtual void SetSampleRate(float sampleRate);
    float GetSampleRate() const { return mSampleRate; }
    virtual void SetBlockSize(int blockSize);
    int GetBlockSize() const { return mBlockSize; }
    virtual int GetMaxProcessingBlockSize() const;
    virtual void SetCurrentOffset(long long offset);

    /// One block on the audio thread: channel pointers of the filter's own inputs and outputs. The
    /// outputs must hold silence, or what the filter should add to: some effects add to their outputs
    /// instead of replacing them, so callers clear the output buffers before every call.
    virtual void Process(float** inputs, float** outputs, int frameCount);
    /// One block in the application's target format (inputs: main then side-chain target channels,
    /// outputs: main target channels) through the channel maps; plain Process when maps are off.
    /// The caller clears the outputs as for Process; buffers of its own that it hands the filter are
    /// cleared here. Allocates nothing, locks nothing. A block longer than the block size of the last
    /// Resume is silenced and counted; the next Suspend, Resume, SetBlockSize or map edit traces the count.
    virtual void ProcessWithMapping(float** inputs, float** outputs, int frameCount);
    virtual bool IsOfflineProcess() const;

    // Sample-accurate input for the next Process or ProcessWithMapping call, queued on the thread
    // that makes it; offsets count frames into that block.
    /// True when QueueParameterChange lands changes at their offsets; otherwise it applies them at
    /// once, and a caller wanting them on their sample cuts the block there.
    virtual bool HandlesParameterOffsets() const;
    /// A normalized value for the next block. The base sets it at once (SetParameter).
    virtual void QueueParameterChange(int index, float value, int sampleOffset);
    /// False when the filter takes no events or its queue for the block is full.
    virtual bool QueueEvent(const AudioFilterEvent& event);
    /// Whether the filter listens to channel messages at all (instruments, MIDI-driven effects).
    virtual bool TakesEvents() const;
    /// Rendering not bound to real time: plug-ins may then take their time (and some compute more
    /// carefully). Takes effect at the next Resume.
    virtual void SetOfflineRendering(bool offline);
    bool IsOfflineRendering() const { return mOfflineRendering; }
    /// With a map, the position the filter reports to its plug-in (tempo, quarter notes, bar) comes
    /// from it at the current offset, which then moves with every block; without, from the host.
    void SetTempoMap(std::shared_ptr<const TempoMap> map) { mTempoMap = std::move(map); }
    const TempoMap* GetTempoMap() const { return mTempoMap.get(); }
    virtual bool IsGenerator() const;
    virtual void SetSelectionLeft(double seconds);
    virtual double GetSelectionLeft() const;
    virtual void SetCurrentDuration(double seconds);
    virtual double GetCurrentDuration() const;
    virtual double GetProcessedDuration() const;
    virtual double GetProcessedScale() const;
    virtual int GetMaxOutputBlockSize(int inputBlockSize) const;
    virtual int GetTail() const;
    virtual int OfflineProcess(float** inputs, float** outputs, int inputFrames, int outputFrames, int flags);
    virtual bool OfflineProcessFinished();
    /// Deactivates; derived filters call the base version as part of their own.
    virtual void Suspend();
    /// Activates and rebuilds the channel-map working arrays; derived filters call the base version.
    virtual void Resume();
    virtual void SetDoSpectral(bool doSpectral);
    virtual void SetPreviewMode(bool preview);

    // Parameters.
    virtual int GetParameterCount() const;
    /// SetParameter, then the automated-parameter-change signal.
    virtual void SetParameterAutomated(int index, float value);
    virtual void SetParameter(int index, float value);
    virtual float GetParameter(int index) const;
    /// Description of one parameter; null in the base and for an index out of range.
    virtual boost::intrusive_ptr<AudioFilterParameterInfo> GetParameterInfo(int index) const;
    /// The value as text: six significant digits, general notation.
    virtual UTF16String GetParameterString(int index) const;
    virtual unsigned int GetCurveData(int index, unsigned int points, std::vector<float>& curve);

    // Presets.
    virtual float GetCurrentPresetVersion() const;
    virtual bool DoPresetsUseChunkData() const;
    /// Replaces the list's contents with one factory-reference preset per named factory program.
    virtual void GetFactoryDefaultPresets(PresetList& list) const;
    virtual int GetNumFactoryPresets() const;
    virtual UTF16String GetFactoryPresetName(int index) const;
    virtual void SetFactoryPreset(int index);
    /// Restores a record made by SaveSettings, with the loading-settings flag set meanwhile. False,
    /// with the filter unchanged, for a record of another version or type or with missing or
    /// malformed state.
    virtual bool LoadSettings(const PresetData& preset);
    /// Replaces the record's contents with this filter's state: a chunk or the parameter list.
    virtual void SaveSettings(PresetData& preset) const;
    /// Filters that keep their state as a chunk override both; the base refuses.
    virtual bool LoadChunkData(const PresetData& preset);
    /// Marks the record as a chunk of the current version; false in the base (no chunk written).
    virtual bool SaveChunkData(PresetData& preset) const;
    virtual bool LoadCustomData(const PresetData& preset);
    virtual bool ArePresetsSafeForPlayback() const;

    /// Latency in frames.
    virtual int GetInitialDelay() const;
    /// Derived filters try to adopt one layout per input and per output bus.
    virtual void RequestIOConfiguration(const std::vector<std::vector<AudioChannelDescription>>& inputs,
                                        const std::vector<std::vector<AudioChannelDescription>>& outputs);
    virtual bool CanUseSideChaining() const;
    virtual bool HasCustomEditor() const;
    /// The filter's own editor, not yet open; null when it has none.
    virtual boost::intrusive_ptr<AudioFilterEditor> CreateCustomEditor();
    /// A new, independent, suspended filter of the same component with this filter's sample rate and
    /// block size (given before anything else reaches it), I/O configuration, settings, preset name,
    /// channel maps and target buses. Null when the component can no longer be created. Host and
    /// signal connections are not copied.
    virtual boost::intrusive_ptr<AudioFilter> Clone() const;
    virtual bool IsZombie() const;
    /// Fires the editing-state-change signal with (index, true).
    virtual void BeginEditing(int index);
    /// Fires the editing-state-change signal with (index, false).
    virtual void EndEditing(int index);
    virtual void StartLoadingSettings();
    virtual void FinishLoadingSettings(bool success);
    /// The catalogue record of this filter's class for a scanned module; null in the base.
    virtual boost::intrusive_ptr<AudioFilterDescriptor> CreateFilterDescriptor(const PluginLocator& locator,
                                                                               bool isApplicationPlugIn);

    // Buses.
    const std::vector<AudioFilterBusDescription>& GetInputBuses() const { return mInputBuses; }
    const std::vector<AudioFilterBusDescription>& GetOutputBuses() const { return mOutputBuses; }
    /// Replaces both out-vectors with copies of the buses.
    void GetBusConfiguration(std::vector<AudioFilterBusDescription>& inputs,
                             std::vector<AudioFilterBusDescription>& outputs) const;
    unsigned int GetNumberOfInputChannels() const;
    unsigned int GetNumberOfOutputChannels() const;

    // State.
    bool IsSuspended() const { return mSuspended.load(std::memory_order_acquire); }
    const std::pair<UTF16String, bool>& GetPresetNameAndDirtyState() const { return mPresetNameAndDirtyState; }
    void SetPresetNameAndDirtyState(const std::pair<UTF16String, bool>& state) { mPresetNameAndDirtyState = state; }
    /// A change stamp: compare with a value seen earlier to learn whether any parameter changed since.
    std::int32_t GetParameterDirtyCount() const { return mParameterDirtyCount.load(std::memory_order_relaxed); }
    void BumpParameterDirtyCount();
    bool GetHasHighLatency() const { return mHasHighLatency; }
    void SetHasHighLatency(bool value) { mHasHighLatency = value; }
    bool GetHasHighCPU() const { return mHasHighCPU; }
    void SetHasHighCPU(bool value) { mHasHighCPU = value; }
    bool GetEditorVisible() const { return mEditorVisible; }
    void SetEditorVisible(bool visible) { mEditorVisible = visible; }
    kelcore::geom::RectT<long> GetEditorRect() const { return mEditorRect; }
    void SetEditorRect(kelcore::geom::RectT<long> rect) { mEditorRect = rect; }
    bool IsLoadingSettings() const { return mLoadingSettings; }

    // Signals; slots run synchronously on the thread that made the change.
    PresetChangedSignal& GetPresetChangedSignal() { return mPresetChangedSignal; }
    AutomatedParameterChangeSignal& GetAutomatedParameterChangeSignal() { return mAutomatedParameterChangeSignal; }
    EditingStateChangeSignal& GetEditingStateChangeSignal() { return mEditingStateChangeSignal; }
    ChannelMapChangedSignal& GetChannelMapChangedSignal() { return mChannelMapChangedSignal; }
    TargetFormatChangedSignal& GetTargetFormatChangedSignal() { return mTargetFormatChangedSignal; }
    SuspendedStateChangedSignal& GetSuspendedStateChangedSignal() { return mSuspendedStateChangedSignal; }

    // Target format and channel maps.
    /// Sets the main target bus's layout, then fires the target-format-changed signal. Takes effect at the next Resume.
    void SetChannelMapTargetChannelLayout(const std::vector<AudioChannelDescription>& layout);
    std::vector<AudioChannelDescription> GetChannelMapTargetChannelLayout() const;
    void SetMainTargetBus(const AudioFilterBusDescription& bus);
    AudioFilterBusDescription GetMainTargetBus() const;
    void SetSideChainTargetBus(const AudioFilterBusDescription& bus);
    AudioFilterBusDescription GetSideChainTargetBus() const;
    unsigned int GetSideChainTargetBusChannelCount() const;
    bool GetUseChannelMap() const { return mUseChannelMap.load(std::memory_order_relaxed); }
    /// Only sets the flag; the working arrays follow at the next Resume.
    void SetUseChannelMap(bool use) { mUseChannelMap.store(use, std::memory_order_relaxed); }

    /// Copy of the input (true) or output (false) map.
    ChannelMap GetChannelMap(bool input) const;
    /// Replaces a map and fires the channel-map-changed signal (also when nothing changed).
    void SetChannelMap(const ChannelMap& map, bool input);
    /// Maps one filter channel to a target channel, taking the target away from any other filter channel.
    void AssignChannelMapping(bool input, int filterChannel, int targetChannel);
    void RemoveChannelMapping(bool input, int filterChannel);
    /// Identity over the common channel count; no signal. Reaches the audio path at once, like every edit.
    void SetDefaultChannelMap(bool input);
    /// Empty, or the identity over equal channel counts.
    bool IsChannelMapDefault(bool input) const;
    /// Connects the side-chain target channels, in order, to the first free filter inputs.
    void AutoConnectSideChainChannels(bool replace);
    /// A map matching channel roles of the first bus against the target; identity when no role matches.
    static ChannelMap BuildBestFitChannelMap(const std::vector<AudioFilterBusDescription>& buses,
                                             const std::vector<AudioChannelDescription>& targetLayout);
    /// Writes both maps under "InputMapping" and "OutputMapping"; false when maps are off or list is null.
    bool SaveChannelMapSettings(kelcore::proplist::PropList* list) const;
    /// Reads both maps; false when maps are off, a child is missing or an entry is incomplete.
    bool LoadChannelMapSettings(const kelcore::proplist::PropList* list);

protected:
    /// Applies the record's parameter list in order through SetParameterAutomated, skipping (and
    /// tracing) each non-finite value. False, changing nothing, when the list is longer than
    /// GetParameterCount(); a missing or malformed list sets nothing and counts as loaded.
    virtual bool LoadParams(const PresetData& preset);
    /// GetParameter of every index, in order; replaces the out-list.
    virtual void SaveParams(std::list<float>& values) const;

    void AddInputBus(const AudioFilterBusDescription& bus);
    void AddOutputBus(const AudioFilterBusDescription& bus);
    void AddInputBuses(const std::vector<AudioFilterBusDescription>& buses);
    void AddOutputBuses(const std::vector<AudioFilterBusDescription>& buses);
    void ClearInputBusConfiguration();
    void ClearOutputBusConfiguration();
    void ClearBusConfiguration();

private:
    void BuildChannelMaps();
    /// Prepares a whole map from the maps and publishes it to the audio thread; under the lock.
    void UpdateChannelMapArraysForRendering();
    /// Traces, once, the blocks mapped processing refused since the last report.
    void ReportOversizedBlocks();
    /// Frees the maps the audio thread replaced and can no longer hold.
    void ReleaseReplacedChannelMaps();
    void ChangeChannelMap(bool input, const std::function<void(ChannelMap&)>& change);
    ChannelMap& MapFor(bool input) { return input ? mInputChannelMap : mOutputChannelMap; }
    const ChannelMap& MapFor(bool input) const { return input ? mInputChannelMap : mOutputChannelMap; }

    PresetChangedSignal mPresetChangedSignal;
    AutomatedParameterChangeSignal mAutomatedParameterChangeSignal;
    EditingStateChangeSignal mEditingStateChangeSignal;
    ChannelMapChangedSignal mChannelMapChangedSignal;
    TargetFormatChangedSignal mTargetFormatChangedSignal;
    SuspendedStateChangedSignal mSuspendedStateChangedSignal;

    UTF16String mComponentID;
    UTF16String mDisplayName;
    IAudioFilterHost* mHost = nullptr;
    float mSampleRate = 0.0f;
    double mSelectionLeft = 0.0;
    double mCurrentDuration = 0.0;
    int mBlockSize = 0;
    std::vector<AudioFilterBusDescription> mInputBuses;
    std::vector<AudioFilterBusDescription> mOutputBuses;
    std::atomic<bool> mSuspended{true};
    std::pair<UTF16String, bool> mPresetNameAndDirtyState{UTF16String(), false};
    // Bumped from whichever thread changes a parameter; a stamp, so relaxed is enough.
    std::atomic<std::int32_t> mParameterDirtyCount{0};
    bool mHasHighLatency = false;
    bool mHasHighCPU = false;
    bool mEditorVisible = false;
    kelcore::geom::RectT<long> mEditorRect;
    bool mLoadingSettings = false;
    bool mOfflineRendering = false;
    std::shared_ptr<const TempoMap> mTempoMap;

    ChannelMap mInputChannelMap;
    ChannelMap mOutputChannelMap;
    AudioFilterBusDescription mMainTargetBus;
    AudioFilterBusDescription mSideChainTargetBus{UTF16String(), {}, AudioFilterBusDescription::kSideChain};
    mutable boost::recursive_mutex mChannelMapLock;
    boost::intrusive_ptr<DelayLine> mPassThroughDelayLine;
    // The routing the audio thread follows; every edit publishes a whole new one.
    PreparedChannelMapExchange mPreparedChannelMaps;
    // Scratch of the audio thread, sized in Resume.
    std::vector<float*> mInputPointers;
    std::vector<float*> mOutputPointers;
    // The first M target inputs as handed to the delay line, null channels replaced by silence.
    std::vector<float*> mDelayInputPointers;
    std::vector<float> mSilentInputBuffer;
    std::vector<float> mDiscardOutputBuffer;
    std::atomic<bool> mUseChannelMap{false};
    // Sizes the working arrays were built for at the last Resume: later edits prepare maps of these
    // sizes, not of the target buses, which the application may change before the next Resume.
    int mRenderMainChannels = 0;
    int mRenderInputTargets = 0;
    int mRenderBlockSize = 0;
    unsigned int mRenderInputChannels = 0;
    unsigned int mRenderOutputChannels = 0;
    bool mChannelMapsBuilt = false;
    // Blocks longer than the block size of the last Resume, counted on the audio thread and traced
    // by the next non-audio call.
    std::atomic<std::uint32_t> mOversizedBlocks{0};
};

} // namespace kelaudiofilterhost
