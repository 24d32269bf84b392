#pragma once
// Arrays whose allocation failure is a result the caller reports, not an exception.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

// count uninitialised elements, or null when count is negative or memory runs
// out. Arrays kept in members are taken with release() and freed with delete[].
template <typename T>
std::unique_ptr<T[]> NewArray(int64_t count)
{
    if (count < 0)
        return nullptr;
    return std::unique_ptr<T[]>(new (std::nothrow) T[static_cast<size_t>(count)]);
}
