#pragma once
// Lets a test refuse the library's nothrow array requests, as on a machine short
// of memory. Replaces a global operator: include it in one file per program.
#include <cstddef>
#include <new>

namespace velmora_test {
// While non-zero, nothrow array requests of at least this many bytes fail.
inline size_t g_refuseFrom = 0;
} // namespace velmora_test

// Granted requests come from the ordinary array new, so that delete[] matches.
void* operator new[](size_t size, const std::nothrow_t&) noexcept
{
    if (velmora_test::g_refuseFrom != 0 && size >= velmora_test::g_refuseFrom)
        return nullptr;
    try {
        return ::operator new[](size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}
