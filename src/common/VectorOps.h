#pragma once

// Sum of a[i] * b[i] in index order from 0.0; 0.0 when n < 1. The fixed order
// keeps results identical across builds.
double VectorDot(const double* a, const double* b, int n);

// Divides v by its Euclidean length in place and returns the length.
// A zero vector is not guarded: its elements become not-a-number.
double VectorNormalize(double* v, int n);

// Cosine of the angle between a and b; not-a-number for a zero vector.
double VectorCosine(const double* a, const double* b, int n);
