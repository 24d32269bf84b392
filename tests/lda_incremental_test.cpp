#include "support/Common.h"

#include "lda/IncreaseStatistics.h"
#include "lda/LDA.h"
#include "support/HandModel.h"
#include "support/MessageCapture.h"

using velmora_test::MessageCapture;
using velmora_test::ScratchDir;

namespace {

// Samples grouped by class: random class centres, spread growing with the component.
struct Batch {
    int dim;
    std::vector<std::vector<double>> rows;
    std::vector<int> counts;
    std::vector<double*> table;
    Batch(int d, std::vector<std::vector<double>> r, std::vector<int> c)
        : dim(d), rows(std::move(r)), counts(std::move(c))
    {
        for (auto& x : rows)
            table.push_back(x.data());
    }
    static Batch Random(int d, const std::vector<int>& counts, unsigned seed)
    {
        std::mt19937 gen(seed);
        std::normal_distribution<double> g(0.0, 1.0);
        std::vector<std::vector<double>> rows;
        for (int n : counts) {
            std::vector<double> centre(d);
            for (double& c : centre)
                c = 4.0 * g(gen);
            for (int s = 0; s < n; ++s) {
                rows.push_back(centre);
                for (int j = 0; j < d; ++j)
                    rows.back()[j] += g(gen) * (1.0 + 0.3 * j);
            }
        }
        return Batch(d, rows, counts);
    }
    Batch operator+(const Batch& o) const
    {
        auto r = rows;
        r.insert(r.end(), o.rows.begin(), o.rows.end());
        auto c = counts;
        c.insert(c.end(), o.counts.begin(), o.counts.end());
        return Batch(dim, r, c);
    }
    int Classes() const { return static_cast<int>(counts.size()); }
    bool Train(CLDA& lda) { return lda.TrainLDA(table.data(), Classes(), counts.data(), dim); }
    bool Increase(CLDA& lda, const std::string& path)
    {
        return lda.IncreaseTrainLDA(table.data(), Classes(), counts.data(), dim, path.c_str());
    }
    std::string SaveStats(const ScratchDir& dir, const std::string& name)
    {
        CIncreaseStatistics st;
        EXPECT_TRUE(st.Reset(dim));
        EXPECT_TRUE(st.AddClasses(table.data(), Classes(), counts.data(), dim));
        EXPECT_TRUE(st.Save((dir / name).c_str()));
        return (dir / name);
    }
};

// Same eigenvalues (relative tol) and vectors up to sign, same overall mean.
void ExpectSameSubspace(const CLDA& a, const CLDA& b, double tol)
{
    ASSERT_TRUE(a.m_bLDAReady && b.m_bLDAReady);
    ASSERT_EQ(a.m_nValidEigenNum, b.m_nValidEigenNum);
    const int d = a.m_nFeatureVecDim;
    for (int i = 0; i < a.m_nValidEigenNum; ++i) {
        EXPECT_NEAR(a.m_plfEigenVals[i], b.m_plfEigenVals[i], tol * std::fabs(b.m_plfEigenVals[i]));
        const double sign = a.m_pplfEigenVecs[i][0] * b.m_pplfEigenVecs[i][0] < 0 ? -1.0 : 1.0;
        for (int j = 0; j < d; ++j)
            EXPECT_NEAR(a.m_pplfEigenVecs[i][j], sign * b.m_pplfEigenVecs[i][j], tol) << i << "," << j;
    }
    for (int j = 0; j < d; ++j)
        EXPECT_NEAR(a.m_plfMeanVec[j], b.m_plfMeanVec[j], tol * (1 + std::fabs(b.m_plfMeanVec[j])));
}

} // namespace

TEST(LDAIncremental, FileStatisticsPlusBatchEqualBatchTraining)
{
    MessageCapture messages;
    ScratchDir dir;
    Batch a = Batch::Random(6, {5, 7, 4, 6}, 11), b = Batch::Random(6, {6, 5, 8}, 12);
    Batch all = a + b;
    CLDA inc, batch;
    ASSERT_TRUE(b.Increase(inc, a.SaveStats(dir, "a.inc")));
    ASSERT_TRUE(all.Train(batch));
    EXPECT_EQ(inc.m_nValidEigenNum, 6); // min(7 - 1, d, 41 - 7)
    ExpectSameSubspace(inc, batch, 1e-8);
    // Running statistics hold every class, stored ones first; no scatter is kept.
    EXPECT_EQ(inc.m_nTotalSampNum, 41);
    EXPECT_EQ(inc.m_vecClassSampNum, (std::vector<int32_t>{5, 7, 4, 6, 6, 5, 8}));
    EXPECT_NEAR(inc.m_vecClassMeans[6][2], batch.m_pplfMeanVecs[6][2], 1e-12);
    EXPECT_TRUE(inc.m_plfSb == nullptr && inc.m_plfSw == nullptr && inc.m_pplfMeanVecs == nullptr);

    // Empty path: exactly TrainLDA, scatter and class means kept.
    CLDA viaEmpty, batchB;
    ASSERT_TRUE(b.Increase(viaEmpty, ""));
    ASSERT_TRUE(b.Train(batchB));
    ExpectSameSubspace(viaEmpty, batchB, 0.0);
    ASSERT_TRUE(viaEmpty.m_plfSw != nullptr && viaEmpty.m_pplfMeanVecs != nullptr);
    // Nf = 0 with zero sums: the batch alone.
    CIncreaseStatistics zero;
    ASSERT_TRUE(zero.Reset(6) && zero.Save((dir / "zero.inc").c_str()));
    CLDA viaZero;
    ASSERT_TRUE(b.Increase(viaZero, (dir / "zero.inc")));
    ExpectSameSubspace(viaZero, batchB, 1e-8);
    // A batch with no classes: the file alone.
    CLDA fileOnly, batchA;
    ASSERT_TRUE(fileOnly.IncreaseTrainLDA(nullptr, 0, nullptr, 6, (dir / "a.inc").c_str()));
    ASSERT_TRUE(a.Train(batchA));
    ExpectSameSubspace(fileOnly, batchA, 1e-8);
    EXPECT_TRUE(messages.texts().empty());
}

TEST(LDAIncremental, TwoClassesGiveTheHandComputedFisherDirection)
{
    // Stored (0,0) (2,2) (1,4): mean (1,2), scatter [[2,2],[2,8]]; new (4,1) (6,1)
    // (5,2) (5,0): mean (5,1), scatter 2I. S = [[4,2],[2,10]], dm = (4,-1):
    // the vector lies along S^-1 dm ~ (7,-2); with Sb = (12/49) dm dm^T and
    // Sw = S/7 its eigenvalue is (12/7) dm^T S^-1 dm = 60/7.
    ScratchDir dir;
    Batch stored(2, {{0, 0}, {2, 2}, {1, 4}}, {3}), fresh(2, {{4, 1}, {6, 1}, {5, 2}, {5, 0}}, {4});
    CLDA lda;
    ASSERT_TRUE(fresh.Increase(lda, stored.SaveStats(dir, "two.inc")));
    ASSERT_EQ(lda.m_nValidEigenNum, 1);
    const double sign = lda.m_pplfEigenVecs[0][0] < 0 ? -1.0 : 1.0;
    EXPECT_NEAR(sign * lda.m_pplfEigenVecs[0][0], 7.0 / std::sqrt(53.0), 1e-12);
    EXPECT_NEAR(sign * lda.m_pplfEigenVecs[0][1], -2.0 / std::sqrt(53.0), 1e-12);
    EXPECT_NEAR(lda.m_plfEigenVals[0], 60.0 / 7, 1e-10);
    EXPECT_NEAR(lda.m_plfMeanVec[0], 23.0 / 7, 1e-12);
    EXPECT_NEAR(lda.m_plfMeanVec[1], 10.0 / 7, 1e-12);
}

TEST(LDAIncremental, FailuresLeaveANotReadyEmptyObject)
{
    MessageCapture messages;
    ScratchDir dir;
    Batch a = Batch::Random(3, {4, 4, 4}, 31), b = Batch::Random(3, {4, 5}, 32);
    const std::string good = a.SaveStats(dir, "good.inc");
    const std::string bytes = velmora_test::ReadFile(good);
    std::string negative = bytes;
    negative[28 + 24 + 24 + 3] = char(0xff); // first stored count below 0
    const std::pair<std::string, int> cases[] = {
        {(dir / "absent.inc"), 3}, {good, 4}, // missing; dimension differs from the call
        {dir.Write("cut1.inc", bytes.substr(0, 27)), 3},
        {dir.Write("cut2.inc", bytes.substr(0, bytes.size() - 1)), 3},
        {dir.Write("magic.inc", "QuorvaneIncrease2.5" + bytes.substr(19)), 3},
        {dir.Write("neg.inc", negative), 3}};
    CLDA lda;
    for (const auto& [path, dim] : cases) {
        ASSERT_TRUE(b.Increase(lda, good));
        EXPECT_FALSE(lda.IncreaseTrainLDA(b.table.data(), 2, b.counts.data(), dim, path.c_str()));
        EXPECT_FALSE(lda.m_bLDAReady) << path;
        EXPECT_TRUE(lda.m_pplfEigenVecs == nullptr && lda.m_plfEigenVals == nullptr) << path;
    }
    const int noSamples[2] = {4, 0};
    EXPECT_FALSE(lda.IncreaseTrainLDA(b.table.data(), 2, const_cast<int*>(noSamples), 3, good.c_str()));
    EXPECT_TRUE(messages.texts().empty());

    // One stored and one new class of one sample each: N - Nc = 0, k = 0.
    Batch one(3, {{1, 2, 3}}, {1}), other(3, {{3, 2, 1}}, {1});
    EXPECT_FALSE(other.Increase(lda, one.SaveStats(dir, "one.inc")));
    EXPECT_EQ(messages.texts(), std::vector<std::string>{"AllocMemory error: m_pplfEigenVecs"});
    EXPECT_TRUE(!lda.m_bLDAReady && lda.m_plfMeanVec == nullptr);
}
