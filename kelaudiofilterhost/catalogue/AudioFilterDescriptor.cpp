// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/catalogue/AudioFilterDescriptor.h"

#include "kelaudiofilterhost/catalogue/IndexedRecords.h"
#include "kelaudiofilterhost/services/Config.h"
#include "kelaudiofilterhost/services/PropList.h"

#include <array>
#include <string_view>

namespace kelaudiofilterhost {

namespace {

// Localisation keys by category value; the text after '=' is the default display text.
constexpr std::array<std::string_view, ApplicationPlugIn + 1> kCategoryKeys = {
    "",
    "$$$/kelaudiofilterhost/componentdescriptor/category/Effect=Effect",
    "$$$/kelaudiofilterhost/componentdescriptor/category/Synth=Synth",
    "$$$/kelaudiofilterhost/componentdescriptor/category/Analysis=Analysis",
    "$$$/kelaudiofilterhost/componentdescriptor/category/Mastering=Mastering",
    "$$$/kelaudiofilterhost/componentdescriptor/category/Spacializer=Spacializer",
    "$$$/kelaudiofilterhost/componentdescriptor/category/RoomFx=RoomFx",
    "$$$/kelaudiofilterhost/componentdescriptor/category/SurroundFx=SurroundFx",
    "$$$/kelaudiofilterhost/componentdescriptor/category/Restoration=Restoration",
    "$$$/kelaudiofilterhost/componentdescriptor/category/OfflineProcess=Offline",
    "$$$/kelaudiofilterhost/componentdescriptor/category/Generator=Generator",
    "$$$/kelaudiofilterhost/componentdescriptor/category/Vst3Analyzer=Analyzer",
    "$$$/kelaudiofilterhost/componentdescriptor/category/Vst3Delay=Delay",
    "$$$/kelaudiofilterhost/componentdescriptor/category/Vst3Distortion=Distortion",
    "$$$/kelaudiofilterhost/componentdescriptor/category/Vst3Dynamics=Dynamics",
    "$$$/kelaudiofilterhost/componentdescriptor/category/Vst3EQ=EQ",
    "$$$/kelaudiofilterhost/componentdescriptor/category/Vst3Filter=Filter",
    "$$$/kelaudiofilterhost/componentdescriptor/category/Vst3Instrument=Instrument",
    "$$$/kelaudiofilterhost/componentdescriptor/category/Vst3Spatial=Spatial",
    "$$$/kelaudiofilterhost/componentdescriptor/category/Vst3Generator=Generator",
    "$$$/kelaudiofilterhost/componentdescriptor/category/Vst3Mastering=Mastering",
    "$$$/kelaudiofilterhost/componentdescriptor/category/Vst3Modulation=Modulation",
    "$$$/kelaudiofilterhost/componentdescriptor/category/Vst3PitchShift=Pitch Shift",
    "$$$/kelaudiofilterhost/componentdescriptor/category/Vst3Restoration=Restoration",
    "$$$/kelaudiofilterhost/componentdescriptor/category/Vst3Reverb=Reverb",
    "$$$/kelaudiofilterhost/componentdescriptor/category/Vst3Surround=Surround",
    "$$$/kelaudiofilterhost/componentdescriptor/category/Vst3Tools=Tools",
    "",
};

const UTF16String kInternalVendor = u"Quelo Systems";

} // namespace

AudioFilterDescriptor::AudioFilterDescriptor(const PluginLocator& locator, const UTF16String& name,
                                             const UTF16String& vendor, std::uint32_t version,
                                             ComponentCategory category, const UTF16String& uniqueID,
                                             const kelcore::Guid& factoryGuid, bool synth)
    : mLocator(locator), mName(name), mVendor(vendor), mVersion(version), mCategory(category), mUniqueID(uniqueID),
      mFactoryGuid(factoryGuid), mSynth(synth)
{
}

AudioFilterDescriptor::AudioFilterDescriptor(const UTF16String& name, std::uint32_t version,
                                             ComponentCategory category, const UTF16String& uniqueID,
                                             const kelcore::Guid& factoryGuid, bool synth)
    : AudioFilterDescriptor(PluginLocator(Internal, UTF16String()), name, kInternalVendor, version, category,
                            uniqueID, factoryGuid, synth)
{
}

AudioFilterDescriptor::AudioFilterDescriptor(const kelcore::proplist::PropList& record)
{
    Read(record);
}

AudioFilterDescriptor::~AudioFilterDescriptor() = default;

UTF16String AudioFilterDescriptor::GetCategoryName() const
{
    if (mCategory < 0 || static_cast<std::size_t>(mCategory) >= kCategoryKeys.size() || kCategoryKeys[mCategory].empty()) {
        return {};
    }
    return kelcore::config::Localizer::Get().GetText(kCategoryKeys[mCategory]);
}

void AudioFilterDescriptor::Read(const kelcore::proplist::PropList& record)
{
    enum { kCategory, kEnabled, kFactoryGuid, kID, kLocator, kName, kSynth, kVendor, kVersion };
    const records::RecordValues<9> values(record, {"category", "enabled", "factory_guid", "id", "locator", "name",
                                                   "synth", "vendor", "version"});
    UTF16String locatorText;
    values.Get(kLocator, locatorText);
    mLocator.FromString(locatorText);
    values.Get(kName, mName);
    values.Get(kVendor, mVendor);
    values.Get(kVersion, mVersion);
    std::int32_t category = 0;
    values.Get(kCategory, category);
    mCategory = static_cast<ComponentCategory>(category);
    values.Get(kID, mUniqueID);
    UTF8String guidText;
    values.Get(kFactoryGuid, guidText);
    mFactoryGuid = kelcore::Guid(std::string_view(guidText));
    values.Get(kEnabled, mEnabled);
    values.Get(kSynth, mSynth);
}

void AudioFilterDescriptor::Write(kelcore::proplist::PropList& record) const
{
    records::RecordWriter writer(record, 9);
    writer.Set("category", static_cast<std::int32_t>(mCategory));
    writer.Set("enabled", mEnabled);
    writer.Set("factory_guid", mFactoryGuid.AsUTF8String());
    writer.Set("id", mUniqueID);
    writer.Set("locator", mLocator.ToString());
    writer.Set("name", mName);
    writer.Set("synth", mSynth);
    writer.Set("vendor", mVendor);
    writer.Set("version", mVersion);
}

} // namespace kelaudiofilterhost
