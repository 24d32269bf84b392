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

// Four 32 x 32 quadrants laid end to end: the folded operands of the Gabor filtering.
constexpr int kQuadrantCells = 1024;

// out[i] = sum over quadrants q = 0..3 of a[q x 1024 + i] x b[q x 1024 + i],
// complex, for i = 0..1023; the products are added in order of q from zero.
void SumOfQuadrantProducts(const double* aRe, const double* aIm, const double* bRe,
                           const double* bIm, double* outRe, double* outIm);
