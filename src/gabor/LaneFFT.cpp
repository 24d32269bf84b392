#include "gabor/LaneFFT.h"

#include <cmath>

#include "gabor/VectorClones.h"

LaneTwiddles::LaneTwiddles(int bits, int sign) : log2n(bits), re(), im()
{
    const int n = 1 << bits;
    for (int j = 0; j < n / 2; ++j) {
        const double angle = sign * 2.0 * M_PI * j / n;
        re[j] = std::cos(angle);
        im[j] = std::sin(angle);
    }
}

namespace {

// Eight lanes as one vector; lane counts are multiples of eight. The default
// clone splits it into narrower operations with the same IEEE results.
typedef double Lanes __attribute__((vector_size(8 * sizeof(double))));
constexpr int kWidth = 8;

// By reference, so that no vector crosses a call boundary of the narrower ABI.
inline void Load(Lanes& v, const double* p)
{
    __builtin_memcpy(&v, p, sizeof v);
}

inline void Store(double* p, const Lanes& v)
{
    __builtin_memcpy(p, &v, sizeof v);
}

// (a, b) <- (a + b, a - b)
template <int L>
inline __attribute__((always_inline)) void AddSub(double* ar, double* ai, double* br, double* bi)
{
    for (int t = 0; t < L; t += kWidth) {
        Lanes xr, xi, yr, yi;
        Load(xr, ar + t);
        Load(xi, ai + t);
        Load(yr, br + t);
        Load(yi, bi + t);
        Store(ar + t, xr + yr);
        Store(ai + t, xi + yi);
        Store(br + t, xr - yr);
        Store(bi + t, xi - yi);
    }
}

// Two neighbouring stages (spans h and h/2) over the four points s + j,
// s + j + h/2, s + j + h, s + j + 3h/2, held in registers between the stages:
// the same butterflies as two single-stage passes, with half the loads and
// stores. At j == 0 the twiddles of the first pair and of the second stage are
// 1 and the butterflies are plain sums and differences, as in a single pass.
template <int L, bool kFirst>
inline __attribute__((always_inline)) void TwoStages(double* r0, double* i0, double* r1, double* i1,
                                                     double* r2, double* i2, double* r3, double* i3,
                                                     double war, double wai, double wbr, double wbi,
                                                     double wcr, double wci)
{
    for (int t = 0; t < L; t += kWidth) {
        Lanes x0r, x0i, x1r, x1i, x2r, x2i, x3r, x3i;
        Load(x0r, r0 + t);
        Load(x0i, i0 + t);
        Load(x1r, r1 + t);
        Load(x1i, i1 + t);
        Load(x2r, r2 + t);
        Load(x2i, i2 + t);
        Load(x3r, r3 + t);
        Load(x3i, i3 + t);
        // First stage: (x0, x2) with twiddle a, (x1, x3) with twiddle b.
        const Lanes y0r = x0r + x2r, y0i = x0i + x2i;
        const Lanes y1r = x1r + x3r, y1i = x1i + x3i;
        Lanes y2r = x0r - x2r, y2i = x0i - x2i;
        if (!kFirst) {
            const Lanes dr = y2r, di = y2i;
            y2r = dr * war - di * wai;
            y2i = dr * wai + di * war;
        }
        const Lanes er = x1r - x3r, ei = x1i - x3i;
        const Lanes y3r = er * wbr - ei * wbi;
        const Lanes y3i = er * wbi + ei * wbr;
        // Second stage: (y0, y1) and (y2, y3), both with twiddle c.
        Store(r0 + t, y0r + y1r);
        Store(i0 + t, y0i + y1i);
        Store(r2 + t, y2r + y3r);
        Store(i2 + t, y2i + y3i);
        const Lanes fr = y0r - y1r, fi = y0i - y1i;
        const Lanes gr = y2r - y3r, gi = y2i - y3i;
        if (kFirst) {
            Store(r1 + t, fr);
            Store(i1 + t, fi);
            Store(r3 + t, gr);
            Store(i3 + t, gi);
        } else {
            Store(r1 + t, fr * wcr - fi * wci);
            Store(i1 + t, fr * wci + fi * wcr);
            Store(r3 + t, gr * wcr - gi * wci);
            Store(i3 + t, gr * wci + gi * wcr);
        }
    }
}

template <int L>
inline __attribute__((always_inline)) void Transform(const LaneTwiddles& tw, double* re, double* im)
{
    const int n = 1 << tw.log2n;
    int h = n >> 1;
    int stride = 1; // twiddle index step at span h
    for (; h >= 2; h >>= 2, stride <<= 2) {
        const int q = h >> 1;
        for (int s = 0; s < n; s += 2 * h) {
            for (int j = 0; j < q; ++j) {
                const int p0 = (s + j) * L, p1 = (s + j + q) * L;
                const int p2 = (s + j + h) * L, p3 = (s + j + h + q) * L;
                const int b = (j + q) * stride;
                if (j == 0) {
                    TwoStages<L, true>(re + p0, im + p0, re + p1, im + p1, re + p2, im + p2, re + p3,
                                       im + p3, 1.0, 0.0, tw.re[b], tw.im[b], 1.0, 0.0);
                } else {
                    const int a = j * stride, c = 2 * j * stride;
                    TwoStages<L, false>(re + p0, im + p0, re + p1, im + p1, re + p2, im + p2, re + p3,
                                        im + p3, tw.re[a], tw.im[a], tw.re[b], tw.im[b], tw.re[c],
                                        tw.im[c]);
                }
            }
        }
    }
    // An odd number of stages leaves the last one, span 1, whose twiddle is 1.
    if (h == 1)
        for (int s = 0; s < n; s += 2)
            AddSub<L>(re + s * L, im + s * L, re + (s + 1) * L, im + (s + 1) * L);
}

} // namespace

VELMORA_VECTOR_CLONES
void LaneFFT(const LaneTwiddles& tw, int lanes, double* re, double* im)
{
    switch (lanes) {
    case 16:
        Transform<16>(tw, re, im);
        break;
    case 32:
        Transform<32>(tw, re, im);
        break;
    case 64:
        Transform<64>(tw, re, im);
        break;
    default:
        break;
    }
}
