#pragma once
// Reads the shared face data directly, independently of the library's readers:
// binary 8-bit PGM without comment lines (BioID, ORL) and BioID eye positions.
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <velmora/Velmora.h>

namespace velmora_test {

struct GreyImage {
    int width = 0, height = 0;
    std::vector<unsigned char> pixels;
};

inline bool ReadPgm(const std::filesystem::path& path, GreyImage& image)
{
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    int maxval = 0;
    if (!(in >> magic >> image.width >> image.height >> maxval) || magic != "P5" || maxval != 255)
        return false;
    in.get();
    image.pixels.resize(static_cast<size_t>(image.width) * image.height);
    return static_cast<bool>(in.read(reinterpret_cast<char*>(image.pixels.data()),
                                     static_cast<std::streamsize>(image.pixels.size())));
}

// BioID marks the person's left eye first, which is the image's right one.
inline bool ReadBioIdEyes(const std::filesystem::path& path, CPoint& left, CPoint& right)
{
    std::ifstream in(path);
    std::string header;
    int lx, ly, rx, ry;
    if (!std::getline(in, header) || !(in >> lx >> ly >> rx >> ry))
        return false;
    left = lx < rx ? CPoint(lx, ly) : CPoint(rx, ry);
    right = lx < rx ? CPoint(rx, ry) : CPoint(lx, ly);
    return true;
}

} // namespace velmora_test
