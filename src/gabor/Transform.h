#pragma once
// The complex transforms behind the Gabor bank. Real and imaginary parts travel
// in separate arrays.

// In-place radix-2 FFT of 2^m points. direction 1 is the forward transform with
// kernel exp(-2 pi i jk / N), unscaled; direction -1 the inverse, scaled by 1/N.
// m outside 0..30 or a null array leaves the data untouched.
void FFT1D(short direction, int m, double* re, double* im);

// out = a x b element by element. out may be the same arrays as a or b.
void ComplexMultiply(const double* aRe, const double* aIm, const double* bRe, const double* bIm,
                     double* outRe, double* outIm, int count);

// Four 32 x 32 quadrants of a complex array, interleaved so that one pass reads
// a single stream: element i of quadrant q has its real part at
// QuadrantIndex(q, i) and its imaginary part eight places further.
constexpr int kQuadrantCells = 1024;
constexpr int kQuadrantBlock = 8;
constexpr int QuadrantIndex(int q, int i)
{
    return (i / kQuadrantBlock) * 8 * kQuadrantBlock + q * 2 * kQuadrantBlock +
           i % kQuadrantBlock;
}

// out[i] = sum over quadrants q = 0..3 of a(q, i) x b(q, i), complex, for
// i = 0..1023, with a and b in the interleaved layout above (8192 doubles
// each); the products are added in order of q from zero.
void SumOfQuadrantProducts(const double* a, const double* b, double* outRe, double* outIm);

// The same for count operands a[g] and two operands b and c at once, each
// block of b and c read once for all a[g] and each block of a[g] once for
// both. Results of a[g] go to out[g] + 0 (b, real), + 1024 (b, imaginary),
// + 2048 (c, real) and + 3072 (c, imaginary).
void SumOfQuadrantProductsGroup(const double* const* a, int count, const double* b,
                                const double* c, double* const* out);

// dst[row * 16 + j] = src[offsets[j] + row] for row < 32 and j < 16: sixteen
// columns of 32 values each become the lanes of dst.
void GatherLanes(const double* src, const int* offsets, double* dst);

// out[i * count + j] = |re + i im| at rows[i] + j, for i < nRows and j < count.
void Magnitudes(const double* re, const double* im, const int* rows, int nRows, int count,
                double* out);
