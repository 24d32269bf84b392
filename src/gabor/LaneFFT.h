#pragma once
// A radix-2 transform applied to many independent signals at once: point p of
// signal t is element p * lanes + t, so every butterfly runs over a contiguous
// row of lanes. This is the shape the Gabor filtering needs (a 2-D transform is
// a batch of 1-D transforms along one axis, with the other axis as lanes).

// Twiddles exp(sign x 2 pi i j / N) for j = 0 .. N/2 - 1.
struct LaneTwiddles {
    explicit LaneTwiddles(int log2n, int sign);
    int log2n;
    double re[32];
    double im[32];
};

// In-place decimation-in-frequency transform of N = 2^log2n points (N <= 64)
// with the sign of the twiddles, unscaled. Point k of the result is at position
// BitReverse(k). lanes is 16, 32 or 64.
void LaneFFT(const LaneTwiddles& tw, int lanes, double* re, double* im);

// k with its low `bits` bits in reverse order.
constexpr int BitReverse(int k, int bits)
{
    int r = 0;
    for (int b = 0; b < bits; ++b)
        r |= ((k >> b) & 1) << (bits - 1 - b);
    return r;
}
