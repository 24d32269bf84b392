#include "support/Common.h"

#include <velmora/Velmora.h>

#include "locate/ResizeBilinear.h"
#include "normalize/FaceNormalizer.h"
#include "preprocess/FaceMasks.h"
#include "preprocess/FacePreprocessor.h"
#include "recognizer/ModuleState.h"
#include "recognizer/PhotometricSteps.h"
#include "support/NaiveVsFast.h"

using velmora_test::RandomBytes;

namespace {

using Bytes = std::vector<unsigned char>;
const int kTarget[4] = {17, 13, 45, 13};

// Pixels outside the current mask are 0 after the photometric steps, except
// where the seam blending copies a neighbour in.
void ExpectMaskedFace(const Bytes& face, int maskKind)
{
    const unsigned char* mask = BuiltInFaceMask(maskKind);
    for (int i = 0; i < 4096; ++i) {
        const int r = i / 64, c = i % 64;
        const bool seam = (r >= 30 && r <= 33) || (c >= 30 && c <= 33);
        ASSERT_TRUE(mask[i] || seam || face[i] == 0) << "pixel " << i;
    }
}

// The whole-image form of the two cutting operations: rotate every pixel,
// crop with CropRect, resample with ResampleFace. The crop follows the eye
// targets, or for the display face starts d' left of and 1.6 d' above the
// rotated first eye and spans 3.0666.. d' by 3.7333.. d' (d' the rotated eye
// distance), clamped to the image.
Bytes ReferenceCut(const Bytes& img, int w, int h, const int eyes[4], int outW, int outH, bool display,
                   bool* empty = nullptr)
{
    Bytes rotated(img.size()), out(static_cast<size_t>(outW) * outH, 0);
    int64_t re[4];
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
        *empty = right < left || bottom < top;
        if (*empty)
            return out;
    }
    const int cw = static_cast<int>(right - left + 1), ch = static_cast<int>(bottom - top + 1);
    Bytes crop(static_cast<size_t>(AlignWidth4(cw)) * ch);
    CFaceNormalizer::CropRect(rotated.data(), w, h, crop.data(), static_cast<int>(left), static_cast<int>(top),
                              static_cast<int>(right), static_cast<int>(bottom));
    CFaceNormalizer::ResampleFace(crop.data(), cw, ch, out.data(), outW, outH);
    return out;
}

} // namespace

TEST(FaceCutting, ArgumentChecksAndRefusalsWriteNothing)
{
    CVelmora v;
    Bytes img(100 * 80, 128), out(4096, 9); // room for either face
    const CPoint l(30, 40), r(60, 40);
    unsigned char* im = img.data();
    unsigned char* o = out.data();
    for (int op = 0; op < 2; ++op) {
        const auto call = [&](unsigned char* i, int w, int h, CPoint a, CPoint b, unsigned char* dst) {
            return op == 0 ? v.GetNormFace(i, w, h, a, b, dst) : v.GetFace(i, w, h, a, b, dst, 46);
        };
        EXPECT_EQ(call(nullptr, 100, 80, l, r, o), GF_BAD_ARGUMENT);
        EXPECT_EQ(call(im, 100, 80, l, r, nullptr), GF_BAD_ARGUMENT);
        EXPECT_EQ(call(im, -1, 80, l, r, o), GF_BAD_ARGUMENT);
        EXPECT_EQ(call(im, 100, -1, l, r, o), GF_BAD_ARGUMENT);
        EXPECT_EQ(call(im, 100, 80, l, CPoint(32, 40), o), GF_BAD_ARGUMENT); // 2 apart
        EXPECT_EQ(call(im, 100, 80, r, l, o), GF_BAD_ARGUMENT);              // wrong order
        // A gap that overflows 32 bits must not wrap into a pass.
        EXPECT_EQ(call(im, 100, 80, CPoint(INT_MAX, 0), CPoint(INT_MIN, 0), o), GF_BAD_ARGUMENT);
        ASSERT_EQ(out, Bytes(4096, 9)) << "operation " << op;
        // Three apart passes, whatever the rows.
        EXPECT_EQ(call(im, 100, 80, CPoint(30, 5), CPoint(33, 70), o), GF_OK);
        std::fill(out.begin(), out.end(), 9);
    }
    // The display face alone: widths of 0 or less cut nothing; an empty image,
    // a cut wholly outside the image, or a width whose height overflows is refused.
    for (int width : {0, -5, INT_MIN})
        EXPECT_EQ(v.GetFace(im, 100, 80, l, r, o, width), GF_OK) << width;
    EXPECT_EQ(v.GetFace(im, 0, 80, l, r, o, 46), GF_BAD_ARGUMENT);
    EXPECT_EQ(v.GetFace(im, 100, 0, l, r, o, 46), GF_BAD_ARGUMENT);
    EXPECT_EQ(v.GetFace(im, 100, 80, CPoint(900, 10), CPoint(950, 10), o, 46), GF_BAD_ARGUMENT);
    EXPECT_EQ(v.GetFace(im, 100, 80, CPoint(10, 5000), CPoint(60, 5000), o, 46), GF_BAD_ARGUMENT);
    EXPECT_EQ(v.GetFace(im, 100, 80, l, r, o, INT_MAX), GF_BAD_ARGUMENT);
    EXPECT_EQ(out, Bytes(4096, 9));
    // One column or one row is enough to cut from.
    EXPECT_EQ(v.GetFace(im, 1, 80, CPoint(0, 10), CPoint(3, 10), o, 46), GF_OK);
    EXPECT_EQ(v.GetFace(im, 100, 1, CPoint(0, 0), CPoint(3, 0), o, 46), GF_OK);
}

TEST(FaceCutting, NormFaceGeometricAndPhotometricAndDisplayFaceAreTheDirectCuts)
{
    CVelmora v;
    std::mt19937 rng(21);
    Bytes img(120 * 100);
    for (int i = 0; i < 120 * 100; ++i)
        img[i] = static_cast<unsigned char>(40 + (i % 120 * 3 + i / 120 * 2) % 150 + rng() % 20);
    const CPoint l(35, 40), r(80, 35);
    const int eyes[4] = {35, 40, 80, 35};

    v.m_bPreprocessNormFace = 0;
    Bytes geometric(4096), direct(4096);
    ASSERT_EQ(v.GetNormFace(img.data(), 120, 100, l, r, geometric.data()), GF_OK);
    g_faceNormalizer.NormalizeFace(img.data(), 120, 100, eyes, direct.data(), 64, 64, kTarget);
    EXPECT_EQ(geometric, direct);
    EXPECT_NE(geometric[0], 0); // outside the mask the geometric face keeps its pixels

    v.m_bPreprocessNormFace = 1;
    for (int kind : {2, 3}) {
        g_facePreprocessor.SetMask(kind);
        Bytes face(4096), expected = geometric;
        ASSERT_EQ(v.GetNormFace(img.data(), 120, 100, l, r, face.data()), GF_OK);
        ApplyPhotometricSteps(expected.data());
        EXPECT_EQ(face, expected);
        ExpectMaskedFace(face, kind);
        EXPECT_GT(std::count_if(face.begin(), face.end(), [](int p) { return p > 200; }), 20)
            << "gamma fit leaves no bright pixel";
    }
    g_facePreprocessor.SetMask(2);

    // The display face is the direct cut at 46 x 56, and nothing is written past it.
    Bytes shown(46 * 56 + 16, 3), cut(46 * 56);
    ASSERT_EQ(v.GetFace(img.data(), 120, 100, l, r, shown.data(), 46), GF_OK);
    g_faceNormalizer.CutFace(img.data(), 120, 100, eyes, cut.data(), 46, 56);
    EXPECT_TRUE(std::equal(cut.begin(), cut.end(), shown.begin()));
    EXPECT_NE(std::count(shown.begin(), shown.begin() + 46 * 56, 3), 46 * 56);
    EXPECT_EQ(Bytes(shown.begin() + 46 * 56, shown.end()), Bytes(16, 3)) << "wrote past 46 x 56";
}

TEST(FaceCutting, EmptyBlackOrHostileInputNeverBreaksTheFace)
{
    CVelmora v;
    Bytes black(64 * 64, 0), grey(64 * 64, 90);
    const auto face = [&v](Bytes& img, int side, CPoint l, CPoint r) {
        Bytes out(4096, 7);
        EXPECT_EQ(v.GetNormFace(img.data(), side, side, l, r, out.data()), GF_OK);
        return out;
    };
    for (int preprocess : {0, 1}) {
        v.m_bPreprocessNormFace = preprocess;
        EXPECT_EQ(face(black, 0, {10, 10}, {40, 10}), Bytes(4096, 0));
        EXPECT_EQ(face(black, 64, {10, 10}, {40, 10}), Bytes(4096, 0));
        // Eyes far outside the image: the face is black, not NaN bytes.
        face(grey, 64, {INT_MIN, INT_MIN}, {INT_MAX, INT_MAX});
        EXPECT_EQ(face(grey, 64, {5000, -9000}, {5040, -9000}), Bytes(4096, 0));
    }

    // Random sizes and eyes anywhere in the int range: refused or a masked face.
    g_facePreprocessor.SetMask(3);
    std::mt19937 rng(24);
    std::uniform_int_distribution<int> size(0, 90), any(INT_MIN, INT_MAX), near(-300, 300);
    for (int trial = 0; trial < 300; ++trial) {
        const int w = size(rng), h = size(rng);
        Bytes img(static_cast<size_t>(std::max(1, w * h)));
        for (auto& p : img)
            p = static_cast<unsigned char>(rng());
        CPoint l(trial % 4 == 0 ? any(rng) : near(rng), trial % 3 == 0 ? any(rng) : near(rng));
        CPoint r(trial % 5 == 0 ? any(rng) : near(rng), trial % 3 == 1 ? any(rng) : near(rng));
        if (static_cast<int64_t>(r.x) - l.x < 3)
            std::swap(l.x, r.x);
        Bytes face(4096), display(20 * 24);
        const auto result = v.GetNormFace(img.data(), w, h, l, r, face.data());
        if (static_cast<int64_t>(r.x) - l.x < 3) {
            EXPECT_EQ(result, GF_BAD_ARGUMENT);
            continue;
        }
        ASSERT_EQ(result, GF_OK);
        ExpectMaskedFace(face, 3);
        const auto shown = v.GetFace(img.data(), w, h, l, r, display.data(), 20);
        EXPECT_TRUE(shown == GF_OK || shown == GF_BAD_ARGUMENT);
    }
    g_facePreprocessor.SetMask(2);
}

TEST(FaceNormalizerHelpers, DistanceAlignmentAndCrop)
{
    EXPECT_DOUBLE_EQ(PointDistance(1, 2, 4, 6), 5.0);
    // Beyond the 32-bit range the distance stays finite and sensible.
    EXPECT_NEAR(PointDistance(INT_MIN, 0, INT_MAX, 0), 4294967295.0, 1.0);
    for (const auto& [n, aligned] : {std::pair<int, int>{0, 0}, {1, 4}, {4, 4}, {61, 64}, {-5, -4}})
        EXPECT_EQ(AlignWidth4(n), aligned) << n;
    // Crop pixels outside the image are black: 4 x 4 from one column left, two rows below.
    const unsigned char img[9] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    Bytes crop(16, 0xAA);
    CFaceNormalizer::CropRect(img, 3, 3, crop.data(), -1, 1, 2, 4);
    EXPECT_EQ(crop, Bytes({0, 4, 5, 6, 0, 7, 8, 9, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(FaceNormalizerRotation, LevelEyesKeepTheImageAndRoundTowardZero)
{
    std::mt19937 rng(2);
    const int w = 100, h = 90;
    const auto img = RandomBytes(static_cast<size_t>(w) * h, rng);
    Bytes rotated(img.size());
    const int eyes[4] = {17, 13, 46, 13};
    int64_t re[4];
    ASSERT_TRUE(CFaceNormalizer::RotateImage(img.data(), w, h, eyes, rotated.data(), re));
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            ASSERT_EQ(rotated[y * w + x], x == w - 1 || y == h - 1 ? 0 : img[y * w + x]) << x << "," << y;
    // Centre (31, 27): offsets -14 and 15 rotate to trunc(-13.5) = -13 and
    // trunc(15.5) = 15, so the left eye moves by one pixel on both axes.
    EXPECT_EQ(std::vector<int64_t>(re, re + 4), std::vector<int64_t>({18, 14, 46, 14}));
}

TEST(FaceNormalizerCut, SampledRotationMatchesTheWholeImageRotation)
{
    std::mt19937 rng(4);
    std::uniform_int_distribution<int> size(1, 140);
    CFaceNormalizer n;
    int displayCuts = 0;
    for (int trial = 0; trial < 400; ++trial) {
        const int w = size(rng), h = size(rng);
        const auto img = RandomBytes(static_cast<size_t>(w) * h, rng);
        // Eyes mostly around the image, some far outside it.
        const int spread = trial % 5 == 0 ? 2000 : 160;
        std::uniform_int_distribution<int> coord(-spread / 4, spread);
        int eyes[4] = {coord(rng), coord(rng), 0, coord(rng)};
        eyes[2] = eyes[0] + 3 + static_cast<int>(rng() % 150);
        const int outW = trial % 3 == 0 ? 64 : 1 + static_cast<int>(rng() % 100);
        const int outH = trial % 3 == 0 ? 64 : 1 + static_cast<int>(rng() % 100);

        Bytes fast(static_cast<size_t>(outW) * outH, 1), display(fast.size(), 5);
        n.NormalizeFace(img.data(), w, h, eyes, fast.data(), outW, outH, kTarget);
        ASSERT_EQ(fast, ReferenceCut(img, w, h, eyes, outW, outH, false)) << "trial " << trial;
        bool empty = false;
        const auto ref = ReferenceCut(img, w, h, eyes, outW, outH, true, &empty);
        // A display rectangle outside the image is refused, nothing written.
        ASSERT_EQ(n.CutFace(img.data(), w, h, eyes, display.data(), outW, outH), empty ? 0 : 1);
        ASSERT_EQ(display, empty ? Bytes(display.size(), 5) : ref) << "trial " << trial;
        displayCuts += !empty;
    }
    EXPECT_GT(displayCuts, 100); // both kinds occur (336 cuts today)
    EXPECT_LT(displayCuts, 380);
    // No image (width 0): refused, nothing written.
    const Bytes column(40, 200);
    Bytes small(10 * 12, 9);
    EXPECT_EQ(n.CutFace(column.data(), 0, 40, kTarget, small.data(), 10, 12), 0);
    EXPECT_EQ(small, Bytes(10 * 12, 9));
}

TEST(FaceNormalizerCut, DegenerateGeometryGivesABlackFace)
{
    const Bytes img(30 * 30, 200);
    CFaceNormalizer n;
    const auto cut = [&n](const unsigned char* image, const int eyes[4], const int target[4]) {
        Bytes out(64 * 64, 7);
        EXPECT_EQ(n.NormalizeFace(image, 30, 30, eyes, out.data(), 64, 64, target), 1);
        return out;
    };
    const int same[4] = {10, 10, 10, 10}, sameTarget[4] = {5, 5, 5, 5}, eyes[4] = {5, 5, 20, 5};
    // Eyes across the whole 32-bit range: a face so large that the image
    // vanishes between its samples (only no crash asked of it).
    const int huge[4] = {INT_MIN, INT_MIN, INT_MAX, INT_MAX};
    cut(img.data(), huge, kTarget);
    EXPECT_EQ(cut(img.data(), same, kTarget), Bytes(4096, 0));
    EXPECT_EQ(cut(nullptr, huge, kTarget), Bytes(4096, 0)); // no pixels: black
    EXPECT_EQ(cut(img.data(), eyes, sameTarget), Bytes(4096, 0));
}

// Eye-box patches (ResizeBilinear) and face crops (ResampleFace) are resampled
// the same way: both on the same hand-computed cases.
TEST(BilinearResampling, CopiesInterpolatesExtrapolatesAndTruncates)
{
    using Resize = int (*)(const unsigned char*, int, int, unsigned char*, int, int);
    for (const auto& [name, resize] : {std::pair<const char*, Resize>{"ResizeBilinear", ResizeBilinear},
                                       std::pair<const char*, Resize>{"ResampleFace", CFaceNormalizer::ResampleFace}}) {
        SCOPED_TRACE(name);
        const auto resized = [r = resize](Bytes src, int w, int h, int outW, int outH) {
            Bytes out(static_cast<size_t>(outW) * outH);
            EXPECT_EQ(r(src.data(), w, h, out.data(), outW, outH), 1);
            return out;
        };
        Bytes src(16);
        std::iota(src.begin(), src.end(), 1);
        EXPECT_EQ(resized(src, 4, 4, 4, 4), src);
        // Halving samples every second pixel from the top-left (no half-pixel offset).
        EXPECT_EQ(resized(src, 4, 4, 2, 2), Bytes({1, 3, 9, 11}));
        // Doubling a 2 x 2 plane: weights 0, 0.5, 1, 1.5; the last samples continue
        // the slope past the source and are held to 0..255.
        const Bytes up = resized({0, 100, 100, 200}, 2, 2, 4, 4), down = resized({200, 100, 100, 0}, 2, 2, 4, 4);
        for (int i = 0; i < 16; ++i) {
            EXPECT_EQ(up[i], std::min(255, 50 * (i % 4 + i / 4))) << i;
            EXPECT_EQ(down[i], std::max(0, 200 - 50 * (i % 4 + i / 4))) << i;
        }
        // Truncation, not rounding: a ramp 0..1 sampled at 0, 0.5, 1, 1.5.
        const Bytes ramp = resized({0, 1, 0, 1}, 2, 2, 4, 4);
        EXPECT_EQ(Bytes(ramp.begin(), ramp.begin() + 4), Bytes({0, 0, 1, 1}));
        // A single row or a single pixel repeats itself.
        EXPECT_EQ(resized({0, 10, 20, 30}, 4, 1, 2, 2), Bytes({0, 20, 0, 20}));
        EXPECT_EQ(resized({77}, 1, 1, 3, 3), Bytes(9, 77));
    }
    unsigned char out[9];
    EXPECT_EQ(ResizeBilinear(nullptr, 2, 2, out, 3, 3), 0);
    EXPECT_EQ(ResizeBilinear(out, 0, 1, out, 3, 3), 0);
    EXPECT_EQ(ResizeBilinear(out, 1, 1, out, -3, 3), 0);
}
