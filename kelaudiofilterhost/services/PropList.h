// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/services/Strings.h"

#include <cstdint>
#include <list>
#include <memory>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace kelcore::filesupport {
class File;
}

namespace kelcore::proplist {

/// A tree of typed values and child lists under UTF-8 keys, the store of every persistent record.
/// A key names either one value or one child list. Keys are kept in ascending byte order.
/// Not thread-safe; copies are deep.
class PropList {
public:
    using FloatList = std::vector<float>;

    PropList();
    PropList(const PropList& other);
    PropList(PropList&& other) noexcept;
    PropList& operator=(const PropList& other);
    PropList& operator=(PropList&& other) noexcept;
    ~PropList();

    /// Setting a key replaces whatever the key held before (a value of another type or a child).
    void SetValue(std::string_view key, bool value);
    void SetValue(std::string_view key, std::int32_t value);
    void SetValue(std::string_view key, std::uint32_t value);
    void SetValue(std::string_view key, float value);
    void SetValue(std::string_view key, const UTF8String& value);
    void SetValue(std::string_view key, const char* value);
    void SetValue(std::string_view key, const UTF16String& value);
    void SetValue(std::string_view key, const FloatList& value);
    void SetValue(std::string_view key, const std::list<float>& value);

    /// False for an absent key or a value of another type; the out value is then untouched.
    /// Signed and unsigned integers convert into each other when the value fits; UTF-8 and
    /// UTF-16 text are the same value.
    bool GetValue(std::string_view key, bool& value) const;
    bool GetValue(std::string_view key, std::int32_t& value) const;
    bool GetValue(std::string_view key, std::uint32_t& value) const;
    bool GetValue(std::string_view key, float& value) const;
    bool GetValue(std::string_view key, UTF8String& value) const;
    bool GetValue(std::string_view key, UTF16String& value) const;
    bool GetValue(std::string_view key, FloatList& value) const;
    bool GetValue(std::string_view key, std::list<float>& value) const;

    /// True when the key holds a value (not a child).
    bool HasValue(std::string_view key) const;
    /// The child list under the key; null when absent (or when the key holds a value).
    const PropList* GetChild(std::string_view key) const;
    PropList* GetChild(std::string_view key);
    /// The child list under the key, created empty when absent; a value under the key is replaced.
    PropList* CreateChild(std::string_view key);

    /// Removes the value or child under the key; false when there was none.
    bool RemoveValue(std::string_view key);
    void Clear();
    bool IsEmpty() const;
    /// Every key (values and children), ascending.
    std::vector<UTF8String> GetKeys() const;
    std::size_t GetSize() const;

    bool operator==(const PropList& other) const;
    bool operator!=(const PropList& other) const { return !(*this == other); }

    /// One stored value or child; exposed for the XML reader and writer.
    using Value = std::variant<bool, std::int32_t, std::uint32_t, float, UTF8String, FloatList,
                               std::unique_ptr<PropList>>;
    struct Entry {
        UTF8String key;
        Value value;
    };
    const std::vector<Entry>& GetEntries() const { return mEntries; }
    /// Appends without searching; the reader uses it for keys that arrive in ascending order
    /// and calls Normalize once at the end.
    void AppendUnchecked(UTF8String key, Value value);
    /// Appends an entry under the key without searching and returns its value to be filled in place.
    Value& AppendSlotUnchecked(std::string_view key);
    /// Makes room for count entries in total, for readers that know the size in advance.
    void Reserve(std::size_t count) { mEntries.reserve(count); }
    /// Moves every entry of other into this list; a key present in both takes other's value or child.
    void Merge(PropList&& other);
    /// Sorts the entries by key and drops later duplicates (the first value of a key wins).
    void Normalize();

private:
    Entry* Find(std::string_view key);
    const Entry* Find(std::string_view key) const;
    Value& Slot(std::string_view key);

    std::vector<Entry> mEntries;
};

namespace utils {
/// XML text of the list. False only when writing failed. Every value comes back exactly from ReadPropList,
/// floats bit for bit; text that XML cannot carry (control characters, ill-formed UTF-8) is stored base64-encoded.
bool WritePropList(const PropList& list, UTF8String& xml);
/// Replaces the list with what the XML text holds; on malformed text returns false and leaves the list unchanged.
bool ReadPropList(const UTF8String& xml, PropList& list);
/// Writes to a temporary file in the same directory, then renames it over the file: an interrupted
/// save leaves the old file whole. False when any step fails (the old file then stays).
bool SavePropList(filesupport::File& file, const PropList& list);
/// False for a missing, empty, truncated or malformed file, leaving the list as it was. When merge is
/// true the file's entries are added to the list (a key present in the file replaces the list's).
bool LoadPropList(const UTF16String& path, PropList& list, bool merge);
} // namespace utils

/// Bytes to text (base64) and back, unchanged. Decoding fails on text that is not base64.
bool EncodeBinaryDataToUTF8String(const void* data, std::size_t size, UTF8String& text);
bool EncodeBinaryDataToUTF8String(const std::vector<std::uint8_t>& data, UTF8String& text);
bool DecodeBinaryDataFromUTF8String(const UTF8String& text, std::vector<std::uint8_t>& data);

} // namespace kelcore::proplist
