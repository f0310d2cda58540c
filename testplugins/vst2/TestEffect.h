// SPDX-License-Identifier: GPL-3.0-or-later
// The base our VST 2 test plug-ins share. It owns the AEffect, routes the C entry points of the
// binary interface to virtual hooks and answers the common opcodes, so each plug-in states only what
// it is there to exercise in the host. A plug-in is a foreign module: this header uses nothing of the
// library but its declarations of the binary interface.
#pragma once

#include "kelaudiofilterhost/vst2/VstAbi.h"
#include "testplugins/vst2/TestPluginIds.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

/// Declares the one symbol a test plug-in module exports.
#define KAFH_VST2_EXPORT extern "C" __attribute__((visibility("default")))

namespace kafhtest {

namespace abi = kelaudiofilterhost::vst::abi;

// Buffer sizes of the string opcodes. The binary interface's own limits are smaller than what hosts
// hand out in practice; these stay within what every host we know gives.
inline constexpr std::size_t kEffectNameCapacity = 32;
inline constexpr std::size_t kVendorCapacity = 64;
inline constexpr std::size_t kProgramNameCapacity = 24;
inline constexpr std::size_t kParamTextCapacity = 32;
inline constexpr std::size_t kShellNameCapacity = 64;

/// Copies text into a plug-in string buffer of capacity bytes; always zero-terminated, null-safe.
inline void CopyString(void* dest, std::string_view text, std::size_t capacity)
{
    if (dest == nullptr || capacity == 0)
    {
        return;
    }
    const std::size_t n = std::min(text.size(), capacity - 1);
    std::memcpy(dest, text.data(), n);
    static_cast<char*>(dest)[n] = '\0';
}

/// True when the host answers the version query: plug-ins refuse to start under anything else.
inline bool HostAnswersVersion(abi::AudioMasterCallback host)
{
    return host != nullptr && host(nullptr, abi::audioMasterVersion, 0, 0, nullptr, 0.0f) != 0;
}

/// What an effect declares about itself at creation.
struct EffectInfo
{
    const char* name = "";
    std::int32_t uniqueId = 0;
    std::int32_t numInputs = 2;
    std::int32_t numOutputs = 2;
    std::int32_t numParams = 0;
    std::int32_t numPrograms = 0;
    std::int32_t flags = abi::effFlagsCanReplacing;
    std::int32_t category = abi::kPlugCategEffect;
};

/// One effect instance. It deletes itself when the host sends effClose; until then the host owns it
/// through the AEffect.
class TestEffect
{
public:
    static constexpr std::int32_t kMaxParams = 8;

    TestEffect(abi::AudioMasterCallback host, const EffectInfo& info)
        : mHost(host), mName(info.name), mCategory(info.category)
    {
        mEffect.magic = abi::kEffectMagic;
        mEffect.dispatcher = &DispatcherEntry;
        mEffect.process = &ProcessEntry;
        mEffect.setParameter = &SetParameterEntry;
        mEffect.getParameter = &GetParameterEntry;
        mEffect.numPrograms = info.numPrograms;
        mEffect.numParams = info.numParams;
        mEffect.numInputs = info.numInputs;
        mEffect.numOutputs = info.numOutputs;
        mEffect.flags = info.flags;
        mEffect.ioRatio = 1.0f;
        mEffect.object = this;
        mEffect.uniqueID = info.uniqueId;
        mEffect.version = 1;
        // Only effects that declare replacing processing offer the function, as old effects do.
        mEffect.processReplacing = (info.flags & abi::effFlagsCanReplacing) != 0 ? &ProcessReplacingEntry : nullptr;
    }

    virtual ~TestEffect() = default;
    TestEffect(const TestEffect&) = delete;
    TestEffect& operator=(const TestEffect&) = delete;

    abi::AEffect* GetAEffect() { return &mEffect; }

    /// Answers one dispatcher call (effClose excepted, see DispatcherEntry). Plug-ins override it for
    /// opcodes of their own and pass the rest on.
    virtual std::intptr_t Dispatch(std::int32_t opcode, std::int32_t index, std::intptr_t value, void* ptr, float opt)
    {
        switch (opcode)
        {
        case abi::effOpen:
            return 0;
        case abi::effSetProgram:
            if (value >= 0 && value < mEffect.numPrograms)
            {
                mProgram = static_cast<std::int32_t>(value);
                ProgramChanged();
            }
            return 0;
        case abi::effGetProgram:
            return mProgram;
        case abi::effGetProgramName:
            CopyString(ptr, ProgramName(mProgram), kProgramNameCapacity);
            return 0;
        case abi::effGetParamLabel:
            CopyString(ptr, IsParam(index) ? ParameterLabel(index) : "", kParamTextCapacity);
            return 0;
        case abi::effGetParamDisplay:
            if (IsParam(index) && ptr != nullptr)
            {
                ParameterDisplay(index, static_cast<char*>(ptr));
            }
            return 0;
        case abi::effGetParamName:
            CopyString(ptr, IsParam(index) ? ParameterName(index) : "", kParamTextCapacity);
            return 0;
        case abi::effSetSampleRate:
            mSampleRate = opt;
            return 0;
        case abi::effSetBlockSize:
            mBlockSize = static_cast<std::int32_t>(value);
            return 0;
        case abi::effMainsChanged:
            mResumed = value != 0;
            MainsChanged(mResumed);
            return 0;
        case abi::effGetChunk:
            return ptr != nullptr ? GetChunk(static_cast<void**>(ptr), index != 0) : 0;
        case abi::effSetChunk:
            return SetChunk(ptr, value, index != 0);
        case abi::effProcessEvents:
            return ptr != nullptr ? ProcessEvents(*static_cast<const abi::VstEvents*>(ptr)) : 0;
        case abi::effCanBeAutomated:
            return IsParam(index) && CanBeAutomated(index) ? 1 : 0;
        case abi::effGetProgramNameIndexed:
            if (index < 0 || index >= mEffect.numPrograms)
            {
                return 0;
            }
            CopyString(ptr, ProgramName(index), kProgramNameCapacity);
            return 1;
        case abi::effGetPlugCategory:
            return mCategory;
        case abi::effSetSpeakerArrangement:
            return SetSpeakerArrangement(reinterpret_cast<abi::VstSpeakerArrangement*>(value),
                                         static_cast<abi::VstSpeakerArrangement*>(ptr));
        case abi::effGetSpeakerArrangement:
            return GetSpeakerArrangement(reinterpret_cast<abi::VstSpeakerArrangement**>(value),
                                         static_cast<abi::VstSpeakerArrangement**>(ptr));
        case abi::effGetEffectName:
            CopyString(ptr, mName, kEffectNameCapacity);
            return 1;
        case abi::effGetVendorString:
            CopyString(ptr, "kelaudiofilterhost", kVendorCapacity);
            return 1;
        case abi::effGetProductString:
            CopyString(ptr, mName, kVendorCapacity);
            return 1;
        case abi::effGetVendorVersion:
            return 1000;
        case abi::effVendorSpecific:
            return VendorSpecific(index, value, ptr, opt);
        case abi::effCanDo:
            return ptr != nullptr ? CanDo(static_cast<const char*>(ptr)) : 0;
        case abi::effGetTailSize:
            return TailSize();
        case abi::effGetParameterProperties:
            return IsParam(index) && ptr != nullptr
                       && ParameterProperties(index, *static_cast<abi::VstParameterProperties*>(ptr))
                       ? 1
                       : 0;
        case abi::effGetVstVersion:
            return VstVersion();
        case abi::effShellGetNextPlugin:
            return ShellGetNextPlugin(static_cast<char*>(ptr));
        default:
            return 0;
        }
    }

protected:
    // Hooks; the defaults are what a plug-in that does not care answers.
    virtual void ProcessReplacing(float** /*inputs*/, float** /*outputs*/, std::int32_t /*frames*/) {}
    /// Adds the effect's result into the outputs (the old, accumulating process call).
    virtual void ProcessAccumulating(float** /*inputs*/, float** /*outputs*/, std::int32_t /*frames*/) {}
    virtual void SetParameter(std::int32_t index, float value)
    {
        if (IsParam(index))
        {
            mParams[static_cast<std::size_t>(index)] = std::clamp(value, 0.0f, 1.0f);
            ParameterChanged(index);
        }
    }
    virtual float GetParameter(std::int32_t index)
    {
        return IsParam(index) ? mParams[static_cast<std::size_t>(index)] : 0.0f;
    }
    virtual void ParameterChanged(std::int32_t /*index*/) {}
    virtual std::string_view ParameterName(std::int32_t /*index*/) { return ""; }
    virtual std::string_view ParameterLabel(std::int32_t /*index*/) { return ""; }
    /// Writes the value text into a buffer of kParamTextCapacity bytes; writing nothing is allowed.
    virtual void ParameterDisplay(std::int32_t /*index*/, char* /*text*/) {}
    virtual bool ParameterProperties(std::int32_t /*index*/, abi::VstParameterProperties& /*props*/) { return false; }
    virtual bool CanBeAutomated(std::int32_t /*index*/) { return true; }
    virtual std::string_view ProgramName(std::int32_t /*index*/) { return ""; }
    /// Called after effSetProgram moved mProgram to a valid program.
    virtual void ProgramChanged() {}
    virtual void MainsChanged(bool /*resumed*/) {}
    /// isPreset: the host asks for the current program's chunk rather than the whole bank.
    virtual std::intptr_t GetChunk(void** /*data*/, bool /*isPreset*/) { return 0; }
    virtual std::intptr_t SetChunk(const void* /*data*/, std::intptr_t /*size*/, bool /*isPreset*/) { return 0; }
    virtual std::intptr_t ProcessEvents(const abi::VstEvents& /*events*/) { return 0; }
    virtual std::intptr_t SetSpeakerArrangement(abi::VstSpeakerArrangement* /*in*/, abi::VstSpeakerArrangement* /*out*/)
    {
        return 0;
    }
    /// Points both out-arguments at the effect's own arrangements, which stay valid until the next change.
    virtual std::intptr_t GetSpeakerArrangement(abi::VstSpeakerArrangement** /*in*/,
                                                abi::VstSpeakerArrangement** /*out*/)
    {
        return 0;
    }
    virtual std::intptr_t VendorSpecific(std::int32_t /*index*/, std::intptr_t /*value*/, void* /*ptr*/, float /*opt*/)
    {
        return 0;
    }
    virtual std::intptr_t CanDo(std::string_view /*what*/) { return 0; }
    virtual std::intptr_t TailSize() { return 0; }
    virtual std::intptr_t VstVersion() { return 2400; }
    /// Shells only: writes the next contained effect's name and returns its unique ID, 0 at the end.
    virtual std::int32_t ShellGetNextPlugin(char* /*name*/) { return 0; }

    bool IsParam(std::int32_t index) const { return index >= 0 && index < std::min(mEffect.numParams, kMaxParams); }

    std::intptr_t CallHost(std::int32_t opcode, std::int32_t index = 0, std::intptr_t value = 0, void* ptr = nullptr,
                           float opt = 0.0f)
    {
        return mHost != nullptr ? mHost(&mEffect, opcode, index, value, ptr, opt) : 0;
    }

    abi::AEffect mEffect{};
    abi::AudioMasterCallback mHost;
    const char* mName;
    std::int32_t mCategory;
    float mSampleRate = 44100.0f;
    std::int32_t mBlockSize = 1024;
    bool mResumed = false;
    std::int32_t mProgram = 0;
    std::array<float, kMaxParams> mParams{};

private:
    static TestEffect* Self(abi::AEffect* effect) { return static_cast<TestEffect*>(effect->object); }

    static std::intptr_t DispatcherEntry(abi::AEffect* effect, std::int32_t opcode, std::int32_t index,
                                         std::intptr_t value, void* ptr, float opt)
    {
        TestEffect* self = Self(effect);
        if (opcode == abi::effClose)
        {
            delete self;
            return 1;
        }
        return self->Dispatch(opcode, index, value, ptr, opt);
    }
    static void ProcessEntry(abi::AEffect* effect, float** inputs, float** outputs, std::int32_t frames)
    {
        Self(effect)->ProcessAccumulating(inputs, outputs, frames);
    }
    static void ProcessReplacingEntry(abi::AEffect* effect, float** inputs, float** outputs, std::int32_t frames)
    {
        Self(effect)->ProcessReplacing(inputs, outputs, frames);
    }
    static void SetParameterEntry(abi::AEffect* effect, std::int32_t index, float value)
    {
        Self(effect)->SetParameter(index, value);
    }
    static float GetParameterEntry(abi::AEffect* effect, std::int32_t index)
    {
        return Self(effect)->GetParameter(index);
    }
};

/// The usual body of an entry point: null under a host that does not answer the version query,
/// otherwise a new effect that deletes itself on effClose.
template <class Effect>
abi::AEffect* CreateEffect(abi::AudioMasterCallback host)
{
    if (!HostAnswersVersion(host))
    {
        return nullptr;
    }
    return (new Effect(host))->GetAEffect();
}

} // namespace kafhtest
