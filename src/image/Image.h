#pragma once
// CImage: one device-independent bitmap (header, colour table and pixels in one
// owned block) with a palette built from its colour table, readable and writable
// as BMP, PGM and a few headerless formats.
//
// The pixels are held either in the stored layout (rows bottom-up, each padded to
// WidthBytes) or in the raster layout (rows top-down, unpadded); m_bDIBLayout says
// which. Readers leave the stored layout and a palette behind; writers convert
// as they need and convert back.
#include <cstdint>
#include <memory>
#include <string>

#include "image/BitmapInfoHeader.h"
#include "image/Object.h"
#include "image/Palette.h"

class CFile;

class CImage : public CObject {
public:
    static const CRuntimeClass classCImage;
    static CObject* CreateObject();

    CImage();
    const CRuntimeClass* GetRuntimeClass() const override;
    ~CImage() override;
    // Loads when the archive is loading, saves otherwise; the outcome is not reported.
    void Serialize(CArchive& archive) override;
    void AssertValid() const override;
    void Dump(std::ostream& out) const override;

    // Header fields; 0 when there is no image.
    uint16_t GetWidth() const;
    uint16_t GetHeight() const;
    uint16_t GetBitCount() const;
    // The used-colour count when set, else 2, 16 or 256 for 1, 4 or 8 bits, else 0.
    int NumColors() const;
    // Bytes of one stored row: the row's bits rounded up to whole 32-bit words.
    static int WidthBytes(int width, int bitCount);

    unsigned char* GetDIB() const { return m_pDIB; }
    const CPalette* GetPalette() const { return m_pPalette.get(); }
    void SetDIBLayout(int flag) { m_bDIBLayout = flag != 0 ? 1 : 0; }

    // Convert the pixels in place; return m_pBits, or null with no image, with a
    // header that does not fit the block, or (raster) for a compressed bitmap.
    unsigned char* ToDIBLayout();
    unsigned char* ToRasterLayout();

    // Allocates a zero-filled block of m_dwDIBSize bytes, or resizes the current
    // one keeping its contents. 1 on success; 0 (no image left) on failure.
    int AllocDIB(bool reallocate);
    bool CreatePaletteFromDIB();
    bool CreateGreyPalette();

    // Format chosen by extension: Load from the file's path, Save from its name.
    int Load(CFile* file);
    int Save(CFile* file);
    int ReadBMP(CFile* file);
    int WriteBMP(CFile* file);
    int ReadPGM(CFile* file);
    int WritePGM(CFile* file);
    int ReadIMG(CFile* file);
    int ReadRAW(CFile* file);
    int WriteRaw(CFile* file);
    int WriteText(const std::string& path);

    BITMAPINFOHEADER GetHeader() const;
    void SetHeader(const BITMAPINFOHEADER& header);

    // Public like the rest of the bitmap: a caller building an image sets
    // m_dwDIBSize, calls AllocDIB, fills the header and sets m_pBits.
    int32_t m_bDIBLayout = 1;
    std::unique_ptr<CPalette> m_pPalette;
    unsigned char* m_pDIB = nullptr;
    uint32_t m_dwDIBSize = 0;
    unsigned char* m_pBits = nullptr;

private:
    // Width and height travel as 16-bit values (GetWidth, the img header), so
    // readers refuse anything larger rather than report a truncated size.
    static constexpr int32_t kMaxDimension = 65535;

    struct Geometry {
        uint64_t width;
        uint64_t height;
        uint64_t rasterRowBytes;
        uint64_t storedRowBytes;
        bool padded;
    };
    // The pixel geometry when the header describes whole-byte pixels that fit in
    // the block after m_pBits.
    bool GetGeometry(Geometry& geometry) const;
    uint32_t ColorCount() const;
    // Bytes that may be touched: the recorded size, never more than is owned.
    uint64_t BlockSize() const;
    bool ColorTableFits(uint32_t colors) const;
    bool ReplacePalette(const LOGPALETTE& logPalette);
    void FreeDIB();
    // Allocates a fresh grey-or-colour bitmap for the headerless readers: header
    // of the given size, no colour-table count, m_pBits after the colour table.
    // Shows the readers' allocation message on failure.
    int NewBitmap(int32_t width, int32_t height, int bitCount, uint64_t blockSize);

    std::unique_ptr<unsigned char[]> m_hDIB; // owns the block m_pDIB points into
    uint32_t m_dwOwnedSize = 0;             // its size, whatever m_dwDIBSize says now
};
