#pragma once
// Vectors whose storage starts on a cache line. The vector kernels load and
// store 64 bytes at a time at multiples of 64 bytes from the start; with the
// allocator's usual 16-byte alignment every such access spans two lines.
#include <cstddef>
#include <new>
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
