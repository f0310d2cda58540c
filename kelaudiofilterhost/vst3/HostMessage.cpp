// SPDX-License-Identifier: GPL-3.0-or-later
#include "kelaudiofilterhost/vst3/HostMessage.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <new>

namespace kelaudiofilterhost::vst3 {
namespace {
using Steinberg::kInvalidArgument;
using Steinberg::kResultFalse;
using Steinberg::kResultOk;
using AttrID = Steinberg::Vst::IAttributeList::AttrID;
using Attribute = HostAttributeList::HostAttribute;
} // namespace

const Attribute* HostAttributeList::Find(AttrID id) const
{
    if (id == nullptr) {
        return nullptr;
    }
    auto found = mAttributes.find(std::string_view(id));
    return found == mAttributes.end() ? nullptr : found->second.get();
}

void HostAttributeList::Store(AttrID id, boost::intrusive_ptr<HostAttribute> attribute)
{
    // Replacing the entry, not the value in place: a key may change its kind.
    std::string key(id);
    mAttributes.erase(key);
    mAttributes.emplace(std::move(key), std::move(attribute));
}

Steinberg::tresult PLUGIN_API HostAttributeList::setInt(AttrID id, Steinberg::int64 value)
{
    if (id == nullptr) {
        return kInvalidArgument;
    }
    try {
        boost::intrusive_ptr<Attribute> attribute(new Attribute(Attribute::kInteger));
        attribute->mNumber = static_cast<std::uint64_t>(value);
        Store(id, std::move(attribute));
    } catch (const std::bad_alloc&) {
        return Steinberg::kOutOfMemory;
    }
    return kResultOk;
}

Steinberg::tresult PLUGIN_API HostAttributeList::getInt(AttrID id, Steinberg::int64& value)
{
    const Attribute* attribute = Find(id);
    if (attribute == nullptr) {
        return kResultFalse;
    }
    value = static_cast<Steinberg::int64>(attribute->mNumber);
    return kResultOk;
}

Steinberg::tresult PLUGIN_API HostAttributeList::setFloat(AttrID id, double value)
{
    if (id == nullptr) {
        return kInvalidArgument;
    }
    try {
        boost::intrusive_ptr<Attribute> attribute(new Attribute(Attribute::kFloat));
        attribute->mNumber = std::bit_cast<std::uint64_t>(value);
        Store(id, std::move(attribute));
    } catch (const std::bad_alloc&) {
        return Steinberg::kOutOfMemory;
    }
    return kResultOk;
}

Steinberg::tresult PLUGIN_API HostAttributeList::getFloat(AttrID id, double& value)
{
    const Attribute* attribute = Find(id);
    if (attribute == nullptr) {
        return kResultFalse;
    }
    value = std::bit_cast<double>(attribute->mNumber);
    return kResultOk;
}

Steinberg::tresult PLUGIN_API HostAttributeList::setString(AttrID id, const Steinberg::Vst::TChar* text)
{
    if (id == nullptr || text == nullptr) {
        return kInvalidArgument;
    }
    try {
        boost::intrusive_ptr<Attribute> attribute(new Attribute(Attribute::kString));
        const Steinberg::Vst::TChar* end = text;
        while (*end != 0) {
            ++end;
        }
        attribute->mText.assign(text, end);
        Store(id, std::move(attribute));
    } catch (const std::bad_alloc&) {
        return Steinberg::kOutOfMemory;
    }
    return kResultOk;
}

Steinberg::tresult PLUGIN_API HostAttributeList::getString(AttrID id, Steinberg::Vst::TChar* text,
                                                           Steinberg::uint32 sizeInBytes)
{
    const Attribute* attribute = Find(id);
    if (attribute == nullptr) {
        return kResultFalse;
    }
    const std::size_t count = std::min<std::size_t>(attribute->mText.size(), sizeInBytes / sizeof(Steinberg::Vst::TChar));
    if (text == nullptr && count > 0) {
        return kInvalidArgument;
    }
    if (count > 0) {
        std::memcpy(text, attribute->mText.data(), count * sizeof(Steinberg::Vst::TChar));
    }
    return kResultOk;
}

Steinberg::tresult PLUGIN_API HostAttributeList::setBinary(AttrID id, const void* data, Steinberg::uint32 sizeInBytes)
{
    if (id == nullptr || (data == nullptr && sizeInBytes > 0)) {
        return kInvalidArgument;
    }
    try {
        boost::intrusive_ptr<Attribute> attribute(new Attribute(Attribute::kBinary));
        const auto* bytes = static_cast<const unsigned char*>(data);
        attribute->mData.assign(bytes, bytes + sizeInBytes);
        Store(id, std::move(attribute));
    } catch (const std::bad_alloc&) {
        return Steinberg::kOutOfMemory;
    }
    return kResultOk;
}

Steinberg::tresult PLUGIN_API HostAttributeList::getBinary(AttrID id, const void*& data, Steinberg::uint32& sizeInBytes)
{
    const Attribute* attribute = Find(id);
    if (attribute == nullptr) {
        sizeInBytes = 0;
        return kResultFalse;
    }
    data = attribute->mData.data();
    sizeInBytes = static_cast<Steinberg::uint32>(attribute->mData.size());
    return kResultOk;
}

HostMessage::~HostMessage()
{
    if (mAttributes != nullptr) {
        mAttributes->release();
    }
}

void PLUGIN_API HostMessage::setMessageID(Steinberg::FIDString id)
{
    try {
        mMessageID = id == nullptr ? "" : id;
    } catch (const std::bad_alloc&) {
        mMessageID.clear();
    }
}

Steinberg::Vst::IAttributeList* PLUGIN_API HostMessage::getAttributes()
{
    if (mAttributes == nullptr) {
        mAttributes = new (std::nothrow) HostAttributeList();
    }
    return mAttributes;
}

} // namespace kelaudiofilterhost::vst3
