#include "support/Common.h"

#include "image/Image.h"
#include "support/ImageTestSupport.h"
#include "support/MessageCapture.h"
#include "support/ReaderCases.h"

using namespace velmora_test;

namespace {
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
