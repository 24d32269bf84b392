#pragma once
// Builds small CImage bitmaps and moves image files in and out of a scratch folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/File.h"
#include "image/Image.h"
#include "support/ScratchDir.h"

namespace velmora_test {

// The stored-layout byte that MakeImage puts at (row, column); row 0 is the bottom row.
inline unsigned char StoredValue(int row, int column)
{
    return static_cast<unsigned char>(row * 37 + column * 11 + 5);
}

// An 8-bit image with a grey palette or a 24-bit image without colour table, its
// padding bytes set to `pad`, in stored layout.
inline void MakeImage(CImage& image, int width, int height, int bitCount, unsigned char pad = 0)
{
    const int colors = bitCount == 8 ? 256 : 0;
    const int stride = CImage::WidthBytes(width, bitCount);
    image.m_dwDIBSize = static_cast<uint32_t>(40 + 4 * colors + stride * height);
    ASSERT_EQ(image.AllocDIB(false), 1);
    BITMAPINFOHEADER header{};
    header.biSize = 40;
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = static_cast<uint16_t>(bitCount);
    image.SetHeader(header);
    image.m_pBits = image.m_pDIB + 40 + 4 * colors;
    for (int r = 0; r < height; ++r)
        for (int c = 0; c < stride; ++c)
            image.m_pBits[r * stride + c] = c < width * bitCount / 8 ? StoredValue(r, c) : pad;
    image.SetDIBLayout(1);
    if (colors != 0)
        image.CreateGreyPalette();
}

// Load or Save through a CFile opened on the path, as a host would.
inline int LoadPath(CImage& image, const std::filesystem::path& path)
{
    CFile file;
    return file.Open(path.string(), CFile::modeRead) ? image.Load(&file) : -1;
}

inline int SavePath(CImage& image, const std::filesystem::path& path)
{
    CFile file;
    return file.Open(path.string(), CFile::modeCreate | CFile::modeWrite) ? image.Save(&file) : -1;
}

} // namespace velmora_test
