#pragma once
// Eigen-decomposition of real symmetric matrices (n x n, row-major): Householder
// tridiagonalisation with accumulated transformations, then the QL method with
// implicit shifts. Both stages print their progress to standard output.

// Reduces the symmetric matrix a to tridiagonal form. On return a holds the
// orthogonal transformation Q (columns), d[0..n-1] the diagonal and c[i]
// (i = 1..n-1) the sub-diagonal element between rows i-1 and i; c[0] is scratch.
void SymTridiagonalize(double* a, int n, double* d, double* c);

// Eigenvalues and eigenvectors of the tridiagonal matrix (diagonal d,
// sub-diagonal e[k] between rows k and k+1). Every rotation is applied to the
// columns of a, so the Q of SymTridiagonalize leaves as the eigenvectors of the
// original matrix, column j belonging to d[j]. e is destroyed. Returns 1, or 0
// when an eigenvalue fails to converge within its sweep budget (results are
// then meaningless).
int TridiagEigen(double* a, int n, double* d, double* e, double eps);

// index[i] = position of the i-th largest value; among equal values position i
// itself wins when it holds one of them, otherwise the lowest position.
void SortIndexDescending(const double* values, int* index, int n);

// Sweeps one eigenvalue may take before TridiagEigen gives up.
constexpr int kMaxQLSweeps = 100;
