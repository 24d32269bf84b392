#include "image/Image.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <vector>

#include "common/MessageSink.h"
#include "image/Archive.h"
#include "image/ImageMessages.h"

const CRuntimeClass CImage::classCImage = {"CImage", sizeof(CImage), 0, &CImage::CreateObject,
                                           &CObject::classCObject};

CObject* CImage::CreateObject()
{
    return new (std::nothrow) CImage;
}

CImage::CImage() : m_pPalette(std::make_unique<CPalette>()) {}

const CRuntimeClass* CImage::GetRuntimeClass() const
{
    return &classCImage;
}

CImage::~CImage() = default;

void CImage::Serialize(CArchive& archive)
{
    archive.Flush();
    if (archive.IsLoading())
        Load(archive.GetFile());
    else
        Save(archive.GetFile());
}

void CImage::AssertValid() const {}

void CImage::Dump(std::ostream&) const {}

BITMAPINFOHEADER CImage::GetHeader() const
{
    if (BlockSize() < BITMAPINFOHEADER::kSize)
        return BITMAPINFOHEADER{};
    return BITMAPINFOHEADER::Decode(m_pDIB);
}

void CImage::SetHeader(const BITMAPINFOHEADER& header)
{
    if (BlockSize() >= BITMAPINFOHEADER::kSize)
        header.Encode(m_pDIB);
}

uint16_t CImage::GetWidth() const
{
    return static_cast<uint16_t>(GetHeader().biWidth);
}

uint16_t CImage::GetHeight() const
{
    return static_cast<uint16_t>(GetHeader().biHeight);
}

uint16_t CImage::GetBitCount() const
{
    return GetHeader().biBitCount;
}

uint32_t CImage::ColorCount() const
{
    const BITMAPINFOHEADER h = GetHeader();
    if (h.biClrUsed != 0)
        return h.biClrUsed;
    switch (h.biBitCount) {
    case 1:
        return 2;
    case 4:
        return 16;
    case 8:
        return 256;
    default:
        return 0;
    }
}

int CImage::NumColors() const
{
    // Readers never accept more than 256 entries; the clamp only keeps a
    // hand-made header from turning the count negative.
    return static_cast<int>(std::min<uint32_t>(ColorCount(), 0x7fffffff));
}

uint64_t CImage::BlockSize() const
{
    return m_pDIB == nullptr ? 0 : std::min(m_dwDIBSize, m_dwOwnedSize);
}

int CImage::WidthBytes(int width, int bitCount)
{
    return static_cast<int>(((static_cast<int64_t>(width) * bitCount + 31) / 32) * 4);
}

bool CImage::ColorTableFits(uint32_t colors) const
{
    return m_pDIB != nullptr && BITMAPINFOHEADER::kSize + 4 * static_cast<uint64_t>(colors) <= BlockSize();
}

bool CImage::GetGeometry(Geometry& g) const
{
    const uint64_t blockSize = BlockSize();
    if (m_pDIB == nullptr || m_pBits == nullptr || m_pBits < m_pDIB + BITMAPINFOHEADER::kSize ||
        m_pBits > m_pDIB + blockSize)
        return false;
    const BITMAPINFOHEADER h = GetHeader();
    const int bits = h.biBitCount;
    if (h.biWidth < 1 || h.biHeight < 1 || bits < 8 || bits > 32 || bits % 8 != 0)
        return false;
    g.width = static_cast<uint64_t>(h.biWidth);
    g.height = static_cast<uint64_t>(h.biHeight);
    g.rasterRowBytes = g.width * static_cast<uint64_t>(bits / 8);
    g.storedRowBytes = static_cast<uint64_t>(WidthBytes(h.biWidth, bits));
    g.padded = (g.width * bits) % 32 != 0;
    const uint64_t offset = static_cast<uint64_t>(m_pBits - m_pDIB);
    return g.storedRowBytes * g.height <= blockSize - offset;
}

namespace {
void ReverseRows(unsigned char* bits, uint64_t rows, uint64_t rowBytes)
{
    for (uint64_t i = 0; i < rows / 2; ++i)
        std::swap_ranges(bits + i * rowBytes, bits + (i + 1) * rowBytes,
                         bits + (rows - 1 - i) * rowBytes);
}
} // namespace

unsigned char* CImage::ToDIBLayout()
{
    if (m_pDIB == nullptr)
        return nullptr;
    if (m_bDIBLayout != 0)
        return m_pBits;
    Geometry g;
    if (!GetGeometry(g))
        return nullptr;
    ReverseRows(m_pBits, g.height, g.rasterRowBytes);
    if (g.padded) {
        // Backwards, so that no row is overwritten before it has moved. Row 0
        // stays where it is and keeps whatever its padding held.
        for (uint64_t i = g.height - 1; i >= 1; --i) {
            unsigned char* to = m_pBits + i * g.storedRowBytes;
            std::memmove(to, m_pBits + i * g.rasterRowBytes, g.rasterRowBytes);
            std::memset(to + g.rasterRowBytes, 0, g.storedRowBytes - g.rasterRowBytes);
        }
    }
    m_bDIBLayout = 1;
    return m_pBits;
}

unsigned char* CImage::ToRasterLayout()
{
    if (m_pDIB == nullptr)
        return nullptr;
    if (m_bDIBLayout == 0)
        return m_pBits;
    if (GetHeader().biCompression != 0) {
        ShowMessage(image_messages::kCompressed);
        return nullptr;
    }
    Geometry g;
    if (!GetGeometry(g))
        return nullptr;
    if (g.padded)
        for (uint64_t i = 1; i < g.height; ++i)
            std::memmove(m_pBits + i * g.rasterRowBytes, m_pBits + i * g.storedRowBytes,
                         g.rasterRowBytes);
    ReverseRows(m_pBits, g.height, g.rasterRowBytes);
    m_bDIBLayout = 0;
    return m_pBits;
}

void CImage::FreeDIB()
{
    m_hDIB.reset();
    m_pDIB = nullptr;
    m_pBits = nullptr;
    m_dwDIBSize = 0;
    m_dwOwnedSize = 0;
}

int CImage::AllocDIB(bool reallocate)
{
    const uint32_t size = m_dwDIBSize;
    // A block must at least hold its header, or nothing could be read from it.
    std::unique_ptr<unsigned char[]> block;
    if (size >= BITMAPINFOHEADER::kSize)
        block.reset(new (std::nothrow) unsigned char[size]());
    if (!block) {
        FreeDIB();
        ShowMessage(image_messages::kNoDIBMemory);
        return 0;
    }
    if (reallocate && m_pDIB != nullptr) {
        // The old size is no longer recorded once the caller has set the new
        // one; the owner remembers it.
        std::memcpy(block.get(), m_pDIB, std::min<uint64_t>(size, m_dwOwnedSize));
        if (m_pBits != nullptr) {
            const uint64_t offset = static_cast<uint64_t>(m_pBits - m_pDIB);
            m_pBits = offset <= size ? block.get() + offset : nullptr;
        }
    } else {
        m_pBits = nullptr;
    }
    m_hDIB = std::move(block);
    m_pDIB = m_hDIB.get();
    m_dwOwnedSize = size;
    return 1;
}

bool CImage::ReplacePalette(const LOGPALETTE& logPalette)
{
    m_pPalette = std::make_unique<CPalette>();
    return m_pPalette->CreatePalette(logPalette);
}

bool CImage::CreatePaletteFromDIB()
{
    if (m_pDIB == nullptr)
        return false;
    ToDIBLayout();
    const uint32_t colors = ColorCount();
    if (colors == 0 || !ColorTableFits(colors))
        return false;
    LOGPALETTE logPalette{CPalette::kVersion, std::vector<PALETTEENTRY>(colors)};
    const unsigned char* table = m_pDIB + BITMAPINFOHEADER::kSize;
    for (uint32_t i = 0; i < colors; ++i) {
        // Colour-table entries are blue, green, red, reserved.
        logPalette.palPalEntry[i] = {table[4 * i + 2], table[4 * i + 1], table[4 * i], 0};
    }
    return ReplacePalette(logPalette);
}

bool CImage::CreateGreyPalette()
{
    if (m_pDIB == nullptr)
        return false;
    const uint32_t colors = ColorCount();
    if (!ColorTableFits(colors))
        return false;
    LOGPALETTE logPalette{CPalette::kVersion, std::vector<PALETTEENTRY>(colors)};
    unsigned char* table = m_pDIB + BITMAPINFOHEADER::kSize;
    for (uint32_t i = 0; i < colors; ++i) {
        const uint8_t grey = static_cast<uint8_t>(i);
        table[4 * i] = table[4 * i + 1] = table[4 * i + 2] = grey;
        logPalette.palPalEntry[i] = {grey, grey, grey, 0};
    }
    return ReplacePalette(logPalette);
}

int CImage::NewBitmap(int32_t width, int32_t height, int bitCount, uint64_t blockSize)
{
    if (blockSize > UINT32_MAX) {
        FreeDIB();
        ShowMessage(image_messages::kNoDIBMemory);
        ShowMessage(image_messages::kAllocMemory);
        return 0;
    }
    m_dwDIBSize = static_cast<uint32_t>(blockSize);
    if (!AllocDIB(false)) {
        ShowMessage(image_messages::kAllocMemory);
        return 0;
    }
    BITMAPINFOHEADER header{};
    header.biSize = BITMAPINFOHEADER::kSize;
    header.biWidth = width;
    header.biHeight = height;
    header.biPlanes = 1;
    header.biBitCount = static_cast<uint16_t>(bitCount);
    SetHeader(header);
    m_pBits = m_pDIB + BITMAPINFOHEADER::kSize + 4 * static_cast<uint64_t>(ColorCount());
    return 1;
}
