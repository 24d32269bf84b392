#include "support/Common.h"

#include "common/RowTable.h"
#include "lda/LDA.h"
#include "support/MessageCapture.h"

using velmora_test::MessageCapture;

namespace {

// Samples as owned rows, class by class.
struct Samples {
    std::vector<std::vector<double>> data;
    std::vector<int> counts;
    double** Rows() { return (table = velmora_test::Pointers(data)).data(); }
    std::vector<double*> table;
};

Samples Gaussian(const std::vector<std::vector<double>>& centres, int perClass, unsigned seed)
{
    std::mt19937 rng(seed);
    std::normal_distribution<double> normal;
    Samples s;
    for (const auto& c : centres) {
        for (int i = 0; i < perClass; ++i) {
            std::vector<double> x(c);
            for (size_t k = 0; k < x.size(); ++k)
                x[k] += normal(rng) * (1.0 + 0.5 * k);
            s.data.push_back(x);
        }
        s.counts.push_back(perClass);
    }
    return s;
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

} // namespace

// Classes of 30 and 20 samples, so that every weight shows.
TEST(LDATraining, TwoClassDirectionIsInverseWithinScatterTimesMeanDifference)
{
    const int d = 4, n[2] = {30, 20};
    Samples s = Gaussian({{0, 0, 0, 0}, {1, -2, 0.5, 3}}, 30, 1);
    s.data.resize(50);
    s.counts[1] = 20;
    CLDA lda;
    ASSERT_TRUE(lda.TrainLDA(s.Rows(), 2, s.counts.data(), d));
    EXPECT_TRUE(lda.m_bLDAReady);
    ASSERT_EQ(lda.m_nValidEigenNum, 1);
    EXPECT_EQ(lda.m_nTotalSampNum, 50);

    // Independent means and within-class scatter (divided by N).
    std::vector<double> mu[2] = {std::vector<double>(d, 0.0), std::vector<double>(d, 0.0)};
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < n[c]; ++i)
            for (int k = 0; k < d; ++k)
                mu[c][k] += s.data[c * 30 + i][k] / n[c];
    std::vector<double> Sw(d * d, 0.0);
    for (int c = 0; c < 2; ++c)
        for (int i = 0; i < n[c]; ++i)
            for (int r = 0; r < d; ++r)
                for (int k = 0; k < d; ++k)
                    Sw[r * d + k] += (s.data[c * 30 + i][r] - mu[c][r]) * (s.data[c * 30 + i][k] - mu[c][k]) / 50;
    for (int k = 0; k < d * d; ++k)
        EXPECT_NEAR(lda.m_plfSw[k], Sw[k], 1e-12);
    for (int k = 0; k < d; ++k) {
        EXPECT_NEAR(lda.m_pplfMeanVecs[1][k], mu[1][k], 1e-12);
        EXPECT_NEAR(lda.m_plfMeanVec[k], (30 * mu[0][k] + 20 * mu[1][k]) / 50, 1e-12);
    }
    // The Fisher direction v: Sw v is parallel to the mean difference, and the
    // generalised eigenvalue is p1 p2 (dm.v)^2 / v^T Sw v.
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
    EXPECT_NEAR(lda.m_plfEigenVals[0], 0.6 * 0.4 * dv * dv / vswv, 1e-9 * lda.m_plfEigenVals[0]);
}

TEST(LDATraining, CalcEigenWithIdentityWithinScatter)
{
    const int d = 3;
    CLDA lda;
    lda.m_nFeatureVecDim = d;
    lda.m_nValidEigenNum = 3;
    lda.m_nClassNum = 1;
    ASSERT_TRUE(lda.AllocMemory());
    // Sb = Q diag(6, 3, 1) Q^T with known orthonormal columns q.
    const double r3 = std::sqrt(3.0), r2 = std::sqrt(2.0), r6 = std::sqrt(6.0);
    const std::vector<std::vector<double>> q = {
        {1 / r3, 1 / r3, 1 / r3}, {1 / r2, -1 / r2, 0}, {1 / r6, 1 / r6, -2 / r6}};
    const double lambda[] = {6, 3, 1};
    for (int r = 0; r < d; ++r)
        for (int k = 0; k < d; ++k) {
            double v = 0;
            for (int e = 0; e < 3; ++e)
                v += lambda[e] * q[e][r] * q[e][k];
            lda.m_plfSb[r * d + k] = v;
            lda.m_plfSw[r * d + k] = r == k ? 1.0 : 0.0;
        }
    const std::vector<double> sbBefore(lda.m_plfSb, lda.m_plfSb + 9);
    ASSERT_TRUE(lda.CalcEigen());
    for (int e = 0; e < 3; ++e) {
        EXPECT_NEAR(lda.m_plfEigenVals[e], lambda[e], 1e-12);
        EXPECT_NEAR(AbsCosine(lda.m_pplfEigenVecs[e], q[e]), 1.0, 1e-12);
    }
    EXPECT_EQ(std::vector<double>(lda.m_plfSb, lda.m_plfSb + 9), sbBefore);
}

TEST(LDATraining, CalcEigenMessages)
{
    MessageCapture messages;
    CLDA lda;
    lda.m_nFeatureVecDim = 1;
    lda.m_nValidEigenNum = 1;
    lda.m_nClassNum = 1;
    ASSERT_TRUE(lda.AllocMemory());
    lda.m_plfSb[0] = 1.0;
    lda.m_plfSw[0] = std::nan(""); // "converges" at once to a not-a-number value
    lda.m_plfEigenVals[0] = 7.0;
    EXPECT_FALSE(lda.CalcEigen());
    EXPECT_EQ(messages.texts(), std::vector<std::string>{" CalcEigen error:  < 0 "});
    EXPECT_EQ(lda.m_plfEigenVals[0], 7.0);

    CLDA two;
    two.m_nFeatureVecDim = 3;
    two.m_nValidEigenNum = 1;
    two.m_nClassNum = 1;
    ASSERT_TRUE(two.AllocMemory());
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
        std::vector<std::vector<double>> centres;
        for (int i = 0; i < c.classes; ++i)
            centres.push_back(std::vector<double>(c.dim, 3.0 * i));
        Samples s = Gaussian(centres, c.perClass, 7);
        CLDA lda;
        messages.clear();
        const bool ok = lda.TrainLDA(s.Rows(), c.classes, s.counts.data(), c.dim);
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
    Samples s = Gaussian({{0, 0}, {4, 1}, {-3, 2}}, 5, 3);
    CLDA lda;
    ASSERT_TRUE(lda.TrainLDA(s.Rows(), 3, s.counts.data(), 2));
    ASSERT_TRUE(lda.m_bLDAReady);
    std::vector<int> counts = {5, 0, 10}; // an empty class
    EXPECT_FALSE(lda.TrainLDA(s.Rows(), 3, counts.data(), 2));
    EXPECT_FALSE(lda.m_bLDAReady);
    EXPECT_EQ(lda.m_pplfEigenVecs, nullptr);
    counts = {5, -1, 11};
    EXPECT_FALSE(lda.TrainLDA(s.Rows(), 3, counts.data(), 2));
    EXPECT_FALSE(lda.TrainLDA(s.Rows(), 3, nullptr, 2));
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

    lda.m_nValidEigenNum = 3, lda.m_nFeatureVecDim = 2, lda.m_nClassNum = 1;
    ASSERT_TRUE(lda.AllocMemory());
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
        lda.m_nValidEigenNum = c.k, lda.m_nFeatureVecDim = c.d, lda.m_nClassNum = c.nc;
        EXPECT_FALSE(lda.AllocMemory());
        EXPECT_EQ(messages.texts(), std::vector<std::string>{c.text});
        EXPECT_EQ(lda.m_plfEigenVals, nullptr);
        EXPECT_EQ(lda.m_plfMeanVec, nullptr);
        EXPECT_EQ(lda.m_pplfEigenVecs, nullptr);
        EXPECT_EQ(lda.m_pplfMeanVecs, nullptr);
    }
}
