#include "support/Common.h"

#include "lda/LDA.h"
#include "support/MessageCapture.h"

TEST(LDAProjection, ReadinessAndPlainDotProducts)
{
    velmora_test::MessageCapture messages;
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
    velmora_test::MessageCapture messages;
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
