// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/framework/AudioFilterParameterInfo.h"

namespace kelaudiofilterhost::examples {

/// Describes a parameter whose plain value runs linearly from a minimum to a maximum, shown with a unit.
/// The conversions do not clamp, so callers can tell a value outside the range; the filter clamps.
class ExampleParameterInfo : public AudioFilterParameterInfo {
public:
    ExampleParameterInfo(const UTF16String& name, const UTF16String& label, float minimum, float maximum)
        : AudioFilterParameterInfo(name, label, kParameterUnitNone), mMinimum(minimum), mMaximum(maximum)
    {
    }

    float PlainToNormalized(float plain) override
    {
        return (plain - mMinimum) / (mMaximum - mMinimum);
    }
    float NormalizedToPlain(float normalized) override
    {
        return mMinimum + normalized * (mMaximum - mMinimum);
    }
    UTF16String GetStringForValue(float normalized) override
    {
        kelcore::oUTF16StringStream text;
        text << NormalizedToPlain(normalized) << u" " << GetLabel();
        return text.str();
    }
    bool CanRamp() const override { return true; }

private:
    float mMinimum;
    float mMaximum;
};

} // namespace kelaudiofilterhost::examples
