#pragma once
// Dense matrix routines on row-major arrays of doubles. Each returns false and
// writes nothing when it refuses its arguments.

// R = A + B. R may be A or B.
bool MatrixAdd(const double* A, const double* B, double* R, int rows, int cols);

// R = A - B. R may be A or B.
bool MatrixSub(const double* A, const double* B, double* R, int rows, int cols);

// R (rowsA x colsB) = A B, every element summed over t ascending from 0.0.
// R must not overlap A or B. An empty result (rowsA or colsB below 1) is
// accepted and writes nothing.
bool MatrixMul(const double* A, int rowsA, int colsA, const double* B, int rowsB, int colsB,
               double* R);

// B (cols x rows) = transpose of A. B must not overlap A.
bool MatrixTranspose(const double* A, int rows, int cols, double* B);

// B = s A. B may be A.
bool MatrixScale(const double* A, double* B, double s, int rows, int cols);
