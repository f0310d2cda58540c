// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/presets/PresetData.h"
#include "kelaudiofilterhost/services/RefCountedObject.h"
#include "kelaudiofilterhost/services/Strings.h"

#include <boost/core/noncopyable.hpp>
#include <boost/intrusive_ptr.hpp>
#include <boost/signals2/signal.hpp>

#include <set>

namespace kelcore::proplist {
class PropList;
}

namespace kelaudiofilterhost {

/// Named presets: a view over a property list holding one child list per preset, under the
/// preset's name in UTF-8, and nothing else. The caller owns the list, which must outlive the view
/// and every PresetData it hands out. Without a property list the view is inert. Not locked.
class PresetList : public kelcore::utility::RefCountedObject, private boost::noncopyable {
public:
    using PresetListChangedSignal = boost::signals2::signal<void(const PresetList&)>;

    explicit PresetList(kelcore::proplist::PropList& list);
    /// A null list gives an inert view.
    explicit PresetList(kelcore::proplist::PropList* list);
    ~PresetList() override;

    /// A new view of the named preset; null when there is no such preset.
    boost::intrusive_ptr<PresetData> GetPreset(const UTF16String& name) const;
    /// A new, empty preset under the name; null (and no signal) when the name is taken.
    boost::intrusive_ptr<PresetData> AppendPreset(const UTF16String& name);
    /// Fires the list signal also when there was no such preset.
    void RemovePreset(const UTF16String& name);
    void Clear();
    /// Every name, in 16-bit code unit order.
    void GetPresetNames(std::set<UTF16String>& names) const;

    PresetListChangedSignal& GetPresetListChangedSignal() { return mPresetListChangedSignal; }

private:
    kelcore::proplist::PropList* mList;
    PresetListChangedSignal mPresetListChangedSignal;
};

/// Writes the list as C source text declaring a table of factory presets to the debug output.
/// Writes nothing for a null or empty list or when no preset holds a parameter list; presets that
/// do not fit the table get a placeholder.
void FormatFactoryPresetList(boost::intrusive_ptr<PresetList> list);

} // namespace kelaudiofilterhost
