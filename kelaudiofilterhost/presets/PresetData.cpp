// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/presets/PresetData.h"

#include "kelaudiofilterhost/services/PropList.h"
#include "kelaudiofilterhost/services/Trace.h"

#include <algorithm>
#include <cmath>
#include <string_view>

namespace kelaudiofilterhost {

using kelcore::proplist::PropList;

namespace {

constexpr std::string_view kVersionKey = "Version";
constexpr std::string_view kTypeKey = "Type";
constexpr std::string_view kParamListKey = "ParamList";
constexpr std::string_view kChunkDataKey = "ChunkData";
constexpr std::string_view kCustomDataKey = "CustomData";
constexpr std::string_view kFactoryPresetKey = "FactoryPreset";

} // namespace

PresetData::PresetData(PropList& list) : mList(&list)
{
}

PresetData::PresetData(PropList* list) : mList(list)
{
}

PresetData::~PresetData()
{
    mPresetChangedSignal.disconnect_all_slots();
}

bool PresetData::IsEmpty() const
{
    return !mList || mList->IsEmpty();
}

void PresetData::Clear()
{
    if (mList) {
        mList->Clear();
    }
}

float PresetData::GetVersion() const
{
    float version = 0.0f;
    if (mList) {
        mList->GetValue(kVersionKey, version);
    }
    return version;
}

void PresetData::SetVersion(float version)
{
    if (mList) {
        mList->SetValue(kVersionKey, version);
        NotifyChanged();
    }
}

PresetData::PresetType PresetData::GetPresetType() const
{
    std::int32_t type = ParamListPreset;
    if (mList) {
        mList->GetValue(kTypeKey, type);
    }
    return static_cast<PresetType>(type);
}

void PresetData::SetPresetType(PresetType type)
{
    if (mList) {
        mList->SetValue(kTypeKey, static_cast<std::int32_t>(type));
        NotifyChanged();
    }
}

void PresetData::GetParamList(std::list<float>& values) const
{
    ReadParamList(values);
}

bool PresetData::ReadParamList(std::list<float>& values) const
{
    values.clear();
    return mList && mList->GetValue(kParamListKey, values);
}

void PresetData::SetParamList(const std::list<float>& values)
{
    if (mList) {
        mList->SetValue(kParamListKey, values);
        NotifyChanged();
    }
}

bool PresetData::GetChunkData(ChunkBytes& bytes) const
{
    bytes.clear();
    UTF8String text;
    if (!mList || !mList->GetValue(kChunkDataKey, text) || text.empty()) {
        return false;
    }
    if (!kelcore::proplist::DecodeBinaryDataFromUTF8String(text, bytes)) {
        KAFH_TRACE("PresetData::GetChunkData", 5, "\"ChunkData\" is not valid encoded data (" << text.size()
                                                                                                << " characters)");
        bytes.clear();
        return false;
    }
    return true;
}

void PresetData::SetChunkData(const unsigned char* bytes, unsigned int size)
{
    if (!mList) {
        return;
    }
    UTF8String text;
    if (!kelcore::proplist::EncodeBinaryDataToUTF8String(bytes, size, text)) {
        KAFH_TRACE("PresetData::SetChunkData", 5, "cannot encode " << size << " bytes; chunk not written");
        return;
    }
    mList->SetValue(kChunkDataKey, text);
    NotifyChanged();
}

UTF16String PresetData::GetFactoryPresetName() const
{
    UTF16String name;
    if (mList) {
        mList->GetValue(kFactoryPresetKey, name);
    }
    return name;
}

void PresetData::SetFactoryPresetName(const UTF16String& name)
{
    if (mList) {
        mList->SetValue(kFactoryPresetKey, name);
        NotifyChanged();
    }
}

PropList* PresetData::GetCustomDataSection()
{
    return mList ? mList->CreateChild(kCustomDataKey) : nullptr;
}

const PropList* PresetData::GetCustomDataSection() const
{
    // The view never owns its list, so creating the section from a const view is allowed.
    return mList ? mList->CreateChild(kCustomDataKey) : nullptr;
}

void PresetData::SetDataFromExistingPreset(const PresetData& other)
{
    if (!mList || !other.mList) {
        return;
    }
    UTF8String xml;
    if (!kelcore::proplist::utils::WritePropList(*other.mList, xml) ||
        !kelcore::proplist::utils::ReadPropList(xml, *mList)) {
        KAFH_TRACE("PresetData::SetDataFromExistingPreset", 5, "copying the record through XML failed");
        return;
    }
    NotifyChanged();
}

bool PresetData::operator==(const PresetData& other) const
{
    if (!mList) {
        return false;
    }
    const float version = GetVersion();
    const float otherVersion = other.GetVersion();
    if (std::isnan(version) || std::isnan(otherVersion) || version != otherVersion) {
        return false;
    }
    const PresetType type = GetPresetType();
    if (type != other.GetPresetType()) {
        return false;
    }
    switch (type) {
    case ParamListPreset:
        return IsParamDataEqual(other);
    case ChunkPreset:
        return IsChunkDataEqual(other);
    case FactoryReferencePreset:
        return IsFactoryDataEqual(other);
    case CustomPreset:
        return IsCustomDataEqual(other);
    }
    return false;
}

bool PresetData::IsParamDataEqual(const PresetData& other) const
{
    if (!mList) {
        return false;
    }
    std::list<float> values;
    std::list<float> otherValues;
    GetParamList(values);
    other.GetParamList(otherValues);
    // Element-wise float comparison: a NaN value never equals anything.
    return values.size() == otherValues.size() &&
           std::equal(values.begin(), values.end(), otherValues.begin());
}

bool PresetData::IsChunkDataEqual(const PresetData& other) const
{
    if (!mList) {
        return false;
    }
    ChunkBytes bytes;
    ChunkBytes otherBytes;
    const bool found = GetChunkData(bytes);
    const bool otherFound = other.GetChunkData(otherBytes);
    return found == otherFound && bytes == otherBytes;
}

bool PresetData::IsFactoryDataEqual(const PresetData& other) const
{
    return mList && GetFactoryPresetName() == other.GetFactoryPresetName();
}

bool PresetData::IsCustomDataEqual(const PresetData& other) const
{
    const PropList* custom = GetCustomDataSection();
    const PropList* otherCustom = other.GetCustomDataSection();
    if (!custom || !otherCustom) {
        return false;
    }
    UTF8String xml;
    UTF8String otherXml;
    if (!kelcore::proplist::utils::WritePropList(*custom, xml) ||
        !kelcore::proplist::utils::WritePropList(*otherCustom, otherXml) || xml != otherXml) {
        return false;
    }
    return IsParamDataEqual(other) && IsChunkDataEqual(other);
}

void PresetData::NotifyChanged()
{
    mPresetChangedSignal(*this);
}

} // namespace kelaudiofilterhost
