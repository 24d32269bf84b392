#pragma once
// Little-endian encoding of the file and buffer formats, independent of the
// host's byte order. Doubles travel as their IEEE 754 bit pattern.
#include <cstdint>
#include <cstring>

inline int32_t ReadInt32LE(const unsigned char* p)
{
    const uint32_t u = static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                       (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
    int32_t v;
    std::memcpy(&v, &u, sizeof v);
    return v;
}

inline void WriteInt32LE(unsigned char* p, int32_t value)
{
    uint32_t u;
    std::memcpy(&u, &value, sizeof u);
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<unsigned char>(u >> (8 * i));
}

inline uint16_t ReadUInt16LE(const unsigned char* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline void WriteUInt16LE(unsigned char* p, uint16_t value)
{
    p[0] = static_cast<unsigned char>(value);
    p[1] = static_cast<unsigned char>(value >> 8);
}

inline double ReadDoubleLE(const unsigned char* p)
{
    uint64_t u = 0;
    for (int i = 7; i >= 0; --i)
        u = (u << 8) | p[i];
    double v;
    std::memcpy(&v, &u, sizeof v);
    return v;
}

inline void WriteDoubleLE(unsigned char* p, double value)
{
    uint64_t u;
    std::memcpy(&u, &value, sizeof u);
    for (int i = 0; i < 8; ++i)
        p[i] = static_cast<unsigned char>(u >> (8 * i));
}
