// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/catalogue/PluginLocator.h"
#include "kelaudiofilterhost/services/Guid.h"
#include "kelaudiofilterhost/services/RefCountedObject.h"

#include <cstdint>

namespace kelcore::proplist {
class PropList;
}

namespace kelaudiofilterhost {

/// Category of a filter class. Values are stored in files: never renumber. 1 to 10 come from VST 2
/// categories, 11 to 26 from VST 3 sub-categories; 27 marks modules in the application's own folder.
enum ComponentCategory : std::int32_t {
    Uncategorized = 0,
    Effect = 1,
    Synth = 2,
    Analysis = 3,
    Mastering = 4,
    Spacializer = 5,
    RoomFx = 6,
    SurroundFx = 7,
    Restoration = 8,
    OfflineProcess = 9,
    Generator = 10,
    Vst3Analyzer = 11,
    Vst3Delay = 12,
    Vst3Distortion = 13,
    Vst3Dynamics = 14,
    Vst3EQ = 15,
    Vst3Filter = 16,
    Vst3Instrument = 17,
    Vst3Spatial = 18,
    Vst3Generator = 19,
    Vst3Mastering = 20,
    Vst3Modulation = 21,
    Vst3PitchShift = 22,
    Vst3Restoration = 23,
    Vst3Reverb = 24,
    Vst3Surround = 25,
    Vst3Tools = 26,
    ApplicationPlugIn = 27,
};

/// The catalogue record of one creatable filter class. Held through boost::intrusive_ptr.
class AudioFilterDescriptor : public kelcore::utility::RefCountedObject {
public:
    /// A plug-in filter's descriptor; enabled.
    AudioFilterDescriptor(const PluginLocator& locator, const UTF16String& name, const UTF16String& vendor,
                          std::uint32_t version, ComponentCategory category, const UTF16String& uniqueID,
                          const kelcore::Guid& factoryGuid, bool synth);
    /// An internal filter's descriptor: locator (Internal, empty path), vendor "Quelo Systems"; enabled.
    AudioFilterDescriptor(const UTF16String& name, std::uint32_t version, ComponentCategory category,
                          const UTF16String& uniqueID, const kelcore::Guid& factoryGuid, bool synth);
    /// Neutral defaults (enabled, everything else empty or 0), then Read.
    explicit AudioFilterDescriptor(const kelcore::proplist::PropList& record);
    ~AudioFilterDescriptor() override;

    PluginLocator GetLocator() const { return mLocator; }
    UTF16String GetName() const { return mName; }
    UTF16String GetVendorString() const { return mVendor; }
    std::uint32_t GetVersion() const { return mVersion; }
    ComponentCategory GetCategory() const { return mCategory; }
    /// The component identifier, the key of every look-up; compared exactly.
    UTF16String GetUniqueID() const { return mUniqueID; }
    kelcore::Guid GetFactoryGuid() const { return mFactoryGuid; }
    bool IsEnabled() const { return mEnabled; }
    void SetEnabled(bool enabled) { mEnabled = enabled; }
    bool IsSynth() const { return mSynth; }
    /// True exactly when the locator's type is Internal.
    bool IsInternal() const { return mLocator.GetTechnologyType() == Internal; }

    /// Localised display text of the category; empty for Uncategorized, ApplicationPlugIn and unknown values.
    UTF16String GetCategoryName() const;

    /// Missing keys keep the current values, except "locator", "category" and "factory_guid",
    /// which fall back to (0, empty path), 0 and the invalid Guid. Wrong value types count as missing.
    void Read(const kelcore::proplist::PropList& record);
    void Write(kelcore::proplist::PropList& record) const;

private:
    PluginLocator mLocator;
    UTF16String mName;
    UTF16String mVendor;
    std::uint32_t mVersion = 0;
    ComponentCategory mCategory = Uncategorized;
    UTF16String mUniqueID;
    kelcore::Guid mFactoryGuid;
    bool mEnabled = true;
    bool mSynth = false;
};

} // namespace kelaudiofilterhost
