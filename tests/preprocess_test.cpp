#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>
#include <random>
#include <vector>

#include "preprocess/FaceMasks.h"
#include "preprocess/FacePreprocessor.h"
#include "preprocess/FaceWeight.h"
#include "preprocess/GammaCorrection.h"
#include "preprocess/LightingNormalization.h"
#include "preprocess/MeanFace.h"

namespace {

int CountMask(const unsigned char* mask)
{
    return static_cast<int>(std::count(mask, mask + kFacePixels, 255));
}

std::vector<unsigned char> RandomBytes(size_t n, std::mt19937& rng, int lo = 0, int hi = 255)
{
    std::uniform_int_distribution<int> byte(lo, hi);
    std::vector<unsigned char> v(n);
    for (auto& p : v)
        p = static_cast<unsigned char>(byte(rng));
    return v;
}

// ApplyGamma written pixel by pixel, as the tabulated version must behave.
std::vector<unsigned char> GammaPerPixel(std::vector<unsigned char> img, double g)
{
    const int mx = *std::max_element(img.begin(), img.end());
    if (mx == 0)
        return img;
    const double k = 255.0 / std::pow(static_cast<double>(mx), 1.0 / g);
    for (auto& p : img)
        if (p != 0)
            p = static_cast<unsigned char>(static_cast<int>(std::pow(static_cast<double>(p), 1.0 / g) * k));
    return img;
}

} // namespace

TEST(FaceMasks, SizesShapesAndSelection)
{
    EXPECT_EQ(CountMask(BuiltInFaceMask(1)), 3462);
    EXPECT_EQ(CountMask(BuiltInFaceMask(2)), 3078);
    EXPECT_EQ(CountMask(BuiltInFaceMask(3)), 2898);
    EXPECT_EQ(BuiltInFaceMask(0), nullptr);
    EXPECT_EQ(BuiltInFaceMask(4), nullptr);
    for (int kind = 1; kind <= 3; ++kind) {
        const unsigned char* m = BuiltInFaceMask(kind);
        for (int r = 0; r < 64; ++r)
            for (int c = 0; c < 64; ++c) {
                ASSERT_TRUE(m[r * 64 + c] == 0 || m[r * 64 + c] == 255);
                ASSERT_EQ(m[r * 64 + c], m[r * 64 + 63 - c]) << "mask " << kind << " row " << r;
            }
    }

    CFacePreprocessor pre;
    std::vector<double> values(4096, 1.0);
    EXPECT_EQ(pre.CompactMasked(values.data()), 3078); // mask 2 after construction
    pre.SetMask(3);
    EXPECT_EQ(pre.CompactMasked(values.data()), 2898);
    pre.SetMask(7); // unknown kinds keep the mask
    EXPECT_EQ(pre.CompactMasked(values.data()), 2898);
    pre.SetMask(1);
    EXPECT_EQ(pre.CompactMasked(values.data()), 3462);
    EXPECT_EQ(pre.RowStart(20), 0);
    EXPECT_EQ(pre.RowEnd(20), 63);
}

TEST(FacePreprocessorVectors, CompactExpandRoundTrip)
{
    std::mt19937 rng(11);
    const auto face = RandomBytes(4096, rng);
    CFacePreprocessor pre;
    pre.SetMask(3);
    std::vector<double> values(face.begin(), face.end());
    const int n = pre.CompactMasked(values.data());
    ASSERT_EQ(n, 2898);
    // The tail beyond n is left as it was.
    for (int i = n; i < 4096; ++i)
        ASSERT_EQ(values[i], face[i]);
    std::vector<unsigned char> back(4096, 1);
    pre.ExpandMasked(values.data(), back.data());
    const unsigned char* mask = BuiltInFaceMask(3);
    for (int i = 0; i < 4096; ++i)
        ASSERT_EQ(back[i], mask[i] ? face[i] : 0) << i;

    // Values are truncated toward zero and held to the byte range.
    std::vector<double> odd(4096, 0.0);
    odd[0] = 12.99;
    odd[1] = -3.5;
    odd[2] = 300.0;
    odd[3] = std::nan("");
    pre.ExpandMasked(odd.data(), back.data());
    EXPECT_EQ(back[23], 12); // row 0 of mask 3 starts at column 23
    EXPECT_EQ(back[24], 0);
    EXPECT_EQ(back[25], 255);
    EXPECT_EQ(back[26], 0);
}

TEST(FacePreprocessorVectors, SplitRowsSamplesEachMaskRow)
{
    // Each pixel holds its column, so a sample shows which column it came from.
    CFacePreprocessor pre;
    pre.SetMask(3);
    std::vector<double> values(4096);
    for (int i = 0; i < 4096; ++i)
        values[i] = i % 64;
    pre.CompactMasked(values.data());
    std::vector<unsigned char> odd(1024, 1), even(1024, 1);
    pre.SplitRows(values.data(), odd.data(), even.data());
    // Face row 0: columns 23..40, width 18; sample k is value (18 k) div 32.
    const int firstSamples[10] = {0, 0, 1, 1, 2, 2, 3, 3, 4, 5};
    for (int k = 0; k < 10; ++k)
        EXPECT_EQ(even[k], 23 + firstSamples[k]) << k;
    EXPECT_EQ(even[31], 23 + (18 * 31) / 32);
    // Face row 1 (odd image row 0): columns 18..45, width 28.
    for (int k = 0; k < 32; ++k)
        EXPECT_EQ(odd[k], 18 + (28 * k) / 32) << k;
    // Face row 20 (even image row 10): columns 4..59, width 56.
    for (int k = 0; k < 32; ++k)
        EXPECT_EQ(even[10 * 32 + k], 4 + (56 * k) / 32) << k;
    // Face row 63 (odd image row 31): columns 19..44.
    EXPECT_EQ(odd[31 * 32], 19);
    EXPECT_EQ(odd[31 * 32 + 31], 19 + (26 * 31) / 32);
}

TEST(FaceWeightTable, ShapeAndFixedRows)
{
    const unsigned char row3[56] = {235, 214, 179, 143, 124, 121, 123, 129, 138, 146, 152, 158, 162, 166,
                                    173, 180, 191, 206, 217, 223, 229, 236, 244, 249, 251, 253, 0,   0,
                                    0,   0,   253, 251, 248, 244, 237, 229, 223, 217, 206, 192, 181, 173,
                                    166, 163, 158, 152, 145, 138, 128, 123, 120, 124, 143, 179, 214, 235};
    const unsigned char row7[56] = {75,  90,  230, 0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   248,
                                    245, 243, 240, 234, 222, 209, 201, 200, 194, 147, 69,  42,  29,  35,
                                    35,  29,  42,  70,  146, 194, 201, 200, 209, 222, 235, 241, 243, 245,
                                    249, 0,   0,   0,   0,   0,   0,   0,   0,   0,   0,   230, 90,  76};
    EXPECT_EQ(0, std::memcmp(kFaceWeight + 3 * 56, row3, 56));
    EXPECT_EQ(0, std::memcmp(kFaceWeight + 7 * 56, row7, 56));
    EXPECT_EQ(std::count(kFaceWeight, kFaceWeight + 22 * 56, 0), 444);
    for (int j = 0; j < 56; ++j) {
        EXPECT_EQ(kFaceWeight[j], 0);
        EXPECT_EQ(kFaceWeight[21 * 56 + j], 0);
    }
    // The middles of both eye regions (face row 13, columns 11 and 52) are untouched.
    EXPECT_EQ(kFaceWeight[7 * 56 + 7], 0);
    EXPECT_EQ(kFaceWeight[7 * 56 + 48], 0);
    // Nearly symmetric: mirrored entries agree within a few levels.
    int far = 0;
    for (int i = 0; i < 22; ++i)
        for (int j = 0; j < 28; ++j)
            far += std::abs(kFaceWeight[i * 56 + j] - kFaceWeight[i * 56 + 55 - j]) > 4;
    EXPECT_LE(far, 4);
}

TEST(FaceWeightTable, ApplyScalesOnlyWeightedPixels)
{
    std::vector<unsigned char> face(4096, 255);
    ApplyFaceWeight(face.data(), 4096);
    for (int r = 0; r < 64; ++r)
        for (int c = 0; c < 64; ++c) {
            const bool inBand = r >= 6 && r <= 27 && c >= 4 && c <= 59;
            const int w = inBand ? kFaceWeight[(r - 6) * 56 + c - 4] : 0;
            // 255 x w / 255 = w; an entry of 0 leaves the pixel untouched.
            ASSERT_EQ(face[r * 64 + c], w ? w : 255) << r << "," << c;
        }
    std::fill(face.begin(), face.end(), 100);
    ApplyFaceWeight(face.data(), 0);
    EXPECT_EQ(face[(6 + 3) * 64 + 4], 100 * 235 / 255); // 92, truncated
    EXPECT_EQ(face[(6 + 7) * 64 + 4 + 26], 100 * 29 / 255);
    EXPECT_EQ(face[(6 + 7) * 64 + 4 + 5], 100);
}

TEST(MeanFaceTable, ZeroExactlyOutsideMask3)
{
    const unsigned char* mask = BuiltInFaceMask(3);
    double sum = 0;
    for (int i = 0; i < 4096; ++i) {
        if (mask[i])
            ASSERT_GT(kMeanFace[i], 0) << i;
        else
            ASSERT_EQ(kMeanFace[i], 0) << i;
        sum += kMeanFace[i];
    }
    EXPECT_GT(sum / 2898, 100.0); // a normalised face, not a placeholder
    EXPECT_LT(sum / 2898, 200.0);
}

TEST(LightingNormalization, PercentileBounds)
{
    CFacePreprocessor pre;
    std::vector<double> v(100);
    std::iota(v.begin(), v.end(), 0.0);
    int lo = 0, hi = 0;
    pre.PercentileBounds(v.data(), 100, 0.02, 0.98, lo, hi);
    EXPECT_EQ(lo, 3);  // bins 0..2 hold 3 % > 2 %
    EXPECT_EQ(hi, 96); // bins 97..99 hold 3 %
    // Out-of-range values fall into the end bins.
    std::vector<double> w = {-5.0, -1.0, 0.5, 300.0, 1000.0, 255.0};
    pre.PercentileBounds(w.data(), 6, 0.4, 0.6, lo, hi);
    EXPECT_EQ(lo, 1);   // bin 0 holds 3 of 6
    EXPECT_EQ(hi, 254); // bin 255 holds 3 of 6
    // With 2898 values the 2 % cut-off lies past 57.96 values.
    std::vector<double> face(2898, 200.0);
    std::fill(face.begin(), face.begin() + 57, 10.0);
    pre.PercentileBounds(face.data(), 2898, 0.02, 0.98, lo, hi);
    EXPECT_EQ(lo, 200 + 1); // 57 values are not enough; the 200s push past
    face[57] = 11.0;
    pre.PercentileBounds(face.data(), 2898, 0.02, 0.98, lo, hi);
    EXPECT_EQ(lo, 12);
    pre.PercentileBounds(face.data(), 0, 0.02, 0.98, lo, hi);
    EXPECT_EQ(lo, 256);
    EXPECT_EQ(hi, -1);
}

TEST(LightingNormalization, StretchRescaleScalePower)
{
    std::vector<double> v = {5.0, 10.0, 15.0, 20.0, 25.0};
    EXPECT_EQ(StretchRange(v.data(), 5, 10.0, 20.0), 1);
    EXPECT_EQ(v[0], 0.0);
    EXPECT_EQ(v[1], 0.0);
    EXPECT_DOUBLE_EQ(v[2], 5.0 / 11.0 * 255.0);
    EXPECT_DOUBLE_EQ(v[3], 10.0 / 11.0 * 255.0); // the upper bound lands below 255
    EXPECT_EQ(v[4], 255.0);
    std::vector<double> same = {1.0, 2.0};
    EXPECT_EQ(StretchRange(same.data(), 2, 20.0, 20.0), 0);
    EXPECT_EQ(same[0], 1.0);

    std::vector<double> r = {10.0, 20.0, 30.0};
    RescaleRange(r.data(), 3, 0.0, 220.0);
    EXPECT_DOUBLE_EQ(r[0], 0.0);
    EXPECT_DOUBLE_EQ(r[1], 10.0 / 21.0 * 220.0);
    EXPECT_DOUBLE_EQ(r[2], 20.0 / 21.0 * 220.0);

    std::vector<double> s = {2.0, 3.0};
    ScaleValues(s.data(), 2, 1.5);
    PowerValues(s.data(), 2, 2.0);
    EXPECT_DOUBLE_EQ(s[0], 9.0);
    EXPECT_DOUBLE_EQ(s[1], 20.25);
    EXPECT_EQ(MeanValue(s.data(), 0), 0.0);
    EXPECT_DOUBLE_EQ(MeanValue(s.data(), 2), 14.625);
}

TEST(LightingNormalization, StoppingRules)
{
    CFacePreprocessor pre;
    std::mt19937 rng(12);
    // A mean already within 1 of 154: the stretch is the only change.
    std::vector<double> near(2898);
    for (size_t i = 0; i < near.size(); ++i)
        near[i] = 104.0 + static_cast<double>(i % 101); // 104..204, mean 154
    std::vector<double> stretched = near;
    int lo = 0, hi = 0;
    pre.PercentileBounds(stretched.data(), 2898, 0.02, 0.98, lo, hi);
    StretchRange(stretched.data(), 2898, lo, hi);
    pre.NormalizeLighting(near.data(), 2898);
    EXPECT_EQ(near, stretched);

    // A dark face is driven toward 154 and ends in 0..220.
    std::vector<double> dark(2898);
    for (auto& x : dark)
        x = static_cast<double>(rng() % 60);
    pre.NormalizeLighting(dark.data(), 2898);
    const double m = MeanValue(dark.data(), 2898);
    EXPECT_NEAR(m, 154.0, 25.0);
    for (double x : dark) {
        ASSERT_GE(x, 0.0);
        ASSERT_LT(x, 220.0);
    }

    // All black, and uniform grey: no NaN, every value ends at 0.
    for (double level : {0.0, 90.0}) {
        std::vector<double> flat(2898, level);
        pre.NormalizeLighting(flat.data(), 2898);
        for (double x : flat)
            ASSERT_EQ(x, 0.0) << "level " << level;
    }
    pre.NormalizeLighting(nullptr, 10);
    pre.NormalizeLighting(dark.data(), 0);
}

TEST(LightingNormalization, LevelwiseRunMatchesTheLiteralSteps)
{
    // The steps written out over every value, as the normalisation is defined.
    const auto literal = [](CFacePreprocessor& pre, std::vector<double> v) {
        const int n = static_cast<int>(v.size());
        double m = MeanValue(v.data(), n);
        int lo = 0, hi = 0;
        pre.PercentileBounds(v.data(), n, 0.02, 0.98, lo, hi);
        StretchRange(v.data(), n, lo, hi);
        if (std::fabs(154.0 - m) <= 1.0)
            return v;
        double prev = 0.0;
        for (int pass = 0;; ++pass) {
            if (pass > 0 && std::fabs(prev - m) <= 0.01)
                return v;
            ScaleValues(v.data(), n, 154.0 / m);
            PowerValues(v.data(), n, m * 0.006493506493506494);
            RescaleRange(v.data(), n, 0.0, 220.0);
            prev = m;
            m = MeanValue(v.data(), n);
            if (std::fabs(154.0 - m) <= 1.0)
                return v;
        }
    };
    CFacePreprocessor pre;
    std::mt19937 rng(17);
    for (int trial = 0; trial < 60; ++trial) {
        const int lo = static_cast<int>(rng() % 200), span = 1 + static_cast<int>(rng() % 200);
        std::vector<double> v(2898);
        for (auto& x : v)
            x = std::min(255, lo + static_cast<int>(rng() % span));
        if (trial % 4 == 3)
            v[5] += 0.25; // not grey levels: the per-value path
        auto fast = v;
        pre.NormalizeLighting(fast.data(), 2898);
        ASSERT_EQ(fast, literal(pre, v)) << "trial " << trial;
    }
}

TEST(GammaCorrection, TabulatedCurveMatchesThePerPixelFormula)
{
    std::mt19937 rng(13);
    for (double g : {0.5, 0.84, 0.98, 1.0, 1.02, 1.3, 2.0}) {
        for (int trial = 0; trial < 5; ++trial) {
            const auto img = RandomBytes(1024, rng, 0, 40 + 40 * trial);
            const auto ref = RandomBytes(1024, rng);
            auto fast = img;
            ApplyGamma(fast.data(), 1024, g);
            const auto slow = GammaPerPixel(img, g);
            ASSERT_EQ(fast, slow) << "gamma " << g;
            double sum = 0;
            for (int i = 0; i < 1024; ++i)
                sum += (slow[i] - ref[i]) * (slow[i] - ref[i]);
            ASSERT_EQ(GammaDistance(img.data(), ref.data(), 1024, g), std::sqrt(sum));
        }
    }
    // Hand values. Gamma 1 scales by k = 255 / 100, which as a double lies just
    // below 2.55, so even the brightest pixel truncates to 254 ("about 255").
    std::vector<unsigned char> a = {0, 50, 100};
    ApplyGamma(a.data(), 3, 1.0);
    EXPECT_EQ(a, (std::vector<unsigned char>{0, 127, 254}));
    // Gamma 2 takes square roots: k = 25.5 exactly, 5 x 25.5 = 127.5.
    std::vector<unsigned char> b = {0, 25, 100};
    ApplyGamma(b.data(), 3, 2.0);
    EXPECT_EQ(b, (std::vector<unsigned char>{0, 127, 255}));
    std::vector<unsigned char> zero(16, 0);
    ApplyGamma(zero.data(), 16, 0.0);
    EXPECT_EQ(zero, std::vector<unsigned char>(16, 0));
}

TEST(GammaCorrection, WalkFollowsTheDistanceDownhill)
{
    std::mt19937 rng(14);
    // A face that already equals its reference keeps gamma 1.0.
    auto face = RandomBytes(1024, rng, 1, 255);
    face[0] = 255;
    const auto same = face;
    EXPECT_EQ(FitGamma(face.data(), same.data(), 32, 32), 1.0);
    EXPECT_EQ(face, same);

    // Against a reference made with a known gamma the walk goes that way and
    // stops at a local minimum of the distance.
    for (double truth : {0.8, 1.24}) {
        auto img = RandomBytes(1024, rng, 1, 255);
        img[0] = 255;
        auto ref = img;
        ApplyGamma(ref.data(), 1024, truth);
        const auto before = img;
        const double g = FitGamma(img.data(), ref.data(), 32, 32);
        EXPECT_NEAR(g, truth, 0.03);
        EXPECT_EQ(img, GammaPerPixel(before, g));
        const double dg = GammaDistance(before.data(), ref.data(), 1024, g);
        EXPECT_LE(dg, GammaDistance(before.data(), ref.data(), 1024, g - 0.02));
        EXPECT_LE(dg, GammaDistance(before.data(), ref.data(), 1024, g + 0.02));
        // Every step from 1.0 toward g lowered the distance.
        const double step = g < 1.0 ? -0.02 : 0.02;
        double prev = GammaDistance(before.data(), ref.data(), 1024, 1.0);
        for (double x = 1.0 + step; (step < 0) ? x >= g - 1e-9 : x <= g + 1e-9; x += step) {
            const double d = GammaDistance(before.data(), ref.data(), 1024, x);
            EXPECT_LT(d, prev) << x;
            prev = d;
        }
    }
}

TEST(GammaCorrection, BlendSeamsTouchesOnlyTheSeams)
{
    std::mt19937 rng(15);
    const auto face = RandomBytes(4096, rng);
    auto blended = face;
    BlendSeams(blended.data(), 64, 64);
    int changed = 0;
    for (int r = 0; r < 64; ++r)
        for (int c = 0; c < 64; ++c) {
            if (blended[r * 64 + c] == face[r * 64 + c])
                continue;
            ++changed;
            ASSERT_TRUE((r >= 30 && r <= 33) || (c >= 30 && c <= 33)) << r << "," << c;
        }
    EXPECT_GT(changed, 200);
    // Equal neighbours average to themselves.
    std::vector<unsigned char> flat(4096, 120);
    BlendSeams(flat.data(), 64, 64);
    EXPECT_EQ(flat, std::vector<unsigned char>(4096, 120));

    // Hand case on 4 x 4 (seams between rows 1 and 2 and columns 1 and 2).
    // The zero at (1, 1) is copied to (2, 1) by the interleave; the neighbour
    // averaging then leaves (1, 0) and (2, 0) alone instead of halving them.
    std::vector<unsigned char> s = {10, 20, 30, 40,
                                    50, 0, 70, 80,
                                    90, 100, 110, 120,
                                    130, 140, 150, 160};
    BlendSeams(s.data(), 4, 4);
    const std::vector<unsigned char> expected = {43, 36, 36, 38,
                                                 90, 71, 57, 62,
                                                 103, 117, 117, 124,
                                                 110, 125, 150, 160};
    EXPECT_EQ(s, expected);
}

TEST(GammaCorrection, CorrectGammaKeepsBlackAndBlendsOnlySeams)
{
    CFacePreprocessor pre;
    std::vector<unsigned char> black(4096, 0);
    pre.CorrectGamma(black.data(), nullptr, 64, 64);
    EXPECT_EQ(black, std::vector<unsigned char>(4096, 0));

    // A black quadrant stays black (outside its seam rows and columns).
    std::mt19937 rng(16);
    auto face = RandomBytes(4096, rng, 1, 255);
    for (int r = 0; r < 32; ++r)
        for (int c = 0; c < 32; ++c)
            face[r * 64 + c] = 0;
    pre.CorrectGamma(face.data(), nullptr, 64, 64);
    for (int r = 0; r < 30; ++r)
        for (int c = 0; c < 30; ++c)
            ASSERT_EQ(face[r * 64 + c], 0);
    // Without a mean face of that size nothing happens.
    std::vector<unsigned char> small(100, 50);
    pre.CorrectGamma(small.data(), nullptr, 10, 10);
    EXPECT_EQ(small, std::vector<unsigned char>(100, 50));
}
