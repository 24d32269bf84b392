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

// (a, b) <- (a + b, a - b)
template <int L>
inline __attribute__((always_inline)) void AddSub(double* __restrict ar, double* __restrict ai,
                                                  double* __restrict br, double* __restrict bi)
{
    for (int t = 0; t < L; ++t) {
        const double xr = ar[t], xi = ai[t], yr = br[t], yi = bi[t];
        ar[t] = xr + yr;
        ai[t] = xi + yi;
        br[t] = xr - yr;
        bi[t] = xi - yi;
    }
}

// (a, b) <- (a + b, (a - b) x w)
template <int L>
inline __attribute__((always_inline)) void Butterfly(double* __restrict ar,
                                                     double* __restrict ai,
                                                     double* __restrict br,
                                                     double* __restrict bi, double wr, double wi)
{
    for (int t = 0; t < L; ++t) {
        const double xr = ar[t], xi = ai[t], yr = br[t], yi = bi[t];
        ar[t] = xr + yr;
        ai[t] = xi + yi;
        const double dr = xr - yr, di = xi - yi;
        br[t] = dr * wr - di * wi;
        bi[t] = dr * wi + di * wr;
    }
}

template <int L>
inline __attribute__((always_inline)) void Transform(const LaneTwiddles& tw, double* re, double* im)
{
    const int n = 1 << tw.log2n;
    int stride = 1; // twiddle index step at this span
    for (int h = n >> 1; h >= 1; h >>= 1, stride <<= 1) {
        for (int s = 0; s < n; s += 2 * h) {
            const int a0 = s * L, b0 = (s + h) * L;
            AddSub<L>(re + a0, im + a0, re + b0, im + b0);
            for (int j = 1; j < h; ++j)
                Butterfly<L>(re + a0 + j * L, im + a0 + j * L, re + b0 + j * L, im + b0 + j * L,
                             tw.re[j * stride], tw.im[j * stride]);
        }
    }
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
