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
void SumOfQuadrantProducts2(const double* __restrict a, const double* __restrict b,
                            const double* __restrict c, double* __restrict outBRe,
                            double* __restrict outBIm, double* __restrict outCRe,
                            double* __restrict outCIm)
{
    constexpr int B = kQuadrantBlock;
    for (int block = 0; block < kQuadrantCells / B; ++block) {
        const double* __restrict ab = a + block * 8 * B;
        const double* __restrict bb = b + block * 8 * B;
        const double* __restrict cb = c + block * 8 * B;
        for (int t = 0; t < B; ++t) {
            double br = 0.0, bi = 0.0, cr = 0.0, ci = 0.0;
            for (int q = 0; q < 4; ++q) {
                const double xr = ab[2 * q * B + t], xi = ab[2 * q * B + B + t];
                const double yr = bb[2 * q * B + t], yi = bb[2 * q * B + B + t];
                const double zr = cb[2 * q * B + t], zi = cb[2 * q * B + B + t];
                br += xr * yr - xi * yi;
                bi += xr * yi + xi * yr;
                cr += xr * zr - xi * zi;
                ci += xr * zi + xi * zr;
            }
            outBRe[block * B + t] = br;
            outBIm[block * B + t] = bi;
            outCRe[block * B + t] = cr;
            outCIm[block * B + t] = ci;
        }
    }
}
