#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include <velmora/Velmora.h>

#include "lda/IncreaseStatistics.h"
#include "pca/SubspaceModel.h"
#include "recognizer/ModuleState.h"
#include "support/HandModel.h"
#include "support/MessageCapture.h"

using velmora_test::BasisModel;
using velmora_test::MessageCapture;
using velmora_test::ScratchDir;

namespace {

constexpr int kFeatures = 7840;

// Synthetic 64 x 64 faces: every class has its own smooth pattern, every face of
// it a little noise on top.
struct Faces {
    std::vector<std::vector<unsigned char>> pixels;
    std::vector<unsigned char*> table;
    std::vector<int> counts;
    Faces(const std::vector<int>& classCounts, unsigned seed) : counts(classCounts)
    {
        std::mt19937 gen(seed);
        std::uniform_real_distribution<double> phase(0.0, 6.28), noise(-12.0, 12.0);
        for (int n : classCounts) {
            const double a = phase(gen), b = phase(gen);
            for (int s = 0; s < n; ++s) {
                std::vector<unsigned char> face(4096);
                for (int y = 0; y < 64; ++y)
                    for (int x = 0; x < 64; ++x) {
                        const double v = 128 + 60 * std::sin(0.2 * x + a) * std::cos(0.15 * y + b) +
                                         noise(gen);
                        face[y * 64 + x] = static_cast<unsigned char>(v < 0 ? 0 : (v > 255 ? 255 : v));
                    }
                pixels.push_back(face);
            }
        }
        for (auto& f : pixels)
            table.push_back(f.data());
    }
    int Classes() const { return static_cast<int>(counts.size()); }
};

// Writes a model whose PCA passes (standardised) features 0..k-1 through, and
// makes it the module's model.
std::string InitializeBasisModel(CVelmora& v, const ScratchDir& dir, int k, int l)
{
    const std::string path = dir.Write("basis.model", BasisModel(kFeatures, k, 0, l).Bytes());
    EXPECT_TRUE(v.Initialize(path.c_str(), nullptr));
    return path;
}

} // namespace

TEST(IncreaseTrain, RefusesBeforeAnyModelAndWithoutFaces)
{
    MessageCapture messages;
    ScratchDir dir;
    CVelmora v; // clears readiness
    Faces faces({3, 3}, 1);
    EXPECT_EQ(v.IncreaseTrain(faces.table.data(), 2, faces.counts.data(), 0, false, 4, 0, nullptr,
                              "", dir.Path("out.model").c_str()),
              T_BAD_ARGUMENT);
    EXPECT_FALSE(std::filesystem::exists(dir.Path("out.model")));

    // A PCA file on a model that has never had a K: the PCA loads, then no components.
    g_subspaceModel.m_nPCAEigenUsed = 0;
    const std::string pca = dir.Write("pca.model", BasisModel(kFeatures, 6, 0, 2).Bytes());
    EXPECT_EQ(v.IncreaseTrain(faces.table.data(), 2, faces.counts.data(), 0, false, 4, 0,
                              pca.c_str(), "", dir.Path("out.model").c_str()),
              T_NO_SAMPLES);
    EXPECT_TRUE(g_subspaceModel.m_bPCAReady);
    EXPECT_EQ(v.IncreaseTrain(faces.table.data(), 2, faces.counts.data(), 0, false, 4, 0,
                              dir.Path("missing.model").c_str(), "", dir.Path("out.model").c_str()),
              T_BAD_ARGUMENT);
    EXPECT_FALSE(g_subspaceModel.m_bPCAReady);

    InitializeBasisModel(v, dir, 6, 2);
    EXPECT_EQ(v.IncreaseTrain(faces.table.data(), 0, faces.counts.data(), 0, false, 4, 0, nullptr,
                              "", dir.Path("out.model").c_str()),
              T_NO_SAMPLES);
    int empty[2] = {3, 0};
    EXPECT_EQ(v.IncreaseTrain(faces.table.data(), 2, empty, 0, false, 4, 0, nullptr, "",
                              dir.Path("out.model").c_str()),
              T_BAD_ARGUMENT);
    EXPECT_EQ(v.IncreaseTrain(nullptr, 2, faces.counts.data(), 0, false, 4, 0, nullptr, "",
                              dir.Path("out.model").c_str()),
              T_BAD_ARGUMENT);
    EXPECT_TRUE(messages.texts().empty());
    EXPECT_TRUE(g_subspaceModel.m_bLDAReady); // nothing reached the LDA
}

TEST(IncreaseTrain, ModelFailuresGiveTheirMessagesAnd100)
{
    MessageCapture messages;
    ScratchDir dir;
    CVelmora v;
    InitializeBasisModel(v, dir, 8, 3);
    Faces faces({3, 3, 3}, 2);
    const std::string out = dir.Path("out.model");

    // nLDAEigenUsed above K leaves the LDA stage not ready.
    EXPECT_EQ(v.IncreaseTrain(faces.table.data(), 3, faces.counts.data(), 0, false, 9, 0, nullptr,
                              "", out.c_str()),
              T_BAD_ARGUMENT);
    EXPECT_EQ(messages.texts(), std::vector<std::string>{"nPCAEigenUsed > nLDATrainSampDim"});
    EXPECT_FALSE(g_subspaceModel.m_bLDAReady);

    // A PCA file with fewer vectors than K = 8.
    messages.clear();
    const std::string small = dir.Write("small.model", BasisModel(kFeatures, 5, 0, 2).Bytes());
    EXPECT_EQ(v.IncreaseTrain(faces.table.data(), 3, faces.counts.data(), 0, false, 5, 0,
                              small.c_str(), "", out.c_str()),
              T_BAD_ARGUMENT);
    EXPECT_EQ(messages.texts(),
              std::vector<std::string>{"nOutDim > m_pPCA->m_nMaxValidEigenVecNum"});

    // A bad incremental file shows only the training failure.
    InitializeBasisModel(v, dir, 8, 3);
    messages.clear();
    const std::string junk = dir.Write("junk.inc", "QuorvaneIncrease2.3");
    EXPECT_EQ(v.IncreaseTrain(faces.table.data(), 3, faces.counts.data(), 0, false, 8, 0, nullptr,
                              junk.c_str(), out.c_str()),
              T_BAD_ARGUMENT);
    EXPECT_EQ(messages.texts(), std::vector<std::string>{"TrainLDA error!"});
    EXPECT_FALSE(std::filesystem::exists(out));
    EXPECT_EQ(g_subspaceModel.m_nPCAEigenUsed, 8);
}

TEST(IncreaseTrain, SavedStatisticsPlusNewFacesEqualOneTrainingOnAll)
{
    MessageCapture messages;
    ScratchDir dir;
    CVelmora v;
    InitializeBasisModel(v, dir, 10, 3);
    Faces earlier({4, 5, 4}, 3), fresh({5, 4, 4}, 4);

    // Statistics of the earlier faces, then the new faces on top of them.
    const std::string inc = dir.Path("earlier.inc");
    ASSERT_EQ(v.SaveIncreaseData(earlier.table.data(), 3, earlier.counts.data(), false, 10,
                                 nullptr, inc.c_str()),
              T_OK);
    const std::string model = dir.Path("increased.model");
    ASSERT_EQ(v.IncreaseTrain(fresh.table.data(), 3, fresh.counts.data(), 0, false, 10, 0, nullptr,
                              inc.c_str(), model.c_str()),
              T_OK);
    EXPECT_EQ(g_subspaceModel.m_nPCAEigenUsed, 10);
    EXPECT_EQ(g_subspaceModel.m_nPCAEigenSkipped, 0);
    CSubspaceModel increased;
    ASSERT_TRUE(increased.LoadModel(model, 0));
    EXPECT_EQ(increased.m_pLDA->m_nValidEigenNum, 5); // all of min(6 - 1, 10, 26 - 6)

    // All faces in one training with an empty incremental path.
    Faces all({4, 5, 4}, 3);
    Faces more({5, 4, 4}, 4);
    for (size_t i = 0; i < more.pixels.size(); ++i) {
        all.pixels.push_back(more.pixels[i]);
    }
    all.table.clear();
    for (auto& f : all.pixels)
        all.table.push_back(f.data());
    all.counts = {4, 5, 4, 5, 4, 4};
    const std::string batch = dir.Path("batch.model");
    ASSERT_EQ(v.IncreaseTrain(all.table.data(), 6, all.counts.data(), 0, false, 10, 0, nullptr, "",
                              batch.c_str()),
              T_OK);
    CSubspaceModel once;
    ASSERT_TRUE(once.LoadModel(batch, 0));
    const CLDA& a = *increased.m_pLDA;
    const CLDA& b = *once.m_pLDA;
    ASSERT_EQ(a.m_nValidEigenNum, b.m_nValidEigenNum);
    for (int i = 0; i < a.m_nValidEigenNum; ++i) {
        EXPECT_NEAR(a.m_plfEigenVals[i], b.m_plfEigenVals[i], 1e-8 * b.m_plfEigenVals[i]);
        double dot = 0;
        for (int j = 0; j < 10; ++j)
            dot += a.m_pplfEigenVecs[i][j] * b.m_pplfEigenVecs[i][j];
        EXPECT_NEAR(std::fabs(dot), 1.0, 1e-8) << "vector " << i;
    }
    EXPECT_TRUE(messages.texts().empty());

    // Extending the statistics file with the new faces gives the statistics of all.
    const std::string both = dir.Path("both.inc");
    ASSERT_EQ(v.SaveIncreaseData(fresh.table.data(), 3, fresh.counts.data(), false, 10,
                                 inc.c_str(), both.c_str()),
              T_OK);
    CIncreaseStatistics st;
    ASSERT_TRUE(st.Load(both.c_str()));
    EXPECT_EQ(st.GetClassNum(), 6);
    EXPECT_EQ(st.GetTotalSampNum(), 26);
    EXPECT_EQ(v.SaveIncreaseData(fresh.table.data(), 3, fresh.counts.data(), false, 9, inc.c_str(),
                                 both.c_str()),
              T_BAD_ARGUMENT); // dimension of the base file differs
    EXPECT_EQ(v.SaveIncreaseData(fresh.table.data(), 3, fresh.counts.data(), false, 10,
                                 dir.Path("none.inc").c_str(), both.c_str()),
              T_FILE_ERROR);
}

TEST(IncreaseTrain, PreprocessingChangesOnlyWhenAsked)
{
    ScratchDir dir;
    CVelmora v;
    InitializeBasisModel(v, dir, 6, 2);
    Faces faces({3, 3}, 5);
    const auto before = faces.pixels;
    ASSERT_EQ(v.IncreaseTrain(faces.table.data(), 2, faces.counts.data(), 0, false, 4, 0, nullptr,
                              "", dir.Path("a.model").c_str()),
              T_OK);
    EXPECT_EQ(faces.pixels, before);
    InitializeBasisModel(v, dir, 6, 2);
    ASSERT_EQ(v.IncreaseTrain(faces.table.data(), 2, faces.counts.data(), 0, true, 4, 0, nullptr,
                              "", dir.Path("b.model").c_str()),
              T_OK);
    EXPECT_NE(faces.pixels, before);
    EXPECT_EQ(g_subspaceModel.m_nPCAEigenUsed, 4);
}
