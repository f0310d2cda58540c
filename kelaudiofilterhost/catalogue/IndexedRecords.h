// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/catalogue/PluginLocator.h"
#include "kelaudiofilterhost/services/PropList.h"

#include <array>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

namespace kelaudiofilterhost::records {

/// The key of the index-th record of a list: the base word and the index in decimal ("descriptor12").
UTF8String IndexedKey(std::string_view base, std::int32_t index);

/// The entries of the list stored under base + i for 0 <= i < count, in ascending i; indices
/// without an entry are left out. Costs what the list holds, not what count says, so a count
/// read from a damaged file cannot make a reader loop for long.
std::vector<const kelcore::proplist::PropList::Entry*> FindIndexedEntries(const kelcore::proplist::PropList& list,
                                                                          std::string_view base, std::int32_t count);

/// Whether the list holds an entry under base + i for some i >= count (any i when count <= 0): a
/// record that reading up to the count leaves out.
bool HasIndexedEntriesFrom(const kelcore::proplist::PropList& list, std::string_view base, std::int32_t count);

/// The child list of an entry; null when the entry holds a value.
const kelcore::proplist::PropList* ChildOf(const kelcore::proplist::PropList::Entry& entry);

/// Stores children[i] under base + i, replacing whatever those keys held. Inserting keys one by
/// one into the sorted list would cost a move of the whole list per key; this appends and sorts once.
void SetIndexedChildren(kelcore::proplist::PropList& list, std::string_view base,
                        std::vector<kelcore::proplist::PropList>&& children);

/// Writes the values of one record. Into an empty record the values are appended and put in order
/// once at the end (cheapest when keys come in ascending byte order); into a filled one each key is
/// set as usual.
class RecordWriter {
public:
    RecordWriter(kelcore::proplist::PropList& record, std::size_t count);
    RecordWriter(const RecordWriter&) = delete;
    RecordWriter& operator=(const RecordWriter&) = delete;
    /// Puts appended keys in order.
    ~RecordWriter();

    void Set(std::string_view key, bool value);
    void Set(std::string_view key, std::int32_t value);
    void Set(std::string_view key, std::uint32_t value);
    void Set(std::string_view key, UTF8String value);
    void Set(std::string_view key, const UTF16String& value);

private:
    kelcore::proplist::PropList& mRecord;
    bool mAppend;
};

/// The values of a small record under the given keys (ascending byte order), found in one pass
/// over the record's sorted entries: a catalogue has tens of thousands of records, and a search per
/// key is most of the cost of reading one.
template <std::size_t N> class RecordValues {
public:
    RecordValues(const kelcore::proplist::PropList& record, const std::array<std::string_view, N>& keys)
    {
        const auto& entries = record.GetEntries();
        std::size_t k = 0;
        for (auto it = entries.begin(); it != entries.end() && k < N;) {
            const int order = std::string_view(it->key).compare(keys[k]);
            if (order < 0) {
                ++it;
            } else if (order > 0) {
                ++k;
            } else {
                mValues[k++] = &it->value;
                ++it;
            }
        }
    }

    /// The same conversions as PropList::GetValue: false (value untouched) when absent or of
    /// another type; signed and unsigned integers convert when the value fits.
    bool Get(std::size_t index, bool& value) const;
    bool Get(std::size_t index, std::int32_t& value) const;
    bool Get(std::size_t index, std::uint32_t& value) const;
    bool Get(std::size_t index, UTF8String& value) const;
    bool Get(std::size_t index, UTF16String& value) const;

private:
    std::array<const kelcore::proplist::PropList::Value*, N> mValues{};
};

bool GetValue(const kelcore::proplist::PropList::Value* slot, bool& value);
bool GetValue(const kelcore::proplist::PropList::Value* slot, std::int32_t& value);
bool GetValue(const kelcore::proplist::PropList::Value* slot, std::uint32_t& value);
bool GetValue(const kelcore::proplist::PropList::Value* slot, UTF8String& value);
bool GetValue(const kelcore::proplist::PropList::Value* slot, UTF16String& value);

template <std::size_t N> bool RecordValues<N>::Get(std::size_t index, bool& value) const
{
    return GetValue(mValues[index], value);
}
template <std::size_t N> bool RecordValues<N>::Get(std::size_t index, std::int32_t& value) const
{
    return GetValue(mValues[index], value);
}
template <std::size_t N> bool RecordValues<N>::Get(std::size_t index, std::uint32_t& value) const
{
    return GetValue(mValues[index], value);
}
template <std::size_t N> bool RecordValues<N>::Get(std::size_t index, UTF8String& value) const
{
    return GetValue(mValues[index], value);
}
template <std::size_t N> bool RecordValues<N>::Get(std::size_t index, UTF16String& value) const
{
    return GetValue(mValues[index], value);
}

} // namespace kelaudiofilterhost::records
