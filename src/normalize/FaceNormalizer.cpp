#include "normalize/FaceNormalizer.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

// A coordinate beyond this cannot address a pixel of any real image, and doubles
// above it stop holding every integer; such geometry is treated as degenerate.
constexpr double kCoordLimit = 4503599627370496.0; // 2^52

bool TruncChecked(double v, int64_t& out)
{
    if (!(std::fabs(v) < kCoordLimit)) // also refuses NaN
        return false;
    out = static_cast<int64_t>(v);
    return true;
}

// The rotation that makes the eye line horizontal, about (A, B), and the eyes
// after it.
struct Leveling {
    double ca = 1.0;
    double sa = 0.0;
    int64_t A = 0;
    int64_t B = 0;
    int64_t eyes[4] = {0, 0, 0, 0};
    double eyeDistance = 0.0;
};

bool ComputeLeveling(const int eyes[4], Leveling& g)
{
    const int64_t lx = eyes[0], ly = eyes[1], rx = eyes[2], ry = eyes[3];
    const double d = PointDistance(lx, ly, rx, ry);
    if (!(d > 0.0))
        return false;
    g.ca = static_cast<double>(rx - lx) / d;
    g.sa = static_cast<double>(ly - ry) / d;
    const int64_t cx = (lx + rx) / 2; // C++ division truncates toward zero
    const int64_t cy = (ly + ry) / 2;
    g.A = cx + (cy - ly);
    g.B = cy + (cx - lx);
    for (int e = 0; e < 2; ++e) {
        const double px = static_cast<double>(eyes[2 * e] - g.A);
        const double py = static_cast<double>(eyes[2 * e + 1] - g.B);
        int64_t qx = 0, qy = 0;
        if (!TruncChecked(px * g.ca - py * g.sa + 0.5, qx) ||
            !TruncChecked(px * g.sa + py * g.ca + 0.5, qy))
            return false;
        g.eyes[2 * e] = qx + g.A;
        g.eyes[2 * e + 1] = qy + g.B;
    }
    g.eyeDistance = PointDistance(g.eyes[0], g.eyes[1], g.eyes[2], g.eyes[3]);
    return true;
}

// The input sampled bilinearly at (sx, sy), rounded; 0 where the point has no
// right and lower neighbour inside the image.
inline unsigned char SampleInput(const unsigned char* image, int width, int height, double sx, double sy)
{
    if (!(sx >= 0.0 && sy >= 0.0 && sx < width - 1 && sy < height - 1))
        return 0;
    const int64_t ix = static_cast<int64_t>(sx);
    const int64_t iy = static_cast<int64_t>(sy);
    const double fx = sx - static_cast<double>(ix);
    const double fy = sy - static_cast<double>(iy);
    const unsigned char* p = image + static_cast<size_t>(iy) * static_cast<size_t>(width) + ix;
    const unsigned char* q = p + width;
    const double v = (p[0] * (1.0 - fx) + p[1] * fx) * (1.0 - fy) + (q[0] * (1.0 - fx) + q[1] * fx) * fy;
    double r = v + 0.5;
    if (r > 255.0)
        r = 255.0;
    return static_cast<unsigned char>(static_cast<int>(r));
}

// Pixel (x, y) of the rotated image: the input at the inversely rotated point.
inline unsigned char RotatedPixel(const unsigned char* image, int width, int height, const Leveling& g, int64_t x,
                                  int64_t y)
{
    const double dx = static_cast<double>(x - g.A);
    const double dy = static_cast<double>(y - g.B);
    const double sx = static_cast<double>(g.A) + dx * g.ca + dy * g.sa;
    const double sy = static_cast<double>(g.B) - dx * g.sa + dy * g.ca;
    return SampleInput(image, width, height, sx, sy);
}

// One axis of the resampling: the distinct source indices it reads ("taps"), and
// per output index the positions of its two taps and the second tap's weight.
struct SampleAxis {
    std::vector<int64_t> taps;
    std::vector<int32_t> first;
    std::vector<int32_t> second;
    std::vector<double> weight;
};

SampleAxis MakeAxis(int64_t srcLen, int dstLen, bool copy)
{
    SampleAxis a;
    std::vector<int64_t> lo(dstLen), hi(dstLen);
    a.weight.assign(dstLen, 0.0);
    const double step = static_cast<double>(srcLen) / dstLen;
    for (int i = 0; i < dstLen; ++i) {
        if (copy) {
            lo[i] = hi[i] = i;
            continue;
        }
        const double f = i * step;
        int64_t ix = static_cast<int64_t>(f);
        if (ix >= srcLen - 2)
            ix = srcLen - 2;
        if (ix < 0) // a source one pixel wide or high: both taps on its only pixel
            ix = 0;
        lo[i] = ix;
        hi[i] = std::min<int64_t>(ix + 1, srcLen - 1);
        a.weight[i] = f - static_cast<double>(ix);
    }
    a.taps = lo;
    a.taps.insert(a.taps.end(), hi.begin(), hi.end());
    std::sort(a.taps.begin(), a.taps.end());
    a.taps.erase(std::unique(a.taps.begin(), a.taps.end()), a.taps.end());
    a.first.resize(dstLen);
    a.second.resize(dstLen);
    for (int i = 0; i < dstLen; ++i) {
        a.first[i] = static_cast<int32_t>(std::lower_bound(a.taps.begin(), a.taps.end(), lo[i]) - a.taps.begin());
        a.second[i] = static_cast<int32_t>(std::lower_bound(a.taps.begin(), a.taps.end(), hi[i]) - a.taps.begin());
    }
    return a;
}

inline unsigned char TruncToByte(double v)
{
    if (!(v > 0.0)) // truncation toward zero brings (-1, 0] to 0; below that clamps
        return 0;
    if (v >= 255.0)
        return 255;
    return static_cast<unsigned char>(static_cast<int>(v));
}

// Resamples a srcW x srcH source to dst. Only the source pixels that the
// interpolation reads are fetched, once each: fill(grid, columns, rows) writes
// source pixel (columns[c], rows[r]) to grid[r * columns.size() + c].
template <class Fill>
void ResampleFrom(const Fill& fill, int64_t srcW, int64_t srcH, unsigned char* dst, int dstW, int dstH)
{
    if (dstW <= 0 || dstH <= 0)
        return;
    const size_t dstCount = static_cast<size_t>(dstW) * static_cast<size_t>(dstH);
    if (srcW <= 0 || srcH <= 0) {
        std::memset(dst, 0, dstCount);
        return;
    }
    const bool copy = srcW == dstW && srcH == dstH;
    const SampleAxis ax = MakeAxis(srcW, dstW, copy);
    const SampleAxis ay = MakeAxis(srcH, dstH, copy);
    const size_t gw = ax.taps.size();
    std::vector<unsigned char> grid(gw * ay.taps.size());
    fill(grid.data(), ax.taps, ay.taps);

    for (int j = 0; j < dstH; ++j) {
        unsigned char* row = dst + static_cast<size_t>(j) * static_cast<size_t>(dstW);
        const unsigned char* g0 = grid.data() + ay.first[j] * gw;
        if (copy) {
            for (int i = 0; i < dstW; ++i)
                row[i] = g0[ax.first[i]];
            continue;
        }
        const unsigned char* g1 = grid.data() + ay.second[j] * gw;
        const double wy = ay.weight[j];
        for (int i = 0; i < dstW; ++i) {
            const int32_t c0 = ax.first[i], c1 = ax.second[i];
            const double wx = ax.weight[i];
            const double v = (g0[c1] * wx + g0[c0] * (1.0 - wx)) * (1.0 - wy) + (g1[c1] * wx + g1[c0] * (1.0 - wx)) * wy;
            row[i] = TruncToByte(v);
        }
    }
}

// Resamples the inclusive rectangle of the rotated image to out.
void ResampleRotated(const unsigned char* image, int width, int height, const Leveling& g, int64_t left,
                     int64_t top, int64_t right, int64_t bottom, unsigned char* out, int outWidth, int outHeight)
{
    const auto fill = [&](unsigned char* grid, const std::vector<int64_t>& columns, const std::vector<int64_t>& rows) {
        // The column and row parts of the inverse rotation, formed once per tap
        // with the same operations, in the same order, as RotatedPixel.
        const size_t nc = columns.size();
        std::vector<double> colX(nc), colY(nc);
        std::vector<char> colInside(nc);
        for (size_t c = 0; c < nc; ++c) {
            const int64_t x = left + columns[c];
            colInside[c] = x >= 0 && x < width;
            const double dx = static_cast<double>(x - g.A);
            colX[c] = static_cast<double>(g.A) + dx * g.ca;
            colY[c] = static_cast<double>(g.B) - dx * g.sa;
        }
        for (size_t r = 0; r < rows.size(); ++r) {
            unsigned char* line = grid + r * nc;
            const int64_t y = top + rows[r];
            if (y < 0 || y >= height) {
                std::memset(line, 0, nc);
                continue;
            }
            const double dy = static_cast<double>(y - g.B);
            const double rowX = dy * g.sa, rowY = dy * g.ca;
            for (size_t c = 0; c < nc; ++c)
                line[c] = colInside[c] ? SampleInput(image, width, height, colX[c] + rowX, colY[c] + rowY) : 0;
        }
    };
    ResampleFrom(fill, right - left + 1, bottom - top + 1, out, outWidth, outHeight);
}

void ClearOutput(unsigned char* out, int outWidth, int outHeight)
{
    if (outWidth > 0 && outHeight > 0)
        std::memset(out, 0, static_cast<size_t>(outWidth) * static_cast<size_t>(outHeight));
}

} // namespace

double PointDistance(int64_t x0, int64_t y0, int64_t x1, int64_t y1)
{
    const double dx = static_cast<double>(x1 - x0);
    const double dy = static_cast<double>(y1 - y0);
    return std::sqrt(dy * dy + dx * dx);
}

int64_t AlignWidth4(int64_t n)
{
    return n + ((4 - (n & 3)) & 3);
}

int CFaceNormalizer::NormalizeFace(const unsigned char* image, int width, int height, const int eyes[4],
                                   unsigned char* out, int outWidth, int outHeight, const int target[4]) const
{
    if (!out || outWidth <= 0 || outHeight <= 0)
        return 1;
    Leveling g;
    int64_t left = 0, top = 0, right = 0, bottom = 0;
    // Without pixels (or eyes) the face is black.
    bool ok = image && eyes && target && width > 0 && height > 0 && ComputeLeveling(eyes, g);
    if (ok) {
        const double dt = PointDistance(target[0], target[1], target[2], target[3]);
        const double dr = g.eyeDistance;
        const double rightMargin = static_cast<double>(int64_t{outWidth} - target[2] - 1);
        ok = TruncChecked(static_cast<double>(g.eyes[0]) - (target[0] / dt) * dr, left) &&
             TruncChecked(static_cast<double>(g.eyes[2]) + (rightMargin / dt) * dr, right) &&
             TruncChecked(static_cast<double>(g.eyes[1]) - (target[1] / dt) * dr, top) &&
             TruncChecked(static_cast<double>(top) + ((outHeight - 1) * dr) / dt, bottom);
    }
    if (!ok) { // no image, coincident eyes or coincident targets: nothing to place
        ClearOutput(out, outWidth, outHeight);
        return 1;
    }
    ResampleRotated(image, width, height, g, left, top, right, bottom, out, outWidth, outHeight);
    return 1;
}

int CFaceNormalizer::CutFace(const unsigned char* image, int width, int height, const int eyes[4],
                             unsigned char* out, int outWidth, int outHeight) const
{
    Leveling g;
    if (!image || !out || !eyes || width <= 0 || height <= 0 || !ComputeLeveling(eyes, g))
        return 0;
    const double dr = g.eyeDistance;
    int64_t left = 0, top = 0, right = 0, bottom = 0;
    if (!TruncChecked(static_cast<double>(g.eyes[0]) - dr, left))
        return 0;
    if (left <= 0)
        left = 0;
    if (!TruncChecked(static_cast<double>(g.eyes[1]) - 1.6 * dr, top))
        return 0;
    if (top <= 0)
        top = 0;
    if (!TruncChecked(3.0666666666666664 * dr + static_cast<double>(left), right))
        return 0;
    if (right >= int64_t{width} - 1)
        right = int64_t{width} - 1;
    if (!TruncChecked(3.7333333333333334 * dr + static_cast<double>(top), bottom))
        return 0;
    if (bottom >= int64_t{height} - 1)
        bottom = int64_t{height} - 1;
    if (right < left || bottom < top)
        return 0;
    ResampleRotated(image, width, height, g, left, top, right, bottom, out, outWidth, outHeight);
    return 1;
}

int CFaceNormalizer::CropRect(const unsigned char* image, int width, int height, unsigned char* crop, int left,
                              int top, int right, int bottom)
{
    const int64_t cw = int64_t{right} - left + 1;
    const int64_t ch = int64_t{bottom} - top + 1;
    if (cw <= 0 || ch <= 0)
        return 1;
    std::memset(crop, 0, static_cast<size_t>(cw) * static_cast<size_t>(ch));
    const int64_t x0 = std::max<int64_t>(left, 0), x1 = std::min<int64_t>(right, int64_t{width} - 1);
    const int64_t y0 = std::max<int64_t>(top, 0), y1 = std::min<int64_t>(bottom, int64_t{height} - 1);
    if (x1 < x0)
        return 1;
    for (int64_t y = y0; y <= y1; ++y)
        std::memcpy(crop + (y - top) * cw + (x0 - left), image + y * width + x0, static_cast<size_t>(x1 - x0 + 1));
    return 1;
}

int CFaceNormalizer::ResampleFace(const unsigned char* src, int srcWidth, int srcHeight, unsigned char* dst,
                                  int dstWidth, int dstHeight)
{
    const auto fill = [&](unsigned char* grid, const std::vector<int64_t>& columns, const std::vector<int64_t>& rows) {
        for (size_t r = 0; r < rows.size(); ++r) {
            const unsigned char* line = src + static_cast<size_t>(rows[r]) * static_cast<size_t>(srcWidth);
            for (size_t c = 0; c < columns.size(); ++c)
                grid[r * columns.size() + c] = line[columns[c]];
        }
    };
    ResampleFrom(fill, srcWidth, srcHeight, dst, dstWidth, dstHeight);
    return 1;
}

bool CFaceNormalizer::RotateImage(const unsigned char* image, int width, int height, const int eyes[4],
                                  unsigned char* rotated, int64_t rotatedEyes[4])
{
    Leveling g;
    if (!ComputeLeveling(eyes, g))
        return false;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            rotated[static_cast<size_t>(y) * static_cast<size_t>(width) + x] = RotatedPixel(image, width, height, g, x, y);
    std::copy(g.eyes, g.eyes + 4, rotatedEyes);
    return true;
}
