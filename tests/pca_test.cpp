#include "support/Common.h"

#include "common/VectorOps.h"
#include "pca/PCA.h"
#include "support/MessageCapture.h"

TEST(PCAProjection, StandardisesOnlyAboveThresholdAndProjects)
{
    velmora_test::MessageCapture messages;
    CPCA pca;
    pca.m_nFeatureVecDim = 5;
    pca.m_nMaxValidEigenVecNum = 2;
    ASSERT_TRUE(pca.AllocLoadMemory());
    // Deviation 2 standardises; exactly 1e-6, 0 and NaN pass the raw value; 1.5e-6 scales.
    const double mean[5] = {1, 2, 3, 4, 5}, dev[5] = {2, 1e-6, 0, NAN, 1.5e-6};
    const double rows[2][5] = {{1, 10, 100, 1000, 0}, {0, 0, 0, 0, 1}};
    for (int k = 0; k < 5; ++k) {
        pca.m_plfMeanVec[k] = mean[k];
        pca.m_plfStdDevVec[k] = dev[k];
        pca.m_pplfEigenVecs[0][k] = rows[0][k];
        pca.m_pplfEigenVecs[1][k] = rows[1][k];
    }
    const double in[5] = {5, 7, 9, 11, 5 + 3e-6};
    double out[3] = {-1, -1, -1};
    ASSERT_TRUE(pca.Project2SubSpace(in, out, 2));
    EXPECT_EQ(out[0], 2.0 + 70.0 + 900.0 + 11000.0); // no whitening by eigenvalue
    EXPECT_NEAR(out[1], 2.0, 1e-9);
    EXPECT_EQ(out[2], -1.0);
    EXPECT_TRUE(pca.Project2SubSpace(in, out + 2, 0));
    EXPECT_FALSE(pca.Project2SubSpace(in, out, 3)); // M + 1: refused silently
    EXPECT_TRUE(messages.texts().empty());

    pca.FreeMemory(); // counts stay, arrays go: a projection must not read them
    EXPECT_FALSE(pca.Project2SubSpace(in, out, 2));
    pca.m_nFeatureVecDim = -1;
    EXPECT_FALSE(pca.Project2SubSpace(in, out, 1));
    EXPECT_EQ(messages.texts(), std::vector<std::string>{"Project(): new memory error!"});
}

TEST(PCAProjection, BlockedRowsMatchVectorDotBitForBit)
{
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> u(-1e3, 1e3);
    const int d = 1001;
    std::vector<std::vector<double>> rows(37, std::vector<double>(d));
    std::vector<const double*> ptrs;
    for (auto& r : rows) {
        for (double& x : r)
            x = u(rng);
        ptrs.push_back(r.data());
    }
    std::vector<double> v(d), out(38, 99.0);
    for (double& x : v)
        x = u(rng);
    for (int n : {1, 8, 9, 37}) { // below, at and across the block size
        DotRows(v.data(), ptrs.data(), n, d, out.data());
        for (int i = 0; i < n; ++i)
            ASSERT_EQ(out[i], VectorDot(v.data(), rows[i].data(), d)) << n << " rows, row " << i;
        EXPECT_EQ(out[37], 99.0);
    }
}

TEST(PCAAllocation, CountsFollowSamplesDimensionAndCap)
{
    struct Case {
        int n, d, m;
        bool gram;
    };
    CPCA pca; // one object throughout: each allocation releases the previous rows once
    for (const Case c : {Case{1000, 7840, 800, true}, Case{500, 7840, 500, true},
                         Case{20, 10, 10, false}, Case{1000, 7840, 800, true}}) {
        std::vector<double*> rows(static_cast<size_t>(c.n));
        EXPECT_TRUE(pca.SetTrainData(rows.data(), c.n, c.d));
        EXPECT_EQ(pca.m_pplfTrainSamps, rows.data());
        EXPECT_EQ(pca.m_nMaxValidEigenVecNum, c.m);
        EXPECT_EQ(pca.AllocatedEigenRows(), c.m);
        EXPECT_EQ(pca.m_plfGramMat != nullptr, c.gram);
        pca.m_nMaxValidEigenVecNum = 1; // FreeMemory must not trust M
    }
    pca.m_nMaxValidEigenVecNum = 300;
    EXPECT_TRUE(pca.AllocLoadMemory());
    EXPECT_EQ(pca.AllocatedEigenRows(), 300);
    EXPECT_EQ(pca.m_plfGramMat, nullptr);

    std::vector<double> row(5, 1.0);
    double* rows[1] = {row.data()};
    EXPECT_FALSE(pca.TrainPCA(rows, 0, 5));
    EXPECT_FALSE(pca.TrainPCA(nullptr, 3, 5));
}
