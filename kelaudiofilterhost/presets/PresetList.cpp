// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/presets/PresetList.h"

#include "kelaudiofilterhost/services/PropList.h"

namespace kelaudiofilterhost {

using kelcore::proplist::PropList;

PresetList::PresetList(PropList& list) : mList(&list)
{
}

PresetList::PresetList(PropList* list) : mList(list)
{
}

PresetList::~PresetList()
{
    mPresetListChangedSignal.disconnect_all_slots();
}

boost::intrusive_ptr<PresetData> PresetList::GetPreset(const UTF16String& name) const
{
    if (!mList) {
        return nullptr;
    }
    PropList* child = mList->GetChild(kelcore::UTF16to8(name));
    if (!child) {
        return nullptr;
    }
    return boost::intrusive_ptr<PresetData>(new PresetData(*child));
}

boost::intrusive_ptr<PresetData> PresetList::AppendPreset(const UTF16String& name)
{
    if (!mList) {
        return nullptr;
    }
    const UTF8String key = kelcore::UTF16to8(name);
    // A stray value under the name counts as taken too: replacing it would lose data silently.
    if (mList->GetChild(key) || mList->HasValue(key)) {
        return nullptr;
    }
    boost::intrusive_ptr<PresetData> preset(new PresetData(*mList->CreateChild(key)));
    mPresetListChangedSignal(*this);
    return preset;
}

void PresetList::RemovePreset(const UTF16String& name)
{
    if (!mList) {
        return;
    }
    mList->RemoveValue(kelcore::UTF16to8(name));
    mPresetListChangedSignal(*this);
}

void PresetList::Clear()
{
    if (!mList) {
        return;
    }
    mList->Clear();
    mPresetListChangedSignal(*this);
}

void PresetList::GetPresetNames(std::set<UTF16String>& names) const
{
    names.clear();
    if (!mList) {
        return;
    }
    for (const UTF8String& key : mList->GetKeys()) {
        names.insert(kelcore::UTF8to16(key));
    }
}

} // namespace kelaudiofilterhost
