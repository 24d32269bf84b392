#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "pca/SubspaceModel.h"
#include "support/HandModel.h"
#include "support/MessageCapture.h"

using velmora_test::BasisModel;
using velmora_test::HandModel;
using velmora_test::MessageCapture;
using velmora_test::ScratchDir;

namespace {

// Features 0..d-1 mapped to i * 1.5 - 3; standardised value of component j is
// (x - 0.5 j) / 2 unless j is a multiple of 3 (deviation 0: passed through).
std::vector<double> Features(int d)
{
    std::vector<double> x(static_cast<size_t>(d));
    for (int j = 0; j < d; ++j)
        x[j] = j * 1.5 - 3.0;
    return x;
}

double Standardised(int j)
{
    const double x = j * 1.5 - 3.0;
    return j % 3 == 0 ? x : (x - 0.5 * j) / 2.0;
}

} // namespace

TEST(ModelFile, HandBuiltFileGivesTheChosenComponents)
{
    MessageCapture messages;
    ScratchDir dir;
    // D = 6, K = 5, S = 2: the template picks PCA components 2, 3, 4.
    const HandModel hand = BasisModel(6, 5, 2, 3);
    ASSERT_EQ(hand.Bytes().size(), 12u + 17 * 6 + 8 * 5 + 8 * 5 * 6 + 12 + 8 * 3 + 8 * 3 + 8 * 3 * 3);
    CSubspaceModel model;
    ASSERT_TRUE(model.LoadModel(dir.Write("m.bin", hand.Bytes()), 0));
    EXPECT_TRUE(model.m_bPCAReady);
    EXPECT_TRUE(model.m_bLDAReady);
    EXPECT_EQ(model.m_nPCAEigenUsed, 5);
    EXPECT_EQ(model.m_nPCAEigenSkipped, 2);
    EXPECT_EQ(model.m_pPCA->m_nTrainSampNum, 17);
    EXPECT_EQ(model.m_pPCA->m_nMaxValidEigenVecNum, 5);
    EXPECT_EQ(model.m_pPCA->m_pbyMeanVec[5], 5);
    EXPECT_EQ(model.m_pLDA->m_nValidEigenNum, 3);
    EXPECT_EQ(model.m_pLDA->m_nFeatureVecDim, 3);
    EXPECT_EQ(model.m_pLDA->m_plfMeanVec[2], -2.0);
    EXPECT_EQ(model.m_pLDA->m_plfEigenVals[1], 9.0);
    EXPECT_EQ(model.m_pLDA->m_bLDAReady, 1);

    const std::vector<double> x = Features(6);
    double out[3];
    ASSERT_TRUE(model.ProjectToLDA(x.data(), 6, out, 3));
    EXPECT_EQ(out[0], Standardised(2));
    EXPECT_EQ(out[1], Standardised(3));
    EXPECT_EQ(out[2], Standardised(4));

    double pca[5];
    ASSERT_TRUE(model.ProjectToPCA(x.data(), 6, pca, 5));
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(pca[i], Standardised(i));
    EXPECT_TRUE(messages.texts().empty());
}

TEST(ModelFile, SaveWritesTheLayoutBitForBit)
{
    ScratchDir dir;
    HandModel hand = BasisModel(7, 4, 1, 3);
    std::mt19937_64 rng(3);
    std::uniform_real_distribution<double> u(-5.0, 5.0);
    for (auto& row : hand.eigenVecs)
        for (double& v : row)
            v = u(rng); // arbitrary bit patterns, not only exact small numbers
    for (auto& row : hand.ldaVecs)
        for (double& v : row)
            v = u(rng);
    hand.n = 123456; // carried as it is
    const std::string bytes = hand.Bytes();

    CSubspaceModel model;
    ASSERT_TRUE(model.LoadModel(dir.Write("in.bin", bytes), 0));
    ASSERT_TRUE(model.SaveModel(dir.Path("out.bin"), 0));
    EXPECT_EQ(ScratchDir::Read(dir.Path("out.bin")), bytes);

    // Saving fewer LDA vectors rewrites L and drops the tail rows only.
    ASSERT_TRUE(model.SaveModel(dir.Path("two.bin"), 2));
    HandModel two = hand;
    two.l = 2;
    two.ldaEigenVals.resize(2);
    two.ldaVecs.resize(2);
    EXPECT_EQ(ScratchDir::Read(dir.Path("two.bin")), two.Bytes());

    // A reloaded model projects exactly as the original.
    CSubspaceModel again;
    ASSERT_TRUE(again.LoadModel(dir.Path("out.bin"), 0));
    std::vector<double> x(7);
    for (double& v : x)
        v = u(rng);
    double a[3], b[3];
    ASSERT_TRUE(model.ProjectToLDA(x.data(), 7, a, 3));
    ASSERT_TRUE(again.ProjectToLDA(x.data(), 7, b, 3));
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(a[i], b[i]);
}

TEST(ModelFile, SaveWritesOnlyKPcaVectorsWhateverThePcaHolds)
{
    ScratchDir dir;
    CSubspaceModel model;
    ASSERT_TRUE(model.LoadModel(dir.Write("in.bin", BasisModel(6, 5, 2, 2).Bytes()), 0));
    // A model whose PCA holds five vectors but uses only the first three.
    model.m_nPCAEigenUsed = 3;
    model.m_nPCAEigenSkipped = 0;
    const HandModel expected = BasisModel(6, 3, 0, 2); // the loaded LDA (E = 3) as it is
    ASSERT_TRUE(model.SaveModel(dir.Path("out.bin"), 0));
    EXPECT_EQ(ScratchDir::Read(dir.Path("out.bin")), expected.Bytes());
    CSubspaceModel reloaded;
    ASSERT_TRUE(reloaded.LoadModel(dir.Path("out.bin"), 0));
    EXPECT_EQ(reloaded.m_pPCA->m_nMaxValidEigenVecNum, 3);
}

TEST(ModelFile, SaveRefusals)
{
    MessageCapture messages;
    ScratchDir dir;
    CSubspaceModel model;
    EXPECT_FALSE(model.SaveModel(dir.Path("a.bin"), 0));
    ASSERT_TRUE(model.LoadModel(dir.Write("in.bin", BasisModel(4, 3, 1, 2).Bytes()), 0));
    EXPECT_FALSE(model.SaveModel(dir.Path("b.bin"), 3));
    EXPECT_FALSE(model.SaveModel(dir.Path("missing/dir/c.bin"), 0)); // silent
    const std::vector<std::string> expected = {"LDA is not ready!",
                                               "nNum > m_pLDA->m_nValidEigenNum"};
    EXPECT_EQ(messages.texts(), expected);
    EXPECT_FALSE(std::filesystem::exists(dir.Path("a.bin")));
    EXPECT_FALSE(std::filesystem::exists(dir.Path("b.bin")));
}

TEST(ModelFile, LoadKeepsTheFirstNumLdaVectors)
{
    MessageCapture messages;
    ScratchDir dir;
    const HandModel hand = BasisModel(5, 4, 0, 4);
    std::string bytes = hand.Bytes();
    bytes.resize(bytes.size() - 8 * 4 * 2); // the last two rows are never read
    CSubspaceModel model;
    ASSERT_TRUE(model.LoadModel(dir.Write("m.bin", bytes), 2));
    EXPECT_EQ(model.m_pLDA->m_nValidEigenNum, 2);
    EXPECT_EQ(model.m_pLDA->m_plfEigenVals[1], 9.0);
    EXPECT_EQ(model.m_pLDA->m_plfMeanVec[3], -3.0); // found after all four eigenvalues

    EXPECT_FALSE(model.LoadModel(dir.Path("m.bin"), 5));
    EXPECT_TRUE(model.m_bPCAReady);
    EXPECT_FALSE(model.m_bLDAReady);
    ASSERT_EQ(messages.texts().size(), 1u);
    EXPECT_EQ(messages.texts()[0], "nNum > m_pLDA->m_nValidEigenNum");
}

TEST(ModelFile, ZeroLdaVectorsKeepsThePcaStage)
{
    MessageCapture messages;
    ScratchDir dir;
    CSubspaceModel model;
    EXPECT_FALSE(model.LoadModel(dir.Write("m.bin", BasisModel(4, 3, 1, 0).Bytes()), 0));
    EXPECT_TRUE(model.m_bPCAReady);
    EXPECT_FALSE(model.m_bLDAReady);
    EXPECT_EQ(model.m_pLDA->m_pplfEigenVecs, nullptr);
    ASSERT_EQ(messages.texts().size(), 1u);
    EXPECT_EQ(messages.texts()[0], "m_pLDA->m_pplfEigenVecs memory allocation error");
    const std::vector<double> x = Features(4);
    double out[3];
    EXPECT_TRUE(model.ProjectToPCA(x.data(), 4, out, 3));
    EXPECT_FALSE(model.ProjectToLDA(x.data(), 4, out, 1));
}

TEST(ModelFile, ProjectionRefusals)
{
    MessageCapture messages;
    ScratchDir dir;
    CSubspaceModel model;
    const std::vector<double> x = Features(8);
    double out[8];
    EXPECT_FALSE(model.ProjectToLDA(x.data(), 8, out, 1)); // nothing loaded: silent
    EXPECT_FALSE(model.ProjectToPCA(x.data(), 8, out, 1));
    EXPECT_TRUE(messages.texts().empty());

    ASSERT_TRUE(model.LoadModel(dir.Write("m.bin", BasisModel(6, 5, 2, 3).Bytes()), 0));
    EXPECT_FALSE(model.ProjectToLDA(x.data(), 7, out, 1));
    EXPECT_FALSE(model.ProjectToLDA(x.data(), 6, out, 4));
    EXPECT_FALSE(model.ProjectToPCA(x.data(), 8, out, 1));
    EXPECT_FALSE(model.ProjectToPCA(x.data(), 6, out, 6));
    const std::vector<std::string> expected = {
        "nInDim != m_pPCA->m_nFeatureVecDim", "nOutDim > m_pLDA->m_nValidEigenNum",
        "nInDim != m_pPCA->m_nFeatureVecDim", "nOutDim > m_pPCA->m_nMaxValidEigenVecNum"};
    EXPECT_EQ(messages.texts(), expected);
}

TEST(ModelFile, PcaFileReadsTheBlockAndIgnoresTheRest)
{
    ScratchDir dir;
    const HandModel hand = BasisModel(6, 5, 2, 3);
    const std::string path = dir.Write("m.bin", hand.Bytes());
    CPCA pca;
    ASSERT_TRUE(pca.ReadPCAFile(path, 2));
    EXPECT_EQ(pca.m_nMaxValidEigenVecNum, 2);
    EXPECT_EQ(pca.AllocatedEigenRows(), 2);
    EXPECT_EQ(pca.m_plfEigenVals[4], 96.0); // all K eigenvalues
    ASSERT_TRUE(pca.ReadPCAFile(path, 0));
    EXPECT_EQ(pca.m_nMaxValidEigenVecNum, 5);
    EXPECT_EQ(pca.m_pplfEigenVecs[4][4], 1.0);

    // Cut right after the second row: still enough for nNum = 2.
    const std::string bytes = hand.Bytes().substr(0, 12 + 17 * 6 + 8 * 5 + 2 * 8 * 6);
    const std::string cut = dir.Write("cut.bin", bytes);
    EXPECT_TRUE(pca.ReadPCAFile(cut, 2));
    EXPECT_FALSE(pca.ReadPCAFile(cut, 3));
    EXPECT_EQ(pca.m_plfMeanVec, nullptr);
    EXPECT_FALSE(pca.ReadPCAFile(dir.Path("none.bin"), 0));

    // LoadPCA replaces the PCA stage and keeps K and S.
    CSubspaceModel model;
    ASSERT_TRUE(model.LoadModel(path, 0));
    ASSERT_TRUE(model.LoadPCA(dir.Write("small.bin", BasisModel(6, 3, 0, 1).Bytes()), 0));
    EXPECT_TRUE(model.m_bPCAReady);
    EXPECT_EQ(model.m_nPCAEigenUsed, 5);
    EXPECT_EQ(model.m_nPCAEigenSkipped, 2);
    EXPECT_FALSE(model.LoadPCA(dir.Path("none.bin"), 0));
    EXPECT_FALSE(model.m_bPCAReady);
}

TEST(ModelFileHostile, EveryTruncationFailsCleanly)
{
    MessageCapture messages;
    ScratchDir dir;
    const HandModel hand = BasisModel(4, 3, 1, 2);
    const std::string bytes = hand.Bytes();
    const size_t pcaEnd = 12 + 17 * 4 + 8 * 3 + 8 * 3 * 4;
    const size_t rowsStart = pcaEnd + 4 + 8 + 8 * 2 + 8 * 2;
    const std::vector<double> x = Features(4);
    CSubspaceModel model;
    for (size_t size = 0; size < bytes.size(); ++size) {
        messages.clear();
        const std::string path = dir.Write("cut.bin", bytes.substr(0, size));
        ASSERT_FALSE(model.LoadModel(path, 0)) << size;
        EXPECT_FALSE(model.m_bLDAReady);
        EXPECT_EQ(model.m_bPCAReady, size >= pcaEnd) << size;
        if (size < pcaEnd) {
            EXPECT_TRUE(messages.texts().empty()) << size;
            EXPECT_EQ(model.m_pPCA->m_plfMeanVec, nullptr);
        }
        if (size > pcaEnd + 16) { // past the LDA header: the eigen data is short
            EXPECT_EQ(messages.texts(), std::vector<std::string>{"LDA Read Eigen error"}) << size;
        }
        if (size >= rowsStart) {
            EXPECT_EQ(model.m_pLDA->m_pplfEigenVecs, nullptr);
        }
        double out[2];
        EXPECT_FALSE(model.ProjectToLDA(x.data(), 4, out, 2));
        EXPECT_FALSE(model.SaveModel(dir.Path("never.bin"), 0));

        CPCA pca;
        EXPECT_EQ(pca.ReadPCAFile(path, 0), size >= pcaEnd) << size;
    }
    ASSERT_TRUE(model.LoadModel(dir.Write("full.bin", bytes), 0));
}

TEST(ModelFileHostile, CountsBeyondTheFileOrInconsistentAreRejected)
{
    MessageCapture messages;
    ScratchDir dir;
    enum Pca { kRejected, kKept, kEither };
    struct Case {
        const char* what;
        void (*edit)(HandModel&);
        Pca pca; // whether the PCA block alone is acceptable
    };
    const Case cases[] = {
        {"negative N", [](HandModel& m) { m.n = -5; }, kRejected},
        {"negative D", [](HandModel& m) { m.d = -4; }, kRejected},
        {"zero D", [](HandModel& m) { m.d = 0; }, kRejected},
        {"huge D", [](HandModel& m) { m.d = 0x7fffffff; }, kRejected},
        {"D one too many", [](HandModel& m) { m.d = 5; }, kEither},
        {"negative K", [](HandModel& m) { m.k = -1; }, kRejected},
        {"huge K", [](HandModel& m) { m.k = 0x7fffffff; }, kRejected},
        {"K one too many", [](HandModel& m) { m.k = 4; }, kEither},
        {"negative S", [](HandModel& m) { m.s = -1; }, kKept},
        {"S beyond K", [](HandModel& m) { m.s = 4; }, kKept},
        {"E not K - S", [](HandModel& m) { m.e = 3; }, kKept},
        {"huge E", [](HandModel& m) { m.e = 0x7fffffff; }, kKept},
        {"huge L", [](HandModel& m) { m.l = 0x7fffffff; }, kKept},
        {"L one too many", [](HandModel& m) { m.l = 3; }, kKept},
        {"negative L", [](HandModel& m) { m.l = -2; }, kKept},
        {"negative E", [](HandModel& m) { m.e = -2; }, kKept},
    };
    CSubspaceModel model;
    for (const Case& c : cases) {
        HandModel hand = BasisModel(4, 3, 1, 2);
        c.edit(hand);
        const std::string path = dir.Write("bad.bin", hand.Bytes());
        ASSERT_TRUE(model.LoadModel(dir.Write("good.bin", BasisModel(4, 3, 1, 2).Bytes()), 0));
        EXPECT_FALSE(model.LoadModel(path, 0)) << c.what;
        if (c.pca != kEither) { // one count too many may still fit the file's bytes
            EXPECT_EQ(model.m_bPCAReady, c.pca == kKept) << c.what;
        }
        EXPECT_FALSE(model.m_bLDAReady) << c.what;
        EXPECT_FALSE(model.m_pLDA->m_bLDAReady) << c.what;
        const std::vector<double> x = Features(4);
        double out[2];
        EXPECT_FALSE(model.ProjectToLDA(x.data(), 4, out, 2)) << c.what;
    }
}
