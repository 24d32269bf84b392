#include "lda/MatrixOps.h"

#include <cstddef>

namespace {

size_t Count(int rows, int cols)
{
    return static_cast<size_t>(rows) * static_cast<size_t>(cols);
}

} // namespace

bool MatrixAdd(const double* A, const double* B, double* R, int rows, int cols)
{
    if (A == nullptr || B == nullptr || R == nullptr || rows < 1 || cols < 1)
        return false;
    const size_t n = Count(rows, cols);
    for (size_t i = 0; i < n; ++i)
        R[i] = A[i] + B[i];
    return true;
}

bool MatrixSub(const double* A, const double* B, double* R, int rows, int cols)
{
    if (A == nullptr || B == nullptr || R == nullptr || rows < 1 || cols < 1)
        return false;
    const size_t n = Count(rows, cols);
    for (size_t i = 0; i < n; ++i)
        R[i] = A[i] - B[i];
    return true;
}

bool MatrixMul(const double* A, int rowsA, int colsA, const double* B, int rowsB, int colsB,
               double* R)
{
    if (A == nullptr || B == nullptr || R == nullptr || colsA != rowsB)
        return false;
    if (rowsA < 1 || colsB < 1)
        return true;
    // Row i of R accumulates the rows of B scaled by A[i][t], t ascending: every
    // element sees the same additions in the same order as an inner-product loop,
    // while the inner loop runs along contiguous memory.
    const size_t nb = static_cast<size_t>(colsB);
    for (int i = 0; i < rowsA; ++i) {
        double* r = R + static_cast<size_t>(i) * nb;
        for (size_t j = 0; j < nb; ++j)
            r[j] = 0.0;
        const double* a = A + static_cast<size_t>(i) * static_cast<size_t>(colsA);
        for (int t = 0; t < colsA; ++t) {
            const double at = a[t];
            const double* b = B + static_cast<size_t>(t) * nb;
            for (size_t j = 0; j < nb; ++j)
                r[j] += at * b[j];
        }
    }
    return true;
}

bool MatrixTranspose(const double* A, int rows, int cols, double* B)
{
    if (A == nullptr || B == nullptr || rows < 1 || cols < 1)
        return false;
    const size_t r = static_cast<size_t>(rows);
    const size_t c = static_cast<size_t>(cols);
    for (size_t i = 0; i < r; ++i)
        for (size_t j = 0; j < c; ++j)
            B[j * r + i] = A[i * c + j];
    return true;
}

bool MatrixScale(const double* A, double* B, double s, int rows, int cols)
{
    if (A == nullptr || B == nullptr || rows < 1 || cols < 1)
        return false;
    const size_t n = Count(rows, cols);
    for (size_t i = 0; i < n; ++i)
        B[i] = s * A[i];
    return true;
}
