// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/services/Strings.h"
#include "kelaudiofilterhost/vst2/VstAbi.h"

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace kelaudiofilterhost::vst {

using kelcore::UTF16String;

/// The one way into a VST 2 effect's code: its entry point, dispatcher, processing and parameter
/// functions. Every call is recorded in the plug-in call trail, a plug-in's exception is caught and
/// read as a failure result, and the throw is traced with the module path and the call's name. The
/// effect's self-descriptions are read through named checks that trace when the effect misbehaves.
/// Holds the effect, not owned.
class VSTDispatcherBase {
public:
    /// modulePath names the effect's library in traces and in the call trail. With audioCalls, faults
    /// of the calls the audio thread makes are recorded without tracing and traced by the next
    /// dispatcher call; without it they are traced at once.
    VSTDispatcherBase(abi::AEffect* effect, const UTF16String& modulePath, bool audioCalls = false);
    /// Another gate into the same effect (parameter infos); faults of audio-thread calls are traced at once.
    struct SameEffect {};
    VSTDispatcherBase(const VSTDispatcherBase& gate, SameEffect);
    virtual ~VSTDispatcherBase();
    VSTDispatcherBase(const VSTDispatcherBase&) = delete;
    VSTDispatcherBase& operator=(const VSTDispatcherBase&) = delete;

    /// 0 without an effect or dispatcher or when the plug-in throws. Not for the audio thread.
    std::intptr_t Dispatch(std::int32_t opcode, std::int32_t index = 0, std::intptr_t value = 0, void* ptr = nullptr,
                           float opt = 0.0f) const;
    /// The replacing or else the accumulating processing call; allocates nothing. False when the effect
    /// has neither or threw (the outputs then keep what it wrote so far).
    bool ProcessReplacing(float** inputs, float** outputs, std::int32_t frames) const;
    bool ProcessAccumulating(float** inputs, float** outputs, std::int32_t frames) const;
    /// Allocate nothing; false, or 0, without the function or when it throws.
    bool SetParameter(std::int32_t index, float value) const;
    float GetParameter(std::int32_t index) const;

    /// Calls a module's entry point with the host callback; null when it throws.
    static abi::AEffect* CallEntryPoint(abi::PluginEntryProc entryPoint, const char* entryName,
                                        abi::AudioMasterCallback host, const UTF16String& modulePath);

    /// A text the effect writes on request into a zeroed buffer, at most maxLength bytes, as UTF-8.
    UTF16String ReadString(std::int32_t opcode, std::int32_t index, std::size_t maxLength) const;

    // Misbehaviour checks: each returns the sane reading (or whether it is sane) and traces when the
    // effect's answer was not.
    /// The effect carries the VST 2 magic number.
    bool HasEffectMagic() const;
    /// Neither channel count exceeds maximum.
    bool HasChannelCountsWithin(int maximum) const;
    /// numInputs and numOutputs clamped to 0...maximum; the audio thread may ask.
    int InputCountInRange(int maximum) const;
    int OutputCountInRange(int maximum) const;
    /// numParams clamped to 0...maximum; the audio thread may ask.
    int ParameterCountInRange(int maximum) const;
    /// numPrograms, never negative.
    int ProgramCountInRange() const;
    /// initialDelay, never negative.
    int LatencyInRange() const;
    /// The text in buffer written for opcode ends within maxLength bytes.
    bool IsStringTerminated(const char* buffer, std::size_t maxLength, std::int32_t opcode) const;
    /// effGetChunk gave a buffer and a size from 1 to maximum bytes; a 0 size without a buffer is no chunk
    /// but no misbehaviour either.
    bool IsChunkSane(const void* chunk, std::intptr_t size, std::intptr_t maximum) const;
    /// A speaker arrangement the effect returned is present and has 1 to maximum channels.
    bool IsArrangementSane(const abi::VstSpeakerArrangement* arrangement, int maximum, const char* side) const;
    /// The effect's channel counts still fit the channel arrays prepared for it; the audio thread asks.
    bool ChannelCountsFit(std::size_t inputs, std::size_t outputs) const;
    /// A shell that listed this many effects has not stopped; true once the limit is reached.
    bool IsShellListRunaway(int listed, int maximum) const;

    /// Traces the faults of audio-thread calls recorded since the last report; non-audio threads only.
    void ReportAudioFaults() const;

    abi::AEffect* GetEffect() const { return mEffect; }
    /// The module path as UTF-8, valid for the life of the process.
    const char* GetModulePath() const { return mModulePath; }

    /// The name of a dispatcher opcode ("effGetChunk"); "opcode" for one not in the table.
    static const char* GetOpcodeName(std::int32_t opcode);

protected:
    abi::AEffect* mEffect;

private:
    struct AudioFaults;
    enum class AudioFault : int;
    /// Records a fault of an audio-thread call without allocating, or traces it at once when this gate
    /// has no record.
    void RecordAudioFault(AudioFault fault, const char* type, const char* what, long long first,
                          long long second) const;
    /// Records the exception being handled; only inside a catch handler.
    void RecordAudioThrow(AudioFault fault, long long index) const;

    const char* mModulePath;
    std::unique_ptr<AudioFaults> mAudioFaults;
};

} // namespace kelaudiofilterhost::vst
