#include "image/BitmapInfoHeader.h"

#include <cstring>

#include "common/ByteOrder.h"

namespace {
uint32_t ReadUInt32LE(const unsigned char* p)
{
    const int32_t v = ReadInt32LE(p);
    uint32_t u;
    std::memcpy(&u, &v, sizeof u);
    return u;
}

void WriteUInt32LE(unsigned char* p, uint32_t value)
{
    int32_t v;
    std::memcpy(&v, &value, sizeof v);
    WriteInt32LE(p, v);
}
} // namespace

BITMAPINFOHEADER BITMAPINFOHEADER::Decode(const unsigned char* bytes)
{
    BITMAPINFOHEADER h;
    h.biSize = ReadUInt32LE(bytes + 0);
    h.biWidth = ReadInt32LE(bytes + 4);
    h.biHeight = ReadInt32LE(bytes + 8);
    h.biPlanes = ReadUInt16LE(bytes + 12);
    h.biBitCount = ReadUInt16LE(bytes + 14);
    h.biCompression = ReadUInt32LE(bytes + 16);
    h.biSizeImage = ReadUInt32LE(bytes + 20);
    h.biXPelsPerMeter = ReadInt32LE(bytes + 24);
    h.biYPelsPerMeter = ReadInt32LE(bytes + 28);
    h.biClrUsed = ReadUInt32LE(bytes + 32);
    h.biClrImportant = ReadUInt32LE(bytes + 36);
    return h;
}

void BITMAPINFOHEADER::Encode(unsigned char* bytes) const
{
    WriteUInt32LE(bytes + 0, biSize);
    WriteInt32LE(bytes + 4, biWidth);
    WriteInt32LE(bytes + 8, biHeight);
    WriteUInt16LE(bytes + 12, biPlanes);
    WriteUInt16LE(bytes + 14, biBitCount);
    WriteUInt32LE(bytes + 16, biCompression);
    WriteUInt32LE(bytes + 20, biSizeImage);
    WriteInt32LE(bytes + 24, biXPelsPerMeter);
    WriteInt32LE(bytes + 28, biYPelsPerMeter);
    WriteUInt32LE(bytes + 32, biClrUsed);
    WriteUInt32LE(bytes + 36, biClrImportant);
}
