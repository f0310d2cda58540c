// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/services/PropList.h"

#include <algorithm>
#include <bit>
#include <limits>
#include <type_traits>

namespace kelcore::proplist {

namespace {

bool KeyLess(const PropList::Entry& entry, std::string_view key)
{
    return std::string_view(entry.key) < key;
}

PropList::Value CopyValue(const PropList::Value& value)
{
    return std::visit(
        [](const auto& v) -> PropList::Value {
            if constexpr (std::is_same_v<std::decay_t<decltype(v)>, std::unique_ptr<PropList>>) {
                return std::make_unique<PropList>(*v);
            } else {
                return v;
            }
        },
        value);
}

// Floats compare by bit pattern, so a list equals its own copy even when it holds NaN.
bool SameFloat(float a, float b)
{
    return std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b);
}

bool SameValue(const PropList::Value& a, const PropList::Value& b)
{
    if (a.index() != b.index()) {
        return false;
    }
    if (const auto* fa = std::get_if<float>(&a)) {
        return SameFloat(*fa, std::get<float>(b));
    }
    if (const auto* la = std::get_if<PropList::FloatList>(&a)) {
        const auto& lb = std::get<PropList::FloatList>(b);
        return std::equal(la->begin(), la->end(), lb.begin(), lb.end(), SameFloat);
    }
    if (const auto* ca = std::get_if<std::unique_ptr<PropList>>(&a)) {
        return **ca == *std::get<std::unique_ptr<PropList>>(b);
    }
    return a == b;
}

template <typename T> const T* ValueAs(const PropList::Entry* entry)
{
    return entry ? std::get_if<T>(&entry->value) : nullptr;
}

} // namespace

PropList::PropList() = default;

PropList::PropList(const PropList& other)
{
    mEntries.reserve(other.mEntries.size());
    for (const Entry& entry : other.mEntries) {
        mEntries.push_back(Entry{entry.key, CopyValue(entry.value)});
    }
}

PropList::PropList(PropList&& other) noexcept = default;

PropList& PropList::operator=(const PropList& other)
{
    if (this != &other) {
        PropList copy(other);
        mEntries.swap(copy.mEntries);
    }
    return *this;
}

PropList& PropList::operator=(PropList&& other) noexcept = default;

PropList::~PropList() = default;

PropList::Entry* PropList::Find(std::string_view key)
{
    auto it = std::lower_bound(mEntries.begin(), mEntries.end(), key, KeyLess);
    return it != mEntries.end() && it->key == key ? &*it : nullptr;
}

const PropList::Entry* PropList::Find(std::string_view key) const
{
    auto it = std::lower_bound(mEntries.begin(), mEntries.end(), key, KeyLess);
    return it != mEntries.end() && it->key == key ? &*it : nullptr;
}

PropList::Value& PropList::Slot(std::string_view key)
{
    auto it = std::lower_bound(mEntries.begin(), mEntries.end(), key, KeyLess);
    if (it == mEntries.end() || it->key != key) {
        it = mEntries.insert(it, Entry{UTF8String(key), Value{}});
    }
    return it->value;
}

void PropList::SetValue(std::string_view key, bool value)
{
    Slot(key) = value;
}

void PropList::SetValue(std::string_view key, std::int32_t value)
{
    Slot(key) = value;
}

void PropList::SetValue(std::string_view key, std::uint32_t value)
{
    Slot(key) = value;
}

void PropList::SetValue(std::string_view key, float value)
{
    Slot(key) = value;
}

void PropList::SetValue(std::string_view key, const UTF8String& value)
{
    Slot(key) = value;
}

void PropList::SetValue(std::string_view key, const char* value)
{
    Slot(key) = UTF8String(value ? value : "");
}

void PropList::SetValue(std::string_view key, const UTF16String& value)
{
    Slot(key) = UTF16to8(value);
}

void PropList::SetValue(std::string_view key, const FloatList& value)
{
    Slot(key) = value;
}

void PropList::SetValue(std::string_view key, const std::list<float>& value)
{
    Slot(key) = FloatList(value.begin(), value.end());
}

bool PropList::GetValue(std::string_view key, bool& value) const
{
    if (const auto* v = ValueAs<bool>(Find(key))) {
        value = *v;
        return true;
    }
    return false;
}

bool PropList::GetValue(std::string_view key, std::int32_t& value) const
{
    const Entry* entry = Find(key);
    if (const auto* v = ValueAs<std::int32_t>(entry)) {
        value = *v;
        return true;
    }
    if (const auto* u = ValueAs<std::uint32_t>(entry)) {
        if (*u <= static_cast<std::uint32_t>(std::numeric_limits<std::int32_t>::max())) {
            value = static_cast<std::int32_t>(*u);
            return true;
        }
    }
    return false;
}

bool PropList::GetValue(std::string_view key, std::uint32_t& value) const
{
    const Entry* entry = Find(key);
    if (const auto* u = ValueAs<std::uint32_t>(entry)) {
        value = *u;
        return true;
    }
    if (const auto* v = ValueAs<std::int32_t>(entry)) {
        if (*v >= 0) {
            value = static_cast<std::uint32_t>(*v);
            return true;
        }
    }
    return false;
}

bool PropList::GetValue(std::string_view key, float& value) const
{
    if (const auto* v = ValueAs<float>(Find(key))) {
        value = *v;
        return true;
    }
    return false;
}

bool PropList::GetValue(std::string_view key, UTF8String& value) const
{
    if (const auto* v = ValueAs<UTF8String>(Find(key))) {
        value = *v;
        return true;
    }
    return false;
}

bool PropList::GetValue(std::string_view key, UTF16String& value) const
{
    if (const auto* v = ValueAs<UTF8String>(Find(key))) {
        value = UTF8to16(*v);
        return true;
    }
    return false;
}

bool PropList::GetValue(std::string_view key, FloatList& value) const
{
    if (const auto* v = ValueAs<FloatList>(Find(key))) {
        value = *v;
        return true;
    }
    return false;
}

bool PropList::GetValue(std::string_view key, std::list<float>& value) const
{
    if (const auto* v = ValueAs<FloatList>(Find(key))) {
        value.assign(v->begin(), v->end());
        return true;
    }
    return false;
}

bool PropList::HasValue(std::string_view key) const
{
    const Entry* entry = Find(key);
    return entry && !std::holds_alternative<std::unique_ptr<PropList>>(entry->value);
}

const PropList* PropList::GetChild(std::string_view key) const
{
    const auto* child = ValueAs<std::unique_ptr<PropList>>(Find(key));
    return child ? child->get() : nullptr;
}

PropList* PropList::GetChild(std::string_view key)
{
    Entry* entry = Find(key);
    auto* child = entry ? std::get_if<std::unique_ptr<PropList>>(&entry->value) : nullptr;
    return child ? child->get() : nullptr;
}

PropList* PropList::CreateChild(std::string_view key)
{
    Value& slot = Slot(key);
    if (auto* child = std::get_if<std::unique_ptr<PropList>>(&slot)) {
        return child->get();
    }
    auto child = std::make_unique<PropList>();
    PropList* created = child.get();
    slot = std::move(child);
    return created;
}

bool PropList::RemoveValue(std::string_view key)
{
    auto it = std::lower_bound(mEntries.begin(), mEntries.end(), key, KeyLess);
    if (it == mEntries.end() || it->key != key) {
        return false;
    }
    mEntries.erase(it);
    return true;
}

void PropList::Clear()
{
    mEntries.clear();
}

bool PropList::IsEmpty() const
{
    return mEntries.empty();
}

std::vector<UTF8String> PropList::GetKeys() const
{
    std::vector<UTF8String> keys;
    keys.reserve(mEntries.size());
    for (const Entry& entry : mEntries) {
        keys.push_back(entry.key);
    }
    return keys;
}

std::size_t PropList::GetSize() const
{
    return mEntries.size();
}

bool PropList::operator==(const PropList& other) const
{
    return std::equal(mEntries.begin(), mEntries.end(), other.mEntries.begin(), other.mEntries.end(),
                      [](const Entry& a, const Entry& b) { return a.key == b.key && SameValue(a.value, b.value); });
}

void PropList::AppendUnchecked(UTF8String key, Value value)
{
    mEntries.push_back(Entry{std::move(key), std::move(value)});
}

PropList::Value& PropList::AppendSlotUnchecked(std::string_view key)
{
    return mEntries.emplace_back(Entry{UTF8String(key), Value{}}).value;
}

void PropList::Merge(PropList&& other)
{
    if (mEntries.empty()) {
        mEntries.swap(other.mEntries);
        return;
    }
    std::vector<Entry> merged;
    merged.reserve(mEntries.size() + other.mEntries.size());
    auto mine = mEntries.begin();
    auto theirs = other.mEntries.begin();
    while (mine != mEntries.end() || theirs != other.mEntries.end()) {
        if (theirs == other.mEntries.end() || (mine != mEntries.end() && mine->key < theirs->key)) {
            merged.push_back(std::move(*mine++));
        } else {
            if (mine != mEntries.end() && mine->key == theirs->key) {
                ++mine;
            }
            merged.push_back(std::move(*theirs++));
        }
    }
    mEntries.swap(merged);
    other.mEntries.clear();
}

void PropList::Normalize()
{
    const auto less = [](const Entry& a, const Entry& b) { return a.key < b.key; };
    if (std::adjacent_find(mEntries.begin(), mEntries.end(),
                           [](const Entry& a, const Entry& b) { return !(a.key < b.key); }) == mEntries.end()) {
        return;
    }
    std::stable_sort(mEntries.begin(), mEntries.end(), less);
    mEntries.erase(std::unique(mEntries.begin(), mEntries.end(), [](const Entry& a, const Entry& b) { return a.key == b.key; }),
                   mEntries.end());
}

} // namespace kelcore::proplist
