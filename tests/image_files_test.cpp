#include "support/Common.h"

#include "common/ByteOrder.h"
#include "common/File.h"
#include "image/Archive.h"
#include "image/Image.h"
#include "support/MessageCapture.h"
#include "support/ReaderCases.h"

using namespace velmora_test;
using Texts = std::vector<std::string>;

namespace {

// The stored-layout byte that MakeImage puts at (row, column); row 0 is the bottom row.
unsigned char StoredValue(int row, int column)
{
    return static_cast<unsigned char>(row * 37 + column * 11 + 5);
}

// An 8-bit image with a grey palette or a 24-bit image without colour table, its
// padding bytes set to `pad`, in stored layout.
void MakeImage(CImage& image, int width, int height, int bitCount, unsigned char pad = 0)
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
int LoadPath(CImage& image, const std::filesystem::path& path)
{
    CFile file;
    return file.Open(path.string(), CFile::modeRead) ? image.Load(&file) : -1;
}

int SavePath(CImage& image, const std::filesystem::path& path)
{
    CFile file;
    return file.Open(path.string(), CFile::modeCreate | CFile::modeWrite) ? image.Save(&file) : -1;
}
struct HostileCase {
    std::string name;
    Bytes bytes;
    const char* message; // null: refused without a message
};

// Each file must be refused with its message, leaving the image loaded before intact.
void ExpectRefused(const char* fileName, const std::vector<HostileCase>& cases)
{
    ScratchDir dir;
    for (const HostileCase& c : cases) {
        WriteFile(dir / fileName, c.bytes);
        MessageCapture messages;
        CImage image;
        MakeImage(image, 2, 2, 8);
        EXPECT_EQ(LoadPath(image, dir / fileName), 0) << c.name;
        EXPECT_EQ(messages.texts(), c.message ? std::vector<std::string>{c.message} : std::vector<std::string>{})
            << c.name;
        EXPECT_EQ(image.GetWidth(), 2) << c.name;
    }
}

} // namespace

TEST(ImageFiles, BmpWrittenByUsReadsBack)
{
    ScratchDir dir;
    for (const auto& [width, bits] : {std::pair{64, 8}, std::pair{63, 8}, std::pair{5, 24}}) {
        SCOPED_TRACE(std::to_string(width) + " x 3, " + std::to_string(bits) + " bits");
        CImage source;
        MakeImage(source, width, 3, bits);
        ASSERT_EQ(SavePath(source, dir / "a.bmp"), 1);
        const Bytes file = ReadBytes(dir / "a.bmp");
        const int colors = bits == 8 ? 256 : 0;
        ASSERT_EQ(file.size(), source.m_dwDIBSize + 14u);
        EXPECT_EQ(ReadUInt16LE(file.data()), 0x4D42);
        EXPECT_EQ(ReadInt32LE(file.data() + 2), static_cast<int32_t>(file.size()));
        EXPECT_EQ(ReadInt32LE(file.data() + 10), 54 + 4 * colors);
        EXPECT_EQ(Bytes(file.begin() + 14, file.end()), Bytes(source.GetDIB(), source.GetDIB() + source.m_dwDIBSize));

        CImage back;
        ASSERT_EQ(LoadPath(back, dir / "a.bmp"), 1);
        const int stride = CImage::WidthBytes(width, bits);
        EXPECT_EQ(Bytes(back.m_pBits, back.m_pBits + 3 * stride), Bytes(source.m_pBits, source.m_pBits + 3 * stride));
        EXPECT_EQ(back.GetPalette()->GetEntryCount(), colors);
        // The reader sizes its block as the file plus every row's padding, so a
        // padded image grows by that much (zeros at the end) each time round.
        ASSERT_EQ(SavePath(back, dir / "b.bmp"), 1);
        const size_t growth = static_cast<size_t>(3 * (stride - width * bits / 8));
        Bytes expected = file;
        expected.resize(file.size() + growth, 0);
        WriteInt32LE(expected.data() + 2, static_cast<int32_t>(expected.size()));
        EXPECT_EQ(ReadBytes(dir / "b.bmp"), expected);
    }
}

TEST(ImageFiles, FormatFollowsLowerCasedExtension)
{
    ScratchDir dir;
    CImage image;
    MakeImage(image, 2, 2, 8);
    const Bytes raster = {StoredValue(1, 0), StoredValue(1, 1), StoredValue(0, 0), StoredValue(0, 1)};
    Bytes pgm = ToBytes("P5\n2 2\n255\n");
    pgm.insert(pgm.end(), raster.begin(), raster.end());
    const std::string text = " 42  53 \n  5  16 \n";
    const std::pair<const char*, Bytes> cases[] = {
        {"a.PGM", pgm}, {"pgm", pgm}, {"a.Raw", raster}, {"a.bin", raster}, {"a.DAT", raster}, {"a.tXt", ToBytes(text)}};
    for (const auto& [name, expected] : cases) {
        CFile file;
        ASSERT_TRUE(file.Open(dir / name, CFile::modeCreate | CFile::modeWrite));
        EXPECT_EQ(image.Save(&file), 1) << name;
        EXPECT_TRUE(file.IsOpen()) << name;
        file.Close();
        EXPECT_EQ(ReadBytes(dir / name), expected) << name;
        EXPECT_EQ(image.m_bDIBLayout, 1) << name;
    }
    for (const char* name : {"plain", "a.jpg", "a.BMP"}) {
        ASSERT_EQ(SavePath(image, dir / name), 1);
        EXPECT_EQ(ReadBytes(dir / name)[0], 'B') << name;
    }

    const std::string twoByOne = "P5\n#\n2 1\n255\nAB";
    CImage loaded;
    EXPECT_EQ(LoadPath(loaded, dir.Write("b.PGM", twoByOne)), 1);
    // Loading looks at the whole path: a dotted folder hides the extension and the
    // file is taken for a bitmap.
    std::filesystem::create_directories(dir / "d.x");
    MessageCapture messages;
    EXPECT_EQ(LoadPath(loaded, dir.Write("d.x/c.pgm", twoByOne)), 0);
    EXPECT_TRUE(messages.texts().empty());
}

TEST(ImageFiles, PgmHeaderHasFourLines)
{
    ScratchDir dir;
    const Bytes file = PgmBytes(64, 64, 64 * 64 + 9); // nine bytes too many: ignored
    const Bytes pixels(file.end() - 64 * 64 - 9, file.end() - 9);
    CImage image;
    ASSERT_EQ(LoadPath(image, dir.Write("f.pgm", file)), 1);
    EXPECT_EQ(image.GetWidth(), 64);
    EXPECT_EQ(image.GetHeight(), 64);
    EXPECT_EQ(image.GetBitCount(), 8);
    EXPECT_EQ(image.m_bDIBLayout, 1);
    EXPECT_EQ(image.m_pBits[63 * 64 + 5], pixels[5]); // top file row is the last stored row
    ASSERT_EQ(SavePath(image, dir / "w.pgm"), 1);
    Bytes written = ToBytes("P5\n64 64\n255\n");
    written.insert(written.end(), pixels.begin(), pixels.end());
    EXPECT_EQ(ReadBytes(dir / "w.pgm"), written);

    MessageCapture messages; // three header lines are one too few
    CImage again;
    EXPECT_EQ(LoadPath(again, dir / "w.pgm"), 0);
    EXPECT_EQ(messages.texts(), Texts{"The format is wrong!"});
}

TEST(ImageFiles, DatAndRawHoldOneFixedFrame)
{
    ScratchDir dir;
    const Bytes file = RawBytes();
    CImage image;
    ASSERT_EQ(LoadPath(image, dir.Write("frame.dat", file)), 1);
    EXPECT_EQ(image.GetWidth(), 512);
    EXPECT_EQ(image.GetHeight(), 342);
    const unsigned char* raster = image.ToRasterLayout();
    ASSERT_NE(raster, nullptr);
    EXPECT_EQ(Bytes(raster, raster + 175104), Bytes(file.begin() + 32, file.end()));

    MessageCapture messages;
    EXPECT_EQ(LoadPath(image, dir.Write("short.raw", Bytes(file.begin(), file.begin() + 175104))), 0);
    // Longer than a frame but not a header plus a frame.
    EXPECT_EQ(LoadPath(image, dir.Write("cut.raw", Bytes(file.begin(), file.begin() + 175120))), 0);
    EXPECT_EQ(messages.texts(), (Texts{"Wrong Data!", "Read error"}));
    EXPECT_EQ(image.GetDIB(), nullptr);
}

TEST(ImageFiles, ImgDepthComesFromTheLength)
{
    ScratchDir dir;
    // width, height, pixel bytes, expected bit count; 7 bytes for 4 x 1 leaves a surplus
    for (const auto& [w, h, bytes, bits] : {std::tuple{5, 3, 15, 8}, {2, 2, 12, 24}, {4, 1, 7, 8}}) {
        const Bytes file = ImgBytes(w, h, static_cast<size_t>(bytes));
        CImage image;
        ASSERT_EQ(LoadPath(image, dir.Write("a.img", file)), 1) << bytes;
        EXPECT_EQ(image.GetBitCount(), bits);
        EXPECT_EQ(image.m_bDIBLayout, 1); // taken as they stand, not flipped
        EXPECT_EQ(Bytes(image.m_pBits, image.m_pBits + 4), Bytes(file.begin() + 4, file.begin() + 8));
    }
}

TEST(ImageFiles, TextDumpAndGreyOnlyWriters)
{
    ScratchDir dir;
    CImage image;
    MakeImage(image, 2, 1, 8);
    image.m_pBits[0] = 7;
    image.m_pBits[1] = 200;
    ASSERT_EQ(image.WriteText(dir / "d.txt"), 1);
    EXPECT_EQ(ReadBytes(dir / "d.txt"), ToBytes("  7 200 \n"));

    MessageCapture messages;
    CImage colour;
    MakeImage(colour, 2, 1, 24);
    EXPECT_EQ(colour.WriteText(dir / "c.txt"), 0);
    EXPECT_EQ(SavePath(colour, dir / "c.pgm"), 0);
    EXPECT_EQ(messages.texts(), (Texts{"It is not 8-greylevel image!", "It is not 8-greylevel image!"}));
    EXPECT_EQ(colour.m_bDIBLayout, 1);
}

TEST(ImageFiles, WriteFailureIsReported)
{
    if (!std::filesystem::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full to fail writes";
    CImage image;
    MakeImage(image, 512, 342, 8); // larger than the stream buffer, so the write itself fails
    for (int (CImage::*writer)(CFile*) : {&CImage::WriteBMP, &CImage::WritePGM, &CImage::WriteRaw}) {
        MessageCapture messages;
        CFile file;
        ASSERT_TRUE(file.Open("/dev/full", CFile::modeCreate | CFile::modeWrite));
        EXPECT_EQ((image.*writer)(&file), 0);
        EXPECT_EQ(messages.texts(), Texts{"Write error--possible disk full condition"});
        EXPECT_EQ(image.m_bDIBLayout, 1);
    }
}

TEST(ImageHostile, BmpHeaderValuesAreCheckedBeforeUse)
{
    const Bytes v = BmpBytes(63, 3, 8);
    const char* bad = "Read error";
    ExpectRefused("h.bmp", {
        {"empty", {}, nullptr}, {"short file header", Bytes(v.begin(), v.begin() + 13), nullptr},
        {"short info header", Bytes(v.begin(), v.begin() + 53), nullptr}, {"type", With(v, 0, 0x4D43, 2), nullptr},
        {"info size 124", With(v, 14, 124), nullptr}, {"compressed", With(v, 30, 1), nullptr},
        {"width 0", With(v, 18, 0), bad}, {"negative width", With(v, 18, -63), bad},
        {"width 70000", With(v, 18, 70000), bad}, {"top-down", With(v, 22, -3), bad},
        {"height 0", With(v, 22, 0), bad}, {"1 bit", With(v, 28, 1, 2), bad}, {"4 bits", With(v, 28, 4, 2), bad},
        {"16 bits", With(v, 28, 16, 2), bad}, {"32 bits", With(v, 28, 32, 2), bad},
        {"257 colours", With(v, 46, 257), bad}, {"colour count -1", With(v, 46, -1), bad},
        {"huge", With(With(v, 18, 65535), 22, 65535), bad},
        {"24 bits on an 8-bit file", With(With(v, 28, 24, 2), 18, 400), bad},
        {"one byte short", Bytes(v.begin(), v.end() - 1), bad},
    });
}

TEST(ImageHostile, PgmHeaderValuesAreCheckedBeforeUse)
{
    auto pgm = [](const std::string& header, size_t pixels) {
        Bytes bytes = ToBytes(header);
        bytes.resize(bytes.size() + pixels, 'x');
        return bytes;
    };
    const char* format = "The format is wrong!";
    ExpectRefused("h.pgm", {
        {"empty", {}, "Invalid PGM image file"}, {"P6", pgm("P6\n#\n2 2\n255\n", 12), "Invalid PGM image file"},
        {"three lines", pgm("P5\n2 2\n255\n", 4), format},
        {"comment past 100 bytes", pgm("P5\n#" + std::string(100, '#') + "\n2 2\n255\n", 4), format},
        {"one number a line", pgm("P5\n384\n286\n255\n", 384 * 286), format},
        {"letters", pgm("P5\n#\n2x 2\n255\n", 4), format}, {"negative", pgm("P5\n#\n-2 -2\n255\n", 4), format},
        {"zero", pgm("P5\n#\n0 5\n255\n", 4), format},
        {"overflowing", pgm("P5\n#\n99999999999 1\n255\n", 4), format},
        {"too wide", pgm("P5\n#\n70000 1\n255\n", 70000), format},
        {"short data", pgm("P5\n#\n4 4\n255\n", 15), "w*h != DataLength, The image data is wrong!"},
        {"huge", pgm("P5\n#\n65535 65535\n255\n", 10), "w*h != DataLength, The image data is wrong!"},
    });
}

TEST(ImageHostile, HeaderlessFormatsCheckTheirSizes)
{
    ExpectRefused("h.img", {
        {"no header", Bytes(3, 1), "Read error"}, {"width 0", ImgBytes(0, 5, 10), "Wrong Data!"},
        {"height 0", ImgBytes(5, 0, 10), "Wrong Data!"}, {"huge", ImgBytes(65535, 65535, 100), "Wrong Data!"},
        {"2 bytes a pixel", ImgBytes(2, 2, 8), "Wrong Data!"}, {"4 bytes a pixel", ImgBytes(2, 2, 16), "Wrong Data!"},
    });
    ExpectRefused("h.raw", {{"empty", {}, "Wrong Data!"}});
}

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
