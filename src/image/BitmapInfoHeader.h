#pragma once
// The 40-byte header at the start of a device-independent bitmap. The struct
// mirrors the field order; bytes always pass through Decode and Encode, which
// fix the little-endian order regardless of the host.
#include <cstdint>

#pragma pack(push, 1)
struct BITMAPINFOHEADER {
    uint32_t biSize;
    int32_t biWidth;
    int32_t biHeight;
    uint16_t biPlanes;
    uint16_t biBitCount;
    uint32_t biCompression;
    uint32_t biSizeImage;
    int32_t biXPelsPerMeter;
    int32_t biYPelsPerMeter;
    uint32_t biClrUsed;
    uint32_t biClrImportant;

    static constexpr uint32_t kSize = 40;

    static BITMAPINFOHEADER Decode(const unsigned char* bytes);
    void Encode(unsigned char* bytes) const;
};
#pragma pack(pop)
static_assert(sizeof(BITMAPINFOHEADER) == BITMAPINFOHEADER::kSize, "BITMAPINFOHEADER is 40 bytes");
