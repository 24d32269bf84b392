#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "common/VectorOps.h"
#include "pca/PCA.h"
#include "support/MessageCapture.h"

namespace {

// A loaded-style PCA of dimension d with the given mean, deviations and rows.
void Fill(CPCA& pca, const std::vector<double>& mean, const std::vector<double>& dev,
          const std::vector<std::vector<double>>& rows)
{
    pca.m_nFeatureVecDim = static_cast<int>(mean.size());
    pca.m_nMaxValidEigenVecNum = static_cast<int>(rows.size());
    ASSERT_TRUE(pca.AllocLoadMemory());
    for (size_t k = 0; k < mean.size(); ++k) {
        pca.m_plfMeanVec[k] = mean[k];
        pca.m_plfStdDevVec[k] = dev[k];
    }
    for (size_t i = 0; i < rows.size(); ++i)
        for (size_t k = 0; k < mean.size(); ++k)
            pca.m_pplfEigenVecs[i][k] = rows[i][k];
}

} // namespace

TEST(PCAProjection, StandardisesOnlyComponentsWithDeviationAboveThreshold)
{
    CPCA pca;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    // Deviation 2 standardises; exactly 1e-6, 0 and NaN pass the value through raw.
    Fill(pca, {1.0, 2.0, 3.0, 4.0, 5.0}, {2.0, 1e-6, 0.0, nan, 1.5e-6},
         {{1, 0, 0, 0, 0}, {0, 1, 0, 0, 0}, {0, 0, 1, 0, 0}, {0, 0, 0, 1, 0}, {0, 0, 0, 0, 1},
          {0.5, 0.25, 1.0, 0.0, 0.0}});
    const double in[5] = {5.0, 7.0, 9.0, 11.0, 5.0 + 3e-6};
    double out[6] = {};
    ASSERT_TRUE(pca.Project2SubSpace(in, out, 6));
    EXPECT_EQ(out[0], 2.0);  // (5 - 1) / 2
    EXPECT_EQ(out[1], 7.0);  // not centred, not scaled
    EXPECT_EQ(out[2], 9.0);
    EXPECT_EQ(out[3], 11.0);
    EXPECT_NEAR(out[4], 2.0, 1e-9); // (3e-6) / 1.5e-6
    EXPECT_EQ(out[5], 2.0 * 0.5 + 7.0 * 0.25 + 9.0); // no whitening by eigenvalue
}

TEST(PCAProjection, OutputCountLimits)
{
    velmora_test::MessageCapture messages;
    CPCA pca;
    Fill(pca, {0.0, 0.0}, {1.0, 1.0}, {{1, 0}, {0, 1}});
    const double in[2] = {3.0, 4.0};
    double out[3] = {-7.0, -7.0, -7.0};
    EXPECT_TRUE(pca.Project2SubSpace(in, out, 0));
    EXPECT_EQ(out[0], -7.0);
    EXPECT_FALSE(pca.Project2SubSpace(in, out, 3)); // M + 1
    EXPECT_EQ(out[0], -7.0);
    EXPECT_TRUE(pca.Project2SubSpace(in, out, 2));
    EXPECT_EQ(out[0], 3.0);
    EXPECT_EQ(out[1], 4.0);
    EXPECT_EQ(out[2], -7.0);
    EXPECT_TRUE(messages.texts().empty());

    pca.m_nFeatureVecDim = -1; // the work vector cannot be had
    EXPECT_FALSE(pca.Project2SubSpace(in, out, 1));
    ASSERT_EQ(messages.texts().size(), 1u);
    EXPECT_EQ(messages.texts()[0], "Project(): new memory error!");
}

TEST(PCAProjection, ReleasedObjectRefusesInsteadOfReadingMissingArrays)
{
    CPCA pca;
    Fill(pca, {0.0, 0.0}, {1.0, 1.0}, {{1, 0}, {0, 1}});
    pca.FreeMemory(); // counts stay, arrays are gone
    EXPECT_EQ(pca.m_nMaxValidEigenVecNum, 2);
    const double in[2] = {1.0, 2.0};
    double out[2];
    EXPECT_FALSE(pca.Project2SubSpace(in, out, 2));
    pca.FreeMemory(); // twice is harmless
}

TEST(PCAProjection, BlockedRowsMatchVectorDotBitForBit)
{
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    const int d = 1001;
    for (int nRows : {0, 1, 7, 8, 9, 37}) {
        std::vector<std::vector<double>> rows(static_cast<size_t>(nRows), std::vector<double>(d));
        std::vector<const double*> ptrs;
        for (auto& r : rows) {
            for (double& x : r)
                x = u(rng) * 1e3;
            ptrs.push_back(r.data());
        }
        std::vector<double> v(d);
        for (double& x : v)
            x = u(rng);
        std::vector<double> out(static_cast<size_t>(nRows) + 1, 99.0);
        DotRows(v.data(), ptrs.data(), nRows, d, out.data());
        for (int i = 0; i < nRows; ++i)
            EXPECT_EQ(out[i], VectorDot(v.data(), rows[i].data(), d)) << "row " << i;
        EXPECT_EQ(out[nRows], 99.0);
    }
}

TEST(PCAAllocation, EigenvectorCountFollowsSamplesDimensionAndCap)
{
    struct Case {
        int n, d, m;
        bool gram;
    };
    for (const Case c : {Case{1000, 7840, 800, true}, Case{500, 7840, 500, true},
                         Case{20, 10, 10, false}, Case{10, 10, 10, false}}) {
        CPCA pca;
        std::vector<double*> rows(static_cast<size_t>(c.n), nullptr);
        EXPECT_TRUE(pca.SetTrainData(rows.data(), c.n, c.d));
        EXPECT_EQ(pca.m_pplfTrainSamps, rows.data());
        EXPECT_EQ(pca.m_nTrainSampNum, c.n);
        EXPECT_EQ(pca.m_nFeatureVecDim, c.d);
        EXPECT_EQ(pca.m_nMaxValidEigenVecNum, c.m) << c.n << " x " << c.d;
        EXPECT_EQ(pca.m_plfGramMat != nullptr, c.gram);
        EXPECT_EQ(pca.AllocatedEigenRows(), c.m);
        EXPECT_NE(pca.m_plfEigenVals, nullptr);
        EXPECT_NE(pca.m_pbyMeanVec, nullptr);
    }
}

TEST(PCAAllocation, ReallocatingBetweenSizesReleasesTheOldRowsOnce)
{
    // Run under the sanitizers, a double release or a leak of the rows shows here.
    CPCA pca;
    pca.m_nFeatureVecDim = 64;
    for (int m : {300, 800, 300, 0, 5}) {
        pca.m_nMaxValidEigenVecNum = m;
        EXPECT_TRUE(pca.AllocLoadMemory());
        EXPECT_EQ(pca.AllocatedEigenRows(), m);
        EXPECT_EQ(pca.m_pplfEigenVecs == nullptr, m == 0);
        EXPECT_EQ(pca.m_plfGramMat, nullptr);
        pca.m_nMaxValidEigenVecNum = 1; // FreeMemory must not trust M
    }
    pca.FreeMemory();
    EXPECT_EQ(pca.m_pplfEigenVecs, nullptr);
    EXPECT_EQ(pca.m_plfMeanVec, nullptr);
    EXPECT_EQ(pca.m_nFeatureVecDim, 64); // counts stay
}
