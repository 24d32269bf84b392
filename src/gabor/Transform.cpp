#include "gabor/Transform.h"

#include <cmath>
#include <utility>

#include "gabor/VectorClones.h"

void FFT1D(short direction, int m, double* re, double* im)
{
    if (m < 0 || m > 30 || re == nullptr || im == nullptr)
        return;
    const int n = 1 << m;

    // Bit-reversed reordering by pairwise swaps.
    const int half = n >> 1;
    int j = 0;
    for (int i = 0; i < n - 1; ++i) {
        if (i < j) {
            std::swap(re[i], re[j]);
            std::swap(im[i], im[j]);
        }
        int k = half;
        while (k <= j) {
            j -= k;
            k >>= 1;
        }
        j += k;
    }

    // Butterflies; (c1, c2) is the twiddle step of the stage, halved in angle
    // from one stage to the next.
    double c1 = -1.0;
    double c2 = 0.0;
    int l2 = 1;
    for (int stage = 0; stage < m; ++stage) {
        const int l1 = l2;
        l2 <<= 1;
        double u1 = 1.0;
        double u2 = 0.0;
        for (int group = 0; group < l1; ++group) {
            for (int i = group; i < n; i += l2) {
                const int i1 = i + l1;
                const double t1 = u1 * re[i1] - u2 * im[i1];
                const double t2 = u1 * im[i1] + u2 * re[i1];
                re[i1] = re[i] - t1;
                im[i1] = im[i] - t2;
                re[i] += t1;
                im[i] += t2;
            }
            const double z = u1 * c1 - u2 * c2;
            u2 = u1 * c2 + u2 * c1;
            u1 = z;
        }
        c2 = std::sqrt((1.0 - c1) / 2.0);
        if (direction == 1)
            c2 = -c2;
        c1 = std::sqrt((1.0 + c1) / 2.0);
    }

    if (direction == -1) {
        for (int i = 0; i < n; ++i) {
            re[i] /= n;
            im[i] /= n;
        }
    }
}

void ComplexMultiply(const double* aRe, const double* aIm, const double* bRe, const double* bIm,
                     double* outRe, double* outIm, int count)
{
    for (int i = 0; i < count; ++i) {
        const double r = bRe[i] * aRe[i] - aIm[i] * bIm[i];
        const double m = bRe[i] * aIm[i] + bIm[i] * aRe[i];
        outRe[i] = r;
        outIm[i] = m;
    }
}

VELMORA_VECTOR_CLONES
void SumOfQuadrantProducts(const double* __restrict a, const double* __restrict b,
                           double* __restrict outRe, double* __restrict outIm)
{
    constexpr int B = kQuadrantBlock;
    for (int block = 0; block < kQuadrantCells / B; ++block) {
        const double* __restrict ab = a + block * 8 * B;
        const double* __restrict bb = b + block * 8 * B;
        for (int t = 0; t < B; ++t) {
            double sr = 0.0;
            double si = 0.0;
            for (int q = 0; q < 4; ++q) {
                const double ar = ab[2 * q * B + t], ai = ab[2 * q * B + B + t];
                const double br = bb[2 * q * B + t], bi = bb[2 * q * B + B + t];
                sr += ar * br - ai * bi;
                si += ar * bi + ai * br;
            }
            outRe[block * B + t] = sr;
            outIm[block * B + t] = si;
        }
    }
}

namespace {

// One quadrant block (kQuadrantBlock = 8 cells) as a vector; the default clone
// splits it into narrower operations with the same IEEE results.
typedef double Block __attribute__((vector_size(8 * sizeof(double))));
static_assert(kQuadrantBlock == 8, "a block is one vector");

// By reference, so that no vector crosses a call boundary of the narrower ABI.
inline void LoadBlock(Block& v, const double* p)
{
    __builtin_memcpy(&v, p, sizeof v);
}

inline void StoreBlock(double* p, const Block& v)
{
    __builtin_memcpy(p, &v, sizeof v);
}

} // namespace

VELMORA_VECTOR_CLONES
void SumOfQuadrantProductsGroup(const double* const* a, int count, const double* b, const double* c,
                                double* const* out)
{
    constexpr int B = kQuadrantBlock;
    for (int block = 0; block < kQuadrantCells / B; ++block) {
        Block yr[4], yi[4], zr[4], zi[4];
        for (int q = 0; q < 4; ++q) {
            LoadBlock(yr[q], b + block * 8 * B + 2 * q * B);
            LoadBlock(yi[q], b + block * 8 * B + 2 * q * B + B);
            LoadBlock(zr[q], c + block * 8 * B + 2 * q * B);
            LoadBlock(zi[q], c + block * 8 * B + 2 * q * B + B);
        }
        for (int g = 0; g < count; ++g) {
            const double* ab = a[g] + block * 8 * B;
            Block br = {}, bi = {}, cr = {}, ci = {};
            for (int q = 0; q < 4; ++q) {
                Block xr, xi;
                LoadBlock(xr, ab + 2 * q * B);
                LoadBlock(xi, ab + 2 * q * B + B);
                br += xr * yr[q] - xi * yi[q];
                bi += xr * yi[q] + xi * yr[q];
                cr += xr * zr[q] - xi * zi[q];
                ci += xr * zi[q] + xi * zr[q];
            }
            double* o = out[g] + block * B;
            StoreBlock(o, br);
            StoreBlock(o + kQuadrantCells, bi);
            StoreBlock(o + 2 * kQuadrantCells, cr);
            StoreBlock(o + 3 * kQuadrantCells, ci);
        }
    }
}

namespace {

// Pairs of a and b's elements at distance d (1, 2 or 4): the low halves of
// each pair of d-element groups, or the high halves.
template <int d>
inline void PairLow(Block& out, const Block& a, const Block& b)
{
    if constexpr (d == 1)
        out = __builtin_shufflevector(a, b, 0, 8, 2, 10, 4, 12, 6, 14);
    else if constexpr (d == 2)
        out = __builtin_shufflevector(a, b, 0, 1, 8, 9, 4, 5, 12, 13);
    else
        out = __builtin_shufflevector(a, b, 0, 1, 2, 3, 8, 9, 10, 11);
}

template <int d>
inline void PairHigh(Block& out, const Block& a, const Block& b)
{
    if constexpr (d == 1)
        out = __builtin_shufflevector(a, b, 1, 9, 3, 11, 5, 13, 7, 15);
    else if constexpr (d == 2)
        out = __builtin_shufflevector(a, b, 2, 3, 10, 11, 6, 7, 14, 15);
    else
        out = __builtin_shufflevector(a, b, 4, 5, 6, 7, 12, 13, 14, 15);
}

// a[j][k] <- a[k][j]: three rounds of pairing, at distances 1, 2 and 4.
inline void Transpose(Block a[8])
{
    Block t[8];
    for (int i = 0; i < 8; i += 2) {
        PairLow<1>(t[i], a[i], a[i + 1]);
        PairHigh<1>(t[i + 1], a[i], a[i + 1]);
    }
    for (int i = 0; i < 8; i += 4) {
        for (int k = 0; k < 2; ++k) {
            PairLow<2>(a[i + k], t[i + k], t[i + k + 2]);
            PairHigh<2>(a[i + k + 2], t[i + k], t[i + k + 2]);
        }
    }
    for (int k = 0; k < 4; ++k) {
        PairLow<4>(t[k], a[k], a[k + 4]);
        PairHigh<4>(t[k + 4], a[k], a[k + 4]);
    }
    for (int k = 0; k < 8; ++k)
        a[k] = t[k];
}

} // namespace

VELMORA_VECTOR_CLONES
void GatherLanes(const double* src, const int* offsets, double* dst)
{
    constexpr int kRows = 32, kLanes = 16;
    for (int j0 = 0; j0 < kLanes; j0 += 8) {
        for (int r0 = 0; r0 < kRows; r0 += 8) {
            Block a[8];
            for (int j = 0; j < 8; ++j)
                LoadBlock(a[j], src + offsets[j0 + j] + r0);
            Transpose(a);
            for (int r = 0; r < 8; ++r)
                StoreBlock(dst + (r0 + r) * kLanes + j0, a[r]);
        }
    }
}

VELMORA_VECTOR_CLONES
void Magnitudes(const double* __restrict re, const double* __restrict im, const int* rows, int nRows,
                int count, double* __restrict out)
{
    for (int i = 0; i < nRows; ++i) {
        const double* __restrict r = re + rows[i];
        const double* __restrict m = im + rows[i];
        double* __restrict o = out + i * count;
        for (int j = 0; j < count; ++j)
            o[j] = std::sqrt(r[j] * r[j] + m[j] * m[j]);
    }
}
