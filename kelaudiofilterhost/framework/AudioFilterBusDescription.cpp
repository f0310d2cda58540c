// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/framework/AudioFilterBusDescription.h"

#include <utility>

namespace kelaudiofilterhost {

AudioFilterBusDescription::AudioFilterBusDescription(UTF16String name, std::vector<AudioChannelDescription> layout,
                                                     Type type)
    : mName(std::move(name)), mLayout(std::move(layout)), mType(type)
{
}

AudioFilterBusDescription& AudioFilterBusDescription::operator=(const AudioFilterBusDescription& other)
{
    AudioFilterBusDescription copy(other);
    swap(copy);
    return *this;
}

void AudioFilterBusDescription::swap(AudioFilterBusDescription& other) noexcept
{
    mName.swap(other.mName);
    mLayout.swap(other.mLayout);
    std::swap(mType, other.mType);
}

bool AudioFilterBusDescription::operator==(const AudioFilterBusDescription& other) const
{
    return mName == other.mName && mLayout == other.mLayout && mType == other.mType;
}

bool AudioFilterBusDescription::IsEquivalent(const AudioFilterBusDescription& other, bool compareLayouts) const
{
    return compareLayouts ? mLayout == other.mLayout : mLayout.size() == other.mLayout.size();
}

AudioFilterBusDescription AudioFilterBusDescription::CreateMono(const UTF16String& name, Type type)
{
    return {name, kelmediatypes::CreateMonoChannelLayout(), type};
}

AudioFilterBusDescription AudioFilterBusDescription::CreateStereo(const UTF16String& name, Type type)
{
    return {name, kelmediatypes::CreateStereoChannelLayout(), type};
}

AudioFilterBusDescription AudioFilterBusDescription::CreateSurround51(const UTF16String& name, Type type)
{
    return {name, kelmediatypes::CreateBroadcast51ChannelLayout(), type};
}

AudioFilterBusDescription AudioFilterBusDescription::CreateSurround71(const UTF16String& name, Type type)
{
    return {name, kelmediatypes::Create7_1ChannelLayout(), type};
}

bool AreAudioFilterBusDescriptionsEquivalent(const std::vector<AudioFilterBusDescription>& a,
                                             const std::vector<AudioFilterBusDescription>& b, bool compareLayouts)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (!a[i].IsEquivalent(b[i], compareLayouts)) {
            return false;
        }
    }
    return true;
}

unsigned int GetTotalChannelCount(const std::vector<AudioFilterBusDescription>& buses)
{
    unsigned int total = 0;
    for (const auto& bus : buses) {
        total += bus.GetChannelCount();
    }
    return total;
}

} // namespace kelaudiofilterhost
