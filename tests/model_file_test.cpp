// Cut files and counts beyond the file or inconsistent with it (no LDA after
// a failed load, the PCA stage kept exactly when its block is whole) are
// checked by the model_file fuzz harness in its replay with the suite.
#include "support/Common.h"

#include "pca/SubspaceModel.h"
#include "support/HandModel.h"
#include "support/MessageCapture.h"

using namespace velmora_test;
using Texts = std::vector<std::string>;

namespace {
// Standardised feature j of x[j] = 1.5 j - 3 under BasisModel's mean and deviation.
double Standardised(int j)
{
    const double x = j * 1.5 - 3.0;
    return j % 3 == 0 ? x : (x - 0.5 * j) / 2.0;
}
const std::vector<double> kFeatures = {-3.0, -1.5, 0.0, 1.5, 3.0, 4.5};
} // namespace

TEST(ModelFile, HandBuiltFileLoadsProjectsAndSavesBitForBit)
{
    MessageCapture messages;
    ScratchDir dir;
    // D = 6, K = 5, S = 2, L = 3: the template is PCA components 2, 3 and 4.
    HandModel hand = BasisModel(6, 5, 2, 3);
    hand.ldaVecs[2] = {0.1, -0.7, 0.3}; // arbitrary bit patterns travel too
    CSubspaceModel model;
    ASSERT_TRUE(model.LoadModel(dir.Write("m.bin", hand.Bytes()), 0));
    EXPECT_TRUE(model.m_bPCAReady && model.m_bLDAReady && model.m_pLDA->m_bLDAReady);
    EXPECT_EQ(model.m_nPCAEigenUsed, 5);
    EXPECT_EQ(model.m_nPCAEigenSkipped, 2);
    EXPECT_EQ(model.m_pPCA->m_nTrainSampNum, 17);
    EXPECT_EQ(model.m_pPCA->m_pbyMeanVec[5], 2);
    double out[3], pca[5];
    ASSERT_TRUE(model.ProjectToLDA(kFeatures.data(), 6, out, 3));
    EXPECT_EQ(out[0], Standardised(2));
    EXPECT_EQ(out[1], Standardised(3));
    EXPECT_EQ(out[2], 0.1 * Standardised(2) - 0.7 * Standardised(3) + 0.3 * Standardised(4));
    ASSERT_TRUE(model.ProjectToPCA(kFeatures.data(), 6, pca, 5));
    EXPECT_EQ(pca[4], Standardised(4));

    ASSERT_TRUE(model.SaveModel((dir / "all.bin"), 0));
    EXPECT_EQ(ReadFile((dir / "all.bin")), hand.Bytes());
    // Only K PCA vectors are written, whatever the PCA holds.
    HandModel k3 = BasisModel(6, 3, 0, 3);
    k3.ldaVecs[2] = hand.ldaVecs[2];
    model.m_nPCAEigenUsed = 3;
    model.m_nPCAEigenSkipped = 0;
    ASSERT_TRUE(model.SaveModel((dir / "k3.bin"), 0));
    EXPECT_EQ(ReadFile((dir / "k3.bin")), k3.Bytes());
    ASSERT_TRUE(model.SaveModel((dir / "two.bin"), 2)); // L = 2, the last row dropped
    k3.l = 2;
    k3.ldaEigenVals.pop_back();
    k3.ldaVecs.pop_back();
    EXPECT_EQ(ReadFile((dir / "two.bin")), k3.Bytes());
    EXPECT_TRUE(messages.texts().empty());
}

TEST(ModelFile, MessagesAndPartialLoads)
{
    MessageCapture messages;
    ScratchDir dir;
    CSubspaceModel model;
    double out[8];
    EXPECT_FALSE(model.ProjectToLDA(kFeatures.data(), 6, out, 1)); // nothing loaded: silent
    EXPECT_FALSE(model.ProjectToPCA(kFeatures.data(), 6, out, 1));
    EXPECT_FALSE(model.SaveModel((dir / "a.bin"), 0));
    EXPECT_FALSE(model.LoadModel((dir / "missing.bin"), 0)); // silent
    EXPECT_FALSE(model.LoadModel((dir / ""), 0));            // a folder
    EXPECT_FALSE(model.LoadModel("/dev/zero", 0));

    std::string bytes = BasisModel(6, 4, 0, 4).Bytes();
    bytes.resize(bytes.size() - 8 * 4 * 2); // rows 2 and 3 are never read with nNum 2
    const std::string path = dir.Write("m.bin", bytes);
    ASSERT_TRUE(model.LoadModel(path, 2));
    EXPECT_EQ(model.m_pLDA->m_nValidEigenNum, 2);
    EXPECT_EQ(model.m_pLDA->m_plfMeanVec[3], -3.0); // found after all four eigenvalues
    EXPECT_FALSE(model.SaveModel((dir / "b.bin"), 3));
    EXPECT_FALSE(model.SaveModel((dir / "no/such/dir.bin"), 0)); // silent
    EXPECT_FALSE(model.ProjectToLDA(kFeatures.data(), 7, out, 1));
    EXPECT_FALSE(model.ProjectToLDA(kFeatures.data(), 6, out, 3));
    EXPECT_FALSE(model.ProjectToPCA(kFeatures.data(), 6, out, 5));
    EXPECT_FALSE(model.LoadModel(path, 5));
    EXPECT_TRUE(model.m_bPCAReady); // the PCA block was complete
    EXPECT_FALSE(model.m_bLDAReady);
    EXPECT_FALSE(model.LoadModel(dir.Write("l0.bin", BasisModel(6, 4, 0, 0).Bytes()), 0));
    EXPECT_TRUE(model.ProjectToPCA(kFeatures.data(), 6, out, 4));
    EXPECT_FALSE(std::filesystem::exists((dir / "a.bin")) || std::filesystem::exists((dir / "b.bin")));
    const Texts expected = {"LDA is not ready!",
                            "nNum > m_pLDA->m_nValidEigenNum",
                            "nInDim != m_pPCA->m_nFeatureVecDim",
                            "nOutDim > m_pLDA->m_nValidEigenNum",
                            "nOutDim > m_pPCA->m_nMaxValidEigenVecNum",
                            "nNum > m_pLDA->m_nValidEigenNum",
                            "m_pLDA->m_pplfEigenVecs memory allocation error"};
    EXPECT_EQ(messages.texts(), expected);
}

TEST(ModelFile, PcaFileAndLoadPCA)
{
    ScratchDir dir;
    const std::string full = BasisModel(6, 5, 2, 3).Bytes();
    const std::string cut = dir.Write("cut.bin", full.substr(0, 12 + 17 * 6 + 8 * 5 + 2 * 8 * 6));
    CPCA pca;
    ASSERT_TRUE(pca.ReadPCAFile(cut, 2)); // enough for two rows
    EXPECT_EQ(pca.m_nMaxValidEigenVecNum, 2);
    EXPECT_EQ(pca.m_plfEigenVals[4], 96.0); // all K eigenvalues
    EXPECT_FALSE(pca.ReadPCAFile(cut, 3));
    EXPECT_EQ(pca.m_plfMeanVec, nullptr);
    std::string noVectors = full.substr(0, 12 + 17 * 6); // K = 0: mean and deviations only
    noVectors.replace(8, 4, std::string(4, '\0'));
    ASSERT_TRUE(pca.ReadPCAFile(dir.Write("k0.bin", noVectors), 0));
    EXPECT_EQ(pca.m_nMaxValidEigenVecNum, 0);

    CSubspaceModel model;
    ASSERT_TRUE(model.LoadModel(dir.Write("m.bin", full), 0));
    ASSERT_TRUE(model.LoadPCA(cut, 1));
    EXPECT_EQ(model.m_nPCAEigenUsed, 5); // K and S stay
    EXPECT_EQ(model.m_nPCAEigenSkipped, 2);
    EXPECT_FALSE(model.LoadPCA((dir / "missing.bin"), 0));
    EXPECT_FALSE(model.m_bPCAReady);
}

