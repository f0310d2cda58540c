// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/services/RefCountedObject.h"
#include "kelaudiofilterhost/services/Strings.h"

#include <boost/core/noncopyable.hpp>
#include <boost/intrusive_ptr.hpp>

#include <cstdint>

namespace kelaudiofilterhost {

using kelcore::UTF16String;

/// Unit code of a parameter. The back ends only ever set kParameterUnitNone; other values are the
/// application's to define.
enum AudioFilterParameterInfoUnit : std::int32_t {
    kParameterUnitNone = 0,
};

/// Describes one parameter of a filter: names, unit, exposure, value conversions and display text.
/// Back ends derive from it; held through boost::intrusive_ptr.
class AudioFilterParameterInfo : public kelcore::utility::RefCountedObject, private boost::noncopyable {
public:
    /// Empty name and label, unit 0, exposed.
    AudioFilterParameterInfo();
    /// Exposed.
    AudioFilterParameterInfo(const UTF16String& name, const UTF16String& label, AudioFilterParameterInfoUnit unit);
    ~AudioFilterParameterInfo() override;

    UTF16String GetName() const { return mName; }
    void SetName(const UTF16String& name) { mName = name; }
    /// Unit text shown beside the value.
    UTF16String GetLabel() const { return mLabel; }
    void SetLabel(const UTF16String& label) { mLabel = label; }
    AudioFilterParameterInfoUnit GetUnit() const { return mUnit; }
    void SetUnit(AudioFilterParameterInfoUnit unit) { mUnit = unit; }
    /// Whether the parameter is offered to the user.
    bool IsExposed() const { return mExposed; }
    void SetExposed(bool exposed) { mExposed = exposed; }

    /// A plain value to the normalized 0..1 range.
    virtual float PlainToNormalized(float plain) = 0;
    virtual float NormalizedToPlain(float normalized) = 0;
    virtual bool CanRamp() const;
    virtual bool CanBeAutomated() const;
    virtual bool SupportsStringForArbitraryValues() const;
    /// Display text for a normalized value.
    virtual UTF16String GetStringForValue(float normalized) = 0;
    /// Number of discrete steps; 0 for a continuous parameter.
    virtual int GetStepCount() const;

private:
    UTF16String mName;
    UTF16String mLabel;
    AudioFilterParameterInfoUnit mUnit = kParameterUnitNone;
    bool mExposed = true;
};

} // namespace kelaudiofilterhost
