#include <algorithm>
#include <cstdio>
#include <string>

#include "common/ByteOrder.h"
#include "common/File.h"
#include "common/MessageSink.h"
#include "image/Image.h"
#include "image/ImageMessages.h"

namespace {
// dat and raw files: a fixed-size grey frame behind a header that is skipped.
constexpr int32_t kRawWidth = 512;
constexpr int32_t kRawHeight = 342;
constexpr uint64_t kRawHeaderSize = 32;
constexpr uint64_t kRawPixels = static_cast<uint64_t>(kRawWidth) * kRawHeight;
constexpr uint64_t kColorTableAndHeader = 1064; // 40-byte header and 256 entries
} // namespace

int CImage::ReadIMG(CFile* file)
{
    if (file == nullptr || !file->Seek(0))
        return 0;
    unsigned char size[4];
    if (file->Read(size, sizeof size) != sizeof size) {
        ShowMessage(image_messages::kReadError);
        return 0;
    }
    const uint64_t width = ReadUInt16LE(size);
    const uint64_t height = ReadUInt16LE(size + 2);
    const uint64_t dataLength = file->GetLength() - sizeof size;
    // An empty side leaves nothing to divide by; it is as wrong as any other size.
    const uint64_t bytesPerPixel = width == 0 || height == 0 ? 0 : dataLength / (width * height);
    if (bytesPerPixel != 1 && bytesPerPixel != 3) {
        ShowMessage(image_messages::kWrongData, Details("img file: ", width, " x ", height, " pixels, ", dataLength,
                                                        " bytes of them (1 or 3 a pixel wanted)"));
        return 0;
    }
    const uint64_t paddedWidth = (width + 3) / 4 * 4;
    if (!NewBitmap(static_cast<int32_t>(width), static_cast<int32_t>(height),
                   static_cast<int>(8 * bytesPerPixel),
                   height * paddedWidth * bytesPerPixel + kColorTableAndHeader))
        return 0;
    CreateGreyPalette();
    // The depth division leaves up to width * height - 1 surplus bytes; what the
    // block cannot hold is ignored rather than written past its end.
    const uint64_t room = BlockSize() - static_cast<uint64_t>(m_pBits - m_pDIB);
    const uint64_t toRead = std::min(dataLength, room);
    if (file->Read(m_pBits, toRead) != toRead) {
        FreeDIB();
        ShowMessage(image_messages::kReadError);
        return 0;
    }
    m_bDIBLayout = 1;
    return 1;
}

int CImage::ReadRAW(CFile* file)
{
    if (file == nullptr)
        return 0;
    if (file->GetLength() <= kRawPixels) {
        ShowMessage(image_messages::kWrongData,
                    Details("raw file: ", file->GetLength(), " bytes, more than ", kRawPixels, " wanted"));
        return 0;
    }
    if (!NewBitmap(kRawWidth, kRawHeight, 8, kRawPixels + kColorTableAndHeader))
        return 0;
    CreateGreyPalette();
    if (!file->Seek(kRawHeaderSize) || file->Read(m_pBits, kRawPixels) != kRawPixels) {
        FreeDIB();
        ShowMessage(image_messages::kReadError);
        return 0;
    }
    m_bDIBLayout = 0;
    ToDIBLayout();
    return 1;
}

int CImage::WriteRaw(CFile* file)
{
    if (file == nullptr || ToRasterLayout() == nullptr)
        return 0;
    Geometry g;
    const bool written = GetGeometry(g) && file->Write(m_pBits, g.width * g.height);
    ToDIBLayout();
    if (!written) {
        ShowMessage(image_messages::kWriteError);
        return 0;
    }
    return 1;
}

int CImage::WriteText(const std::string& path)
{
    if (ToRasterLayout() == nullptr)
        return 0;
    Geometry g;
    if (!GetGeometry(g)) {
        ToDIBLayout();
        return 0;
    }
    if (GetBitCount() != 8) {
        ToDIBLayout();
        ShowMessage(image_messages::kNotGrey8, Details("raw file: the image has ", GetBitCount(), " bits a pixel"));
        return 0;
    }
    CFile out;
    bool written = out.Open(path, CFile::modeCreate | CFile::modeWrite);
    std::string row;
    for (uint64_t y = 0; written && y < g.height; ++y) {
        row.clear();
        const unsigned char* pixel = m_pBits + y * g.width;
        char field[8];
        for (uint64_t x = 0; x < g.width; ++x) {
            const int n = std::snprintf(field, sizeof field, "%3d ", pixel[x]);
            row.append(field, static_cast<size_t>(n));
        }
        row += '\n';
        written = out.Write(row.data(), row.size());
    }
    written = out.Close() && written;
    ToDIBLayout();
    return written ? 1 : 0;
}
