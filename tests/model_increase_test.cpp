#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "lda/IncreaseStatistics.h"
#include "pca/SubspaceModel.h"
#include "support/MessageCapture.h"

using velmora_test::MessageCapture;

namespace {

std::string TempPath(const std::string& name)
{
    return (std::filesystem::temp_directory_path() / ("velmora_modelinc_" + name)).string();
}

// A PCA of dimension d whose projection is the standardised input itself:
// mean mu, deviation sigma, eigenvectors the unit axes.
void AxisPCA(CSubspaceModel& model, int d, double mu, double sigma)
{
    model.m_pPCA = std::make_unique<CPCA>();
    CPCA& pca = *model.m_pPCA;
    pca.m_nTrainSampNum = 50;
    pca.m_nFeatureVecDim = d;
    pca.m_nMaxValidEigenVecNum = d;
    ASSERT_TRUE(pca.AllocLoadMemory());
    for (int k = 0; k < d; ++k) {
        pca.m_pbyMeanVec[k] = 0;
        pca.m_plfMeanVec[k] = mu;
        pca.m_plfStdDevVec[k] = sigma;
        pca.m_plfEigenVals[k] = d - k;
        for (int j = 0; j < d; ++j)
            pca.m_pplfEigenVecs[k][j] = j == k ? 1.0 : 0.0;
    }
    model.m_bPCAReady = true;
}

struct Rows {
    std::vector<std::vector<double>> data;
    std::vector<double*> table;
    std::vector<int> counts;
    Rows(int d, const std::vector<int>& classCounts, unsigned seed) : counts(classCounts)
    {
        std::mt19937 gen(seed);
        std::normal_distribution<double> noise(0.0, 1.0);
        for (int n : classCounts) {
            std::vector<double> centre(d);
            for (double& c : centre)
                c = 3.0 * noise(gen);
            for (int s = 0; s < n; ++s) {
                std::vector<double> x(d);
                for (int j = 0; j < d; ++j)
                    x[j] = centre[j] + noise(gen);
                data.push_back(x);
            }
        }
        for (auto& r : data)
            table.push_back(r.data());
    }
    int Classes() const { return static_cast<int>(counts.size()); }
};

} // namespace

TEST(ModelIncrease, TrainsOnTheComponentBlockAndSavesEveryVector)
{
    CSubspaceModel model;
    AxisPCA(model, 6, 0.0, 1.0);
    Rows stored(6, {5, 6, 5}, 1), fresh(6, {6, 5}, 2);

    // Statistics of components 0..4 of the stored rows through the model's PCA.
    CIncreaseStatistics stats;
    ASSERT_TRUE(model.CollectIncreaseStatistics(stored.table.data(), stored.Classes(),
                                                stored.counts.data(), 6, 5, stats));
    const std::string incPath = TempPath("stored.inc");
    ASSERT_TRUE(stats.Save(incPath.c_str()));

    MessageCapture messages;
    ASSERT_TRUE(model.IncreaseTrainLDA(fresh.table.data(), fresh.Classes(), fresh.counts.data(),
                                       6, 5, 0, incPath.c_str()));
    EXPECT_TRUE(model.m_bLDAReady);
    EXPECT_EQ(model.m_nPCAEigenUsed, 5);
    EXPECT_EQ(model.m_nPCAEigenSkipped, 0);
    EXPECT_EQ(model.m_pLDA->m_nFeatureVecDim, 5);
    EXPECT_EQ(model.m_pLDA->m_nValidEigenNum, 4); // 5 classes - 1

    // The same LDA trained directly on the first five components.
    CLDA direct;
    ASSERT_TRUE(direct.IncreaseTrainLDA(fresh.table.data(), fresh.Classes(), fresh.counts.data(),
                                        5, incPath.c_str()));
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 5; ++j)
            EXPECT_EQ(model.m_pLDA->m_pplfEigenVecs[i][j], direct.m_pplfEigenVecs[i][j]);

    // Saved with every LDA vector, and loadable: K = 5, S = 0, L = 4.
    const std::string modelPath = TempPath("model.bin");
    ASSERT_TRUE(model.SaveModel(modelPath, 0));
    CSubspaceModel loaded;
    ASSERT_TRUE(loaded.LoadModel(modelPath, 0));
    EXPECT_EQ(loaded.m_nPCAEigenUsed, 5);
    EXPECT_EQ(loaded.m_nPCAEigenSkipped, 0);
    EXPECT_EQ(loaded.m_pLDA->m_nValidEigenNum, 4);
    const double x[6] = {1, -2, 3, 0.5, 2, 9};
    double a[4], b[4];
    ASSERT_TRUE(model.ProjectToLDA(x, 6, a, 4));
    ASSERT_TRUE(loaded.ProjectToLDA(x, 6, b, 4));
    for (int i = 0; i < 4; ++i)
        EXPECT_EQ(a[i], b[i]);
    EXPECT_TRUE(messages.texts().empty());

    // Skipping leading components hands the LDA the block after them.
    ASSERT_TRUE(model.IncreaseTrainLDA(fresh.table.data(), fresh.Classes(), fresh.counts.data(),
                                       6, 6, 2, ""));
    EXPECT_EQ(model.m_nPCAEigenUsed, 6);
    EXPECT_EQ(model.m_nPCAEigenSkipped, 2);
    EXPECT_EQ(model.m_pLDA->m_nFeatureVecDim, 4);
    std::filesystem::remove(incPath);
    std::filesystem::remove(modelPath);
}

TEST(ModelIncrease, RefusalsClearTheLDAStageAndKeepKAndS)
{
    MessageCapture messages;
    CSubspaceModel model;
    Rows fresh(4, {4, 4}, 3);
    EXPECT_FALSE(model.IncreaseTrainLDA(fresh.table.data(), 2, fresh.counts.data(), 4, 4, 0, ""));
    ASSERT_EQ(messages.texts(), std::vector<std::string>{"PCA is not ready!"});

    AxisPCA(model, 4, 0.0, 1.0);
    ASSERT_TRUE(model.IncreaseTrainLDA(fresh.table.data(), 2, fresh.counts.data(), 4, 3, 0, ""));
    messages.clear();
    EXPECT_FALSE(model.IncreaseTrainLDA(fresh.table.data(), 2, fresh.counts.data(), 4, 5, 0, ""));
    EXPECT_EQ(messages.texts(), std::vector<std::string>{"nPCAEigenUsed > nLDATrainSampDim"});
    EXPECT_FALSE(model.m_bLDAReady);
    EXPECT_EQ(model.m_nPCAEigenUsed, 3);

    // A bad incremental file is reported only as the training failing.
    messages.clear();
    EXPECT_FALSE(model.IncreaseTrainLDA(fresh.table.data(), 2, fresh.counts.data(), 4, 4, 0,
                                        TempPath("absent.inc").c_str()));
    EXPECT_EQ(messages.texts(), std::vector<std::string>{"TrainLDA error!"});
    EXPECT_FALSE(model.m_bLDAReady);
    EXPECT_FALSE(model.m_pLDA->m_bLDAReady);
    EXPECT_EQ(model.m_nPCAEigenUsed, 3);

    // Counts that do not describe rows, and a skip outside the used block.
    int bad[2] = {4, -1};
    messages.clear();
    EXPECT_FALSE(model.IncreaseTrainLDA(fresh.table.data(), 2, bad, 4, 4, 0, ""));
    EXPECT_FALSE(model.IncreaseTrainLDA(fresh.table.data(), 2, fresh.counts.data(), 4, 4, -1, ""));
    EXPECT_FALSE(model.IncreaseTrainLDA(nullptr, 2, fresh.counts.data(), 4, 4, 0, ""));
    EXPECT_EQ(messages.texts().size(), 3u);
    EXPECT_FALSE(model.m_bLDAReady);
}

TEST(ModelIncrease, StatisticsAreTakenFromStandardisedProjections)
{
    CSubspaceModel model;
    AxisPCA(model, 3, 1.0, 2.0); // coefficient = (x - 1) / 2
    double s0[3] = {1, 3, 5}, s1[3] = {3, 3, 1}, s2[3] = {9, 1, 1};
    const double* rows[3] = {s0, s1, s2};
    int counts[2] = {2, 1};
    CIncreaseStatistics stats;
    ASSERT_TRUE(model.CollectIncreaseStatistics(rows, 2, counts, 3, 2, stats));
    // Coefficients (0,1) (1,1) | (4,0): sum (5,2), means (0.5,1) and (4,0),
    // scatter of class 0 [[0.5,0],[0,0]], class 1 none.
    EXPECT_EQ(stats.GetSampSum(), (std::vector<double>{5, 2}));
    EXPECT_EQ(stats.GetClassMean(0), (std::vector<double>{0.5, 1}));
    EXPECT_EQ(stats.GetClassMean(1), (std::vector<double>{4, 0}));
    EXPECT_EQ(stats.GetScatter(), (std::vector<double>{0.5, 0, 0, 0}));

    MessageCapture messages;
    EXPECT_FALSE(model.CollectIncreaseStatistics(rows, 2, counts, 4, 2, stats)); // wrong input size
    EXPECT_FALSE(model.CollectIncreaseStatistics(rows, 2, counts, 3, 4, stats)); // more than M
    EXPECT_EQ(stats.GetClassNum(), 2);
}
