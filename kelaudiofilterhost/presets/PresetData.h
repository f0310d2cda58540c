// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/services/RefCountedObject.h"
#include "kelaudiofilterhost/services/Strings.h"

#include <boost/core/noncopyable.hpp>
#include <boost/intrusive_ptr.hpp>
#include <boost/signals2/signal.hpp>

#include <cstdint>
#include <list>
#include <vector>

namespace kelcore::proplist {
class PropList;
}

namespace kelaudiofilterhost {

using kelcore::UTF16String;
using kelcore::UTF8String;

/// One saved filter state: a typed view over a property list that the caller owns and that must
/// outlive the view. Without a property list the view is inert: getters give their defaults,
/// setters do nothing, IsEmpty is true and equality is false. Not locked.
class PresetData : public kelcore::utility::RefCountedObject, private boost::noncopyable {
public:
    /// Which key carries the state. Stored in records: never renumber.
    enum PresetType : std::int32_t {
        ParamListPreset = 0,
        ChunkPreset = 1,
        FactoryReferencePreset = 2,
        /// "CustomData" together with "ParamList" and "ChunkData".
        CustomPreset = 3,
    };

    using ChunkBytes = std::vector<std::uint8_t>;
    using PresetChangedSignal = boost::signals2::signal<void(const PresetData&)>;

    explicit PresetData(kelcore::proplist::PropList& list);
    /// A null list gives an inert view.
    explicit PresetData(kelcore::proplist::PropList* list);
    ~PresetData() override;

    bool IsEmpty() const;
    /// Removes every value; fires nothing.
    void Clear();
    const kelcore::proplist::PropList* GetRawData() const { return mList; }

    /// "Version", 0.0 when absent or not a float.
    float GetVersion() const;
    void SetVersion(float version);
    /// "Type", ParamListPreset when absent or not an integer.
    PresetType GetPresetType() const;
    void SetPresetType(PresetType type);
    /// Empties the out-list, then reads "ParamList"; empty when absent or unreadable.
    void GetParamList(std::list<float>& values) const;
    /// Like GetParamList, but false when "ParamList" is absent or not a list of floats.
    bool ReadParamList(std::list<float>& values) const;
    void SetParamList(const std::list<float>& values);
    /// Empties the out-vector; false without "ChunkData", with an empty text or with text that does
    /// not decode.
    bool GetChunkData(ChunkBytes& bytes) const;
    /// Writes "ChunkData" only when the bytes encode (null bytes with a size do not); the old chunk
    /// then stays and nothing fires.
    void SetChunkData(const unsigned char* bytes, unsigned int size);
    UTF16String GetFactoryPresetName() const;
    void SetFactoryPresetName(const UTF16String& name);
    /// The child under "CustomData", created empty when absent; null without a property list.
    kelcore::proplist::PropList* GetCustomDataSection();
    const kelcore::proplist::PropList* GetCustomDataSection() const;
    /// Replaces this record's contents with a deep copy of the other's (through XML text, as stored).
    void SetDataFromExistingPreset(const PresetData& other);

    /// Same version and type, then equal state by this side's type. Reading custom data creates
    /// an empty "CustomData" child on both sides, as GetCustomDataSection does.
    bool operator==(const PresetData& other) const;

    PresetChangedSignal& GetPresetChangedSignal() { return mPresetChangedSignal; }

private:
    bool IsParamDataEqual(const PresetData& other) const;
    bool IsChunkDataEqual(const PresetData& other) const;
    bool IsFactoryDataEqual(const PresetData& other) const;
    bool IsCustomDataEqual(const PresetData& other) const;
    void NotifyChanged();

    kelcore::proplist::PropList* mList;
    PresetChangedSignal mPresetChangedSignal;
};

} // namespace kelaudiofilterhost
