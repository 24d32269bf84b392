#include "support/Common.h"

#include "common/ByteOrder.h"
#include "lda/IncreaseStatistics.h"
#include "lda/IncrementalData.h"
#include "lda/LDA.h"
#include "support/HandModel.h"
#include "support/MessageCapture.h"

using namespace velmora_test;

namespace {

// Samples grouped by class: random class centres, spread growing with the component.
struct Batch {
    int dim;
    std::vector<std::vector<double>> rows;
    std::vector<int> counts;
    std::vector<double*> table;
    Batch(int d, std::vector<std::vector<double>> r, std::vector<int> c)
        : dim(d), rows(std::move(r)), counts(std::move(c)), table(Pointers(rows))
    {
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

// Two classes in two dimensions, worked by hand:
// class 0: (1,2) (3,4)        mean (2,3)  scatter [[2,2],[2,2]]
// class 1: (0,0) (2,0) (4,3)  mean (2,1)  scatter [[8,6],[6,6]]
const double kSamples[5][2] = {{1, 2}, {3, 4}, {0, 0}, {2, 0}, {4, 3}};
const double* const kRows[5] = {kSamples[0], kSamples[1], kSamples[2], kSamples[3], kSamples[4]};
const int kCounts[2] = {2, 3};

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

TEST(LDAIncremental, FailuresLeaveANotReadyEmptyObject)
{
    MessageCapture messages;
    ScratchDir dir;
    Batch a = Batch::Random(3, {4, 4, 4}, 31), b = Batch::Random(3, {4, 5}, 32);
    const std::string good = a.SaveStats(dir, "good.inc");
    const std::string bytes = ReadFile(good);
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

TEST(IncreaseStatistics, HandComputedStatisticsInTheExactLayout)
{
    CIncreaseStatistics st;
    ASSERT_TRUE(st.AddClasses(kRows, 1, kCounts, 2)); // batches append classes
    ASSERT_TRUE(st.AddClasses(kRows + 2, 1, kCounts + 1, 2));
    EXPECT_EQ(st.GetTotalSampNum(), 5);
    EXPECT_EQ(st.GetSampSum(), (std::vector<double>{10, 9}));
    EXPECT_EQ(st.GetClassMean(1), (std::vector<double>{2, 1}));
    EXPECT_EQ(st.GetScatter(), (std::vector<double>{10, 8, 8, 8}));

    ScratchDir dir;
    const std::string path = (dir / "hand.inc");
    ASSERT_TRUE(st.Save(path.c_str()));
    const std::string b = ReadFile(path);
    const auto* p = reinterpret_cast<const unsigned char*>(b.data());
    ASSERT_EQ(b.size(), IncreaseFileSize(2, 2));
    ASSERT_EQ(b.size(), 28u + 16 + 2 * 20 + 32);
    EXPECT_EQ(std::memcmp(p, "QuorvaneIncrease2.4", 20), 0); // the zero byte included
    EXPECT_EQ(ReadInt32LE(p + 20), 2);
    EXPECT_EQ(ReadInt32LE(p + 24), 2);
    EXPECT_EQ(ReadDoubleLE(p + 28), 10.0);      // a sum, not a mean
    EXPECT_EQ(ReadDoubleLE(p + 52), 3.0);       // class 0 mean[1]
    EXPECT_EQ(ReadInt32LE(p + 60), 2);          // class 0 count
    EXPECT_EQ(ReadInt32LE(p + 80), 3);          // class 1 count
    EXPECT_EQ(ReadDoubleLE(p + 84), 10.0);      // S[0][0], not divided
    EXPECT_EQ(ReadDoubleLE(p + 108), 8.0);      // S[1][1]

    CIncreaseStatistics back;
    ASSERT_TRUE(back.Load(path.c_str()));
    EXPECT_EQ(back.GetSampSum(), st.GetSampSum());
    EXPECT_EQ(back.GetClassMean(0), st.GetClassMean(0));
    EXPECT_EQ(back.GetClassSampNum(1), 3);
    EXPECT_EQ(back.GetScatter(), st.GetScatter());

    // Refused batches leave the statistics as they were.
    const int empty[2] = {2, 0};
    const double* holes[2] = {kSamples[0], nullptr};
    EXPECT_FALSE(st.AddClasses(kRows, 2, empty, 2));
    EXPECT_FALSE(st.AddClasses(kRows, 1, kCounts, 3));
    EXPECT_FALSE(st.AddClasses(holes, 1, kCounts, 2));
    EXPECT_FALSE(CIncreaseStatistics().AddClasses(kRows, 1, kCounts, kIncreaseMaxDim + 1));
    EXPECT_EQ(st.GetClassNum(), 2);
    EXPECT_FALSE(CIncreaseStatistics().Save(path.c_str())); // no dimension yet
}

// Cut files, other magic bytes, dimensions outside 1..1024, counts the file
// cannot hold and the layout of a negative Nf are checked by the increase_file
// fuzz harness in its replay with the suite.
TEST(IncrementalData, DataReaderInsistsOnItsHeaderAndArrays)
{
    ScratchDir dir;
    CIncreaseStatistics st;
    ASSERT_TRUE(st.AddClasses(kRows, 2, kCounts, 2));
    const std::string good = dir / "good.inc";
    ASSERT_TRUE(st.Save(good.c_str()));
    double sum[2], m0[2], m1[2], scatter[4];
    double* means[2] = {m0, m1};
    int counts[2];
    EXPECT_TRUE(ReadIncreaseFileData(good.c_str(), sum, means, scatter, 2, counts, 2));
    EXPECT_FALSE(ReadIncreaseFileData(good.c_str(), sum, means, scatter, 1, counts, 2));
    EXPECT_FALSE(ReadIncreaseFileData(good.c_str(), sum, means, scatter, 2, counts, 1));
    EXPECT_FALSE(ReadIncreaseFileData(good.c_str(), sum, nullptr, scatter, 2, counts, 2));
    // Trailing bytes are ignored.
    EXPECT_TRUE(CIncreaseStatistics().Load(dir.Write("long.inc", ReadFile(good) + "trailing").c_str()));
}
