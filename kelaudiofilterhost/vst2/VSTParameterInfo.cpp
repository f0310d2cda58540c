// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/vst2/VSTParameterInfo.h"

#include "kelaudiofilterhost/services/Config.h"
#include "kelaudiofilterhost/vst2/VSTStrings.h"

#include <cstring>

namespace kelaudiofilterhost::vst {

namespace {

// Room for effects that write past the record's end, as some do.
struct PropertiesBuffer {
    abi::VstParameterProperties properties;
    char slack[256];
};

UTF16String ParameterName(const VSTDispatcherBase& gate, std::int32_t index)
{
    return gate.ReadString(abi::effGetParamName, index, kParameterStringLength);
}

UTF16String ParameterLabel(const VSTDispatcherBase& gate, std::int32_t index)
{
    PropertiesBuffer buffer{};
    if (gate.Dispatch(abi::effGetParameterProperties, index, 0, &buffer.properties, 0.0f) != 0) {
        return TextFromBuffer(buffer.properties.label, sizeof buffer.properties.label);
    }
    return gate.ReadString(abi::effGetParamLabel, index, kParameterStringLength);
}

} // namespace

VSTParameterInfo::VSTParameterInfo(const VSTDispatcherBase& gate, std::int32_t index)
    : AudioFilterParameterInfo(ParameterName(gate, index), ParameterLabel(gate, index), kParameterUnitNone),
      VSTDispatcherBase(gate, SameEffect{}), mIndex(index)
{
    if (mEffect == nullptr) {
        kelcore::config::ThrowError("VSTParameterInfo: inAEffect is null");
        return;
    }
    abi::VstParameterProperties properties{};
    if (!GetProperties(properties)) {
        return;
    }
    if ((properties.flags & abi::kVstParameterUsesIntegerMinMax) != 0) {
        const float range = static_cast<float>(properties.maxInteger) - static_cast<float>(properties.minInteger);
        if (range > 0.0f) {
            mOffset = static_cast<float>(properties.minInteger);
            mScale = 1.0f / range;
        }
    }
    if ((properties.flags & abi::kVstParameterUsesIntStep) != 0) {
        mStepCount = properties.stepInteger;
    } else if ((properties.flags & abi::kVstParameterIsSwitch) != 0) {
        mStepCount = 1;
    }
}

bool VSTParameterInfo::GetProperties(abi::VstParameterProperties& properties) const
{
    PropertiesBuffer buffer{};
    const bool filled = Dispatch(abi::effGetParameterProperties, mIndex, 0, &buffer.properties, 0.0f) != 0;
    std::memcpy(&properties, &buffer.properties, sizeof properties);
    return filled;
}

float VSTParameterInfo::PlainToNormalized(float plain)
{
    return (plain - mOffset) * mScale;
}

float VSTParameterInfo::NormalizedToPlain(float normalized)
{
    return normalized / mScale + mOffset;
}

bool VSTParameterInfo::CanRamp() const
{
    abi::VstParameterProperties properties{};
    return GetProperties(properties) && (properties.flags & abi::kVstParameterCanRamp) != 0;
}

bool VSTParameterInfo::CanBeAutomated() const
{
    return Dispatch(abi::effCanBeAutomated, mIndex) != 0;
}

bool VSTParameterInfo::SupportsStringForArbitraryValues() const
{
    return false;
}

UTF16String VSTParameterInfo::GetStringForValue(float /*normalized*/)
{
    return ReadString(abi::effGetParamDisplay, mIndex, kParameterStringLength);
}

int VSTParameterInfo::GetStepCount() const
{
    return mStepCount;
}

} // namespace kelaudiofilterhost::vst
