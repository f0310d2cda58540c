// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/catalogue/IndexedRecords.h"

#include <algorithm>
#include <charconv>
#include <limits>
#include <memory>

namespace kelaudiofilterhost::records {

using kelcore::proplist::PropList;

namespace {

// The index written after the base: decimal digits without a leading zero ("0" itself allowed),
// exactly as IndexedKey forms it; -1 for anything else or a value of count or more.
std::int64_t ParseIndex(std::string_view digits, std::int32_t count)
{
    if (digits.empty() || (digits.size() > 1 && digits.front() == '0')) {
        return -1;
    }
    std::int64_t value = 0;
    for (char c : digits) {
        if (c < '0' || c > '9') {
            return -1;
        }
        value = value * 10 + (c - '0');
        if (value >= count) {
            return -1;
        }
    }
    return value;
}

} // namespace

UTF8String IndexedKey(std::string_view base, std::int32_t index)
{
    char digits[16];
    const auto result = std::to_chars(digits, digits + sizeof digits, index);
    UTF8String key;
    key.reserve(base.size() + static_cast<std::size_t>(result.ptr - digits));
    key.append(base);
    key.append(digits, result.ptr);
    return key;
}

namespace {

// Every key that starts with base, in one run: keys are kept in ascending byte order.
template <typename Visit> void ForEachKeyStartingWith(const PropList& list, std::string_view base, Visit visit)
{
    const auto& entries = list.GetEntries();
    // compare, not <: clang 14 cannot rewrite std::string < std::string_view with libstdc++ 12.
    auto it = std::lower_bound(entries.begin(), entries.end(), base, [](const PropList::Entry& entry, std::string_view key) {
        return std::string_view(entry.key).compare(key) < 0;
    });
    for (; it != entries.end() && std::string_view(it->key).starts_with(base); ++it) {
        if (!visit(*it)) {
            return;
        }
    }
}

} // namespace

bool HasIndexedEntriesFrom(const PropList& list, std::string_view base, std::int32_t count)
{
    constexpr std::int32_t kAnyIndex = std::numeric_limits<std::int32_t>::max();
    bool found = false;
    ForEachKeyStartingWith(list, base, [&](const PropList::Entry& entry) {
        const std::int64_t index = ParseIndex(std::string_view(entry.key).substr(base.size()), kAnyIndex);
        found = index >= 0 && index >= count;
        return !found;
    });
    return found;
}

std::vector<const PropList::Entry*> FindIndexedEntries(const PropList& list, std::string_view base, std::int32_t count)
{
    std::vector<std::pair<std::int64_t, const PropList::Entry*>> found;
    if (count <= 0) {
        return {};
    }
    ForEachKeyStartingWith(list, base, [&](const PropList::Entry& entry) {
        const std::int64_t index = ParseIndex(std::string_view(entry.key).substr(base.size()), count);
        if (index >= 0) {
            found.emplace_back(index, &entry);
        }
        return true;
    });
    std::sort(found.begin(), found.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<const PropList::Entry*> result;
    result.reserve(found.size());
    for (const auto& item : found) {
        result.push_back(item.second);
    }
    return result;
}

const PropList* ChildOf(const PropList::Entry& entry)
{
    const auto* child = std::get_if<std::unique_ptr<PropList>>(&entry.value);
    return child ? child->get() : nullptr;
}

void SetIndexedChildren(PropList& list, std::string_view base, std::vector<PropList>&& children)
{
    std::vector<UTF8String> keys;
    keys.reserve(children.size());
    bool anyPresent = false;
    for (std::size_t i = 0; i < children.size(); ++i) {
        keys.push_back(IndexedKey(base, static_cast<std::int32_t>(i)));
        anyPresent = anyPresent || list.HasValue(keys.back()) || list.GetChild(keys.back()) != nullptr;
    }
    if (anyPresent) {
        // Rare: the list already holds some of these keys, which must be replaced, not kept.
        for (std::size_t i = 0; i < children.size(); ++i) {
            *list.CreateChild(keys[i]) = std::move(children[i]);
        }
        return;
    }
    for (std::size_t i = 0; i < children.size(); ++i) {
        list.AppendUnchecked(std::move(keys[i]), std::make_unique<PropList>(std::move(children[i])));
    }
    list.Normalize();
}

RecordWriter::RecordWriter(PropList& record, std::size_t count) : mRecord(record), mAppend(record.IsEmpty())
{
    if (mAppend) {
        mRecord.Reserve(count);
    }
}

RecordWriter::~RecordWriter()
{
    if (mAppend) {
        mRecord.Normalize();
    }
}

void RecordWriter::Set(std::string_view key, bool value)
{
    mAppend ? mRecord.AppendUnchecked(UTF8String(key), value) : mRecord.SetValue(key, value);
}

void RecordWriter::Set(std::string_view key, std::int32_t value)
{
    mAppend ? mRecord.AppendUnchecked(UTF8String(key), value) : mRecord.SetValue(key, value);
}

void RecordWriter::Set(std::string_view key, std::uint32_t value)
{
    mAppend ? mRecord.AppendUnchecked(UTF8String(key), value) : mRecord.SetValue(key, value);
}

void RecordWriter::Set(std::string_view key, UTF8String value)
{
    mAppend ? mRecord.AppendUnchecked(UTF8String(key), std::move(value)) : mRecord.SetValue(key, value);
}

void RecordWriter::Set(std::string_view key, const UTF16String& value)
{
    // Catalogue texts are nearly always ASCII, which narrows without encoding.
    if (std::all_of(value.begin(), value.end(), [](char16_t c) { return c < 0x80; })) {
        Set(key, UTF8String(value.begin(), value.end()));
    } else {
        Set(key, kelcore::UTF16to8(value));
    }
}

bool GetValue(const PropList::Value* slot, bool& value)
{
    const auto* stored = slot ? std::get_if<bool>(slot) : nullptr;
    if (stored) {
        value = *stored;
    }
    return stored != nullptr;
}

bool GetValue(const PropList::Value* slot, std::int32_t& value)
{
    if (const auto* stored = slot ? std::get_if<std::int32_t>(slot) : nullptr) {
        value = *stored;
        return true;
    }
    const auto* other = slot ? std::get_if<std::uint32_t>(slot) : nullptr;
    if (other && *other <= static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max())) {
        value = static_cast<std::int32_t>(*other);
        return true;
    }
    return false;
}

bool GetValue(const PropList::Value* slot, std::uint32_t& value)
{
    if (const auto* stored = slot ? std::get_if<std::uint32_t>(slot) : nullptr) {
        value = *stored;
        return true;
    }
    const auto* other = slot ? std::get_if<std::int32_t>(slot) : nullptr;
    if (other && *other >= 0) {
        value = static_cast<std::uint32_t>(*other);
        return true;
    }
    return false;
}

bool GetValue(const PropList::Value* slot, UTF8String& value)
{
    const auto* stored = slot ? std::get_if<UTF8String>(slot) : nullptr;
    if (stored) {
        value = *stored;
    }
    return stored != nullptr;
}

bool GetValue(const PropList::Value* slot, UTF16String& value)
{
    const auto* stored = slot ? std::get_if<UTF8String>(slot) : nullptr;
    if (!stored) {
        return false;
    }
    // Catalogue texts are nearly always ASCII, which widens without decoding.
    if (std::all_of(stored->begin(), stored->end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
        value.assign(stored->begin(), stored->end());
    } else {
        value = kelcore::UTF8to16(*stored);
    }
    return true;
}

} // namespace kelaudiofilterhost::records
