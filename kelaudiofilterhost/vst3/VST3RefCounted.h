// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "pluginterfaces/base/funknown.h"

#include <atomic>

namespace kelaudiofilterhost::vst3 {

/// The reference counting and queryInterface every host-side object shares: the count starts at 1,
/// the object deletes itself when it drops to 0, and queryInterface answers FUnknown and Interface.
/// An object embedded in another or made on the stack must never have its count dropped to 0.
template <class Interface>
class RefCounted : public Interface {
public:
    RefCounted() = default;
    RefCounted(const RefCounted&) = delete;
    RefCounted& operator=(const RefCounted&) = delete;
    // After the interface's own slots, as plug-ins built against other hosts expect.
    virtual ~RefCounted() = default;

    Steinberg::tresult PLUGIN_API queryInterface(const Steinberg::TUID queriedIID, void** object) override
    {
        if (object == nullptr) {
            return Steinberg::kInvalidArgument;
        }
        if (Steinberg::FUnknownPrivate::iidEqual(queriedIID, Steinberg::FUnknown::iid)
            || Steinberg::FUnknownPrivate::iidEqual(queriedIID, Interface::iid)) {
            addRef();
            *object = static_cast<Interface*>(this);
            return Steinberg::kResultOk;
        }
        *object = nullptr;
        return Steinberg::kNoInterface;
    }
    Steinberg::uint32 PLUGIN_API addRef() override
    {
        return static_cast<Steinberg::uint32>(mCount.fetch_add(1, std::memory_order_relaxed) + 1);
    }
    Steinberg::uint32 PLUGIN_API release() override
    {
        // acq_rel: the deleting thread must see every write made through other references.
        const Steinberg::int32 count = mCount.fetch_sub(1, std::memory_order_acq_rel) - 1;
        if (count == 0) {
            delete this;
        }
        return static_cast<Steinberg::uint32>(count);
    }
    Steinberg::int32 GetReferenceCount() const noexcept { return mCount.load(std::memory_order_relaxed); }

private:
    std::atomic<Steinberg::int32> mCount{1};
};

} // namespace kelaudiofilterhost::vst3
