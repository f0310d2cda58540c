// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/framework/AudioFilterParameterInfo.h"
#include "kelaudiofilterhost/vst3/VST3PluginGate.h"

#include <pluginterfaces/vst/ivsteditcontroller.h>

namespace kelaudiofilterhost::vst3 {

/// One edit-controller parameter: its title, units, value conversions and value text. Holds a
/// reference to the controller, so the controller lives as long as any info handed out; every call
/// goes through the filter's gate.
class VST3ParameterInfo : public AudioFilterParameterInfo {
public:
    /// Reads the controller's ParameterInfo at index; exposed when the parameter can be automated.
    VST3ParameterInfo(const VST3PluginGate& gate, Steinberg::Vst::IEditController* controller, Steinberg::int32 index);
    ~VST3ParameterInfo() override;

    float PlainToNormalized(float plain) override;
    float NormalizedToPlain(float normalized) override;
    bool CanRamp() const override { return true; }
    bool CanBeAutomated() const override;
    bool SupportsStringForArbitraryValues() const override { return true; }
    /// The controller's text for the value; empty when it writes none.
    UTF16String GetStringForValue(float normalized) override;
    int GetStepCount() const override { return mStepCount; }

    Steinberg::Vst::ParamID GetID() const { return mID; }
    Steinberg::int32 GetIndex() const { return mIndex; }
    Steinberg::int32 GetFlags() const { return mFlags; }

private:
    VST3PluginGate mGate;
    Steinberg::Vst::IEditController* mController = nullptr;
    Steinberg::Vst::ParamID mID = 0;
    Steinberg::int32 mIndex;
    Steinberg::int32 mFlags = 0;
    Steinberg::int32 mStepCount = 0;
};

} // namespace kelaudiofilterhost::vst3
