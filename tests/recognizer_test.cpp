#include "support/Common.h"

#include <velmora/Velmora.h>

#include "recognizer/ModuleState.h"

TEST(RecognizerObject, ConstructionSetsDefaultsAndClearsReadiness)
{
    g_recognizerReady = true;
    g_findFaceMode = 7;
    CVelmora v;
    EXPECT_FALSE(g_recognizerReady);
    EXPECT_EQ(g_templateDim, 200);
    EXPECT_EQ(g_findFaceMode, 0);
    EXPECT_EQ(v.m_bPreprocessNormFace, 1);
    EXPECT_EQ(v.m_bApplyFaceWeight, 0);
    EXPECT_EQ(v.m_nGaborFaceWidth, 32);
    EXPECT_EQ(v.m_nGaborFaceHeight, 32);
    EXPECT_EQ(v.m_nGaborScales, 5);
    EXPECT_EQ(v.m_nGaborOrientations, 8);
    EXPECT_EQ(v.m_lfGaborSigma, 2.0);
    EXPECT_EQ(v.m_lfGaborKmax, 1.0);
    EXPECT_EQ(v.m_lfGaborFreqStep, 1.41421); // the decimal value, not sqrt(2)
    EXPECT_EQ(v.m_nTemplateVecNum, 1);
}

TEST(RecognizerObject, CopyingLeavesModuleStateAlone)
{
    CVelmora first;
    first.m_nTemplateVecNum = 3;
    first.m_bApplyFaceWeight = 1;
    g_recognizerReady = true; // as after a successful Initialize

    CVelmora copy(first);
    EXPECT_TRUE(g_recognizerReady);
    EXPECT_EQ(copy.m_nTemplateVecNum, 3);
    EXPECT_EQ(copy.m_bApplyFaceWeight, 1);

    CVelmora assigned(first); // a copy too, so readiness survives
    assigned.m_nTemplateVecNum = 9;
    EXPECT_EQ(&(assigned = first), &assigned);
    EXPECT_EQ(assigned.m_nTemplateVecNum, 3);
    EXPECT_TRUE(g_recognizerReady);

    CVelmora another; // a fresh construction invalidates everyone
    EXPECT_FALSE(g_recognizerReady);
}

TEST(RecognizerObject, MaxTemplateSizeNeedsReadiness)
{
    CVelmora v;
    int size = 55;
    EXPECT_FALSE(v.GetMaxTemplateSize(size));
    EXPECT_EQ(size, 0);

    g_recognizerReady = true;
    EXPECT_TRUE(v.GetMaxTemplateSize(size));
    EXPECT_EQ(size, 1608);
    v.m_nTemplateVecNum = 3;
    EXPECT_TRUE(v.GetMaxTemplateSize(size));
    EXPECT_EQ(size, 3 * 200 * 8 + 8);
    g_recognizerReady = false;
}

TEST(RecognizerObject, SizesVersionAndMode)
{
    CVelmora v;
    int w = 0, h = 0;
    EXPECT_TRUE(v.GetNormFaceSize(w, h));
    EXPECT_EQ(w, 64);
    EXPECT_EQ(h, 64);

    const struct { int width, height; } cases[] = {{46, 56}, {23, 28}, {1, 1}, {64, 78}, {100, 122}};
    for (const auto& c : cases) {
        int height = -1;
        EXPECT_TRUE(v.GetFaceSize(c.width, height)) << c.width;
        EXPECT_EQ(height, c.height) << c.width;
    }
    for (int bad : {0, -1, -1000, 2000000000}) {
        int height = 1234;
        EXPECT_FALSE(v.GetFaceSize(bad, height)) << bad;
        EXPECT_EQ(height, 1234);
    }

    EXPECT_EQ(v.GetVelmoraVersion(), 230);
    EXPECT_TRUE(v.SetFindFaceMode(-5));
    EXPECT_EQ(g_findFaceMode, -5);
}
