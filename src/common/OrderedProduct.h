#pragma once
// Fast dense products whose every element is summed exactly as a plain
// inner-product loop would sum it: starting from 0.0, one product at a time,
// in ascending order of the inner index. Only independent sums run side by
// side, so results are bit-identical to VectorDot whatever the blocking,
// vector width or thread count.
#include <cstddef>

// A matrix operand held either densely (row r at data + r * stride) or as a
// row table (row r at rowTable[r]). A transposed view exchanges the roles:
// element (r, c) of the view is element (c, r) of the storage.
struct MatrixView {
    const double* data = nullptr;
    size_t stride = 0;
    const double* const* rowTable = nullptr;
    bool transposed = false;

    static MatrixView Dense(const double* d, size_t rowStride, bool transpose = false)
    {
        MatrixView v;
        v.data = d;
        v.stride = rowStride;
        v.transposed = transpose;
        return v;
    }
    static MatrixView Rows(const double* const* table, bool transpose = false)
    {
        MatrixView v;
        v.rowTable = table;
        v.transposed = transpose;
        return v;
    }
    const double* StoredRow(size_t r) const { return rowTable ? rowTable[r] : data + r * stride; }
    double At(size_t r, size_t c) const
    {
        return transposed ? StoredRow(c)[r] : StoredRow(r)[c];
    }
};

// C (rows x cols, row stride ldc) = A (rows x inner) * B (inner x cols).
// With upperOnly (square result) only the elements with column >= row are
// computed and written; the others are left untouched. A thread count above 1 splits the
// rows; results do not depend on it. Returns false when work storage cannot
// be had (C may then be partly written).
bool OrderedProduct(MatrixView A, MatrixView B, double* C, size_t ldc, size_t rows, size_t cols,
                    size_t inner, bool upperOnly = false, int threads = 1);

// The same with C given as a row table (row i at CRows[i]); no upper-only mode.
bool OrderedProduct(MatrixView A, MatrixView B, double* const* CRows, size_t rows, size_t cols,
                    size_t inner, int threads = 1);

// out[i] = VectorDot(v, rows[i], n) for i < nRows, bit for bit, computed several
// rows at a time.
void DotRows(const double* v, const double* const* rows, int nRows, int n, double* out);

// out[b][i] = VectorDot(v[b], rows[i], n) for b < count and i < nRows, bit for
// bit as DotRows gives them, with the vectors as the lanes of one product so
// that each row is read once for all of them.
void DotRowsBatch(const double* const* v, int count, const double* const* rows, int nRows, int n,
                  double* const* out);

// Threads the training code may use: the hardware concurrency, at most 2,
// unless VELMORA_THREADS sets another positive number.
int TrainingThreads();
