// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "kelaudiofilterhost/services/RefCountedObject.h"
#include "kelaudiofilterhost/vst3/VST3RefCounted.h"

#include "pluginterfaces/vst/ivstattributes.h"
#include "pluginterfaces/vst/ivstmessage.h"

#include <boost/intrusive_ptr.hpp>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace kelaudiofilterhost::vst3 {

/// The attribute list a plug-in gets from the host: values of four kinds under text keys. Setting a
/// key replaces what it held, whatever the kind. Getters answer kResultFalse for a missing key and
/// then leave their outputs alone (getBinary sets the size to 0); a null key, a null string or a
/// null buffer is refused with kInvalidArgument.
class HostAttributeList final : public RefCounted<Steinberg::Vst::IAttributeList> {
public:
    /// One stored value. The number is one 8-byte storage for the integer and the float value.
    class HostAttribute : public kelcore::utility::RefCountedObject {
    public:
        enum Kind : std::int32_t { kInteger = 0, kFloat = 1, kString = 2, kBinary = 3 };
        explicit HostAttribute(Kind kind) : mKind(kind) {}

        std::vector<Steinberg::Vst::TChar> mText; // without a terminating zero
        std::vector<unsigned char> mData;
        std::uint64_t mNumber = 0;
        Kind mKind;
    };

    HostAttributeList() = default;

    Steinberg::tresult PLUGIN_API setInt(Steinberg::Vst::IAttributeList::AttrID id, Steinberg::int64 value) override;
    /// The stored number as an integer, whatever the kind (a float gives its bit pattern).
    Steinberg::tresult PLUGIN_API getInt(Steinberg::Vst::IAttributeList::AttrID id, Steinberg::int64& value) override;
    Steinberg::tresult PLUGIN_API setFloat(Steinberg::Vst::IAttributeList::AttrID id, double value) override;
    /// The stored number as a double, whatever the kind (an integer gives the double of its bit pattern).
    Steinberg::tresult PLUGIN_API getFloat(Steinberg::Vst::IAttributeList::AttrID id, double& value) override;
    /// Copies text up to its terminating zero.
    Steinberg::tresult PLUGIN_API setString(Steinberg::Vst::IAttributeList::AttrID id,
                                            const Steinberg::Vst::TChar* text) override;
    /// Copies at most sizeInBytes / 2 of the stored characters and adds no terminating zero.
    Steinberg::tresult PLUGIN_API getString(Steinberg::Vst::IAttributeList::AttrID id, Steinberg::Vst::TChar* text,
                                            Steinberg::uint32 sizeInBytes) override;
    Steinberg::tresult PLUGIN_API setBinary(Steinberg::Vst::IAttributeList::AttrID id, const void* data,
                                            Steinberg::uint32 sizeInBytes) override;
    /// data points to the bytes the list holds, valid until the key is set again or the list goes.
    Steinberg::tresult PLUGIN_API getBinary(Steinberg::Vst::IAttributeList::AttrID id, const void*& data,
                                            Steinberg::uint32& sizeInBytes) override;

    /// The attribute under id, null when there is none. For tests and diagnostics.
    const HostAttribute* Find(Steinberg::Vst::IAttributeList::AttrID id) const;
    std::size_t GetSize() const noexcept { return mAttributes.size(); }

private:
    void Store(Steinberg::Vst::IAttributeList::AttrID id, boost::intrusive_ptr<HostAttribute> attribute);

    std::map<std::string, boost::intrusive_ptr<HostAttribute>, std::less<>> mAttributes;
};

/// A message between a plug-in's processor and its controller: an ID text and an attribute list
/// made on first demand.
class HostMessage final : public RefCounted<Steinberg::Vst::IMessage> {
public:
    HostMessage() = default;
    ~HostMessage() override;

    /// Valid while the message lives and its ID is not set again.
    Steinberg::FIDString PLUGIN_API getMessageID() override { return mMessageID.c_str(); }
    /// Copies the text; null empties the ID.
    void PLUGIN_API setMessageID(Steinberg::FIDString id) override;
    /// The same list on every call, made on the first; no reference is added (the message keeps its own).
    Steinberg::Vst::IAttributeList* PLUGIN_API getAttributes() override;

private:
    std::string mMessageID;
    HostAttributeList* mAttributes = nullptr;
};

} // namespace kelaudiofilterhost::vst3
