// The eye localiser: eye selection on synthetic eye patches (the box is 48 x 48
// inside a 64 x 64 image, so the patch is the box itself and patch positions map
// one to one); its binarisation, morphology, labelling and edge scores on small
// hand-made images (its resampling is in face_test).
#include "support/Common.h"

#include "locate/BinaryImage.h"
#include "locate/Components.h"
#include "locate/EyeEdgeScore.h"
#include "locate/EyeLocator.h"
#include "support/NaiveVsFast.h"

namespace {

constexpr int kSide = 64;
constexpr int kBoxX = 8;
constexpr int kBoxY = 8;

struct Scene {
    std::vector<unsigned char> pixels = std::vector<unsigned char>(kSide * kSide, 200);

    // Fills patch rows top..bottom, columns left..right (inclusive) of the box.
    void Fill(int top, int bottom, int left, int right, unsigned char value)
    {
        for (int r = top; r <= bottom; ++r)
            for (int c = left; c <= right; ++c)
                pixels[(kBoxY + r) * kSide + kBoxX + c] = value;
    }
};

FACE_LOCATION BoxRecord(int x, int y, int width, int height)
{
    FACE_LOCATION rec{};
    rec.nEye1X = rec.nEye2X = x;
    rec.nEye1Y = rec.nEye2Y = y;
    rec.nEye1Width = rec.nEye2Width = width;
    rec.nEye1Height = rec.nEye2Height = height;
    return rec;
}

CPoint Locate(const Scene& s, FACE_LOCATION rec)
{
    CPoint eye(123, 456);
    LocateEye(s.pixels.data(), kSide, kSide, rec, eye, 1);
    return eye;
}

std::pair<int, int> At(const CPoint& p)
{
    return {p.x, p.y};
}

// Patch point (column, row) in image coordinates.
CPoint Image(int column, int row)
{
    return CPoint(kBoxX + column, kBoxY + row);
}

// Dark regions (level 10) on a grey patch, some ringed by a bright
// checkerboard (strong edges); after closing and opening a block shrinks by one
// pixel on every side and its centre stays.
TEST(LocateEye, PicksTheRegionThatPassesBrowPositionShapeAndEdgeTests)
{
    struct Box {
        int top, bottom, left, right;
    };
    const struct {
        const char* scene;
        std::vector<Box> dark;
        Box checker; // a checkerboard over the box leaves the dark pixels dark (empty: none)
        int x, y;    // the eye in patch coordinates, or none (-1)
    } cases[] = {
        // 90 pixels, exactly the darkest share: chosen whatever its score.
        {"one region, no brow", {{25, 33, 20, 29}}, {0, -1, 0, -1}, (21 + 28) / 2, (26 + 32) / 2},
        // A brow (20 wide, bottom row 6) and one other region: the other one.
        {"brow and eye", {{5, 6, 10, 29}, {25, 29, 15, 24}}, {0, -1, 0, -1}, (15 + 24) / 2, (25 + 29) / 2},
        // With a brow, a dark spot above row 12 is not chosen by its (strong) score.
        {"brow, textured spot high up, eye", {{2, 3, 5, 24}, {4, 8, 34, 37}, {26, 28, 30, 39}}, {0, 13, 30, 45},
         (30 + 39) / 2, (26 + 28) / 2},
        // Without a brow the strongest edges win.
        {"plain region, ringed region", {{30, 34, 6, 15}, {30, 34, 30, 39}}, {24, 40, 26, 43}, (31 + 38) / 2,
         (31 + 33) / 2},
        // 2 x 23: height over width far above 1.75.
        {"tall thin regions", {{14, 36, 10, 11}, {14, 36, 30, 31}}, {0, -1, 0, -1}, -1, -1},
        // Below the brow rows a region three times as wide as high (by extents)
        // is too flat, whatever its edges; one column narrower it wins.
        {"ringed 4 x 12", {{30, 34, 4, 9}, {30, 34, 26, 38}}, {24, 40, 22, 42}, (5 + 8) / 2, (31 + 33) / 2},
        {"ringed 4 x 11", {{30, 34, 4, 9}, {30, 34, 26, 37}}, {24, 40, 22, 42}, (27 + 36) / 2, (31 + 33) / 2},
    };
    for (const auto& c : cases) {
        Scene s;
        for (const Box& b : c.dark)
            s.Fill(b.top, b.bottom, b.left, b.right, 10);
        for (int r = c.checker.top; r <= c.checker.bottom; ++r)
            for (int col = c.checker.left; col <= c.checker.right; ++col)
                if ((r + col) % 2 == 0 && s.pixels[(kBoxY + r) * kSide + kBoxX + col] != 10)
                    s.Fill(r, r, col, col, 255);
        const CPoint expected = c.x < 0 ? CPoint(-1, -1) : Image(c.x, c.y);
        EXPECT_EQ(At(Locate(s, BoxRecord(kBoxX, kBoxY, 48, 48))), At(expected)) << c.scene;
    }
}

TEST(LocateEye, WidthIsRoundedOnceAndWrittenBack)
{
    Scene s;
    s.Fill(25, 33, 20, 29, 10);
    FACE_LOCATION rec = BoxRecord(kBoxX, kBoxY, 21, 30);
    rec.nEye2Width = 20;
    CPoint first, second;
    LocateEyes(s.pixels.data(), kSide, kSide, rec, first, second);
    EXPECT_EQ(rec.nEye1Width, 22);
    EXPECT_EQ(rec.nEye2Width, 20);
    rec.nEye2Width = 24;
    LocateEye(s.pixels.data(), kSide, kSide, rec, second, 2);
    EXPECT_EQ(rec.nEye2Width, 24);
    rec.nEye1Width = 23;
    LocateEye(s.pixels.data(), kSide, kSide, rec, first, 1);
    EXPECT_EQ(rec.nEye1Width, 24);
}

TEST(LocateEye, BoxesAreClippedToTheImage)
{
    Scene s;
    s.Fill(25, 33, 20, 29, 10);
    // Reaches 20 pixels past the top-left corner: the part inside is the
    // image's own 44 x 44 top-left block, which still holds the whole blob.
    const CPoint clipped = Locate(s, BoxRecord(-20, -20, 64, 64));
    EXPECT_NEAR(clipped.x, Image(24, 0).x, 2);
    EXPECT_NEAR(clipped.y, Image(0, 29).y, 2);

    for (const FACE_LOCATION& outside :
         {BoxRecord(kSide, 0, 20, 20), BoxRecord(-40, 0, 40, 20), BoxRecord(0, kSide + 5, 8, 8),
          BoxRecord(0, 0, 0, 10), BoxRecord(0, 0, 8, -3),
          BoxRecord(INT32_MAX - 10, INT32_MAX - 10, INT32_MAX, INT32_MAX)}) {
        const CPoint eye = Locate(s, outside);
        EXPECT_EQ(At(eye), At(CPoint(-1, -1)));
    }

    CPoint eye(5, 5);
    FACE_LOCATION rec = BoxRecord(0, 0, 8, 8);
    LocateEye(nullptr, kSide, kSide, rec, eye, 1);
    EXPECT_EQ(eye.x, -1);
    LocateEye(s.pixels.data(), kSide, kSide, rec, eye, 3);
    EXPECT_EQ(eye.x, -1);
}

TEST(LocateEye, BoxesFarLargerThan4096PixelsAreResampledFromTheImage)
{
    const int side = 400;
    std::vector<unsigned char> img(side * side, 180);
    for (int r = 250; r < 350; ++r) // 120 x 100: about 170 patch pixels
        for (int c = 100; c < 220; ++c)
            img[r * side + c] = 20;
    FACE_LOCATION rec = BoxRecord(0, 0, side, side);
    CPoint eye;
    LocateEye(img.data(), side, side, rec, eye, 1);
    EXPECT_NEAR(eye.x, 160, 10); // one patch pixel is 8.3 image pixels
    EXPECT_NEAR(eye.y, 300, 10);
}

using Bytes = std::vector<unsigned char>;

Bytes FromRows(const std::vector<const char*>& rows)
{
    // '#' is a marked pixel (255), anything else background (0).
    Bytes out;
    for (const char* r : rows)
        for (const char* p = r; *p; ++p)
            out.push_back(*p == '#' ? 255 : 0);
    return out;
}

TEST(BinarizeDarkest, MarksTheDarkestShareIncludingTheWholeThresholdLevel)
{
    // 100 pixels: 3 at level 5 (3 %), 1 at level 7 (4 %), the rest 100: the
    // four darkest are marked. A first level that alone reaches 3.9 % is the
    // threshold. A flat patch is all threshold level: everything is marked.
    Bytes img(100, 100), exact(1000, 90), flat(48 * 48, 0);
    img[10] = img[20] = img[30] = 5;
    img[40] = 7;
    for (int i = 0; i < 39; ++i)
        exact[i * 7] = 4;
    BinarizeDarkest(img.data(), 10, 10);
    BinarizeDarkest(exact.data(), 100, 10);
    BinarizeDarkest(flat.data(), 48, 48);
    for (size_t i = 0; i < img.size(); ++i)
        EXPECT_EQ(img[i], i % 10 == 0 && i >= 10 && i <= 40 ? 255 : 0) << i;
    for (size_t i = 0; i < exact.size(); ++i)
        EXPECT_EQ(exact[i], i % 7 == 0 && i < 39 * 7 ? 255 : 0) << i;
    EXPECT_EQ(flat, Bytes(48 * 48, 255));
}

TEST(Morphology, DilationAndErosionAlongEachDirectionWithTheirBorders)
{
    Bytes img = FromRows({".....", ".....", "..#..", ".....", "#...."});
    ASSERT_EQ(DilateBinary(img.data(), 5, 5, kMorphHorizontal), 1);
    // The corner pixel sits in column 0, which horizontal dilation clears; its
    // neighbour in column 1 picks it up.
    EXPECT_EQ(img, FromRows({".....", ".....", ".###.", ".....", ".#..."}));
    ASSERT_EQ(DilateBinary(img.data(), 5, 5, kMorphVertical), 1);
    EXPECT_EQ(img, FromRows({".....", ".###.", ".###.", ".###.", "....."}));

    ASSERT_EQ(ErodeBinary(img.data(), 5, 5, kMorphHorizontal), 1);
    // Columns 0 and 4 and the last row become marked; inside, only the middle
    // column of the block survives.
    EXPECT_EQ(img, FromRows({"#...#", "#.#.#", "#.#.#", "#.#.#", "#####"}));
    ASSERT_EQ(ErodeBinary(img.data(), 5, 5, kMorphVertical), 1);
    // Row 3 keeps its middle pixel: the row below it was set by the last step.
    EXPECT_EQ(img, FromRows({"#####", "#...#", "#.#.#", "#.#.#", "#####"}));
    // Vertical steps cover the border columns too.
    img = FromRows({".....", ".....", "#...#", ".....", "....."});
    ASSERT_EQ(DilateBinary(img.data(), 5, 5, kMorphVertical), 1);
    EXPECT_EQ(img, FromRows({".....", "#...#", "#...#", "#...#", "....."}));
}

TEST(Morphology, RejectsNonBinaryPixelsAndLeavesTheImageAlone)
{
    Bytes img = FromRows({"....", ".#..", "....", "...."});
    img[6] = 17;
    const Bytes before = img;
    EXPECT_EQ(DilateBinary(img.data(), 4, 4, kMorphHorizontal), 0);
    EXPECT_EQ(ErodeBinary(img.data(), 4, 4, kMorphVertical), 0);
    EXPECT_EQ(img, before);
    EXPECT_EQ(DilateBinary(nullptr, 4, 4, kMorphHorizontal), 0);
    EXPECT_EQ(ErodeBinary(img.data(), 4, 4, 2), 0);
}

TEST(LabelComponents, ConnectivityRasterOrderAndShapesNeedingTheBackwardPass)
{
    // A U whose right arm is only reached through the bottom, a diagonal
    // pair, and marks on the border that are never labelled.
    Bytes img = FromRows({"#.......",
                          ".#.#..#.",
                          ".#.#....",
                          ".###.#..",
                          "......#.",
                          "........",
                          ".#......",
                          "#......#"});
    Bytes four = img;
    EXPECT_EQ(LabelComponents(img.data(), 8, 8, 8), 4);
    EXPECT_EQ(img, Bytes({255, 0, 0, 0, 0, 0, 0, 0,
                          0, 1, 0, 1, 0, 0, 2, 0,
                          0, 1, 0, 1, 0, 0, 0, 0,
                          0, 1, 1, 1, 0, 3, 0, 0,
                          0, 0, 0, 0, 0, 0, 3, 0,
                          0, 0, 0, 0, 0, 0, 0, 0,
                          0, 4, 0, 0, 0, 0, 0, 0,
                          255, 0, 0, 0, 0, 0, 0, 255}));
    EXPECT_EQ(LabelComponents(four.data(), 8, 8, 4), 5); // the diagonal pair splits
    EXPECT_EQ(four[3 * 8 + 5], 3);
    EXPECT_EQ(four[4 * 8 + 6], 4);

    const ComponentBox u = ComponentBounds(img.data(), 1, 8, 8), absent = ComponentBounds(img.data(), 9, 8, 8);
    EXPECT_EQ(std::vector<int>({u.top, u.bottom, u.left, u.right}), std::vector<int>({1, 3, 1, 3}));
    EXPECT_TRUE(absent.bottom < absent.top && absent.right < absent.left);

    Bytes tiny(4, 255);
    EXPECT_EQ(LabelComponents(tiny.data(), 2, 2, 8), 0); // no interior
}

TEST(LabelComponents, ManyRegionsAreCappedWithoutCorruptingTheImage)
{
    // 23 x 23 = 529 isolated pixels: more regions than byte labels.
    const int side = 48;
    Bytes img(side * side, 0);
    for (int r = 2; r <= 46; r += 2)
        for (int c = 2; c <= 46; c += 2)
            img[r * side + c] = 255;
    const Bytes before = img;
    EXPECT_EQ(LabelComponents(img.data(), side, side, 8), kMaxComponents);
    int seen = 0;
    for (int i = 0; i < side * side; ++i) {
        if (before[i] == 0) {
            ASSERT_EQ(img[i], 0) << i;
            continue;
        }
        ++seen;
        if (seen <= 254)
            ASSERT_EQ(img[i], seen) << "region " << seen << " keeps its raster-order label";
        else
            ASSERT_EQ(img[i], 255) << "regions past 254 stay unlabelled";
    }
    EXPECT_EQ(seen, 529);
}

// Kernels as tables (columns right minus left; rows top minus bottom, the
// middle column weighted twice), averaged over the window's pixels that have
// all eight neighbours.
double NaiveEdgeScore(const Bytes& img, int w, int h, int x, int y, int boxWidth, int boxHeight)
{
    static const int kx[3][3] = {{-1, 0, 1}, {-1, 0, 1}, {-1, 0, 1}};
    static const int ky[3][3] = {{1, 2, 1}, {0, 0, 0}, {-1, -2, -1}};
    double sum = 0.0;
    long count = 0;
    for (int r = y - boxHeight / 4; r < y - boxHeight / 4 + boxHeight / 2; ++r)
        for (int c = x - boxWidth / 4; c < x - boxWidth / 4 + boxWidth / 2; ++c) {
            if (r < 1 || c < 1 || r >= h - 1 || c >= w - 1)
                continue;
            int gx = 0, gy = 0;
            for (int i = 0; i < 3; ++i)
                for (int j = 0; j < 3; ++j) {
                    gx += kx[i][j] * img[(r + i - 1) * w + c + j - 1];
                    gy += ky[i][j] * img[(r + i - 1) * w + c + j - 1];
                }
            sum += std::abs(gx) + std::abs(gy);
            ++count;
        }
    return count ? sum / static_cast<double>(count) : std::numeric_limits<double>::quiet_NaN();
}

TEST(EyeEdgeScore, MeanGradientOverTheCountedWindowAndNanWithoutOne)
{
    struct Input {
        Bytes img;
        int w, h, x, y, bw, bh;
    };
    const auto make = [](std::mt19937& rng, int) {
        const int w = 3 + static_cast<int>(rng() % 20), h = 3 + static_cast<int>(rng() % 20);
        const auto coord = [&rng](int n) { return static_cast<int>(rng() % (n + 8)) - 4; };
        return Input{velmora_test::RandomBytes(static_cast<size_t>(w) * h, rng), w, h, coord(w), coord(h),
                     static_cast<int>(rng() % 16), static_cast<int>(rng() % 16)};
    };
    velmora_test::ExpectSameOnRandomCases(
        500, 8, make, [](const Input& i) { return EyeEdgeScore(i.img.data(), i.w, i.h, i.x, i.y, i.bw, i.bh); },
        [](const Input& i) { return NaiveEdgeScore(i.img, i.w, i.h, i.x, i.y, i.bw, i.bh); });

    // A horizontal step seen at a single pixel gives 90 + 180 + 90.
    Bytes rows(25, 0);
    for (int c = 0; c < 5; ++c)
        rows[3 * 5 + c] = rows[4 * 5 + c] = 90;
    EXPECT_DOUBLE_EQ(EyeEdgeScore(rows.data(), 5, 5, 2, 2, 2, 2), 360.0);
    EXPECT_TRUE(std::isnan(EyeEdgeScore(rows.data(), 5, 5, 0, 0, 2, 2))); // only border pixels
    EXPECT_TRUE(std::isnan(EyeEdgeScore(nullptr, 5, 5, 2, 2, 8, 8)));
}
} // namespace
