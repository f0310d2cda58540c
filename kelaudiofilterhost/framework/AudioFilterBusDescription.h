// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/services/ChannelLayouts.h"
#include "kelaudiofilterhost/services/Strings.h"

#include <cstdint>
#include <vector>

namespace kelaudiofilterhost {

using kelcore::UTF16String;
using kelcore::UTF8String;
using kelmediatypes::AudioChannelDescription;

/// One input or output bus of a filter: a display name, its channel layout and whether it is a
/// main or a side-chain bus. A plain value type.
class AudioFilterBusDescription {
public:
    enum Type : std::int32_t { kMain = 0, kSideChain = 1 };

    AudioFilterBusDescription() = default;
    AudioFilterBusDescription(UTF16String name, std::vector<AudioChannelDescription> layout, Type type);
    AudioFilterBusDescription(const AudioFilterBusDescription& other) = default;
    /// Copies into a temporary and swaps: a failed copy leaves this bus unchanged.
    AudioFilterBusDescription& operator=(const AudioFilterBusDescription& other);
    ~AudioFilterBusDescription() = default;

    void swap(AudioFilterBusDescription& other) noexcept;

    void SetName(const UTF16String& name) { mName = name; }
    UTF16String GetName() const { return mName; }
    void SetType(Type type) { mType = type; }
    Type GetType() const { return mType; }
    void SetLayout(const std::vector<AudioChannelDescription>& layout) { mLayout = layout; }
    std::vector<AudioChannelDescription> GetLayout() const { return mLayout; }
    unsigned int GetChannelCount() const { return static_cast<unsigned int>(mLayout.size()); }

    bool operator==(const AudioFilterBusDescription& other) const;
    bool operator!=(const AudioFilterBusDescription& other) const { return !(*this == other); }
    /// Ignores name and type: the same channels in the same order (compareLayouts), or only the same count.
    bool IsEquivalent(const AudioFilterBusDescription& other, bool compareLayouts) const;

    static AudioFilterBusDescription CreateMono(const UTF16String& name, Type type);
    static AudioFilterBusDescription CreateStereo(const UTF16String& name, Type type);
    static AudioFilterBusDescription CreateSurround51(const UTF16String& name, Type type);
    static AudioFilterBusDescription CreateSurround71(const UTF16String& name, Type type);

private:
    UTF16String mName;
    std::vector<AudioChannelDescription> mLayout;
    Type mType = kMain;
};

inline void swap(AudioFilterBusDescription& a, AudioFilterBusDescription& b) noexcept
{
    a.swap(b);
}

/// Position by position: equal lengths and every pair equivalent (two empty vectors are).
bool AreAudioFilterBusDescriptionsEquivalent(const std::vector<AudioFilterBusDescription>& a,
                                             const std::vector<AudioFilterBusDescription>& b, bool compareLayouts);

/// Sum of the channel counts of the buses.
unsigned int GetTotalChannelCount(const std::vector<AudioFilterBusDescription>& buses);

} // namespace kelaudiofilterhost
