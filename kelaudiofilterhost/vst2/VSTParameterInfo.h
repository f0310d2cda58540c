// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/framework/AudioFilterParameterInfo.h"
#include "kelaudiofilterhost/vst2/VSTDispatcherBase.h"

namespace kelaudiofilterhost::vst {

/// Describes one effect parameter: name, label, integer range and steps from the effect's
/// parameter properties, and the effect's own display text.
class VSTParameterInfo : public AudioFilterParameterInfo, private VSTDispatcherBase {
public:
    /// Asks the effect through the filter's gate.
    VSTParameterInfo(const VSTDispatcherBase& gate, std::int32_t index);

    float PlainToNormalized(float plain) override;
    float NormalizedToPlain(float normalized) override;
    bool CanRamp() const override;
    bool CanBeAutomated() const override;
    bool SupportsStringForArbitraryValues() const override;
    /// The effect's text of the parameter's current value; the argument is not used.
    UTF16String GetStringForValue(float normalized) override;
    int GetStepCount() const override;

private:
    /// True when the effect filled the record; an exception inside the plug-in leaves it as filled so far.
    bool GetProperties(abi::VstParameterProperties& properties) const;

    std::int32_t mIndex;
    float mOffset = 0.0f;
    float mScale = 1.0f;
    std::int32_t mStepCount = 0;
};

} // namespace kelaudiofilterhost::vst
