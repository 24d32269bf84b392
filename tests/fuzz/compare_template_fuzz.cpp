// CompareTemplate on two arbitrary buffers through the variant that is told the
// buffer lengths. Input: one byte of mode, two bytes giving the length of the
// first buffer, then the first buffer and the second. Each buffer is copied to a
// heap block of exactly its length, so any read past it is caught.
#include <cmath>
#include <cstring>
#include <memory>

#include "FuzzSupport.h"
#include "common/ByteOrder.h"

namespace {

std::unique_ptr<unsigned char[]> Exact(const uint8_t* data, size_t size)
{
    std::unique_ptr<unsigned char[]> block(new unsigned char[size == 0 ? 1 : size]);
    if (size != 0)
        std::memcpy(block.get(), data, size);
    return block;
}

// True when the header is readable and announces no more than the buffer holds.
bool Fits(const unsigned char* buffer, size_t size)
{
    if (size < 8)
        return false;
    const int64_t count = ReadInt32LE(buffer);
    const int64_t dim = ReadInt32LE(buffer + 4);
    return count < 1 || dim < 1 || count * dim <= static_cast<int64_t>((size - 8) / 8);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    velmora_fuzz::Quiet();
    if (size < 3)
        return 0;
    const int mode = static_cast<int8_t>(data[0]);
    const size_t lengthA = std::min<size_t>(ReadUInt16LE(data + 1), size - 3);
    const size_t lengthB = size - 3 - lengthA;
    const auto a = Exact(data + 3, lengthA);
    const auto b = Exact(data + 3 + lengthA, lengthB);

    const CVelmora velmora;
    const double score = velmora.CompareTemplate(a.get(), lengthA, b.get(), lengthB, mode);
    // A not-a-number never wins a comparison, so it cannot be the result. (The
    // range is not checked: subnormal vectors legitimately give cosines beyond 1.)
    VELMORA_FUZZ_CHECK(!std::isnan(score));
    if (Fits(a.get(), lengthA) && Fits(b.get(), lengthB)) {
        // Buffers that hold what they announce score the same without lengths.
        const double unchecked = velmora.CompareTemplate(a.get(), b.get(), mode);
        VELMORA_FUZZ_CHECK(std::memcmp(&unchecked, &score, sizeof score) == 0);
    } else {
        VELMORA_FUZZ_CHECK(score == -1.0);
    }
    VELMORA_FUZZ_CHECK(velmora.CompareTemplate(nullptr, lengthA, b.get(), lengthB, mode) == -1.0);
    return 0;
}
