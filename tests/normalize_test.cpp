#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "locate/ResizeBilinear.h"
#include "normalize/FaceNormalizer.h"

namespace {

const int kTarget[4] = {17, 13, 45, 13};

std::vector<unsigned char> RandomImage(int w, int h, std::mt19937& rng)
{
    std::uniform_int_distribution<int> byte(0, 255);
    std::vector<unsigned char> img(static_cast<size_t>(w) * h);
    for (auto& p : img)
        p = static_cast<unsigned char>(byte(rng));
    return img;
}

// The whole-image form of the two cutting operations: rotate every pixel,
// crop with CropRect, resample with ResampleFace.
std::vector<unsigned char> ReferenceCut(const std::vector<unsigned char>& img, int w, int h, const int eyes[4],
                                        int outW, int outH, bool display, bool* empty = nullptr)
{
    std::vector<unsigned char> rotated(img.size());
    int64_t re[4];
    std::vector<unsigned char> out(static_cast<size_t>(outW) * outH, 0);
    if (!CFaceNormalizer::RotateImage(img.data(), w, h, eyes, rotated.data(), re))
        return out;
    const double d = PointDistance(re[0], re[1], re[2], re[3]);
    int64_t left, top, right, bottom;
    if (!display) {
        const double dt = PointDistance(kTarget[0], kTarget[1], kTarget[2], kTarget[3]);
        left = static_cast<int64_t>(re[0] - (kTarget[0] / dt) * d);
        right = static_cast<int64_t>(re[2] + ((outW - kTarget[2] - 1) / dt) * d);
        top = static_cast<int64_t>(re[1] - (kTarget[1] / dt) * d);
        bottom = static_cast<int64_t>(top + ((outH - 1) * d) / dt);
    } else {
        left = std::max<int64_t>(0, static_cast<int64_t>(re[0] - d));
        top = std::max<int64_t>(0, static_cast<int64_t>(re[1] - 1.6 * d));
        right = std::min<int64_t>(w - 1, static_cast<int64_t>(3.0666666666666664 * d + left));
        bottom = std::min<int64_t>(h - 1, static_cast<int64_t>(3.7333333333333334 * d + top));
        if (empty)
            *empty = right < left || bottom < top;
        if (right < left || bottom < top)
            return out;
    }
    const int cw = static_cast<int>(right - left + 1), ch = static_cast<int>(bottom - top + 1);
    std::vector<unsigned char> crop(static_cast<size_t>(AlignWidth4(cw)) * ch);
    CFaceNormalizer::CropRect(rotated.data(), w, h, crop.data(), static_cast<int>(left), static_cast<int>(top),
                              static_cast<int>(right), static_cast<int>(bottom));
    CFaceNormalizer::ResampleFace(crop.data(), cw, ch, out.data(), outW, outH);
    return out;
}

} // namespace

TEST(FaceNormalizerHelpers, DistanceAndAlignment)
{
    EXPECT_DOUBLE_EQ(PointDistance(1, 2, 4, 6), 5.0);
    EXPECT_DOUBLE_EQ(PointDistance(17, 13, 45, 13), 28.0);
    // Beyond the 32-bit range the distance stays finite and sensible.
    EXPECT_NEAR(PointDistance(INT_MIN, 0, INT_MAX, 0), 4294967295.0, 1.0);
    EXPECT_EQ(AlignWidth4(0), 0);
    EXPECT_EQ(AlignWidth4(1), 4);
    EXPECT_EQ(AlignWidth4(4), 4);
    EXPECT_EQ(AlignWidth4(61), 64);
    EXPECT_EQ(AlignWidth4(-5), -4);
}

TEST(FaceNormalizerRotation, LevelEyesKeepTheImageAndRoundEyesTowardZero)
{
    std::mt19937 rng(1);
    const int w = 70, h = 50;
    const auto img = RandomImage(w, h, rng);
    std::vector<unsigned char> rotated(img.size());
    const int eyes[4] = {17, 13, 46, 13};
    int64_t re[4];
    ASSERT_TRUE(CFaceNormalizer::RotateImage(img.data(), w, h, eyes, rotated.data(), re));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const bool lastLine = x == w - 1 || y == h - 1;
            ASSERT_EQ(rotated[y * w + x], lastLine ? 0 : img[y * w + x]) << x << "," << y;
        }
    // Centre (31, 27): offsets -14 and 15 rotate to trunc(-13.5) = -13 and
    // trunc(15.5) = 15, so the left eye moves by one pixel on both axes.
    EXPECT_EQ(re[0], 18);
    EXPECT_EQ(re[1], 14);
    EXPECT_EQ(re[2], 46);
    EXPECT_EQ(re[3], 14);
}

TEST(FaceNormalizerRotation, LevelsARampAlongTheEyeLine)
{
    // A linear ramp along the eye direction must become a ramp along the rows,
    // constant down each column, since bilinear sampling reproduces linear
    // functions up to the final rounding.
    const int w = 160, h = 120;
    const int eyes[4] = {40, 80, 110, 40}; // tilted by about 30 degrees
    const double len = std::hypot(70.0, -40.0);
    const double ux = 70.0 / len, uy = -40.0 / len;
    std::vector<unsigned char> img(w * h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            img[y * w + x] = static_cast<unsigned char>(std::lround(128.0 + 0.6 * ((x - 80) * ux + (y - 60) * uy)));
    std::vector<unsigned char> rotated(img.size());
    int64_t re[4];
    ASSERT_TRUE(CFaceNormalizer::RotateImage(img.data(), w, h, eyes, rotated.data(), re));
    EXPECT_LE(std::llabs(re[1] - re[3]), 1); // eyes on one row
    EXPECT_NEAR(PointDistance(re[0], re[1], re[2], re[3]), len, 1.5);
    EXPECT_LT(re[0], re[2]);
    int checked = 0;
    for (int y = 40; y < 80; ++y)
        for (int x = 60; x < 100; ++x) {
            const int v = rotated[y * w + x];
            ASSERT_NE(v, 0);
            EXPECT_LE(std::abs(v - rotated[(y + 1) * w + x]), 1) << x << "," << y;
            EXPECT_NEAR(rotated[y * w + x + 10] - v, 6.0, 1.01) << x << "," << y;
            ++checked;
        }
    EXPECT_EQ(checked, 1600);
}

TEST(FaceNormalizerCut, LevelEyesGiveAOnePixelShiftOfTheInput)
{
    std::mt19937 rng(2);
    const int w = 100, h = 90;
    const auto img = RandomImage(w, h, rng);
    // Rotated eyes (18, 14) and (46, 14): the 64 x 64 crop starts at (1, 1).
    const int eyes[4] = {17, 13, 46, 13};
    CFaceNormalizer n;
    std::vector<unsigned char> out(64 * 64);
    EXPECT_EQ(n.NormalizeFace(img.data(), w, h, eyes, out.data(), 64, 64, kTarget), 1);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x)
            ASSERT_EQ(out[y * 64 + x], img[(y + 1) * w + x + 1]) << x << "," << y;

    // Ten pixels further left the crop starts at column -9: the first nine
    // output columns are black and the rest is the same shift, not moved.
    const int shifted[4] = {7, 13, 36, 13};
    n.NormalizeFace(img.data(), w, h, shifted, out.data(), 64, 64, kTarget);
    for (int y = 0; y < 64; ++y)
        for (int x = 0; x < 64; ++x)
            ASSERT_EQ(out[y * 64 + x], x < 9 ? 0 : img[(y + 1) * w + x - 9]) << x << "," << y;
}

TEST(FaceNormalizerCut, DisplayFaceNearTheTopLeftStartsAtTheBorder)
{
    std::mt19937 rng(3);
    const int w = 200, h = 200;
    const auto img = RandomImage(w, h, rng);
    // Rotated eyes (11, 11) and (40, 11), d' = 29: left and top clamp to 0,
    // right = trunc(3.0666.. x 29) = 88, bottom = trunc(3.7333.. x 29) = 108.
    const int eyes[4] = {10, 10, 40, 10};
    CFaceNormalizer n;
    std::vector<unsigned char> out(89 * 109);
    ASSERT_EQ(n.CutFace(img.data(), w, h, eyes, out.data(), 89, 109), 1);
    for (int y = 0; y < 109; ++y)
        for (int x = 0; x < 89; ++x)
            ASSERT_EQ(out[y * 89 + x], img[y * w + x]) << x << "," << y;
}

TEST(FaceNormalizerCut, DisplayRectangleOutsideTheImageIsRefused)
{
    std::vector<unsigned char> img(50 * 40, 77);
    std::vector<unsigned char> out(10 * 12, 9);
    CFaceNormalizer n;
    const int farRight[4] = {500, 10, 530, 10};
    EXPECT_EQ(n.CutFace(img.data(), 50, 40, farRight, out.data(), 10, 12), 0);
    const int farDown[4] = {10, 900, 40, 900};
    EXPECT_EQ(n.CutFace(img.data(), 50, 40, farDown, out.data(), 10, 12), 0);
    const int eyes[4] = {10, 10, 40, 10};
    EXPECT_EQ(n.CutFace(img.data(), 0, 40, eyes, out.data(), 10, 12), 0);
    for (unsigned char v : out)
        ASSERT_EQ(v, 9); // nothing written
}

TEST(FaceNormalizerCut, SampledRotationMatchesTheWholeImageRotation)
{
    std::mt19937 rng(4);
    std::uniform_int_distribution<int> size(1, 140);
    CFaceNormalizer n;
    int displayCuts = 0;
    for (int trial = 0; trial < 400; ++trial) {
        const int w = size(rng), h = size(rng);
        const auto img = RandomImage(w, h, rng);
        // Eyes mostly around the image, some far outside it.
        const int spread = trial % 5 == 0 ? 2000 : 160;
        std::uniform_int_distribution<int> coord(-spread / 4, spread);
        int eyes[4] = {coord(rng), coord(rng), 0, coord(rng)};
        eyes[2] = eyes[0] + 3 + static_cast<int>(rng() % 150);
        const int outW = trial % 3 == 0 ? 64 : 1 + static_cast<int>(rng() % 100);
        const int outH = trial % 3 == 0 ? 64 : 1 + static_cast<int>(rng() % 100);

        std::vector<unsigned char> fast(static_cast<size_t>(outW) * outH, 1);
        n.NormalizeFace(img.data(), w, h, eyes, fast.data(), outW, outH, kTarget);
        ASSERT_EQ(fast, ReferenceCut(img, w, h, eyes, outW, outH, false)) << "trial " << trial;

        bool empty = false;
        const auto ref = ReferenceCut(img, w, h, eyes, outW, outH, true, &empty);
        std::vector<unsigned char> display(static_cast<size_t>(outW) * outH, 0);
        ASSERT_EQ(n.CutFace(img.data(), w, h, eyes, display.data(), outW, outH), empty ? 0 : 1);
        if (!empty) {
            ASSERT_EQ(display, ref) << "trial " << trial;
            ++displayCuts;
        }
    }
    EXPECT_GT(displayCuts, 100);
}

TEST(FaceNormalizerCut, DegenerateGeometryGivesABlackFace)
{
    std::vector<unsigned char> img(30 * 30, 200);
    std::vector<unsigned char> out(64 * 64, 7);
    CFaceNormalizer n;
    const int same[4] = {10, 10, 10, 10};
    EXPECT_EQ(n.NormalizeFace(img.data(), 30, 30, same, out.data(), 64, 64, kTarget), 1);
    for (unsigned char v : out)
        ASSERT_EQ(v, 0);
    // Eyes across the whole 32-bit range: a face so large that the image
    // vanishes between its samples.
    const int huge[4] = {INT_MIN, INT_MIN, INT_MAX, INT_MAX};
    n.NormalizeFace(img.data(), 30, 30, huge, out.data(), 64, 64, kTarget);
    std::fill(out.begin(), out.end(), 7);
    n.NormalizeFace(nullptr, 30, 30, huge, out.data(), 64, 64, kTarget); // no pixels: black
    for (unsigned char v : out)
        ASSERT_EQ(v, 0);
    const int sameTarget[4] = {5, 5, 5, 5};
    const int eyes[4] = {5, 5, 20, 5};
    std::fill(out.begin(), out.end(), 7);
    n.NormalizeFace(img.data(), 30, 30, eyes, out.data(), 64, 64, sameTarget);
    for (unsigned char v : out)
        ASSERT_EQ(v, 0);
}

// Eye-box patches (ResizeBilinear) and face crops (ResampleFace) are resampled
// the same way: both on the same hand-computed cases.
TEST(BilinearResampling, CopiesInterpolatesExtrapolatesAndTruncates)
{
    using Bytes = std::vector<unsigned char>;
    using Resize = int (*)(const unsigned char*, int, int, unsigned char*, int, int);
    unsigned char out[16];
    for (const auto& [name, resize] : {std::pair<const char*, Resize>{"ResizeBilinear", ResizeBilinear},
                                       std::pair<const char*, Resize>{"ResampleFace", CFaceNormalizer::ResampleFace}}) {
        SCOPED_TRACE(name);
        const unsigned char src[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
        ASSERT_EQ(resize(src, 4, 4, out, 4, 4), 1);
        EXPECT_EQ(Bytes(out, out + 16), Bytes(src, src + 16));
        // Halving samples every second pixel from the top-left (no half-pixel offset).
        resize(src, 4, 4, out, 2, 2);
        EXPECT_EQ(Bytes(out, out + 4), Bytes({1, 3, 9, 11}));
        // Doubling a 2 x 2 plane: weights 0, 0.5, 1, 1.5; the last samples continue
        // the slope past the source and are held to 0..255.
        const unsigned char up[4] = {0, 100, 100, 200}, down[4] = {200, 100, 100, 0};
        resize(up, 2, 2, out, 4, 4);
        for (int j = 0; j < 4; ++j)
            for (int i = 0; i < 4; ++i)
                EXPECT_EQ(out[j * 4 + i], std::min(255, 50 * (i + j))) << i << "," << j;
        resize(down, 2, 2, out, 4, 4);
        for (int j = 0; j < 4; ++j)
            for (int i = 0; i < 4; ++i)
                EXPECT_EQ(out[j * 4 + i], std::max(0, 200 - 50 * (i + j))) << i << "," << j;
        // Truncation, not rounding: a ramp 0..1 sampled at 0, 0.5, 1, 1.5.
        const unsigned char ramp[4] = {0, 1, 0, 1};
        resize(ramp, 2, 2, out, 4, 4);
        EXPECT_EQ(Bytes(out, out + 4), Bytes({0, 0, 1, 1}));
        // A single row or a single pixel repeats itself.
        const unsigned char row[4] = {0, 10, 20, 30}, one = 77;
        resize(row, 4, 1, out, 2, 2);
        EXPECT_EQ(Bytes(out, out + 4), Bytes({0, 20, 0, 20}));
        resize(&one, 1, 1, out, 3, 3);
        EXPECT_EQ(Bytes(out, out + 9), Bytes(9, 77));
    }
    EXPECT_EQ(ResizeBilinear(nullptr, 2, 2, out, 3, 3), 0);
    EXPECT_EQ(ResizeBilinear(out, 0, 1, out, 3, 3), 0);
    EXPECT_EQ(ResizeBilinear(out, 1, 1, out, -3, 3), 0);
}

TEST(FaceNormalizerCrop, PixelsOutsideTheImageAreBlack)
{
    const unsigned char img[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    unsigned char crop[16];
    std::memset(crop, 0xAA, sizeof(crop));
    CFaceNormalizer::CropRect(img, 3, 3, crop, -1, 1, 2, 4); // 4 x 4, one column left, two rows below
    const unsigned char expected[16] = {0, 4, 5, 6, 0, 7, 8, 9, 0, 0, 0, 0, 0, 0, 0, 0};
    EXPECT_EQ(0, std::memcmp(crop, expected, 16));
}
