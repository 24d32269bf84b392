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

VELMORA_VECTOR_CLONES
void Magnitudes(const double* __restrict re, const double* __restrict im, double* __restrict out,
                int count)
{
    for (int j = 0; j < count; ++j)
        out[j] = std::sqrt(re[j] * re[j] + im[j] * im[j]);
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
