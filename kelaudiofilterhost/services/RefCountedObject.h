// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <atomic>
#include <cstdint>

namespace kelcore::utility {

/// Base of every reference-counted object: an atomic count, held through boost::intrusive_ptr.
/// Not copyable; the object deletes itself when the last reference goes.
class RefCountedObject {
public:
    RefCountedObject() = default;
    RefCountedObject(const RefCountedObject&) = delete;
    RefCountedObject& operator=(const RefCountedObject&) = delete;

    void AddRef() const noexcept { mRefCount.fetch_add(1, std::memory_order_relaxed); }
    void Release() const noexcept
    {
        // acq_rel: the deleting thread must see every write made through other references.
        if (mRefCount.fetch_sub(1, std::memory_order_acq_rel) == 1) {
            delete this;
        }
    }
    std::int32_t GetRefCount() const noexcept { return mRefCount.load(std::memory_order_relaxed); }

protected:
    virtual ~RefCountedObject() = default;

private:
    mutable std::atomic<std::int32_t> mRefCount{0};
};

inline void intrusive_ptr_add_ref(const RefCountedObject* object) noexcept
{
    object->AddRef();
}

inline void intrusive_ptr_release(const RefCountedObject* object) noexcept
{
    object->Release();
}

} // namespace kelcore::utility
