// Binarisation, morphology, labelling and edge scores of the eye localiser,
// checked on small hand-made images (its resampling is in normalize_test).
#include "support/Common.h"
#include <cstdlib>

#include "locate/BinaryImage.h"
#include "locate/Components.h"
#include "locate/EyeEdgeScore.h"
#include "support/NaiveVsFast.h"

namespace {

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
