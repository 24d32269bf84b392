#include "support/Common.h"

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

// Synthetic 64 x 64 faces: a smooth pattern per class plus noise per face.
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
                pixels.emplace_back(4096);
                for (int i = 0; i < 4096; ++i)
                    pixels.back()[i] = static_cast<unsigned char>(
                        128 + 60 * std::sin(0.2 * (i % 64) + a) * std::cos(0.15 * (i / 64) + b) +
                        noise(gen));
            }
        }
        for (auto& f : pixels)
            table.push_back(f.data());
    }
    int Classes() const { return static_cast<int>(counts.size()); }
    enumTError Increase(CVelmora& v, int nLDA, const char* pca, const std::string& inc,
                        const std::string& out, bool preprocess = false)
    {
        return v.IncreaseTrain(table.data(), Classes(), counts.data(), 0, preprocess, nLDA, 0, pca,
                               inc.c_str(), out.c_str());
    }
};

// A model whose PCA passes standardised features 0..k-1 through, made the module's.
void InitializeBasis(CVelmora& v, const ScratchDir& dir, int k)
{
    ASSERT_TRUE(v.Initialize(dir.Write("basis.model", BasisModel(7840, k, 0, 2).Bytes()).c_str(),
                             nullptr));
}

} // namespace

TEST(IncreaseTrain, ResultCodesAndMessages)
{
    MessageCapture messages;
    ScratchDir dir;
    CVelmora v; // clears readiness
    Faces faces({3, 3}, 1);
    const std::string out = (dir / "out.model");
    EXPECT_EQ(faces.Increase(v, 4, nullptr, "", out), T_BAD_ARGUMENT); // not initialised
    g_subspaceModel.m_nPCAEigenUsed = 0; // as before any model: the PCA loads, no components
    const std::string pca6 = dir.Write("pca6.model", BasisModel(7840, 6, 0, 2).Bytes());
    EXPECT_EQ(faces.Increase(v, 4, pca6.c_str(), "", out), T_NO_SAMPLES);
    EXPECT_EQ(faces.Increase(v, 4, (dir / "none").c_str(), "", out), T_BAD_ARGUMENT);
    EXPECT_FALSE(g_subspaceModel.m_bPCAReady);
    EXPECT_TRUE(messages.texts().empty());

    InitializeBasis(v, dir, 8);
    int empty[2] = {3, 0};
    EXPECT_EQ(v.IncreaseTrain(faces.table.data(), 0, empty, 0, false, 4, 0, nullptr, "",
                              out.c_str()), T_NO_SAMPLES);
    EXPECT_EQ(v.IncreaseTrain(faces.table.data(), 2, empty, 0, false, 4, 0, nullptr, "",
                              out.c_str()), T_BAD_ARGUMENT);
    EXPECT_TRUE(messages.texts().empty());
    EXPECT_EQ(faces.Increase(v, 9, nullptr, "", out), T_BAD_ARGUMENT); // K + 1
    EXPECT_EQ(messages.texts(), std::vector<std::string>{"nPCAEigenUsed > nLDATrainSampDim"});
    EXPECT_FALSE(g_subspaceModel.m_bLDAReady);
    messages.clear();
    EXPECT_EQ(faces.Increase(v, 5, pca6.c_str(), "", out), T_BAD_ARGUMENT); // 6 vectors, K = 8
    EXPECT_EQ(messages.texts(), std::vector<std::string>{"nOutDim > m_pPCA->m_nMaxValidEigenVecNum"});
    InitializeBasis(v, dir, 8);
    messages.clear();
    EXPECT_EQ(faces.Increase(v, 8, nullptr, dir.Write("bad.inc", "QuorvaneIncrease2.3"), out),
              T_BAD_ARGUMENT);
    EXPECT_EQ(messages.texts(), std::vector<std::string>{"TrainLDA error!"});
    EXPECT_FALSE(std::filesystem::exists(out));
    EXPECT_EQ(g_subspaceModel.m_nPCAEigenUsed, 8); // K and S change only on success
}

TEST(IncreaseTrain, SavedStatisticsPlusNewFacesEqualOneTrainingOnAll)
{
    MessageCapture messages;
    ScratchDir dir;
    CVelmora v;
    InitializeBasis(v, dir, 10);
    Faces earlier({4, 5, 4}, 3), fresh({5, 4, 4}, 4), all({4, 5, 4, 5, 4, 4}, 3);
    for (size_t i = 13; i < all.pixels.size(); ++i) // all = earlier followed by fresh
        all.pixels[i] = fresh.pixels[i - 13];

    const std::string inc = (dir / "earlier.inc");
    ASSERT_EQ(v.SaveIncreaseData(earlier.table.data(), 3, earlier.counts.data(), false, 10,
                                 nullptr, inc.c_str()), T_OK);
    ASSERT_EQ(fresh.Increase(v, 10, nullptr, inc, (dir / "inc.model")), T_OK);
    ASSERT_EQ(all.Increase(v, 10, nullptr, "", (dir / "all.model")), T_OK);
    EXPECT_EQ(g_subspaceModel.m_nPCAEigenSkipped, 0);
    CSubspaceModel a, b;
    ASSERT_TRUE(a.LoadModel((dir / "inc.model"), 0) && b.LoadModel((dir / "all.model"), 0));
    ASSERT_EQ(a.m_pLDA->m_nValidEigenNum, 5); // every vector saved: min(6 - 1, 10, 26 - 6)
    ASSERT_EQ(b.m_pLDA->m_nValidEigenNum, 5);
    for (int i = 0; i < 5; ++i) {
        EXPECT_NEAR(a.m_pLDA->m_plfEigenVals[i], b.m_pLDA->m_plfEigenVals[i],
                    1e-8 * b.m_pLDA->m_plfEigenVals[i]);
        double dot = 0;
        for (int j = 0; j < 10; ++j)
            dot += a.m_pLDA->m_pplfEigenVecs[i][j] * b.m_pLDA->m_pplfEigenVecs[i][j];
        EXPECT_NEAR(std::fabs(dot), 1.0, 1e-8) << i;
    }
    // Extending the file with the new faces; a base of another dimension is refused.
    const std::string both = (dir / "both.inc");
    ASSERT_EQ(v.SaveIncreaseData(fresh.table.data(), 3, fresh.counts.data(), false, 10,
                                 inc.c_str(), both.c_str()), T_OK);
    CIncreaseStatistics st;
    ASSERT_TRUE(st.Load(both.c_str()));
    EXPECT_EQ(st.GetTotalSampNum(), 26);
    EXPECT_EQ(v.SaveIncreaseData(fresh.table.data(), 3, fresh.counts.data(), false, 9,
                                 inc.c_str(), both.c_str()), T_BAD_ARGUMENT);
    EXPECT_TRUE(messages.texts().empty());

    // Preprocessing changes the caller's faces only when asked.
    const auto before = fresh.pixels;
    ASSERT_EQ(fresh.Increase(v, 6, nullptr, "", (dir / "p.model")), T_OK);
    EXPECT_EQ(fresh.pixels, before);
    ASSERT_EQ(fresh.Increase(v, 6, nullptr, "", (dir / "p.model"), true), T_OK);
    EXPECT_NE(fresh.pixels, before);
}

TEST(ModelIncrease, SkippedComponentsAndPCAReadiness)
{
    MessageCapture messages;
    CSubspaceModel model;
    double rows[6][4] = {{0, 1, 2, 3}, {1, 1, 2, 4}, {0, 2, 2, 3}, {5, 6, 1, 0}, {6, 6, 0, 1}, {5, 7, 1, 1}};
    double* table[6] = {rows[0], rows[1], rows[2], rows[3], rows[4], rows[5]};
    int counts[2] = {3, 3};
    EXPECT_FALSE(model.IncreaseTrainLDA(table, 2, counts, 4, 4, 1, ""));
    EXPECT_EQ(messages.texts(), std::vector<std::string>{"PCA is not ready!"});
    model.m_bPCAReady = true; // the LDA stage does not read the PCA itself
    ASSERT_TRUE(model.IncreaseTrainLDA(table, 2, counts, 4, 4, 1, ""));
    EXPECT_EQ(model.m_nPCAEigenUsed, 4);
    EXPECT_EQ(model.m_nPCAEigenSkipped, 1);
    EXPECT_EQ(model.m_pLDA->m_nFeatureVecDim, 3); // components 1..3
    EXPECT_EQ(model.m_pLDA->m_pplfMeanVecs[1][0], 19.0 / 3);
    EXPECT_FALSE(model.IncreaseTrainLDA(table, 2, counts, 4, 4, -1, "")); // skip outside the block
    EXPECT_FALSE(model.m_bLDAReady);
}
