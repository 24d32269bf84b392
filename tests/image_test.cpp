#include "support/Common.h"

#include "image/Archive.h"
#include "image/Image.h"
#include "support/ImageTestSupport.h"
#include "support/MessageCapture.h"

using namespace velmora_test;

TEST(ImageContainer, RowSizesAndColourCounts)
{
    for (const auto& [width, bits, bytes] : {std::tuple{63, 8, 64}, {64, 8, 64}, {65, 8, 68}, {5, 24, 16}, {1, 24, 4},
                                             {33, 1, 8}})
        EXPECT_EQ(CImage::WidthBytes(width, bits), bytes) << width << " x " << bits;

    CImage image;
    EXPECT_EQ(image.GetWidth(), 0);
    EXPECT_EQ(image.ToDIBLayout(), nullptr);
    EXPECT_EQ(image.ToRasterLayout(), nullptr);
    MakeImage(image, 5, 3, 24);
    EXPECT_EQ(image.NumColors(), 0);
    EXPECT_EQ(image.m_pBits, image.GetDIB() + 40); // no colour table before 24-bit pixels
    const struct { uint16_t bits; uint32_t used; int colors; } cases[] = {
        {1, 0, 2}, {4, 0, 16}, {8, 0, 256}, {8, 17, 17}, {16, 0, 0}, {24, 0, 0}, {24, 3, 3}};
    for (const auto& c : cases) {
        BITMAPINFOHEADER header = image.GetHeader();
        header.biBitCount = c.bits;
        header.biClrUsed = c.used;
        image.SetHeader(header);
        EXPECT_EQ(image.NumColors(), c.colors) << c.bits << " bits, " << c.used << " used";
    }
}

// To raster and back, the raster rows checked against the stored ones: 63-byte
// raster rows in 64-byte stored rows, word-aligned rows (only flipped), and
// 15-byte raster rows in 16-byte stored rows.
TEST(ImageContainer, LayoutConversions)
{
    const int height = 3;
    for (const auto& [width, bitCount] : {std::pair{63, 8}, {64, 8}, {5, 24}}) {
        SCOPED_TRACE(std::to_string(width) + " x " + std::to_string(bitCount));
        CImage image;
        MakeImage(image, width, height, bitCount, 0xEE);
        const int rowBytes = width * bitCount / 8;
        const int stride = CImage::WidthBytes(width, bitCount);
        ASSERT_EQ(image.ToRasterLayout(), image.m_pBits);
        EXPECT_EQ(image.m_bDIBLayout, 0);
        for (int r = 0; r < height; ++r)
            for (int c = 0; c < rowBytes; ++c)
                ASSERT_EQ(image.m_pBits[r * rowBytes + c], StoredValue(height - 1 - r, c)) << r << "," << c;
        ASSERT_EQ(image.ToDIBLayout(), image.m_pBits);
        EXPECT_EQ(image.m_bDIBLayout, 1);
        for (int r = 0; r < height; ++r) {
            for (int c = 0; c < rowBytes; ++c)
                ASSERT_EQ(image.m_pBits[r * stride + c], StoredValue(r, c)) << r << "," << c;
            for (int c = rowBytes; c < stride; ++c) {
                // Rows that moved get clean padding; the first row keeps the stale
                // raster byte that lay behind it.
                const unsigned char expected = r == 0 ? StoredValue(1, c - rowBytes) : 0;
                EXPECT_EQ(image.m_pBits[r * stride + c], rowBytes == stride ? 0xEE : expected) << r << "," << c;
            }
        }
    }
}

TEST(ImageContainer, CompressedBitmapIsNotConverted)
{
    MessageCapture messages;
    CImage image;
    MakeImage(image, 63, 3, 8);
    BITMAPINFOHEADER header = image.GetHeader();
    header.biCompression = 1;
    image.SetHeader(header);
    const Bytes before(image.m_pBits, image.m_pBits + 64 * 3);
    EXPECT_EQ(image.ToRasterLayout(), nullptr);
    EXPECT_EQ(messages.texts(), std::vector<std::string>{"Con't process compressed image"});
    EXPECT_EQ(Bytes(image.m_pBits, image.m_pBits + 64 * 3), before);
    EXPECT_EQ(image.m_bDIBLayout, 1);
}

TEST(ImageContainer, AllocationKeepsContentsWhenResized)
{
    MessageCapture messages;
    CImage image;
    image.m_dwDIBSize = 100;
    ASSERT_EQ(image.AllocDIB(false), 1);
    EXPECT_EQ(Bytes(image.GetDIB(), image.GetDIB() + 100), Bytes(100, 0));
    for (int i = 0; i < 100; ++i)
        image.m_pDIB[i] = static_cast<unsigned char>(i + 1);
    image.m_pBits = image.m_pDIB + 60;
    image.m_dwDIBSize = 150;
    ASSERT_EQ(image.AllocDIB(true), 1);
    for (int i = 0; i < 150; ++i)
        ASSERT_EQ(image.m_pDIB[i], i < 100 ? i + 1 : 0) << i;
    EXPECT_EQ(image.m_pBits, image.m_pDIB + 60);
    EXPECT_TRUE(messages.texts().empty());

    image.m_dwDIBSize = 0;
    EXPECT_EQ(image.AllocDIB(false), 0);
    EXPECT_EQ(messages.texts(), std::vector<std::string>{"Unable to allocate DIB memory"});
    EXPECT_EQ(image.GetDIB(), nullptr);
    EXPECT_EQ(image.m_dwDIBSize, 0u);
}

TEST(ImageContainer, PalettesFollowTheColourTable)
{
    CImage image, colour;
    MakeImage(image, 4, 2, 8);
    MakeImage(colour, 4, 2, 24);
    unsigned char* table = image.m_pDIB + 40; // blue, green, red, reserved
    EXPECT_EQ(image.GetPalette()->GetEntryCount(), 256);
    EXPECT_EQ(table[4 * 200] + table[4 * 200 + 2] + image.GetPalette()->GetEntry(200).peGreen, 600);
    table[4 * 9] = 1, table[4 * 9 + 1] = 2, table[4 * 9 + 2] = 3;
    ASSERT_TRUE(image.CreatePaletteFromDIB());
    const PALETTEENTRY& e = image.GetPalette()->GetEntry(9);
    EXPECT_EQ(std::make_tuple(e.peRed, e.peGreen, e.peBlue), std::make_tuple(3, 2, 1));
    // Nothing to build from: the old palette stays.
    const CPalette* old = colour.GetPalette();
    EXPECT_FALSE(colour.CreatePaletteFromDIB());
    EXPECT_EQ(colour.GetPalette(), old);
    EXPECT_FALSE(colour.CreateGreyPalette());
    EXPECT_EQ(colour.GetPalette()->GetEntryCount(), 0);
}

TEST(ImageContainer, CreatedByClassNameAndSerialized)
{
    std::unique_ptr<CObject> object = CRuntimeClass::CreateObject("CImage");
    ASSERT_NE(object, nullptr);
    EXPECT_TRUE(object->IsKindOf(&CImage::classCImage) && object->IsKindOf(&CObject::classCObject));
    EXPECT_STREQ(object->GetRuntimeClass()->m_lpszClassName, "CImage");
    EXPECT_EQ(object->GetRuntimeClass()->m_wSchema, 0u);
    for (const char* name : {"CObject", "CImag", static_cast<const char*>(nullptr)})
        EXPECT_EQ(CRuntimeClass::CreateObject(name), nullptr);

    ScratchDir dir;
    CImage source;
    MakeImage(source, 63, 3, 8);
    CFile out;
    ASSERT_TRUE(out.Open(dir / "s.bmp", CFile::modeCreate | CFile::modeWrite));
    CArchive store(&out, CArchive::store);
    source.Serialize(store);
    out.Close();
    CFile in;
    ASSERT_TRUE(in.Open(dir / "s.bmp", CFile::modeRead));
    CArchive load(&in, CArchive::load);
    CImage& loaded = dynamic_cast<CImage&>(*object);
    loaded.Serialize(load);
    EXPECT_EQ(loaded.GetWidth(), 63);
    EXPECT_EQ(Bytes(loaded.m_pBits, loaded.m_pBits + 64 * 3), Bytes(source.m_pBits, source.m_pBits + 64 * 3));
}
