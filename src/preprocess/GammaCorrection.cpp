#include "preprocess/GammaCorrection.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "preprocess/FacePreprocessor.h"
#include "preprocess/MeanFace.h"

namespace {

// A byte image has at most 256 grey levels, so the curve is evaluated once per
// level present instead of once per pixel. Entries are exactly what the
// per-pixel formula gives, held to the byte range (a gamma walked down to 0 or
// below would otherwise leave it).
struct LevelHistogram {
    int maxLevel = 0;
    std::vector<int> levels; // the non-zero levels present, increasing
    int64_t count[256] = {};

    LevelHistogram(const unsigned char* image, int n)
    {
        for (int i = 0; i < n; ++i)
            ++count[image[i]];
        for (int p = 1; p < 256; ++p)
            if (count[p] != 0) {
                levels.push_back(p);
                maxLevel = p;
            }
    }
};

struct GammaCurve {
    unsigned char map[256];
    GammaCurve(const LevelHistogram& h, double gamma)
    {
        map[0] = 0;
        if (h.maxLevel <= 0)
            return;
        const double e = 1.0 / gamma;
        const double k = 255.0 / std::pow(static_cast<double>(h.maxLevel), e);
        for (int p : h.levels) {
            const double v = std::pow(static_cast<double>(p), e) * k;
            map[p] = !(v > 0.0) ? 0 : (v >= 255.0 ? 255 : static_cast<unsigned char>(static_cast<int>(v)));
        }
    }
};

// Squared distance between the gamma-mapped image and the reference, from
// per-level sums: sum over pixels of (m - r)^2 = sum over levels of
// (n m^2 - 2 m R) + sum of r^2, with n the pixels of a level and R the sum of
// their reference values. All integers, so exactly the per-pixel sum.
struct DistanceTerms {
    LevelHistogram histogram;
    int64_t referenceSum[256] = {};
    int64_t referenceSquares = 0;

    DistanceTerms(const unsigned char* image, const unsigned char* reference, int n) : histogram(image, n)
    {
        for (int i = 0; i < n; ++i) {
            referenceSum[image[i]] += reference[i];
            referenceSquares += static_cast<int64_t>(reference[i]) * reference[i];
        }
    }

    double Distance(double gamma) const
    {
        const GammaCurve curve(histogram, gamma);
        int64_t sum = referenceSquares;
        for (int p : histogram.levels) {
            const int64_t m = curve.map[p];
            sum += histogram.count[p] * m * m - 2 * m * referenceSum[p];
        }
        return std::sqrt(static_cast<double>(sum));
    }
};

void CopyBlock(const unsigned char* src, int srcStride, unsigned char* dst, int dstStride, int w, int h)
{
    for (int r = 0; r < h; ++r)
        std::memcpy(dst + static_cast<size_t>(r) * dstStride, src + static_cast<size_t>(r) * srcStride, w);
}

inline unsigned char Avg(unsigned char a, unsigned char b)
{
    return static_cast<unsigned char>((a + b) / 2);
}

} // namespace

void ApplyGamma(unsigned char* image, int count, double gamma)
{
    if (!image || count <= 0)
        return;
    const LevelHistogram histogram(image, count);
    if (histogram.maxLevel == 0)
        return;
    const GammaCurve curve(histogram, gamma);
    for (int i = 0; i < count; ++i)
        image[i] = curve.map[image[i]];
}

double GammaDistance(const unsigned char* image, const unsigned char* reference, int count, double gamma)
{
    if (!image || !reference || count <= 0)
        return 0.0;
    return DistanceTerms(image, reference, count).Distance(gamma);
}

double FitGamma(unsigned char* image, const unsigned char* reference, int width, int height)
{
    if (!image || !reference || width <= 0 || height <= 0)
        return 1.0;
    const int count = width * height;
    const DistanceTerms terms(image, reference, count);
    const auto distance = [&](double g) { return terms.Distance(g); };
    double left = 0.98, centre = 1.0, right = 1.02;
    double dLeft = distance(left), dRight = distance(right), dCentre = distance(centre);
    // Each move strictly lowers the centre distance, which takes finitely many
    // values, so the walk ends.
    for (;;) {
        bool moved = false;
        if (dLeft < dCentre) {
            right = centre;
            dRight = dCentre;
            centre = left;
            dCentre = dLeft;
            left = left - 0.02;
            dLeft = distance(left);
            moved = true;
        }
        if (dRight < dCentre) {
            left = centre;
            dLeft = dCentre;
            centre = right;
            dCentre = dRight;
            right = right + 0.02;
            dRight = distance(right);
            moved = true;
        }
        if (!moved)
            break;
    }
    ApplyGamma(image, count, centre);
    return centre;
}

void BlendSeams(unsigned char* image, int width, int height)
{
    if (!image || width < 4 || height < 4)
        return;
    const int w = width;
    const int H = height / 2;
    const int W = width / 2;
    const auto px = [&](int r, int c) -> unsigned char& { return image[static_cast<size_t>(r) * w + c]; };

    for (int c = 0; c < w; ++c) {
        if (c % 2 == 0)
            px(H - 1, c) = px(H, c);
        else
            px(H, c) = px(H - 1, c);
    }
    for (int c = 0; c < w; ++c) {
        // The pixel after the last of a row is the first of the next row.
        unsigned char* a = &px(H - 1, c);
        if (a[0] != 0 && a[1] != 0)
            a[0] = Avg(a[0], a[1]);
        unsigned char* b = &px(H, c);
        if (b[0] != 0 && b[1] != 0)
            b[0] = Avg(b[0], b[1]);
    }
    for (int c = 0; c < w; ++c) {
        if (c % 2 == 0) {
            px(H - 2, c) = Avg(px(H - 2, c), px(H - 1, c));
            px(H + 1, c) = Avg(px(H + 1, c), px(H, c));
        } else {
            px(H - 1, c) = Avg(px(H - 2, c), px(H - 1, c));
            px(H, c) = Avg(px(H + 1, c), px(H, c));
        }
    }
    for (int r = 0; r < height; ++r) {
        if (r % 2 == 0)
            px(r, W - 1) = px(r, W);
        else
            px(r, W) = px(r, W - 1);
    }
    for (int r = 0; r + 1 < height; ++r) {
        if (px(r, W - 1) != 0 && px(r + 1, W - 1) != 0)
            px(r, W - 1) = Avg(px(r, W - 1), px(r + 1, W - 1));
        if (px(r, W) != 0 && px(r + 1, W) != 0)
            px(r, W) = Avg(px(r, W), px(r + 1, W));
    }
    for (int r = 0; r < height; ++r) {
        if (r % 2 == 0) {
            px(r, W - 2) = Avg(px(r, W - 2), px(r, W - 1));
            px(r, W + 1) = Avg(px(r, W), px(r, W + 1));
        } else {
            px(r, W - 1) = Avg(px(r, W - 2), px(r, W - 1));
            px(r, W) = Avg(px(r, W), px(r, W + 1));
        }
    }
}

void CFacePreprocessor::CorrectGamma(unsigned char* face, const unsigned char* reference, int width,
                                     int height) const
{
    if (!face || width <= 0 || height <= 0)
        return;
    if (!reference) {
        if (width != kFaceSide || height != kFaceSide)
            return; // the mean face exists only at the normalised size
        reference = kMeanFace;
    }
    FitGamma(face, reference, width, height);

    const int qw = width / 2, qh = height / 2;
    if (qw > 0 && qh > 0) {
        const size_t q = static_cast<size_t>(qw) * qh;
        std::vector<unsigned char> faceQ(4 * q), refQ(4 * q);
        const int origin[4][2] = {{0, 0}, {0, qw}, {qh, 0}, {qh, qw}}; // row, column
        for (int k = 0; k < 4; ++k) {
            const size_t at = static_cast<size_t>(origin[k][0]) * width + origin[k][1];
            CopyBlock(face + at, width, &faceQ[k * q], qw, qw, qh);
            CopyBlock(reference + at, width, &refQ[k * q], qw, qw, qh);
            if (qw > 32 && qh > 32)
                CorrectGamma(&faceQ[k * q], &refQ[k * q], qw, qh);
            else
                FitGamma(&faceQ[k * q], &refQ[k * q], qw, qh);
        }
        for (int k = 0; k < 4; ++k)
            CopyBlock(&faceQ[k * q], qw, face + static_cast<size_t>(origin[k][0]) * width + origin[k][1], width,
                      qw, qh);
    }
    BlendSeams(face, width, height);
}
