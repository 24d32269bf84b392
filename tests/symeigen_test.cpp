#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "common/OrderedProduct.h"
#include "common/VectorOps.h"
#include "pca/SymEigen.h"

namespace {

using Matrix = std::vector<double>;

Matrix RandomSymmetric(int n, unsigned seed)
{
    std::mt19937 rng(seed);
    std::normal_distribution<double> normal;
    Matrix a(static_cast<size_t>(n) * n);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j <= i; ++j)
            a[i * n + j] = a[j * n + i] = normal(rng);
    return a;
}

// Gram matrix of random rows: positive semi-definite with rank `rank`.
Matrix RandomGram(int n, int rank, unsigned seed)
{
    std::mt19937 rng(seed);
    std::normal_distribution<double> normal;
    Matrix x(static_cast<size_t>(n) * rank);
    for (double& v : x)
        v = normal(rng);
    Matrix g(static_cast<size_t>(n) * n);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j)
            g[i * n + j] = VectorDot(&x[i * rank], &x[j * rank], rank);
    return g;
}

// The textbook element-by-element formulation of both stages, written out
// independently of the library: the library must agree with it bit for bit.
void ReferenceTridiagonalize(Matrix& a, int n, double* d, double* c)
{
    auto A = [&](int r, int k) -> double& { return a[r * n + k]; };
    for (int i = n - 1; i >= 1; --i) {
        double h = 0.0;
        if (i > 1)
            for (int k = 0; k < i; ++k)
                h += A(i, k) * A(i, k);
        if (h + 1.0 == 1.0) {
            c[i] = i == 1 ? A(1, 0) : 0.0;
            d[i] = 0.0;
            continue;
        }
        double g = std::sqrt(h);
        if (A(i, i - 1) > 0.0)
            g = -g;
        c[i] = g;
        h = h - A(i, i - 1) * g;
        A(i, i - 1) = A(i, i - 1) - g;
        double f = 0.0;
        for (int j = 0; j < i; ++j) {
            A(j, i) = A(i, j) / h;
            double first = 0.0, second = 0.0;
            for (int k = 0; k <= j; ++k)
                first += A(j, k) * A(i, k);
            for (int k = j + 1; k <= i - 1; ++k)
                second += A(k, j) * A(i, k);
            g = first + second;
            c[j] = g / h;
            f = f + g * A(j, i);
        }
        const double hh = f / (h + h);
        for (int j = 0; j < i; ++j) {
            f = A(i, j);
            g = c[j] - hh * f;
            c[j] = g;
            for (int k = 0; k <= j; ++k)
                A(j, k) = A(j, k) - f * c[k] - g * A(i, k);
        }
        d[i] = h;
    }
    d[0] = 0.0;
    for (int i = 0; i < n; ++i) {
        if (d[i] != 0.0 && i >= 1)
            for (int j = 0; j < i; ++j) {
                double g = 0.0;
                for (int k = 0; k < i; ++k)
                    g += A(i, k) * A(k, j);
                for (int k = 0; k < i; ++k)
                    A(k, j) = A(k, j) - g * A(k, i);
            }
        d[i] = A(i, i);
        A(i, i) = 1.0;
        for (int j = 0; j < i; ++j)
            A(i, j) = A(j, i) = 0.0;
    }
}

void ReferenceTridiagEigen(Matrix& a, int n, double* d, double* e, double eps)
{
    e[n - 1] = 0.0;
    double f = 0.0, t = 0.0;
    for (int j = 0; j < n; ++j) {
        t = std::max(t, eps * (std::fabs(d[j]) + std::fabs(e[j])));
        int m = j;
        while (std::fabs(e[m]) > t)
            ++m;
        if (m > j) {
            do {
                double g = d[j];
                double p = (d[j + 1] - g) / (2.0 * e[j]);
                double r = std::sqrt(p * p + 1.0);
                d[j] = p >= 0.0 ? e[j] / (p + r) : e[j] / (p - r);
                double h = g - d[j];
                for (int i = j + 1; i < n; ++i)
                    d[i] = d[i] - h;
                f = f + h;
                p = d[m];
                double cs = 1.0, sn = 0.0;
                for (int i = m - 1; i >= j; --i) {
                    g = cs * e[i];
                    h = cs * p;
                    if (std::fabs(p) >= std::fabs(e[i])) {
                        cs = e[i] / p;
                        r = std::sqrt(cs * cs + 1.0);
                        e[i + 1] = sn * p * r;
                        sn = cs / r;
                        cs = 1.0 / r;
                    } else {
                        cs = p / e[i];
                        r = std::sqrt(cs * cs + 1.0);
                        e[i + 1] = sn * e[i] * r;
                        sn = 1.0 / r;
                        cs = cs / r;
                    }
                    p = cs * d[i] - sn * g;
                    d[i + 1] = h + sn * (cs * g + sn * d[i]);
                    for (int k = 0; k < n; ++k) {
                        h = a[k * n + i + 1];
                        a[k * n + i + 1] = sn * a[k * n + i] + cs * h;
                        a[k * n + i] = cs * a[k * n + i] - sn * h;
                    }
                }
                e[j] = sn * p;
                d[j] = cs * p;
            } while (std::fabs(e[j]) > t);
        }
        d[j] = d[j] + f;
    }
    for (int i = 0; i < n; ++i) {
        int k = i;
        double p = d[i];
        for (int j = i + 1; j < n; ++j) {
            if (d[j] > p)
                break;
            k = j;
            p = d[j];
        }
        if (k != i) {
            d[k] = d[i];
            d[i] = p;
            for (int r = 0; r < n; ++r)
                std::swap(a[r * n + i], a[r * n + k]);
        }
    }
}

bool SameBits(const double* x, const double* y, size_t n)
{
    return std::memcmp(x, y, n * sizeof(double)) == 0;
}

struct Eigen {
    Matrix vectors;
    std::vector<double> values;
    int status;
};

Eigen Solve(Matrix a, int n)
{
    std::vector<double> d(n), w(n + 1);
    testing::internal::CaptureStdout();
    SymTridiagonalize(a.data(), n, d.data(), w.data());
    const int status = TridiagEigen(a.data(), n, d.data(), w.data() + 1, 1e-10);
    testing::internal::GetCapturedStdout();
    return {a, d, status};
}

} // namespace

TEST(SymEigen, BitIdenticalToTextbookLoops)
{
    struct Case {
        int n;
        int rank; // 0: full random symmetric
    };
    for (const Case& k : {Case{1, 0}, Case{2, 0}, Case{3, 0}, Case{4, 0}, Case{5, 0}, Case{9, 0},
                          Case{37, 0}, Case{130, 0}, Case{301, 0}, Case{40, 6}, Case{97, 97},
                          Case{150, 20}}) {
        SCOPED_TRACE(testing::Message() << "n=" << k.n << " rank=" << k.rank);
        const int n = k.n;
        const Matrix input = k.rank ? RandomGram(n, k.rank, 7u + n) : RandomSymmetric(n, 3u + n);
        Matrix ref = input;
        std::vector<double> rd(n), rw(n + 1);
        ReferenceTridiagonalize(ref, n, rd.data(), rw.data());
        Matrix fast = input;
        std::vector<double> fd(n), fw(n + 1);
        testing::internal::CaptureStdout();
        SymTridiagonalize(fast.data(), n, fd.data(), fw.data());
        testing::internal::GetCapturedStdout();
        ASSERT_TRUE(SameBits(ref.data(), fast.data(), ref.size()));
        ASSERT_TRUE(SameBits(rd.data(), fd.data(), n));
        ASSERT_TRUE(SameBits(rw.data() + 1, fw.data() + 1, n - 1));

        ReferenceTridiagEigen(ref, n, rd.data(), rw.data() + 1, 1e-10);
        testing::internal::CaptureStdout();
        EXPECT_EQ(TridiagEigen(fast.data(), n, fd.data(), fw.data() + 1, 1e-10), 1);
        testing::internal::GetCapturedStdout();
        EXPECT_TRUE(SameBits(ref.data(), fast.data(), ref.size()));
        EXPECT_TRUE(SameBits(rd.data(), fd.data(), n));
    }
}

TEST(SymEigen, EigenpairsOfRandomSymmetricMatrices)
{
    for (int n : {2, 6, 50, 200}) {
        SCOPED_TRACE(n);
        const Matrix a = RandomSymmetric(n, 100u + n);
        const Eigen eig = Solve(a, n);
        ASSERT_EQ(eig.status, 1);
        double scale = 0;
        for (double v : eig.values)
            scale = std::max(scale, std::fabs(v));
        for (int j = 0; j < n; ++j) {
            double residual = 0, norm = 0;
            for (int r = 0; r < n; ++r) {
                double av = 0;
                for (int k = 0; k < n; ++k)
                    av += a[r * n + k] * eig.vectors[k * n + j];
                residual = std::max(residual, std::fabs(av - eig.values[j] * eig.vectors[r * n + j]));
                norm += eig.vectors[r * n + j] * eig.vectors[r * n + j];
            }
            EXPECT_LT(residual, 1e-12 * scale * n);
            EXPECT_NEAR(norm, 1.0, 1e-12);
            for (int q = 0; q < j; ++q) {
                double dot = 0;
                for (int r = 0; r < n; ++r)
                    dot += eig.vectors[r * n + j] * eig.vectors[r * n + q];
                EXPECT_NEAR(dot, 0.0, 1e-12);
            }
        }
        // Trace is preserved.
        double trace = 0, sum = 0;
        for (int i = 0; i < n; ++i) {
            trace += a[i * n + i];
            sum += eig.values[i];
        }
        EXPECT_NEAR(trace, sum, 1e-10 * n);
    }
}

TEST(SymEigen, KnownSpectraAndRepeatedEigenvalues)
{
    // [[2, 1], [1, 2]]: eigenvalues 1 and 3 with vectors (1, -1) and (1, 1) / sqrt 2.
    Eigen eig = Solve({2, 1, 1, 2}, 2);
    std::vector<double> values = eig.values;
    std::sort(values.begin(), values.end());
    EXPECT_NEAR(values[0], 1.0, 1e-14);
    EXPECT_NEAR(values[1], 3.0, 1e-14);
    // A diagonal matrix with repeated entries keeps an orthonormal basis.
    Matrix diag(25, 0.0);
    const double entries[] = {4, 1, 4, 0, 1};
    for (int i = 0; i < 5; ++i)
        diag[i * 5 + i] = entries[i];
    eig = Solve(diag, 5);
    values = eig.values;
    std::sort(values.begin(), values.end());
    EXPECT_EQ(values, (std::vector<double>{0, 1, 1, 4, 4}));
    for (int j = 0; j < 5; ++j) {
        double norm = 0;
        for (int r = 0; r < 5; ++r)
            norm += eig.vectors[r * 5 + j] * eig.vectors[r * 5 + j];
        EXPECT_NEAR(norm, 1.0, 1e-15);
    }
}

TEST(SymEigen, ProgressLines)
{
    Matrix a = RandomSymmetric(3, 1);
    std::vector<double> d(3), w(4);
    testing::internal::CaptureStdout();
    SymTridiagonalize(a.data(), 3, d.data(), w.data());
    TridiagEigen(a.data(), 3, d.data(), w.data() + 1, 1e-10);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(out, "\rloop1 times: 2   \rloop1 times: 1   "
                   "\rloop2 times: 0   \rloop2 times: 1   \rloop2 times: 2   "
                   "\rloop3 times: 0   \rloop3 times: 1   \rloop3 times: 2   ");
}

TEST(SymEigen, NotANumberStopsInsteadOfLooping)
{
    Matrix a = RandomSymmetric(6, 2);
    a[7] = a[12] = std::nan("");
    const Eigen eig = Solve(a, 6); // must return; the values are meaningless
    EXPECT_TRUE(eig.status == 0 || eig.status == 1);
}

TEST(SortIndexDescending, OrderAndTies)
{
    const double v[] = {1, 5, 3, 5, -2, 3};
    int index[6];
    SortIndexDescending(v, index, 6);
    EXPECT_EQ(std::vector<int>(index, index + 6), (std::vector<int>{1, 3, 2, 5, 0, 4}));
    // Position i wins a tie when it holds one of the largest remaining values.
    const double w[] = {2, 7, 7, 7};
    SortIndexDescending(w, index, 4);
    EXPECT_EQ(std::vector<int>(index, index + 4), (std::vector<int>{1, 2, 3, 0}));
    const double x[] = {7, 7, 7};
    SortIndexDescending(x, index, 3);
    EXPECT_EQ(std::vector<int>(index, index + 3), (std::vector<int>{0, 1, 2}));
    const double y[] = {1, 9, 9};
    SortIndexDescending(y, index, 3); // i = 1 holds a 9: it wins over the first max
    EXPECT_EQ(std::vector<int>(index, index + 3), (std::vector<int>{1, 2, 0}));
}

TEST(OrderedProduct, MatchesVectorDotBitForBit)
{
    std::mt19937 rng(5);
    std::normal_distribution<double> normal;
    for (int threads : {1, 2, 3}) {
        for (auto dims : {std::vector<size_t>{1, 1, 1}, {5, 7, 3}, {9, 300, 17}, {33, 513, 41},
                          {130, 70, 260}}) {
            const size_t rows = dims[0], inner = dims[1], cols = dims[2];
            Matrix A(rows * inner), Bt(cols * inner);
            for (double& v : A)
                v = normal(rng);
            for (double& v : Bt)
                v = normal(rng);
            Matrix B(inner * cols);
            for (size_t t = 0; t < inner; ++t)
                for (size_t j = 0; j < cols; ++j)
                    B[t * cols + j] = Bt[j * inner + t];
            Matrix want(rows * cols);
            for (size_t i = 0; i < rows; ++i)
                for (size_t j = 0; j < cols; ++j)
                    want[i * cols + j] = VectorDot(&A[i * inner], &Bt[j * inner], int(inner));
            Matrix got(rows * cols, -1.0);
            ASSERT_TRUE(OrderedProduct(MatrixView::Dense(A.data(), inner),
                                       MatrixView::Dense(B.data(), cols), got.data(), cols, rows,
                                       cols, inner, false, threads));
            EXPECT_TRUE(SameBits(want.data(), got.data(), want.size()));
            // The same through row tables and transposed views.
            std::vector<const double*> rowsA(rows), rowsBt(cols);
            for (size_t i = 0; i < rows; ++i)
                rowsA[i] = &A[i * inner];
            for (size_t j = 0; j < cols; ++j)
                rowsBt[j] = &Bt[j * inner];
            Matrix viaTables(rows * cols, -1.0);
            ASSERT_TRUE(OrderedProduct(MatrixView::Rows(rowsA.data()),
                                       MatrixView::Rows(rowsBt.data(), true), viaTables.data(),
                                       cols, rows, cols, inner, false, threads));
            EXPECT_TRUE(SameBits(want.data(), viaTables.data(), want.size()));
            Matrix viaTransposedA(rows * cols, -1.0);
            Matrix At(inner * rows);
            for (size_t i = 0; i < rows; ++i)
                for (size_t t = 0; t < inner; ++t)
                    At[t * rows + i] = A[i * inner + t];
            ASSERT_TRUE(OrderedProduct(MatrixView::Dense(At.data(), rows, true),
                                       MatrixView::Dense(B.data(), cols), viaTransposedA.data(),
                                       cols, rows, cols, inner, false, threads));
            EXPECT_TRUE(SameBits(want.data(), viaTransposedA.data(), want.size()));
        }
    }
}

TEST(OrderedProduct, UpperTriangleOnly)
{
    const size_t n = 21, inner = 300;
    std::mt19937 rng(9);
    std::normal_distribution<double> normal;
    Matrix X(n * inner);
    for (double& v : X)
        v = normal(rng);
    Matrix G(n * n, 42.0);
    ASSERT_TRUE(OrderedProduct(MatrixView::Dense(X.data(), inner),
                               MatrixView::Dense(X.data(), inner, true), G.data(), n, n, n, inner,
                               true, 2));
    for (size_t i = 0; i < n; ++i)
        for (size_t j = 0; j < n; ++j) {
            if (j < i) {
                EXPECT_EQ(G[i * n + j], 42.0);
            } else {
                EXPECT_EQ(G[i * n + j], VectorDot(&X[i * inner], &X[j * inner], int(inner)));
            }
        }
}
