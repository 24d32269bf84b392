#pragma once
// Singular value decomposition of dense row-major matrices: Householder
// bidiagonalisation followed by implicitly shifted QR sweeps, with the left and
// right singular vectors accumulated.

class CSVD {
public:
    CSVD() = default;
    ~CSVD() = default;

    // Thin decomposition A = U W V^T of an m x n matrix, m >= n. On success A
    // holds U (m x n), W (n x n) the singular values on its diagonal, largest
    // first and all non-negative, and V (n x n) the right singular vectors as
    // columns. On failure (m < n, no convergence, no memory) A, W and V are
    // left as they were.
    bool Decompose(double* A, int m, int n, double* W, double* V);

    // The whole SVD, not only its first step: Householder bidiagonalisation,
    // then shifted QR sweeps. a (m x n) is destroyed: it leaves with the
    // singular values on its diagonal and the unconverged superdiagonal above
    // it. u receives U (m x m; the first min(m, n) columns are defined) and v
    // receives V^T (n x n). eps is the relative tolerance for negligible
    // elements; ka (>= max(m, n)) the length of the work vectors. Returns false
    // when a singular value needs more than 60 sweeps.
    bool HouseholderQR(double* a, int m, int n, double* u, double* v, double eps, int ka);

    // Plane rotation in the BLAS drotg convention: on return f holds r, the
    // signed length of (f, g), and (cs, sn) the rotation that maps (f, g) to (r, 0).
    static void GivensParam(double& f, double& g, double& cs, double& sn);

private:
    // Writes s and e onto the diagonal and superdiagonal of a and transposes v in place.
    static void ArrangeResult(double* a, const double* e, const double* s, double* v, int m,
                              int n);
};
