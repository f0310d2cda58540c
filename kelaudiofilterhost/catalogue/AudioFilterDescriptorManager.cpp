// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/catalogue/AudioFilterDescriptorManager.h"

#include "kelaudiofilterhost/catalogue/IndexedRecords.h"
#include "kelaudiofilterhost/services/PropList.h"
#include "kelaudiofilterhost/services/Trace.h"

#include <algorithm>

namespace kelaudiofilterhost {

using kelcore::proplist::PropList;

AudioFilterDescriptorManager& AudioFilterDescriptorManager::GetInstance()
{
    static AudioFilterDescriptorManager instance;
    return instance;
}

void AudioFilterDescriptorManager::AddAudioFilterDescriptor(DescriptorPtr descriptor)
{
    if (!descriptor) {
        KAFH_TRACE("AudioFilterDescriptorManager::AddAudioFilterDescriptor", 5, "null descriptor ignored");
        return;
    }
    const auto listed = std::find(mDescriptors.begin(), mDescriptors.end(), descriptor);
    const UTF16String id = descriptor->GetUniqueID();
    if (listed != mDescriptors.end()) {
        mDescriptors.erase(listed);
        mDescriptorMap.erase(id);
        // Another listed descriptor with this identifier takes over the look-up, as a rebuilt map would have it.
        for (const DescriptorPtr& other : mDescriptors) {
            if (other->GetUniqueID() == id) {
                mDescriptorMap.emplace(id, other);
                break;
            }
        }
    }
    mDescriptors.push_back(descriptor);
    mDescriptorMap.emplace(id, std::move(descriptor));
}

AudioFilterDescriptorManager::DescriptorPtr AudioFilterDescriptorManager::GetComponentDescriptorForID(
    const UTF16String& id) const
{
    const auto found = mDescriptorMap.find(id);
    return found != mDescriptorMap.end() ? found->second : DescriptorPtr();
}

void AudioFilterDescriptorManager::WriteExternalComponentDescriptors(PropList& list) const
{
    const DescriptorList external = GetExternalInfos();
    list.SetValue("num_descriptors", static_cast<std::int32_t>(external.size()));
    std::vector<PropList> records(external.size());
    for (std::size_t i = 0; i < external.size(); ++i) {
        external[i]->Write(records[i]);
    }
    records::SetIndexedChildren(list, "descriptor", std::move(records));
}

void AudioFilterDescriptorManager::ReadExternalComponentDescriptors(const PropList& list, bool add)
{
    DescriptorList newList;
    DescriptorMap newMap;
    if (!add) {
        newList = GetInternalInfos();
        newMap = BuildComponentDescriptorMap(newList);
    }
    DescriptorList& workList = add ? mDescriptors : newList;
    DescriptorMap& workMap = add ? mDescriptorMap : newMap;

    std::int32_t count = 0;
    list.GetValue("num_descriptors", count);
    const auto entries = records::FindIndexedEntries(list, "descriptor", count);
    if (count < 0 || entries.size() != static_cast<std::size_t>(count)) {
        KAFH_TRACE("AudioFilterDescriptorManager::ReadExternalComponentDescriptors", 5,
                   "\"num_descriptors\" is " << count << ", " << entries.size() << " records present");
    }
    for (const PropList::Entry* entry : entries) {
        const PropList* record = records::ChildOf(*entry);
        if (!record) {
            KAFH_TRACE("AudioFilterDescriptorManager::ReadExternalComponentDescriptors", 5,
                       "\"" << entry->key << "\" is not a record; skipped");
            continue;
        }
        DescriptorPtr descriptor(new AudioFilterDescriptor(*record));
        if (workMap.try_emplace(descriptor->GetUniqueID(), descriptor).second) {
            workList.push_back(std::move(descriptor));
        }
    }
    if (!add) {
        mDescriptors.swap(newList);
        mDescriptorMap.swap(newMap);
    }
}

void AudioFilterDescriptorManager::ClearExternalInfos()
{
    mDescriptors = GetInternalInfos();
    mDescriptorMap = BuildComponentDescriptorMap(mDescriptors);
}

void AudioFilterDescriptorManager::ClearInfosForLocator(const PluginLocator& locator)
{
    ClearInfosForLocators({locator});
}

void AudioFilterDescriptorManager::ClearInfosForLocators(const std::set<PluginLocator>& locators)
{
    std::erase_if(mDescriptors, [&locators](const DescriptorPtr& d) { return locators.count(d->GetLocator()) != 0; });
    mDescriptorMap = BuildComponentDescriptorMap(mDescriptors);
}

AudioFilterDescriptorManager::DescriptorList AudioFilterDescriptorManager::GetInternalInfos() const
{
    DescriptorList result;
    std::copy_if(mDescriptors.begin(), mDescriptors.end(), std::back_inserter(result),
                 [](const DescriptorPtr& d) { return d->IsInternal(); });
    return result;
}

AudioFilterDescriptorManager::DescriptorList AudioFilterDescriptorManager::GetExternalInfos() const
{
    DescriptorList result;
    std::copy_if(mDescriptors.begin(), mDescriptors.end(), std::back_inserter(result),
                 [](const DescriptorPtr& d) { return !d->IsInternal(); });
    return result;
}

AudioFilterDescriptorManager::DescriptorMap AudioFilterDescriptorManager::BuildComponentDescriptorMap(
    const DescriptorList& list)
{
    DescriptorMap map;
    for (const DescriptorPtr& descriptor : list) {
        map.emplace(descriptor->GetUniqueID(), descriptor);
    }
    return map;
}

} // namespace kelaudiofilterhost
