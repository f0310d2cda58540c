// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/framework/AudioFilterParameterInfo.h"

namespace kelaudiofilterhost {

AudioFilterParameterInfo::AudioFilterParameterInfo() = default;

AudioFilterParameterInfo::AudioFilterParameterInfo(const UTF16String& name, const UTF16String& label,
                                                   AudioFilterParameterInfoUnit unit)
    : mName(name), mLabel(label), mUnit(unit)
{
}

AudioFilterParameterInfo::~AudioFilterParameterInfo() = default;

bool AudioFilterParameterInfo::CanRamp() const
{
    return false;
}

bool AudioFilterParameterInfo::CanBeAutomated() const
{
    return true;
}

bool AudioFilterParameterInfo::SupportsStringForArbitraryValues() const
{
    return true;
}

int AudioFilterParameterInfo::GetStepCount() const
{
    return 0;
}

} // namespace kelaudiofilterhost
