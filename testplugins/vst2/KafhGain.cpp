// SPDX-License-Identifier: GPL-3.0-or-later
// KafhGain: the reference effect. A stereo gain with a bypass switch and three programs that set the
// gain; parameter properties, labels and value texts for the host's parameter infos; it can run mono
// through its stereo ports. While processing it asks the host for the time information and keeps the
// answer, and on a vendor-specific call it performs an automation gesture, so tests can check both.
#include "testplugins/vst2/TestEffect.h"

#include <cmath>
#include <cstdio>

namespace {

using namespace kafhtest;

constexpr std::int32_t kGain = 0;
constexpr std::int32_t kBypass = 1;

struct Program
{
    const char* name;
    float gain; // normalized: linear gain is twice this
};
constexpr std::array<Program, 3> kPrograms{{{"Unity", 0.5f}, {"Half", 0.25f}, {"Double", 1.0f}}};

class KafhGain final : public TestEffect
{
public:
    explicit KafhGain(abi::AudioMasterCallback host)
        : TestEffect(host, {.name = "Kafh Gain",
                            .uniqueId = kGainId,
                            .numParams = 2,
                            .numPrograms = static_cast<std::int32_t>(kPrograms.size()),
                            .flags = abi::effFlagsCanReplacing | abi::effFlagsCanMono})
    {
        mParams[kGain] = kPrograms[0].gain;
    }

protected:
    void ProcessReplacing(float** inputs, float** outputs, std::int32_t frames) override
    {
        RememberTimeInfo();
        const float gain = mParams[kBypass] >= 0.5f ? 1.0f : 2.0f * mParams[kGain];
        for (std::size_t c = 0; c < 2; ++c)
        {
            for (std::int32_t i = 0; i < frames; ++i)
            {
                outputs[c][i] = inputs[c][i] * gain;
            }
        }
    }

    std::string_view ParameterName(std::int32_t index) override { return index == kGain ? "Gain" : "Bypass"; }
    std::string_view ParameterLabel(std::int32_t index) override { return index == kGain ? "%" : ""; }

    void ParameterDisplay(std::int32_t index, char* text) override
    {
        if (index == kGain)
        {
            std::snprintf(text, kParamTextCapacity, "%ld", std::lround(mParams[kGain] * 200.0f));
        }
        else
        {
            CopyString(text, mParams[kBypass] >= 0.5f ? "On" : "Off", kParamTextCapacity);
        }
    }

    bool ParameterProperties(std::int32_t index, abi::VstParameterProperties& props) override
    {
        if (index == kGain)
        {
            props.flags = abi::kVstParameterUsesIntegerMinMax | abi::kVstParameterCanRamp;
            props.minInteger = 0;
            props.maxInteger = 200;
            CopyString(props.label, "%", sizeof props.label);
        }
        else
        {
            props.flags = abi::kVstParameterIsSwitch;
            CopyString(props.label, "", sizeof props.label);
        }
        return true;
    }

    std::string_view ProgramName(std::int32_t index) override
    {
        if (index < 0 || index >= static_cast<std::int32_t>(kPrograms.size()))
        {
            return "";
        }
        return kPrograms[static_cast<std::size_t>(index)].name;
    }
    void ProgramChanged() override { mParams[kGain] = kPrograms[static_cast<std::size_t>(mProgram)].gain; }

    std::intptr_t VendorSpecific(std::int32_t index, std::intptr_t value, void* ptr, float opt) override
    {
        if (index == kGainGetLastTimeInfo)
        {
            if (ptr != nullptr)
            {
                std::memcpy(ptr, &mLastTimeInfo, sizeof mLastTimeInfo);
            }
            return mTimeInfoAnswered ? 1 : 0;
        }
        if (index == kGainAutomate && IsParam(static_cast<std::int32_t>(value)))
        {
            // What an editor does when the user moves a control.
            const auto param = static_cast<std::int32_t>(value);
            CallHost(abi::audioMasterBeginEdit, param);
            SetParameter(param, opt);
            CallHost(abi::audioMasterAutomate, param, 0, nullptr, GetParameter(param));
            CallHost(abi::audioMasterEndEdit, param);
            return 1;
        }
        return 0;
    }

    std::intptr_t TailSize() override { return 1; } // 1: no tail at all (0 would mean "unknown")

private:
    void RememberTimeInfo()
    {
        const std::intptr_t answer = CallHost(abi::audioMasterGetTime, 0,
                                              abi::kVstPpqPosValid | abi::kVstTempoValid | abi::kVstTimeSigValid);
        mTimeInfoAnswered = answer != 0;
        if (mTimeInfoAnswered)
        {
            std::memcpy(&mLastTimeInfo, reinterpret_cast<const void*>(answer), sizeof mLastTimeInfo);
        }
    }

    abi::VstTimeInfo mLastTimeInfo{};
    bool mTimeInfoAnswered = false;
};

} // namespace

KAFH_VST2_EXPORT abi::AEffect* VSTPluginMain(abi::AudioMasterCallback host)
{
    return CreateEffect<KafhGain>(host);
}
