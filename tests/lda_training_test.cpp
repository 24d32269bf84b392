#include "support/Common.h"

#include "common/ByteOrder.h"
#include "common/RowTable.h"
#include "lda/IncreaseStatistics.h"
#include "lda/IncrementalData.h"
#include "lda/LDA.h"
#include "lda/MatrixOps.h"
#include "lda/SVD.h"
#include "support/HandModel.h"
#include "support/MessageCapture.h"
#include "support/NaiveVsFast.h"

using namespace velmora_test;

namespace {

// Sizes an LDA as training does before it allocates.
bool Allocate(CLDA& lda, int k, int d, int classes)
{
    lda.m_nValidEigenNum = k;
    lda.m_nFeatureVecDim = d;
    lda.m_nClassNum = classes;
    return lda.AllocMemory();
}

double AbsCosine(const double* a, const std::vector<double>& b)
{
    double ab = 0, aa = 0, bb = 0;
    for (size_t i = 0; i < b.size(); ++i) {
        ab += a[i] * b[i];
        aa += a[i] * a[i];
        bb += b[i] * b[i];
    }
    return std::fabs(ab) / std::sqrt(aa * bb);
}

std::vector<double> Random(int rows, int cols, unsigned seed)
{
    std::mt19937 rng(seed);
    return RandomValues(static_cast<size_t>(rows) * cols, rng, -1.0, 1.0);
}

// max |U W V^T - A|, and the orthonormality defects of U's and V's columns.
struct Check {
    double reconstruction = 0, orthoU = 0, orthoV = 0;
};

Check Verify(const std::vector<double>& original, const std::vector<double>& U,
             const std::vector<double>& W, const std::vector<double>& V, int m, int n)
{
    Check c;
    for (int i = 0; i < m; ++i)
        for (int j = 0; j < n; ++j) {
            double s = 0;
            for (int k = 0; k < n; ++k)
                s += U[i * n + k] * W[k * n + k] * V[j * n + k];
            c.reconstruction = std::max(c.reconstruction, std::fabs(s - original[i * n + j]));
        }
    for (int p = 0; p < n; ++p)
        for (int q = 0; q < n; ++q) {
            double su = 0, sv = 0;
            for (int i = 0; i < m; ++i)
                su += U[i * n + p] * U[i * n + q];
            for (int i = 0; i < n; ++i)
                sv += V[i * n + p] * V[i * n + q];
            const double want = p == q ? 1.0 : 0.0;
            c.orthoV = std::max(c.orthoV, std::fabs(sv - want));
            // Columns of U belonging to zero singular values are not defined.
            if (W[p * n + p] > 1e-9 && W[q * n + q] > 1e-9)
                c.orthoU = std::max(c.orthoU, std::fabs(su - want));
        }
    return c;
}

// Decompose with a chosen tolerance, straight through HouseholderQR.
bool DecomposeWith(double eps, std::vector<double>& A, int m, int n, std::vector<double>& W,
                   std::vector<double>& V)
{
    CSVD svd;
    std::vector<double> work = A, u(static_cast<size_t>(m) * m, 0.0), vt(static_cast<size_t>(n) * n);
    if (!svd.HouseholderQR(work.data(), m, n, u.data(), vt.data(), eps, std::max(m, n)))
        return false;
    for (int i = 0; i < m; ++i)
        for (int j = 0; j < n; ++j)
            A[i * n + j] = u[i * m + j];
    std::fill(W.begin(), W.end(), 0.0);
    for (int i = 0; i < n; ++i) {
        W[i * n + i] = work[i * n + i];
        for (int j = 0; j < n; ++j)
            V[i * n + j] = vt[j * n + i];
    }
    return true;
}

// W diagonal, its diagonal not negative and descending.
void ExpectDiagonalSorted(const std::vector<double>& W, int n)
{
    for (int i = 0; i < n * n; ++i)
        ASSERT_TRUE(i % (n + 1) != 0 ? W[i] == 0.0 : W[i] >= 0.0 && (i + n + 1 >= n * n || W[i] >= W[i + n + 1])) << i;
}

// Samples grouped by class: random class centres, spread growing with the component.
struct Batch {
    int dim;
    std::vector<std::vector<double>> rows;
    std::vector<int> counts;
    std::vector<double*> table;
    Batch(int d, std::vector<std::vector<double>> r, std::vector<int> c)
        : dim(d), rows(std::move(r)), counts(std::move(c)), table(Pointers(rows))
    {
    }
    static Batch Random(int d, const std::vector<int>& counts, unsigned seed)
    {
        std::mt19937 gen(seed);
        std::normal_distribution<double> g(0.0, 1.0);
        std::vector<std::vector<double>> rows;
        for (int n : counts) {
            std::vector<double> centre(d);
            for (double& c : centre)
                c = 4.0 * g(gen);
            for (int s = 0; s < n; ++s) {
                rows.push_back(centre);
                for (int j = 0; j < d; ++j)
                    rows.back()[j] += g(gen) * (1.0 + 0.3 * j);
            }
        }
        return Batch(d, rows, counts);
    }
    int Classes() const { return static_cast<int>(counts.size()); }
    bool Train(CLDA& lda) { return lda.TrainLDA(table.data(), Classes(), counts.data(), dim); }
    bool Increase(CLDA& lda, const std::string& path)
    {
        return lda.IncreaseTrainLDA(table.data(), Classes(), counts.data(), dim, path.c_str());
    }
    std::string SaveStats(const ScratchDir& dir, const std::string& name)
    {
        CIncreaseStatistics st;
        EXPECT_TRUE(st.Reset(dim));
        EXPECT_TRUE(st.AddClasses(table.data(), Classes(), counts.data(), dim));
        EXPECT_TRUE(st.Save((dir / name).c_str()));
        return (dir / name);
    }
};

// Same eigenvalues (relative tol) and vectors up to sign, same overall mean.
void ExpectSameSubspace(const CLDA& a, const CLDA& b, double tol)
{
    ASSERT_TRUE(a.m_bLDAReady && b.m_bLDAReady);
    ASSERT_EQ(a.m_nValidEigenNum, b.m_nValidEigenNum);
    const int d = a.m_nFeatureVecDim;
    for (int i = 0; i < a.m_nValidEigenNum; ++i) {
        EXPECT_NEAR(a.m_plfEigenVals[i], b.m_plfEigenVals[i], tol * std::fabs(b.m_plfEigenVals[i]));
        const double sign = a.m_pplfEigenVecs[i][0] * b.m_pplfEigenVecs[i][0] < 0 ? -1.0 : 1.0;
        for (int j = 0; j < d; ++j)
            EXPECT_NEAR(a.m_pplfEigenVecs[i][j], sign * b.m_pplfEigenVecs[i][j], tol) << i << "," << j;
    }
    for (int j = 0; j < d; ++j)
        EXPECT_NEAR(a.m_plfMeanVec[j], b.m_plfMeanVec[j], tol * (1 + std::fabs(b.m_plfMeanVec[j])));
}

// Two classes in two dimensions, worked by hand:
// class 0: (1,2) (3,4)        mean (2,3)  scatter [[2,2],[2,2]]
// class 1: (0,0) (2,0) (4,3)  mean (2,1)  scatter [[8,6],[6,6]]
const double kSamples[5][2] = {{1, 2}, {3, 4}, {0, 0}, {2, 0}, {4, 3}};
const double* const kRows[5] = {kSamples[0], kSamples[1], kSamples[2], kSamples[3], kSamples[4]};
const int kCounts[2] = {2, 3};

} // namespace

// Classes of 30 and 20 samples, so that every weight shows.
TEST(LDATraining, TwoClassDirectionIsInverseWithinScatterTimesMeanDifference)
{
    const int d = 4, n[2] = {30, 20};
    Batch s = Batch::Random(d, {n[0], n[1]}, 1);
    CLDA lda;
    ASSERT_TRUE(s.Train(lda));
    EXPECT_TRUE(lda.m_bLDAReady);
    ASSERT_EQ(lda.m_nValidEigenNum, 1);
    EXPECT_EQ(lda.m_nTotalSampNum, 50);

    // Independent means and within-class scatter (divided by N).
    std::vector<double> mu[2] = {std::vector<double>(d, 0.0), std::vector<double>(d, 0.0)};
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < n[c]; ++i)
            for (int k = 0; k < d; ++k)
                mu[c][k] += s.rows[c * 30 + i][k] / n[c];
    std::vector<double> Sw(d * d, 0.0);
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < n[c]; ++i)
            for (int r = 0; r < d; ++r)
                for (int k = 0; k < d; ++k)
                    Sw[r * d + k] += (s.rows[c * 30 + i][r] - mu[c][r]) * (s.rows[c * 30 + i][k] - mu[c][k]) / 50;
    for (int k = 0; k < d * d; ++k)
        EXPECT_NEAR(lda.m_plfSw[k], Sw[k], 1e-12);
    for (int k = 0; k < d; ++k) {
        EXPECT_NEAR(lda.m_pplfMeanVecs[1][k], mu[1][k], 1e-12);
        EXPECT_NEAR(lda.m_plfMeanVec[k], (30 * mu[0][k] + 20 * mu[1][k]) / 50, 1e-12);
    }
    // The Fisher direction v: Sw v is parallel to the mean difference, and the
    // generalised eigenvalue is p1 p2 (dm.v)^2 / v^T Sw v (to the SVD's relative
    // tolerance of 1e-7).
    std::vector<double> diff(d), swv(d, 0.0);
    double dv = 0, vswv = 0;
    const double* v = lda.m_pplfEigenVecs[0];
    for (int k = 0; k < d; ++k) {
        diff[k] = mu[0][k] - mu[1][k];
        dv += diff[k] * v[k];
        for (int j = 0; j < d; ++j)
            swv[k] += Sw[k * d + j] * v[j];
        vswv += v[k] * swv[k];
    }
    EXPECT_NEAR(AbsCosine(swv.data(), diff), 1.0, 1e-10);
    EXPECT_NEAR(std::inner_product(v, v + d, v, 0.0), 1.0, 1e-14);
    EXPECT_NEAR(lda.m_plfEigenVals[0], 0.6 * 0.4 * dv * dv / vswv, 1e-7 * lda.m_plfEigenVals[0]);
}

TEST(LDATraining, CalcEigenMessages)
{
    MessageCapture messages;
    CLDA lda;
    ASSERT_TRUE(Allocate(lda, 1, 1, 1));
    lda.m_plfSb[0] = 1.0;
    lda.m_plfSw[0] = std::nan(""); // "converges" at once to a not-a-number value
    lda.m_plfEigenVals[0] = 7.0;
    EXPECT_FALSE(lda.CalcEigen());
    EXPECT_EQ(messages.texts(), std::vector<std::string>{" CalcEigen error:  < 0 "});
    EXPECT_EQ(lda.m_plfEigenVals[0], 7.0);

    CLDA two;
    ASSERT_TRUE(Allocate(two, 1, 3, 1));
    for (int k = 0; k < 9; ++k) {
        two.m_plfSw[k] = std::nan("");
        two.m_plfSb[k] = 1.0;
    }
    messages.clear();
    EXPECT_FALSE(two.CalcEigen());
    EXPECT_EQ(messages.texts(), std::vector<std::string>{"CalcEigen error: SVD1 error"});
    for (int k = 0; k < 9; ++k) {
        two.m_plfSw[k] = k % 4 == 0 ? 1.0 : 0.0;
        two.m_plfSb[k] = k == 4 ? std::nan("") : 1.0;
    }
    messages.clear();
    EXPECT_FALSE(two.CalcEigen());
    EXPECT_EQ(messages.texts(), std::vector<std::string>{"CalcEigen error: SVD2 error"});
}

TEST(LDATraining, NumberOfVectorsAndItsMessages)
{
    MessageCapture messages;
    struct Case {
        int classes, perClass, dim, wantK;
    };
    // k = min(Nc - 1, d, N - Nc).
    for (const Case& c : {Case{5, 3, 10, 4}, Case{6, 2, 3, 3}, Case{8, 2, 20, 7},
                          Case{4, 1, 10, 0}, Case{1, 10, 5, 0}, Case{3, 4, 0, 0}}) {
        SCOPED_TRACE(testing::Message() << c.classes << " classes x " << c.perClass << ", d "
                                        << c.dim);
        Batch s = Batch::Random(c.dim, std::vector<int>(c.classes, c.perClass), 7);
        CLDA lda;
        messages.clear();
        const bool ok = s.Train(lda);
        EXPECT_EQ(lda.m_nValidEigenNum, c.wantK);
        if (c.wantK > 0) {
            EXPECT_TRUE(ok);
            EXPECT_TRUE(messages.texts().empty());
            for (int i = 0; i + 1 < c.wantK; ++i)
                EXPECT_GE(lda.m_plfEigenVals[i], lda.m_plfEigenVals[i + 1]);
        } else {
            EXPECT_FALSE(ok);
            EXPECT_FALSE(lda.m_bLDAReady);
            EXPECT_EQ(messages.texts(),
                      std::vector<std::string>{"AllocMemory error: m_pplfEigenVecs"});
        }
    }
}

TEST(LDATraining, RefusesEmptyClassesAndForgetsTheOldSubspace)
{
    MessageCapture messages;
    Batch s = Batch::Random(2, {5, 5, 5}, 3);
    CLDA lda;
    ASSERT_TRUE(s.Train(lda));
    ASSERT_TRUE(lda.m_bLDAReady);
    std::vector<int> counts = {5, 0, 10}; // an empty class
    EXPECT_FALSE(lda.TrainLDA(s.table.data(), 3, counts.data(), 2));
    EXPECT_FALSE(lda.m_bLDAReady);
    EXPECT_EQ(lda.m_pplfEigenVecs, nullptr);
    counts = {5, -1, 11};
    EXPECT_FALSE(lda.TrainLDA(s.table.data(), 3, counts.data(), 2));
    EXPECT_FALSE(lda.TrainLDA(s.table.data(), 3, nullptr, 2));
    EXPECT_TRUE(messages.texts().empty());
}

TEST(LDAProjection, ReadinessAndPlainDotProducts)
{
    MessageCapture messages;
    CLDA lda;
    const double in[2] = {2.0, -1.0};
    double out[3] = {5.0, 5.0, 5.0};
    EXPECT_FALSE(lda.Project2SubSpace(in, out, 1));
    EXPECT_EQ(out[0], 5.0);

    ASSERT_TRUE(Allocate(lda, 3, 2, 1));
    for (int i = 0; i < 3; ++i) {
        lda.m_pplfEigenVecs[i][0] = i + 1.0;
        lda.m_pplfEigenVecs[i][1] = i + 2.0;
    }
    lda.m_plfMeanVec[0] = lda.m_plfMeanVec[1] = 1000.0; // not subtracted
    lda.m_bLDAReady = 1;
    ASSERT_TRUE(lda.Project2SubSpace(in, out, 2)); // component i needs only vector i
    EXPECT_EQ(out[0], 0.0);
    EXPECT_EQ(out[1], 1.0);
    EXPECT_EQ(out[2], 5.0);
    EXPECT_TRUE(lda.Project2SubSpace(in, out, 0));
    EXPECT_EQ(messages.texts(),
              std::vector<std::string>{"Project2SubSpace error: m_bLDAReady = false"});

    EXPECT_TRUE(lda.FreeMemory());
    EXPECT_TRUE(lda.FreeMemory());
    EXPECT_EQ(lda.m_pplfEigenVecs, nullptr);
    EXPECT_EQ(lda.m_plfSw, nullptr);
    EXPECT_EQ(lda.m_nValidEigenNum, 3); // counts and flag stay
    EXPECT_EQ(lda.m_bLDAReady, 1);
}

TEST(LDAAllocation, FailuresNameTheMemberAndReleaseTheirOwnArrays)
{
    MessageCapture messages;
    struct Case {
        int k, d, nc;
        const char* text;
    };
    for (const Case c : {Case{0, 4, 2, "AllocMemory error: m_pplfEigenVecs"},
                         Case{2, 4, 0, "AllocMemory error: m_pplfMeanVecs"},
                         Case{-3, 4, 5, "AllocMemory error: m_plfEigenVals"},
                         Case{0, 0, 2, "AllocMemory error: m_pplfEigenVecs"}}) {
        messages.clear();
        CLDA lda;
        EXPECT_FALSE(Allocate(lda, c.k, c.d, c.nc));
        EXPECT_EQ(messages.texts(), std::vector<std::string>{c.text});
        EXPECT_EQ(lda.m_plfEigenVals, nullptr);
        EXPECT_EQ(lda.m_plfMeanVec, nullptr);
        EXPECT_EQ(lda.m_pplfEigenVecs, nullptr);
        EXPECT_EQ(lda.m_pplfMeanVecs, nullptr);
    }
}

TEST(MatrixOps, ArithmeticAndRefusals)
{
    const double A[] = {1, 2, 3, 4, 5, 6}; // 2 x 3
    const double B[] = {6, 5, 4, 3, 2, 1};
    double R[6] = {};
    ASSERT_TRUE(MatrixAdd(A, B, R, 2, 3));
    EXPECT_EQ(std::vector<double>(R, R + 6), std::vector<double>(6, 7.0));
    ASSERT_TRUE(MatrixSub(A, B, R, 2, 3));
    EXPECT_EQ(std::vector<double>(R, R + 6), (std::vector<double>{-5, -3, -1, 1, 3, 5}));
    double inPlace[] = {1, 2, 3, 4, 5, 6};
    ASSERT_TRUE(MatrixScale(inPlace, inPlace, -2.0, 2, 3));
    ASSERT_TRUE(MatrixAdd(inPlace, A, inPlace, 2, 3));
    EXPECT_EQ(std::vector<double>(inPlace, inPlace + 6), (std::vector<double>{-1, -2, -3, -4, -5, -6}));

    double T[6], P[4], outer[9], dot = 0;
    ASSERT_TRUE(MatrixTranspose(A, 2, 3, T)); // 3 x 2
    EXPECT_EQ(std::vector<double>(T, T + 6), (std::vector<double>{1, 4, 2, 5, 3, 6}));
    ASSERT_TRUE(MatrixMul(A, 2, 3, T, 3, 2, P)); // A A^T
    EXPECT_EQ(std::vector<double>(P, P + 4), (std::vector<double>{14, 32, 32, 77}));
    const double u[] = {1, -2, 3};
    ASSERT_TRUE(MatrixMul(u, 3, 1, u, 1, 3, outer));
    EXPECT_EQ(outer[5], -6.0);
    EXPECT_EQ(outer[8], 9.0);
    ASSERT_TRUE(MatrixMul(u, 1, 3, u, 3, 1, &dot)); // one row, one column
    EXPECT_EQ(dot, 14.0);

    double untouched[6] = {9, 9, 9, 9, 9, 9};
    EXPECT_FALSE(MatrixAdd(nullptr, B, untouched, 2, 3));
    EXPECT_FALSE(MatrixSub(A, B, untouched, 0, 3));
    EXPECT_FALSE(MatrixScale(A, untouched, 2.0, 2, -1));
    EXPECT_FALSE(MatrixTranspose(A, 2, 0, untouched));
    EXPECT_FALSE(MatrixMul(A, 2, 3, B, 2, 3, untouched)); // inner sizes differ
    EXPECT_FALSE(MatrixMul(A, 2, 3, nullptr, 3, 2, untouched));
    EXPECT_TRUE(MatrixMul(A, 0, 3, T, 3, 2, untouched)); // empty result
    EXPECT_EQ(std::vector<double>(untouched, untouched + 6), std::vector<double>(6, 9.0));
}

TEST(GivensParam, FollowsDrotgSigns)
{
    // r takes the sign of the larger of f and g, of g on a tie.
    const double r8 = std::sqrt(8.0), cases[][5] = {{3, 4, 5, 0.6, 0.8}, {-4, 3, -5, 0.8, -0.6},
                                                   {2, -2, -r8, -2 / r8, 2 / r8}, {0, 0, 0, 1, 0}};
    for (const auto& c : cases) {
        double f = c[0], g = c[1], cs, sn;
        CSVD::GivensParam(f, g, cs, sn);
        EXPECT_NEAR(f, c[2], 1e-15) << c[0] << " " << c[1];
        EXPECT_NEAR(cs, c[3], 1e-15) << c[0] << " " << c[1];
        EXPECT_NEAR(sn, c[4], 1e-15) << c[0] << " " << c[1];
    }
}

TEST(SVDDecompose, RandomTallAndRankDeficientMatrices)
{
    CSVD svd;
    struct Case {
        int m, n, rank;
    };
    for (const Case& k : {Case{1, 1, 1}, Case{2, 1, 1}, Case{5, 5, 5}, Case{9, 4, 4},
                          Case{30, 30, 30}, Case{40, 17, 17}, Case{12, 12, 5}, Case{25, 10, 3},
                          Case{60, 60, 59}}) {
        SCOPED_TRACE(testing::Message() << k.m << "x" << k.n << " rank " << k.rank);
        std::vector<double> A;
        if (k.rank == k.n) {
            A = Random(k.m, k.n, 11u * k.m + k.n);
        } else {
            const auto L = Random(k.m, k.rank, 3u * k.m);
            const auto R = Random(k.rank, k.n, 5u * k.n);
            A.resize(static_cast<size_t>(k.m) * k.n);
            ASSERT_TRUE(MatrixMul(L.data(), k.m, k.rank, R.data(), k.rank, k.n, A.data()));
        }
        const auto original = A;
        std::vector<double> W(static_cast<size_t>(k.n) * k.n), V(W.size());
        // The production tolerance 1e-7 drops superdiagonal elements up to 1e-7
        // relative, which bounds the reconstruction error accordingly.
        ASSERT_TRUE(svd.Decompose(A.data(), k.m, k.n, W.data(), V.data()));
        ExpectDiagonalSorted(W, k.n);
        Check c = Verify(original, A, W, V, k.m, k.n);
        EXPECT_LT(c.reconstruction, 1e-6 * W[0]);
        EXPECT_LT(std::max(c.orthoU, c.orthoV), 1e-12);
        for (int i = k.rank; i < k.n; ++i)
            EXPECT_LT(W[i * k.n + i], 1e-6 * W[0]);
        // With a tight tolerance the same routine is accurate to rounding.
        A = original;
        ASSERT_TRUE(DecomposeWith(1e-15, A, k.m, k.n, W, V));
        ExpectDiagonalSorted(W, k.n);
        c = Verify(original, A, W, V, k.m, k.n);
        EXPECT_LT(std::max({c.reconstruction, c.orthoU, c.orthoV}), 1e-12);
        for (int i = k.rank; i < k.n; ++i)
            EXPECT_LT(W[i * k.n + i], 1e-12);
        EXPECT_GT(W[(k.rank - 1) * k.n + k.rank - 1], 1e-6);
    }
    // By hand: [[3, 2, 2], [2, 3, -2]]^T has singular values 5 and 3.
    std::vector<double> A = {3, 2, 2, 3, 2, -2}, W(4), V(4);
    ASSERT_TRUE(svd.Decompose(A.data(), 3, 2, W.data(), V.data()));
    EXPECT_NEAR(W[0], 5.0, 1e-14);
    EXPECT_NEAR(W[3], 3.0, 1e-14);
}

// Wide matrices, and a not-a-number entry (it never converges: the sweep
// budget runs out), are refused with A, W and V left as they were.
TEST(SVDDecompose, RefusalsLeaveTheMatricesAlone)
{
    std::vector<double> bad = Random(6, 6, 3);
    bad[7] = std::nan("");
    for (const auto& [original, m, n] : {std::tuple{std::vector<double>{1, 2, 3, 4, 5, 6}, 2, 3}, {bad, 6, 6}}) {
        std::vector<double> A = original, W(n * n, 7.0), V(n * n, 8.0);
        EXPECT_FALSE(CSVD().Decompose(A.data(), m, n, W.data(), V.data())) << m << "x" << n;
        EXPECT_TRUE(Same(A, original));
        EXPECT_EQ(W, std::vector<double>(n * n, 7.0));
        EXPECT_EQ(V, std::vector<double>(n * n, 8.0));
    }
}

// m < n through the routine itself: singular values of a 2 x 4 matrix.
TEST(SVDHouseholderQR, WideMatrix)
{
    std::vector<double> a = {1, 0, 2, 0, 0, 3, 0, 4};
    std::vector<double> u(4), v(16);
    ASSERT_TRUE(CSVD().HouseholderQR(a.data(), 2, 4, u.data(), v.data(), 1e-7, 4));
    EXPECT_NEAR(a[0], 5.0, 1e-13);            // sqrt(9 + 16)
    EXPECT_NEAR(a[5], std::sqrt(5.0), 1e-13); // sqrt(1 + 4)
}

TEST(LDAIncremental, FileStatisticsPlusBatchEqualBatchTraining)
{
    MessageCapture messages;
    ScratchDir dir;
    Batch a = Batch::Random(6, {5, 7, 4, 6}, 11), b = Batch::Random(6, {6, 5, 8}, 12);
    Batch all = a;
    all.rows.insert(all.rows.end(), b.rows.begin(), b.rows.end());
    all.counts.insert(all.counts.end(), b.counts.begin(), b.counts.end());
    all.table = Pointers(all.rows);
    CLDA inc, batch;
    ASSERT_TRUE(b.Increase(inc, a.SaveStats(dir, "a.inc")));
    ASSERT_TRUE(all.Train(batch));
    EXPECT_EQ(inc.m_nValidEigenNum, 6); // min(7 - 1, d, 41 - 7)
    ExpectSameSubspace(inc, batch, 1e-8);
    // Running statistics hold every class, stored ones first; no scatter is kept.
    EXPECT_EQ(inc.m_nTotalSampNum, 41);
    EXPECT_EQ(inc.m_vecClassSampNum, (std::vector<int32_t>{5, 7, 4, 6, 6, 5, 8}));
    EXPECT_NEAR(inc.m_vecClassMeans[6][2], batch.m_pplfMeanVecs[6][2], 1e-12);
    EXPECT_TRUE(inc.m_plfSb == nullptr && inc.m_plfSw == nullptr && inc.m_pplfMeanVecs == nullptr);

    // Empty path: exactly TrainLDA, scatter and class means kept.
    CLDA viaEmpty, batchB;
    ASSERT_TRUE(b.Increase(viaEmpty, ""));
    ASSERT_TRUE(b.Train(batchB));
    ExpectSameSubspace(viaEmpty, batchB, 0.0);
    ASSERT_TRUE(viaEmpty.m_plfSw != nullptr && viaEmpty.m_pplfMeanVecs != nullptr);
    // Nf = 0 with zero sums: the batch alone.
    CIncreaseStatistics zero;
    ASSERT_TRUE(zero.Reset(6) && zero.Save((dir / "zero.inc").c_str()));
    CLDA viaZero;
    ASSERT_TRUE(b.Increase(viaZero, (dir / "zero.inc")));
    ExpectSameSubspace(viaZero, batchB, 1e-8);
    // A batch with no classes: the file alone.
    CLDA fileOnly, batchA;
    ASSERT_TRUE(fileOnly.IncreaseTrainLDA(nullptr, 0, nullptr, 6, (dir / "a.inc").c_str()));
    ASSERT_TRUE(a.Train(batchA));
    ExpectSameSubspace(fileOnly, batchA, 1e-8);
    EXPECT_TRUE(messages.texts().empty());
}

TEST(LDAIncremental, FailuresLeaveANotReadyEmptyObject)
{
    MessageCapture messages;
    ScratchDir dir;
    Batch a = Batch::Random(3, {4, 4, 4}, 31), b = Batch::Random(3, {4, 5}, 32);
    const std::string good = a.SaveStats(dir, "good.inc");
    const std::string bytes = ReadFile(good);
    std::string negative = bytes;
    negative[28 + 24 + 24 + 3] = char(0xff); // first stored count below 0
    const std::pair<std::string, int> cases[] = {
        {(dir / "absent.inc"), 3}, {good, 4}, // missing; dimension differs from the call
        {dir.Write("cut1.inc", bytes.substr(0, 27)), 3},
        {dir.Write("cut2.inc", bytes.substr(0, bytes.size() - 1)), 3},
        {dir.Write("magic.inc", "QuorvaneIncrease2.5" + bytes.substr(19)), 3},
        {dir.Write("neg.inc", negative), 3}};
    CLDA lda;
    for (const auto& [path, dim] : cases) {
        ASSERT_TRUE(b.Increase(lda, good));
        EXPECT_FALSE(lda.IncreaseTrainLDA(b.table.data(), 2, b.counts.data(), dim, path.c_str()));
        EXPECT_FALSE(lda.m_bLDAReady) << path;
        EXPECT_TRUE(lda.m_pplfEigenVecs == nullptr && lda.m_plfEigenVals == nullptr) << path;
    }
    const int noSamples[2] = {4, 0};
    EXPECT_FALSE(lda.IncreaseTrainLDA(b.table.data(), 2, const_cast<int*>(noSamples), 3, good.c_str()));
    EXPECT_TRUE(messages.texts().empty());

    // One stored and one new class of one sample each: N - Nc = 0, k = 0.
    Batch one(3, {{1, 2, 3}}, {1}), other(3, {{3, 2, 1}}, {1});
    EXPECT_FALSE(other.Increase(lda, one.SaveStats(dir, "one.inc")));
    EXPECT_EQ(messages.texts(), std::vector<std::string>{"AllocMemory error: m_pplfEigenVecs"});
    EXPECT_TRUE(!lda.m_bLDAReady && lda.m_plfMeanVec == nullptr);
}

TEST(IncreaseStatistics, HandComputedStatisticsInTheExactLayout)
{
    CIncreaseStatistics st;
    ASSERT_TRUE(st.AddClasses(kRows, 1, kCounts, 2)); // batches append classes
    ASSERT_TRUE(st.AddClasses(kRows + 2, 1, kCounts + 1, 2));
    EXPECT_EQ(st.GetTotalSampNum(), 5);
    EXPECT_EQ(st.GetSampSum(), (std::vector<double>{10, 9}));
    EXPECT_EQ(st.GetClassMean(1), (std::vector<double>{2, 1}));
    EXPECT_EQ(st.GetScatter(), (std::vector<double>{10, 8, 8, 8}));

    ScratchDir dir;
    const std::string path = (dir / "hand.inc");
    ASSERT_TRUE(st.Save(path.c_str()));
    const std::string b = ReadFile(path);
    const auto* p = reinterpret_cast<const unsigned char*>(b.data());
    ASSERT_EQ(b.size(), IncreaseFileSize(2, 2));
    ASSERT_EQ(b.size(), 28u + 16 + 2 * 20 + 32);
    EXPECT_EQ(std::memcmp(p, "QuorvaneIncrease2.4", 20), 0); // the zero byte included
    EXPECT_EQ(ReadInt32LE(p + 20), 2);
    EXPECT_EQ(ReadInt32LE(p + 24), 2);
    EXPECT_EQ(ReadDoubleLE(p + 28), 10.0);      // a sum, not a mean
    EXPECT_EQ(ReadDoubleLE(p + 52), 3.0);       // class 0 mean[1]
    EXPECT_EQ(ReadInt32LE(p + 60), 2);          // class 0 count
    EXPECT_EQ(ReadInt32LE(p + 80), 3);          // class 1 count
    EXPECT_EQ(ReadDoubleLE(p + 84), 10.0);      // S[0][0], not divided
    EXPECT_EQ(ReadDoubleLE(p + 108), 8.0);      // S[1][1]

    CIncreaseStatistics back;
    ASSERT_TRUE(back.Load(path.c_str()));
    EXPECT_EQ(back.GetSampSum(), st.GetSampSum());
    EXPECT_EQ(back.GetClassMean(0), st.GetClassMean(0));
    EXPECT_EQ(back.GetClassSampNum(1), 3);
    EXPECT_EQ(back.GetScatter(), st.GetScatter());

    // Refused batches leave the statistics as they were.
    const int empty[2] = {2, 0};
    const double* holes[2] = {kSamples[0], nullptr};
    EXPECT_FALSE(st.AddClasses(kRows, 2, empty, 2));
    EXPECT_FALSE(st.AddClasses(kRows, 1, kCounts, 3));
    EXPECT_FALSE(st.AddClasses(holes, 1, kCounts, 2));
    EXPECT_FALSE(CIncreaseStatistics().AddClasses(kRows, 1, kCounts, kIncreaseMaxDim + 1));
    EXPECT_EQ(st.GetClassNum(), 2);
    EXPECT_FALSE(CIncreaseStatistics().Save(path.c_str())); // no dimension yet
}

// Cut files, other magic bytes, dimensions outside 1..1024, counts the file
// cannot hold and the layout of a negative Nf are checked by the increase_file
// fuzz harness in its replay with the suite.
TEST(IncrementalData, DataReaderInsistsOnItsHeaderAndArrays)
{
    ScratchDir dir;
    CIncreaseStatistics st;
    ASSERT_TRUE(st.AddClasses(kRows, 2, kCounts, 2));
    const std::string good = dir / "good.inc";
    ASSERT_TRUE(st.Save(good.c_str()));
    double sum[2], m0[2], m1[2], scatter[4];
    double* means[2] = {m0, m1};
    int counts[2];
    EXPECT_TRUE(ReadIncreaseFileData(good.c_str(), sum, means, scatter, 2, counts, 2));
    EXPECT_FALSE(ReadIncreaseFileData(good.c_str(), sum, means, scatter, 1, counts, 2));
    EXPECT_FALSE(ReadIncreaseFileData(good.c_str(), sum, means, scatter, 2, counts, 1));
    EXPECT_FALSE(ReadIncreaseFileData(good.c_str(), sum, nullptr, scatter, 2, counts, 2));
    // Trailing bytes are ignored.
    EXPECT_TRUE(CIncreaseStatistics().Load(dir.Write("long.inc", ReadFile(good) + "trailing").c_str()));
}
