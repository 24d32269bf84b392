#include <gtest/gtest.h>

#include <vector>

#include "lda/LDA.h"
#include "support/MessageCapture.h"

using velmora_test::MessageCapture;

namespace {

// A ready LDA with k rows of dimension d; row i holds i + 1, i + 2, ...
void MakeReady(CLDA& lda, int k, int d)
{
    lda.m_nValidEigenNum = k;
    lda.m_nFeatureVecDim = d;
    lda.m_nClassNum = 1;
    ASSERT_TRUE(lda.AllocMemory());
    for (int i = 0; i < k; ++i)
        for (int j = 0; j < d; ++j)
            lda.m_pplfEigenVecs[i][j] = i + j + 1.0;
    for (int j = 0; j < d; ++j)
        lda.m_plfMeanVec[j] = 1000.0; // must not enter the projection
    lda.m_bLDAReady = 1;
}

} // namespace

TEST(LDAObject, ConstructionAndRelease)
{
    CLDA lda;
    EXPECT_EQ(lda.m_bLDAReady, 0);
    EXPECT_EQ(lda.m_pplfEigenVecs, nullptr);
    EXPECT_EQ(lda.m_pnClassSampNum, nullptr);
    for (double v : lda.m_plfSampSum)
        EXPECT_EQ(v, 0.0);
    EXPECT_TRUE(lda.m_vecClassMeans.empty());
    EXPECT_TRUE(lda.FreeMemory());
    EXPECT_TRUE(lda.FreeMemory());

    MakeReady(lda, 3, 4);
    lda.m_vecClassMeans.push_back(std::vector<double>(4, 1.0));
    lda.m_vecClassSampNum.push_back(2);
    EXPECT_TRUE(lda.FreeMemory());
    EXPECT_EQ(lda.m_pplfEigenVecs, nullptr);
    EXPECT_EQ(lda.m_pplfMeanVecs, nullptr);
    EXPECT_EQ(lda.m_plfSb, nullptr);
    EXPECT_EQ(lda.m_plfSw, nullptr);
    EXPECT_EQ(lda.m_bLDAReady, 1); // flags, counts and lists are left alone
    EXPECT_EQ(lda.m_nValidEigenNum, 3);
    EXPECT_EQ(lda.m_vecClassMeans.size(), 1u);
}

TEST(LDAProjection, NotReadyIsRefusedWithMessage)
{
    MessageCapture messages;
    CLDA lda;
    const double in[2] = {1.0, 2.0};
    double out[1] = {5.0};
    EXPECT_FALSE(lda.Project2SubSpace(in, out, 1));
    EXPECT_EQ(out[0], 5.0);
    ASSERT_EQ(messages.texts().size(), 1u);
    EXPECT_EQ(messages.texts()[0], "Project2SubSpace error: m_bLDAReady = false");
}

TEST(LDAProjection, DotProductsWithoutCentring)
{
    MessageCapture messages;
    CLDA lda;
    MakeReady(lda, 3, 2);
    const double in[2] = {2.0, -1.0};
    double all[3];
    ASSERT_TRUE(lda.Project2SubSpace(in, all, 3));
    EXPECT_EQ(all[0], 2.0 * 1 - 1.0 * 2);
    EXPECT_EQ(all[1], 2.0 * 2 - 1.0 * 3);
    EXPECT_EQ(all[2], 2.0 * 3 - 1.0 * 4);

    double some[3] = {9.0, 9.0, 9.0};
    ASSERT_TRUE(lda.Project2SubSpace(in, some, 2)); // component i needs only vector i
    EXPECT_EQ(some[0], all[0]);
    EXPECT_EQ(some[1], all[1]);
    EXPECT_EQ(some[2], 9.0);
    ASSERT_TRUE(lda.Project2SubSpace(in, some, 0));
    EXPECT_EQ(some[0], all[0]);

    const double zero[2] = {0.0, 0.0};
    ASSERT_TRUE(lda.Project2SubSpace(zero, some, 3));
    EXPECT_EQ(some[0], 0.0);
    EXPECT_EQ(some[2], 0.0);
    EXPECT_TRUE(messages.texts().empty());
}

TEST(LDAAllocation, FailuresReportTheMemberAndReleaseTheirOwnArrays)
{
    MessageCapture messages;
    {
        CLDA lda; // k = 0
        lda.m_nFeatureVecDim = 4;
        lda.m_nClassNum = 2;
        EXPECT_FALSE(lda.AllocMemory());
        EXPECT_EQ(lda.m_plfEigenVals, nullptr);
        EXPECT_EQ(lda.m_plfMeanVec, nullptr);
        EXPECT_NE(lda.m_plfSb, nullptr); // left for the next FreeMemory
    }
    {
        CLDA lda; // Nc = 0
        lda.m_nFeatureVecDim = 4;
        lda.m_nValidEigenNum = 2;
        EXPECT_FALSE(lda.AllocMemory());
        EXPECT_EQ(lda.m_plfEigenVals, nullptr);
        EXPECT_EQ(lda.m_plfMeanVec, nullptr);
        EXPECT_EQ(lda.m_pplfEigenVecs, nullptr);
        EXPECT_EQ(lda.m_pplfMeanVecs, nullptr);
    }
    {
        CLDA lda; // more classes than samples
        lda.m_nFeatureVecDim = 4;
        lda.m_nValidEigenNum = -3;
        lda.m_nClassNum = 5;
        EXPECT_FALSE(lda.AllocMemory());
    }
    {
        CLDA lda; // nDim = 0
        lda.m_nValidEigenNum = 0;
        lda.m_nClassNum = 2;
        EXPECT_FALSE(lda.AllocMemory());
    }
    const std::vector<std::string> expected = {
        "AllocMemory error: m_pplfEigenVecs", "AllocMemory error: m_pplfMeanVecs",
        "AllocMemory error: m_plfEigenVals", "AllocMemory error: m_pplfEigenVecs"};
    EXPECT_EQ(messages.texts(), expected);
}
