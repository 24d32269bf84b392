// Binarisation, morphology, labelling and edge scores of the eye localiser,
// checked on small hand-made images (its resampling is in normalize_test).
#include <cmath>
#include <vector>

#include <gtest/gtest.h>

#include "locate/BinaryImage.h"
#include "locate/Components.h"
#include "locate/EyeEdgeScore.h"

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
    // 100 pixels: 3 at level 5 (3 %), 1 at level 7 (4 %), the rest 100.
    Bytes img(100, 100);
    img[10] = img[20] = img[30] = 5;
    img[40] = 7;
    BinarizeDarkest(img.data(), 10, 10);
    int marked = 0;
    for (size_t i = 0; i < img.size(); ++i) {
        const bool dark = i == 10 || i == 20 || i == 30 || i == 40;
        EXPECT_EQ(img[i], dark ? 255 : 0) << i;
        marked += img[i] == 255;
    }
    EXPECT_EQ(marked, 4);

    // A first level that alone reaches 3.9 % is the threshold.
    Bytes exact(1000, 90);
    for (int i = 0; i < 39; ++i)
        exact[i * 7] = 4;
    BinarizeDarkest(exact.data(), 100, 10);
    int count = 0;
    for (unsigned char v : exact)
        count += v == 255;
    EXPECT_EQ(count, 39);

    // A flat patch is all threshold level: everything is marked.
    Bytes flat(48 * 48, 0);
    BinarizeDarkest(flat.data(), 48, 48);
    for (unsigned char v : flat)
        ASSERT_EQ(v, 255);
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

    const ComponentBox u = ComponentBounds(img.data(), 1, 8, 8);
    EXPECT_EQ(u.bottom, 3);
    EXPECT_EQ(u.top, 1);
    EXPECT_EQ(u.right, 3);
    EXPECT_EQ(u.left, 1);
    const ComponentBox absent = ComponentBounds(img.data(), 9, 8, 8);
    EXPECT_LT(absent.bottom, absent.top);
    EXPECT_LT(absent.right, absent.left);

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

TEST(EyeEdgeScore, MeanGradientOverTheCountedWindowAndNanWithoutOne)
{
    // Columns 0-1 are 0 and 2-4 are 90: |gx| = 270 next to the step, 0 beyond
    // it; gy = 0. Window for (2, 2) with an 8 x 8 box: rows 0..3, columns 0..3,
    // of which rows and columns 1..3 count.
    Bytes img(25, 0);
    for (int r = 0; r < 5; ++r)
        for (int c = 2; c < 5; ++c)
            img[r * 5 + c] = 90;
    EXPECT_DOUBLE_EQ(EyeEdgeScore(img.data(), 5, 5, 2, 2, 8, 8), (270.0 + 270.0 + 0.0) / 3.0);

    // The vertical kernel weights the middle column twice: a horizontal step
    // seen at a single pixel gives 90 + 180 + 90.
    Bytes rows(25, 0);
    for (int c = 0; c < 5; ++c)
        rows[3 * 5 + c] = rows[4 * 5 + c] = 90;
    EXPECT_DOUBLE_EQ(EyeEdgeScore(rows.data(), 5, 5, 2, 2, 2, 2), 360.0);

    // A window entirely on the border or outside counts nothing.
    EXPECT_TRUE(std::isnan(EyeEdgeScore(img.data(), 5, 5, 0, 0, 2, 2)));
    EXPECT_TRUE(std::isnan(EyeEdgeScore(img.data(), 5, 5, 100, 100, 8, 8)));
    EXPECT_TRUE(std::isnan(EyeEdgeScore(nullptr, 5, 5, 2, 2, 8, 8)));
}

} // namespace
