#include <cstring>

#include "common/ByteOrder.h"
#include "common/File.h"
#include "common/MessageSink.h"
#include "image/Image.h"
#include "image/ImageMessages.h"

namespace {
constexpr uint16_t kBitmapType = 0x4D42; // "BM"
constexpr uint32_t kFileHeaderSize = 14;
} // namespace

int CImage::ReadBMP(CFile* file)
{
    if (file == nullptr || !file->Seek(0))
        return 0;
    unsigned char fileHeader[kFileHeaderSize];
    if (file->Read(fileHeader, kFileHeaderSize) != kFileHeaderSize ||
        ReadUInt16LE(fileHeader) != kBitmapType)
        return 0;
    unsigned char infoBytes[BITMAPINFOHEADER::kSize];
    if (file->Read(infoBytes, sizeof infoBytes) != sizeof infoBytes)
        return 0;
    const BITMAPINFOHEADER info = BITMAPINFOHEADER::Decode(infoBytes);
    if (info.biSize != BITMAPINFOHEADER::kSize || info.biCompression != 0)
        return 0;

    // Everything the pixel walk will rely on is checked against the file before
    // any allocation: whole-byte grey or colour pixels, bottom-up rows, a colour
    // table that a palette can hold, and pixel rows that are really there.
    const int bits = info.biBitCount;
    if ((bits != 8 && bits != 24) || info.biWidth < 1 || info.biWidth > kMaxDimension ||
        info.biHeight < 1 || info.biHeight > kMaxDimension || info.biClrUsed > 256) {
        ShowMessage(image_messages::kReadError);
        return 0;
    }
    const uint64_t width = static_cast<uint64_t>(info.biWidth);
    const uint64_t height = static_cast<uint64_t>(info.biHeight);
    const uint64_t colors = info.biClrUsed != 0 ? info.biClrUsed : (bits == 8 ? 256 : 0);
    const uint64_t storedRow = static_cast<uint64_t>(WidthBytes(info.biWidth, bits));
    const uint64_t needed = BITMAPINFOHEADER::kSize + 4 * colors + storedRow * height;
    const uint64_t length = file->GetLength();
    if (length < kFileHeaderSize || length - kFileHeaderSize < needed) {
        ShowMessage(image_messages::kReadError);
        return 0;
    }

    // Room for the padding of every row on top of the file's own bytes.
    const uint64_t blockSize =
        length - kFileHeaderSize + (storedRow - static_cast<uint64_t>(bits / 8) * width) * height;
    if (blockSize > UINT32_MAX) {
        FreeDIB();
        ShowMessage(image_messages::kNoDIBMemory);
        return 0;
    }
    m_dwDIBSize = static_cast<uint32_t>(blockSize);
    if (!AllocDIB(false))
        return 0;
    // The header is read a second time into the block; it must not have changed.
    if (!file->Seek(kFileHeaderSize) || file->Read(m_pDIB, m_dwDIBSize) < needed ||
        std::memcmp(m_pDIB, infoBytes, sizeof infoBytes) != 0) {
        FreeDIB();
        ShowMessage(image_messages::kReadError);
        return 0;
    }
    m_pBits = m_pDIB + BITMAPINFOHEADER::kSize + 4 * colors;
    m_bDIBLayout = 1;
    CreatePaletteFromDIB();
    return 1;
}

int CImage::WriteBMP(CFile* file)
{
    if (file == nullptr || ToDIBLayout() == nullptr)
        return 0;
    const BITMAPINFOHEADER info = GetHeader();
    const uint64_t headerLength = BITMAPINFOHEADER::kSize + 4 * static_cast<uint64_t>(ColorCount());
    const uint64_t blockSize = BlockSize();
    // The pixels are written from m_pBits up to the block's end measured from the
    // colour table's end; both must lie inside the block.
    if (headerLength > blockSize || m_pBits < m_pDIB || m_pBits > m_pDIB + headerLength)
        return 0;

    unsigned char fileHeader[kFileHeaderSize] = {};
    WriteUInt16LE(fileHeader, kBitmapType);
    WriteInt32LE(fileHeader + 2, static_cast<int32_t>(static_cast<uint32_t>(blockSize) + kFileHeaderSize));
    WriteInt32LE(fileHeader + 10, static_cast<int32_t>(info.biSize + 4 * static_cast<uint32_t>(ColorCount()) +
                                                       kFileHeaderSize));
    if (!file->Write(fileHeader, sizeof fileHeader) || !file->Write(m_pDIB, headerLength) ||
        !file->Write(m_pBits, blockSize - headerLength)) {
        ShowMessage(image_messages::kWriteError);
        return 0;
    }
    return 1;
}
