#include "support/Common.h"

#include "preprocess/FaceMasks.h"
#include "preprocess/FacePreprocessor.h"
#include "preprocess/FaceWeight.h"
#include "preprocess/GammaCorrection.h"
#include "preprocess/LightingNormalization.h"
#include "preprocess/MeanFace.h"
#include "support/NaiveVsFast.h"

using namespace velmora_test;

namespace {

using Bytes = std::vector<unsigned char>;

// ApplyGamma written pixel by pixel, as the tabulated version must behave.
Bytes GammaPerPixel(Bytes img, double g)
{
    const int mx = *std::max_element(img.begin(), img.end());
    const double k = 255.0 / std::pow(static_cast<double>(mx), 1.0 / g);
    for (auto& p : img)
        if (p != 0)
            p = static_cast<unsigned char>(static_cast<int>(std::pow(static_cast<double>(p), 1.0 / g) * k));
    return img;
}

// The lighting normalisation written out over every value, step by step.
std::vector<double> LiteralLighting(CFacePreprocessor& pre, std::vector<double> v)
{
    const int n = static_cast<int>(v.size());
    double m = MeanValue(v.data(), n), prev = 0.0;
    int lo = 0, hi = 0;
    pre.PercentileBounds(v.data(), n, 0.02, 0.98, lo, hi);
    StretchRange(v.data(), n, lo, hi);
    for (int pass = 0; std::fabs(154.0 - m) > 1.0 && (pass == 0 || std::fabs(prev - m) > 0.01); ++pass) {
        ScaleValues(v.data(), n, 154.0 / m);
        PowerValues(v.data(), n, m * 0.006493506493506494);
        RescaleRange(v.data(), n, 0.0, 220.0);
        prev = m;
        m = MeanValue(v.data(), n);
    }
    return v;
}

} // namespace

TEST(FaceMasks, SizesShapesAndSelection)
{
    const int sizes[3] = {3462, 3078, 2898};
    for (int kind = 1; kind <= 3; ++kind) {
        const unsigned char* m = BuiltInFaceMask(kind);
        EXPECT_EQ(std::count(m, m + kFacePixels, 255), sizes[kind - 1]);
        for (int i = 0; i < 4096; ++i) // binary and mirror-symmetric
            ASSERT_TRUE((m[i] == 0 || m[i] == 255) && m[i] == m[i - i % 64 + 63 - i % 64]) << kind << " " << i;
    }
    EXPECT_EQ(BuiltInFaceMask(0), nullptr);
    EXPECT_EQ(BuiltInFaceMask(4), nullptr);

    CFacePreprocessor pre;
    std::vector<double> values(4096, 1.0);
    EXPECT_EQ(pre.CompactMasked(values.data()), 3078); // mask 2 after construction
    // Unknown kinds (7) keep the mask.
    for (const auto& [kind, count] : {std::pair<int, int>{3, 2898}, {7, 2898}, {1, 3462}}) {
        pre.SetMask(kind);
        EXPECT_EQ(pre.CompactMasked(values.data()), count) << kind;
    }
    EXPECT_EQ(pre.RowStart(20), 0);
    EXPECT_EQ(pre.RowEnd(20), 63);
}

TEST(FacePreprocessorVectors, CompactExpandAndSplitRows)
{
    std::mt19937 rng(11);
    const auto face = RandomBytes(4096, rng);
    CFacePreprocessor pre;
    pre.SetMask(3);
    std::vector<double> values(face.begin(), face.end());
    const int n = pre.CompactMasked(values.data());
    ASSERT_EQ(n, 2898);
    for (int i = n; i < 4096; ++i) // the tail beyond n is left as it was
        ASSERT_EQ(values[i], face[i]);
    Bytes back(4096, 1);
    pre.ExpandMasked(values.data(), back.data());
    const unsigned char* mask = BuiltInFaceMask(3);
    for (int i = 0; i < 4096; ++i)
        ASSERT_EQ(back[i], mask[i] ? face[i] : 0) << i;

    // Values are truncated toward zero and held to the byte range; row 0 of
    // mask 3 starts at column 23.
    std::vector<double> extreme(4096, 0.0);
    std::copy_n(std::vector<double>{12.99, -3.5, 300.0, std::nan("")}.begin(), 4, extreme.begin());
    pre.ExpandMasked(extreme.data(), back.data());
    EXPECT_EQ(Bytes(back.begin() + 23, back.begin() + 27), Bytes({12, 0, 255, 0}));

    // Each pixel holds its column, so a split sample shows which column it came
    // from: sample k of a face row spanning `width` columns from `first` is
    // column first + (width k) div 32.
    for (int i = 0; i < 4096; ++i)
        values[i] = i % 64;
    pre.CompactMasked(values.data());
    Bytes odd(1024, 1), even(1024, 1);
    pre.SplitRows(values.data(), odd.data(), even.data());
    for (const auto& [half, imageRow, first, width] : {std::tuple{&even, 0, 23, 18}, {&odd, 0, 18, 28},
                                                       {&even, 10, 4, 56}, {&odd, 31, 19, 26}})
        for (int k = 0; k < 32; ++k)
            EXPECT_EQ((*half)[imageRow * 32 + k], first + width * k / 32) << imageRow << " " << k;
}

// The table itself is pinned by regenerating it (FaceTables.FaceWeightIsRegenerated).
TEST(FaceWeightTable, Application)
{
    // Entry w scales face pixel (6 + i, 4 + j) to p x w / 255, truncated; an
    // entry of 0 leaves the pixel untouched.
    for (int level : {255, 100}) {
        Bytes face(4096, static_cast<unsigned char>(level));
        ApplyFaceWeight(face.data(), level == 255 ? 4096 : 0); // the size is not read
        for (int r = 0; r < 64; ++r)
            for (int c = 0; c < 64; ++c) {
                const bool inBand = r >= 6 && r <= 27 && c >= 4 && c <= 59;
                const int w = inBand ? kFaceWeight[(r - 6) * 56 + c - 4] : 0;
                ASSERT_EQ(face[r * 64 + c], w ? level * w / 255 : level) << level << ": " << r << "," << c;
            }
    }
}

TEST(LightingNormalization, PercentileBoundsStretchRescaleScalePower)
{
    CFacePreprocessor pre;
    int lo = 0, hi = 0;
    std::vector<double> v(100);
    std::iota(v.begin(), v.end(), 0.0);
    pre.PercentileBounds(v.data(), 100, 0.02, 0.98, lo, hi);
    EXPECT_EQ(std::make_pair(lo, hi), std::make_pair(3, 96)); // bins 0..2 and 97..99 hold 3 % > 2 %
    // Out-of-range values fall into the end bins (0 and 255 hold 3 of 6 each).
    std::vector<double> w = {-5.0, -1.0, 0.5, 300.0, 1000.0, 255.0};
    pre.PercentileBounds(w.data(), 6, 0.4, 0.6, lo, hi);
    EXPECT_EQ(std::make_pair(lo, hi), std::make_pair(1, 254));
    // With 2898 values the 2 % cut-off lies past 57.96 values: 57 are not
    // enough and the 200s push past; 58 are.
    std::vector<double> face(2898, 200.0);
    std::fill(face.begin(), face.begin() + 57, 10.0);
    pre.PercentileBounds(face.data(), 2898, 0.02, 0.98, lo, hi);
    EXPECT_EQ(lo, 200 + 1);
    face[57] = 11.0;
    pre.PercentileBounds(face.data(), 2898, 0.02, 0.98, lo, hi);
    EXPECT_EQ(lo, 12);
    pre.PercentileBounds(face.data(), 0, 0.02, 0.98, lo, hi);
    EXPECT_EQ(std::make_pair(lo, hi), std::make_pair(256, -1));

    // Stretching: the upper bound lands below 255.
    std::vector<double> stretched = {5.0, 10.0, 15.0, 20.0, 25.0};
    EXPECT_EQ(StretchRange(stretched.data(), 5, 10.0, 20.0), 1);
    EXPECT_EQ(stretched, (std::vector<double>{0.0, 0.0, 5.0 / 11.0 * 255.0, 10.0 / 11.0 * 255.0, 255.0}));
    EXPECT_EQ(StretchRange(stretched.data(), 2, 20.0, 20.0), 0);
    EXPECT_EQ(stretched[0], 0.0);

    std::vector<double> r = {10.0, 20.0, 30.0};
    RescaleRange(r.data(), 3, 0.0, 220.0);
    EXPECT_EQ(r, (std::vector<double>{0.0, 10.0 / 21.0 * 220.0, 20.0 / 21.0 * 220.0}));
    std::vector<double> s = {2.0, 3.0};
    ScaleValues(s.data(), 2, 1.5);
    PowerValues(s.data(), 2, 2.0);
    EXPECT_EQ(s, (std::vector<double>{9.0, 20.25}));
    EXPECT_EQ(MeanValue(s.data(), 0), 0.0);
    EXPECT_DOUBLE_EQ(MeanValue(s.data(), 2), 14.625);
}

TEST(LightingNormalization, FollowsTheLiteralStepsAndStopsSafely)
{
    CFacePreprocessor pre;
    const auto normalized = [&pre](std::vector<double> v) {
        pre.NormalizeLighting(v.data(), static_cast<int>(v.size()));
        return v;
    };
    // Random ranges of grey levels (the levelwise path) or not (the per-value
    // path); trial 0 has its mean within 1 of 154 already (the stretch alone).
    ExpectSameOnRandomCases(
        60, 17,
        [](std::mt19937& rng, int trial) {
            const int lo = trial == 0 ? 104 : static_cast<int>(rng() % 200);
            const int span = trial == 0 ? 101 : 1 + static_cast<int>(rng() % 200);
            std::vector<double> v(2898);
            for (size_t i = 0; i < v.size(); ++i)
                v[i] = std::min(255, lo + static_cast<int>(trial == 0 ? i % 101 : rng() % span));
            v[5] += trial % 4 == 3 ? 0.25 : 0.0;
            return v;
        },
        normalized, [&pre](const std::vector<double>& v) { return LiteralLighting(pre, v); });

    // All black, and uniform grey: no NaN, every value ends at 0.
    std::vector<double> grey(2898, 90.0);
    for (double level : {0.0, 90.0})
        EXPECT_EQ(normalized(std::vector<double>(2898, level)), std::vector<double>(2898, 0.0)) << level;
    pre.NormalizeLighting(nullptr, 10);
    pre.NormalizeLighting(grey.data(), 0);
    EXPECT_EQ(grey, std::vector<double>(2898, 90.0));
}

TEST(GammaCorrection, TabulatedCurveMatchesThePerPixelFormulaAndTheWalkGoesDownhill)
{
    const double gammas[] = {0.5, 0.84, 0.98, 1.0, 1.02, 1.3, 2.0};
    struct Input {
        Bytes img, ref;
        double gamma;
    };
    ExpectSameOnRandomCases(
        35, 13,
        [&gammas](std::mt19937& rng, int trial) {
            Bytes img = RandomBytes(1024, rng, 0, 40 + 40 * (trial % 5));
            return Input{img, RandomBytes(1024, rng), gammas[trial / 5]};
        },
        [](const Input& in) {
            Bytes fast = in.img;
            ApplyGamma(fast.data(), 1024, in.gamma);
            return std::pair{fast, GammaDistance(in.img.data(), in.ref.data(), 1024, in.gamma)};
        },
        [](const Input& in) {
            const Bytes slow = GammaPerPixel(in.img, in.gamma);
            double sum = 0;
            for (int i = 0; i < 1024; ++i)
                sum += (slow[i] - in.ref[i]) * (slow[i] - in.ref[i]);
            return std::pair{slow, std::sqrt(sum)};
        });
    // Gamma 1 scales by k = 255 / 100, which as a double lies just below 2.55,
    // so even the brightest pixel truncates to 254. Gamma 2 takes square roots:
    // k = 25.5 exactly, 5 x 25.5 = 127.5. A black image stays black.
    const struct {
        double gamma;
        Bytes in, out;
    } hand[] = {{1.0, {0, 50, 100}, {0, 127, 254}}, {2.0, {0, 25, 100}, {0, 127, 255}}, {0.0, Bytes(16, 0), Bytes(16, 0)}};
    for (auto c : hand) {
        ApplyGamma(c.in.data(), static_cast<int>(c.in.size()), c.gamma);
        EXPECT_EQ(c.in, c.out) << "gamma " << c.gamma;
    }

    // The gamma walk: a face that already equals its reference keeps gamma 1.0;
    // against a reference made with a known gamma the walk goes that way, each
    // step lowering the distance, and stops at a local minimum.
    std::mt19937 rng(13);
    for (double truth : {1.0, 0.8, 1.24}) {
        auto img = RandomBytes(1024, rng, 1, 255);
        img[0] = 255;
        auto ref = img;
        ApplyGamma(ref.data(), 1024, truth);
        const auto before = img;
        const auto distance = [&](double g) { return GammaDistance(before.data(), ref.data(), 1024, g); };
        EXPECT_EQ(FitGamma(img.data(), nullptr, 32, 32) + FitGamma(nullptr, ref.data(), 32, 32), 2.0); // no walk
        const double g = FitGamma(img.data(), ref.data(), 32, 32);
        EXPECT_NEAR(g, truth, truth == 1.0 ? 0.0 : 0.03);
        EXPECT_EQ(img, GammaPerPixel(before, g));
        EXPECT_LE(distance(g), distance(g - 0.02));
        EXPECT_LE(distance(g), distance(g + 0.02));
        const double step = g < 1.0 ? -0.02 : 0.02;
        for (double x = 1.0 + step; (step < 0) ? x >= g - 1e-9 : x <= g + 1e-9; x += step)
            EXPECT_LT(distance(x), distance(x - step)) << x;
    }
}

TEST(GammaCorrection, SeamBlendingAndCorrectionAgainstTheMeanFace)
{
    // Only the seam rows and columns change; equal neighbours average to themselves.
    std::mt19937 rng(15);
    auto face = RandomBytes(4096, rng);
    auto blended = face;
    BlendSeams(blended.data(), 64, 64);
    for (int i = 0; i < 4096; ++i) {
        const int r = i / 64, c = i % 64;
        ASSERT_TRUE(blended[i] == face[i] || (r >= 30 && r <= 33) || (c >= 30 && c <= 33)) << r << "," << c;
    }
    EXPECT_NE(blended, face);
    Bytes flat(4096, 120);
    BlendSeams(flat.data(), 64, 64);
    EXPECT_EQ(flat, Bytes(4096, 120));
    // Hand case on 4 x 4 (seams between rows 1 and 2 and columns 1 and 2).
    // The zero at (1, 1) is copied to (2, 1) by the interleave; the neighbour
    // averaging then leaves (1, 0) and (2, 0) alone instead of halving them.
    Bytes s = {10, 20, 30, 40, 50, 0, 70, 80, 90, 100, 110, 120, 130, 140, 150, 160};
    BlendSeams(s.data(), 4, 4);
    EXPECT_EQ(s, Bytes({43, 36, 36, 38, 90, 71, 57, 62, 103, 117, 117, 124, 110, 125, 150, 160}));

    // Gamma correction against the mean face keeps black black, also a black
    // quadrant outside its seam rows and columns.
    CFacePreprocessor pre;
    Bytes black(4096, 0);
    pre.CorrectGamma(black.data(), nullptr, 64, 64);
    EXPECT_EQ(black, Bytes(4096, 0));
    face = RandomBytes(4096, rng, 1, 255);
    for (int r = 0; r < 32; ++r)
        std::fill_n(face.begin() + r * 64, 32, 0);
    pre.CorrectGamma(face.data(), nullptr, 64, 64);
    for (int r = 0; r < 30; ++r)
        ASSERT_EQ(std::count(face.begin() + r * 64, face.begin() + r * 64 + 30, 0), 30) << r;
    // Without a mean face of that size nothing happens.
    Bytes small(100, 50);
    pre.CorrectGamma(small.data(), nullptr, 10, 10);
    EXPECT_EQ(small, Bytes(100, 50));
}
