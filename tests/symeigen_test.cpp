#include "support/Common.h"

#include "common/OrderedProduct.h"
#include "common/VectorOps.h"
#include "pca/SymEigen.h"
#include "support/NaiveVsFast.h"
#include "support/RefusedAllocations.h"

using namespace velmora_test;

namespace {

using Matrix = std::vector<double>;

// Random symmetric, or with rank > 0 the Gram matrix of `rank` random columns
// (positive semi-definite of that rank), or with rank < 0 diagonal with
// repeated values (every Householder row is already zero).
Matrix RandomSymmetric(int n, std::mt19937& rng, int rank = 0)
{
    const Matrix x = RandomValues(static_cast<size_t>(n) * (rank > 0 ? rank : n), rng);
    Matrix a(static_cast<size_t>(n) * n);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j <= i; ++j)
            a[i * n + j] = a[j * n + i] = rank > 0 ? VectorDot(&x[i * rank], &x[j * rank], rank)
                                          : rank < 0 ? (i == j) * double(i * i % 5)
                                                     : x[i * n + j];
    return a;
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

// Both stages, textbook or library: the tridiagonal form (d, then e), the
// vectors, then the values; the solver's status last.
Matrix Stages(Matrix a, int n, bool textbook = false)
{
    std::vector<double> d(n), w(n + 1);
    testing::internal::CaptureStdout();
    if (textbook)
        ReferenceTridiagonalize(a, n, d.data(), w.data());
    else
        SymTridiagonalize(a.data(), n, d.data(), w.data());
    Matrix out = d;
    out.insert(out.end(), w.begin() + 1, w.end());
    int status = 1;
    if (textbook)
        ReferenceTridiagEigen(a, n, d.data(), w.data() + 1, 1e-10);
    else
        status = TridiagEigen(a.data(), n, d.data(), w.data() + 1, 1e-10);
    testing::internal::GetCapturedStdout();
    out.insert(out.end(), a.begin(), a.end());
    out.insert(out.end(), d.begin(), d.end());
    out.push_back(status);
    return out;
}

} // namespace

TEST(SymEigen, BitIdenticalToTextbookLoops)
{
    const std::pair<int, int> cases[] = {{1, 0}, {2, 0}, {3, 0}, {4, 0}, {5, 0}, {9, 0}, {37, 0}, {130, 0}, {301, 0},
                                         {40, 6}, {97, 97}, {150, 20}, {7, -1}}; // n, rank (0: full random)
    const auto make = [&cases](std::mt19937& rng, int t) {
        return std::pair{cases[t].first, RandomSymmetric(cases[t].first, rng, cases[t].second)};
    };
    const auto fast = [](const std::pair<int, Matrix>& in) { return Stages(in.second, in.first); };
    const auto naive = [](const std::pair<int, Matrix>& in) { return Stages(in.second, in.first, true); };
    ExpectSameOnRandomCases(static_cast<int>(std::size(cases)), 3, make, fast, naive);
    // Without room for the transposed copy the rotations go straight to the
    // matrix; without any work vector the first stage runs the textbook loops.
    for (const size_t refused : {8 * 1024, 1}) {
        g_refuseFrom = refused;
        ExpectSameOnRandomCases(static_cast<int>(std::size(cases)), 3, make, fast, naive);
    }
    g_refuseFrom = 0;
}

TEST(SymEigen, ProgressLinesAndNotANumber)
{
    std::mt19937 rng(1);
    Matrix a = RandomSymmetric(3, rng);
    std::vector<double> d(3), w(4);
    testing::internal::CaptureStdout();
    SymTridiagonalize(a.data(), 3, d.data(), w.data());
    TridiagEigen(a.data(), 3, d.data(), w.data() + 1, 1e-10);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "\rloop1 times: 2   \rloop1 times: 1   "
              "\rloop2 times: 0   \rloop2 times: 1   \rloop2 times: 2   "
              "\rloop3 times: 0   \rloop3 times: 1   \rloop3 times: 2   ");

    Matrix bad = RandomSymmetric(6, rng);
    bad[7] = bad[12] = std::nan("");
    const double status = Stages(bad, 6).back(); // must return; the values are meaningless
    EXPECT_TRUE(status == 0 || status == 1);
}

TEST(SortIndexDescending, OrderAndTies)
{
    // Position i wins a tie when it holds one of the largest remaining values.
    const std::pair<std::vector<double>, std::vector<int>> cases[] = {
        {{1, 5, 3, 5, -2, 3}, {1, 3, 2, 5, 0, 4}}, {{2, 7, 7, 7}, {1, 2, 3, 0}}, {{7, 7, 7}, {0, 1, 2}},
        {{1, 9, 9}, {1, 2, 0}}};
    for (const auto& [values, order] : cases) {
        std::vector<int> index(values.size());
        SortIndexDescending(values.data(), index.data(), static_cast<int>(values.size()));
        EXPECT_EQ(index, order);
    }
}

// Dense, row-table and transposed views, on 1 to 3 threads, against VectorDot.
TEST(OrderedProduct, MatchesVectorDotBitForBit)
{
    std::mt19937 rng(5);
    for (int threads : {1, 2, 3}) {
        for (auto dims : {std::vector<size_t>{1, 1, 1}, {5, 7, 3}, {9, 300, 17}, {33, 513, 41},
                          {130, 70, 260}}) {
            const size_t rows = dims[0], inner = dims[1], cols = dims[2];
            const Matrix A = RandomValues(rows * inner, rng), Bt = RandomValues(cols * inner, rng);
            Matrix B(inner * cols), At(inner * rows), want(rows * cols);
            std::vector<const double*> rowsA(rows), rowsBt(cols);
            for (size_t t = 0; t < inner; ++t) {
                for (size_t j = 0; j < cols; ++j)
                    B[t * cols + j] = Bt[j * inner + t];
                for (size_t i = 0; i < rows; ++i)
                    At[t * rows + i] = A[i * inner + t];
            }
            for (size_t i = 0; i < rows; ++i)
                for (size_t j = 0; j < cols; ++j)
                    want[i * cols + j] = VectorDot(&A[i * inner], &Bt[j * inner], int(inner));
            for (size_t i = 0; i < rows; ++i)
                rowsA[i] = &A[i * inner];
            for (size_t j = 0; j < cols; ++j)
                rowsBt[j] = &Bt[j * inner];
            const std::pair<MatrixView, MatrixView> views[] = {
                {MatrixView::Dense(A.data(), inner), MatrixView::Dense(B.data(), cols)},
                {MatrixView::Rows(rowsA.data()), MatrixView::Rows(rowsBt.data(), true)},
                {MatrixView::Dense(At.data(), rows, true), MatrixView::Dense(B.data(), cols)}};
            for (const auto& [a, b] : views) {
                Matrix got(rows * cols, -1.0);
                ASSERT_TRUE(OrderedProduct(a, b, got.data(), cols, rows, cols, inner, false, threads));
                EXPECT_TRUE(Same(want, got));
            }
        }
    }
}

TEST(OrderedProduct, UpperTriangleOnly)
{
    const size_t n = 21, inner = 300;
    std::mt19937 rng(9);
    const Matrix X = RandomValues(n * inner, rng);
    Matrix G(n * n, 42.0);
    ASSERT_TRUE(OrderedProduct(MatrixView::Dense(X.data(), inner), MatrixView::Dense(X.data(), inner, true),
                               G.data(), n, n, n, inner, true, 2));
    for (size_t i = 0; i < n; ++i)
        for (size_t j = 0; j < n; ++j)
            EXPECT_EQ(G[i * n + j], j < i ? 42.0 : VectorDot(&X[i * inner], &X[j * inner], int(inner)));
}
