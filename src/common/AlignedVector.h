#pragma once
// Storage that starts on a cache line. The vector kernels load and store 64
// bytes at a time at multiples of 64 bytes from the start; with the allocator's
// usual 16-byte alignment every such access spans two lines.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <type_traits>
#include <vector>

constexpr std::size_t kCacheLine = 64;

template <typename T>
struct CacheLineAllocator {
    using value_type = T;

    CacheLineAllocator() noexcept = default;
    template <typename U>
    CacheLineAllocator(const CacheLineAllocator<U>&) noexcept
    {
    }

    T* allocate(std::size_t n)
    {
        return static_cast<T*>(::operator new(n * sizeof(T), std::align_val_t(kCacheLine)));
    }
    void deallocate(T* p, std::size_t) noexcept { ::operator delete(p, std::align_val_t(kCacheLine)); }

    template <typename U>
    bool operator==(const CacheLineAllocator<U>&) const noexcept
    {
        return true;
    }
    template <typename U>
    bool operator!=(const CacheLineAllocator<U>&) const noexcept
    {
        return false;
    }
};

template <typename T>
using AlignedVector = std::vector<T, CacheLineAllocator<T>>;

struct CacheLineDelete {
    void operator()(void* p) const noexcept { ::operator delete(p, std::align_val_t(kCacheLine)); }
};

template <typename T>
using AlignedArray = std::unique_ptr<T[], CacheLineDelete>;

// As NewArray: count uninitialised elements, or null when count is negative or
// memory runs out.
template <typename T>
AlignedArray<T> NewAlignedArray(int64_t count)
{
    static_assert(std::is_trivial_v<T>, "elements are neither constructed nor destroyed");
    if (count < 0 || static_cast<uint64_t>(count) > SIZE_MAX / sizeof(T))
        return nullptr;
    return AlignedArray<T>(static_cast<T*>(
        ::operator new(static_cast<size_t>(count) * sizeof(T), std::align_val_t(kCacheLine), std::nothrow)));
}
