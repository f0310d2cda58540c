// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/catalogue/AudioFilterDescriptor.h"

#include <boost/intrusive_ptr.hpp>

#include <map>
#include <set>
#include <vector>

namespace kelaudiofilterhost {

/// All filter descriptors, internal and plug-in, with look-up by component identifier.
/// Used from the thread that configures and scans the catalogue; not locked.
class AudioFilterDescriptorManager {
public:
    using DescriptorPtr = boost::intrusive_ptr<AudioFilterDescriptor>;
    using DescriptorList = std::vector<DescriptorPtr>;
    using DescriptorMap = std::map<UTF16String, DescriptorPtr>;
    using const_iterator = DescriptorList::const_iterator;

    static AudioFilterDescriptorManager& GetInstance();

    AudioFilterDescriptorManager(const AudioFilterDescriptorManager&) = delete;
    AudioFilterDescriptorManager& operator=(const AudioFilterDescriptorManager&) = delete;

    /// Every descriptor, in the order it was added.
    const_iterator InfoBegin() const { return mDescriptors.begin(); }
    const_iterator InfoEnd() const { return mDescriptors.end(); }

    /// Moves an already listed object to the end. When another descriptor holds the same identifier,
    /// the new one is only listed: look-ups keep finding the one that came first.
    void AddAudioFilterDescriptor(DescriptorPtr descriptor);
    /// The descriptor for the identifier (exact comparison); empty when none.
    DescriptorPtr GetComponentDescriptorForID(const UTF16String& id) const;

    /// Writes the plug-in descriptors as "num_descriptors" and "descriptor0"...
    void WriteExternalComponentDescriptors(kelcore::proplist::PropList& list) const;
    /// add false: the list's descriptors replace every plug-in descriptor; add true: they are merged.
    /// Either way a record whose identifier is already known is dropped.
    void ReadExternalComponentDescriptors(const kelcore::proplist::PropList& list, bool add);

    void ClearExternalInfos();
    /// Removes every descriptor of the module.
    void ClearInfosForLocator(const PluginLocator& locator);
    /// Removes every descriptor of the modules, in one pass.
    void ClearInfosForLocators(const std::set<PluginLocator>& locators);

private:
    AudioFilterDescriptorManager() = default;

    DescriptorList GetInternalInfos() const;
    DescriptorList GetExternalInfos() const;
    static DescriptorMap BuildComponentDescriptorMap(const DescriptorList& list);

    DescriptorList mDescriptors;
    DescriptorMap mDescriptorMap;
};

} // namespace kelaudiofilterhost
