#include "common/VectorOps.h"

#include <cmath>

double VectorDot(const double* a, const double* b, int n)
{
    double sum = 0.0;
    for (int i = 0; i < n; ++i)
        sum += a[i] * b[i];
    return sum;
}

double VectorNormalize(double* v, int n)
{
    const double length = std::sqrt(VectorDot(v, v, n));
    for (int i = 0; i < n; ++i)
        v[i] /= length;
    return length;
}

double VectorCosine(const double* a, const double* b, int n)
{
    return VectorDot(a, b, n) / std::sqrt(VectorDot(a, a, n)) / std::sqrt(VectorDot(b, b, n));
}
