// SPDX-License-Identifier: GPL-3.0-or-later
// Replaces the global allocation functions to count allocations: include it in exactly one source file
// of a test binary that proves a path allocates nothing.
#pragma once

#include <atomic>
#include <cstdlib>
#include <new>

namespace kelaudiofilterhost::testing {
/// Allocations made while tCounting was set on the allocating thread.
inline std::atomic<long> gAllocations{0};
inline thread_local bool tCounting = false;

inline void* Allocate(std::size_t size)
{
    if (tCounting) {
        gAllocations.fetch_add(1, std::memory_order_relaxed);
    }
    if (void* p = std::malloc(size == 0 ? 1 : size)) {
        return p;
    }
    throw std::bad_alloc();
}
} // namespace kelaudiofilterhost::testing

void* operator new(std::size_t size)
{
    return kelaudiofilterhost::testing::Allocate(size);
}
void* operator new[](std::size_t size)
{
    return kelaudiofilterhost::testing::Allocate(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    try {
        return kelaudiofilterhost::testing::Allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
    try {
        return kelaudiofilterhost::testing::Allocate(size);
    } catch (...) {
        return nullptr;
    }
}
void operator delete(void* p) noexcept
{
    std::free(p);
}
void operator delete[](void* p) noexcept
{
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}
void operator delete[](void* p, std::size_t) noexcept
{
    std::free(p);
}

