#pragma once
#include <cstdint>

// A row table: an array of row pointers, each row a separate array of doubles.
// Returns null when rows or cols is below 1 or any allocation fails, after
// releasing what it had obtained. Rows are not cleared.
double** New2DPointer(int rows, int cols);

// Releases each non-null row among the first `rows`, then the pointer array.
void Delete2DPointer(double** table, int rows);

// Rows behind nClassNum class counts: their total, 0 without classes, or -1 when
// a class is empty or the counts are missing (the rows are read through them).
int64_t ClassRowTotal(int nClassNum, const int* pnClassSampNum);
