#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "lda/IncreaseStatistics.h"
#include "lda/IncrementalData.h"
#include "lda/LDA.h"
#include "support/MessageCapture.h"

using velmora_test::MessageCapture;

namespace {

std::string TempPath(const std::string& name)
{
    return (std::filesystem::temp_directory_path() / ("velmora_ldainc_" + name)).string();
}

// Labelled samples grouped by class, with the row table the trainers take.
struct Batch {
    int dim = 0;
    std::vector<std::vector<double>> rows;
    std::vector<int> counts;
    std::vector<double*> Table()
    {
        std::vector<double*> t;
        for (auto& r : rows)
            t.push_back(r.data());
        return t;
    }
    // Classes with well separated random centres and random spread.
    static Batch Random(int dim, const std::vector<int>& counts, unsigned seed)
    {
        std::mt19937 gen(seed);
        std::normal_distribution<double> noise(0.0, 1.0);
        Batch b;
        b.dim = dim;
        b.counts = counts;
        for (int n : counts) {
            std::vector<double> centre(dim);
            for (double& c : centre)
                c = 4.0 * noise(gen);
            for (int s = 0; s < n; ++s) {
                std::vector<double> x(dim);
                for (int j = 0; j < dim; ++j)
                    x[j] = centre[j] + noise(gen) * (1.0 + 0.3 * j);
                b.rows.push_back(x);
            }
        }
        return b;
    }
    Batch operator+(const Batch& o) const
    {
        Batch b = *this;
        b.rows.insert(b.rows.end(), o.rows.begin(), o.rows.end());
        b.counts.insert(b.counts.end(), o.counts.begin(), o.counts.end());
        return b;
    }
};

std::string SaveStats(Batch& b, const std::string& name)
{
    CIncreaseStatistics st;
    auto t = b.Table();
    EXPECT_TRUE(st.Reset(b.dim));
    EXPECT_TRUE(st.AddClasses(t.data(), static_cast<int>(b.counts.size()), b.counts.data(), b.dim));
    const std::string path = TempPath(name);
    EXPECT_TRUE(st.Save(path.c_str()));
    return path;
}

bool Train(CLDA& lda, Batch& b)
{
    auto t = b.Table();
    return lda.TrainLDA(t.data(), static_cast<int>(b.counts.size()), b.counts.data(), b.dim);
}

bool Increase(CLDA& lda, Batch& b, const std::string& path)
{
    auto t = b.Table();
    return lda.IncreaseTrainLDA(t.data(), static_cast<int>(b.counts.size()), b.counts.data(),
                                b.dim, path.c_str());
}

// Same eigenvalues (relative tolerance) and the same vectors up to sign.
void ExpectSameSubspace(const CLDA& a, const CLDA& b, double tol)
{
    ASSERT_TRUE(a.m_bLDAReady);
    ASSERT_TRUE(b.m_bLDAReady);
    ASSERT_EQ(a.m_nValidEigenNum, b.m_nValidEigenNum);
    ASSERT_EQ(a.m_nFeatureVecDim, b.m_nFeatureVecDim);
    const int d = a.m_nFeatureVecDim;
    for (int i = 0; i < a.m_nValidEigenNum; ++i) {
        EXPECT_NEAR(a.m_plfEigenVals[i], b.m_plfEigenVals[i],
                    tol * std::fabs(b.m_plfEigenVals[i]) + 1e-300)
            << "eigenvalue " << i;
        double dot = 0;
        for (int j = 0; j < d; ++j)
            dot += a.m_pplfEigenVecs[i][j] * b.m_pplfEigenVecs[i][j];
        const double sign = dot < 0 ? -1.0 : 1.0;
        for (int j = 0; j < d; ++j)
            EXPECT_NEAR(a.m_pplfEigenVecs[i][j], sign * b.m_pplfEigenVecs[i][j], tol)
                << "vector " << i << " component " << j;
    }
    for (int j = 0; j < d; ++j)
        EXPECT_NEAR(a.m_plfMeanVec[j], b.m_plfMeanVec[j], tol * (1 + std::fabs(b.m_plfMeanVec[j])));
}

} // namespace

TEST(LDAIncremental, FileOfAPlusBatchBEqualsBatchTrainingOnBoth)
{
    Batch a = Batch::Random(6, {5, 7, 4, 6}, 11);
    Batch b = Batch::Random(6, {6, 5, 8}, 12);
    const std::string path = SaveStats(a, "a.inc");
    MessageCapture messages;

    CLDA inc;
    ASSERT_TRUE(Increase(inc, b, path));
    Batch all = a + b;
    CLDA batch;
    ASSERT_TRUE(Train(batch, all));
    EXPECT_EQ(inc.m_nValidEigenNum, 6); // min(7 - 1, d = 6, 41 - 7)
    ExpectSameSubspace(inc, batch, 1e-8);

    // The running statistics hold every class, stored ones first; the scatter
    // matrices and class means are gone.
    EXPECT_EQ(inc.m_nClassNum, 7);
    EXPECT_EQ(inc.m_nTotalSampNum, 41);
    ASSERT_EQ(inc.m_vecClassSampNum, (std::vector<int32_t>{5, 7, 4, 6, 6, 5, 8}));
    for (int j = 0; j < 6; ++j)
        EXPECT_NEAR(inc.m_vecClassMeans[6][j], batch.m_pplfMeanVecs[6][j], 1e-12);
    EXPECT_EQ(inc.m_plfSb, nullptr);
    EXPECT_EQ(inc.m_plfSw, nullptr);
    EXPECT_EQ(inc.m_pplfMeanVecs, nullptr);
    EXPECT_TRUE(messages.texts().empty());

    // A projection with the incremental subspace matches the batch one up to sign.
    std::vector<double> pi(6), pb(6);
    ASSERT_TRUE(inc.Project2SubSpace(all.rows[3].data(), pi.data(), 6));
    ASSERT_TRUE(batch.Project2SubSpace(all.rows[3].data(), pb.data(), 6));
    for (int i = 0; i < 6; ++i)
        EXPECT_NEAR(std::fabs(pi[i]), std::fabs(pb[i]), 1e-8 * (1 + std::fabs(pb[i])));
    std::filesystem::remove(path);
}

TEST(LDAIncremental, DegenerateSidesReduceToBatchTraining)
{
    Batch a = Batch::Random(4, {6, 5, 7}, 21);
    Batch b = Batch::Random(4, {5, 6, 4, 7}, 22);
    MessageCapture messages;

    // Empty path: exactly the batch training, with its scatter and class means kept.
    CLDA viaEmpty, batchB;
    auto tb = b.Table();
    ASSERT_TRUE(viaEmpty.IncreaseTrainLDA(tb.data(), 4, b.counts.data(), 4, ""));
    ASSERT_TRUE(Train(batchB, b));
    ExpectSameSubspace(viaEmpty, batchB, 0.0);
    ASSERT_NE(viaEmpty.m_plfSw, nullptr);
    ASSERT_NE(viaEmpty.m_pplfMeanVecs, nullptr);
    EXPECT_EQ(viaEmpty.m_plfSw[5], batchB.m_plfSw[5]);

    // Nf = 0 with a zero sum and scatter: the batch alone.
    CIncreaseStatistics empty;
    ASSERT_TRUE(empty.Reset(4));
    const std::string emptyPath = TempPath("empty.inc");
    ASSERT_TRUE(empty.Save(emptyPath.c_str()));
    CLDA viaZero;
    ASSERT_TRUE(Increase(viaZero, b, emptyPath));
    ExpectSameSubspace(viaZero, batchB, 1e-8);

    // A batch with no classes: the file's statistics alone.
    const std::string pathA = SaveStats(a, "a4.inc");
    CLDA fileOnly, batchA;
    ASSERT_TRUE(fileOnly.IncreaseTrainLDA(nullptr, 0, nullptr, 4, pathA.c_str()));
    ASSERT_TRUE(Train(batchA, a));
    ExpectSameSubspace(fileOnly, batchA, 1e-8);
    EXPECT_TRUE(messages.texts().empty());
    std::filesystem::remove(emptyPath);
    std::filesystem::remove(pathA);
}

TEST(LDAIncremental, TwoClassesGiveTheFisherDirection)
{
    // Stored class (0,0) (2,2) (1,4): mean (1,2), scatter [[2,2],[2,8]].
    // New class (4,1) (6,1) (5,2) (5,0): mean (5,1), scatter [[2,0],[0,2]].
    // S = [[4,2],[2,10]], S^-1 = [[10,-2],[-2,4]] / 36, mean difference dm = (4,-1):
    // the discriminant vector lies along S^-1 dm, i.e. along (7,-2), and with
    // Sb = (3*4/7^2) dm dm^T and Sw = S/7 its eigenvalue is (12/7) dm^T S^-1 dm = 60/7.
    Batch stored{2, {{0, 0}, {2, 2}, {1, 4}}, {3}};
    Batch fresh{2, {{4, 1}, {6, 1}, {5, 2}, {5, 0}}, {4}};
    const std::string path = SaveStats(stored, "two.inc");
    CLDA lda;
    ASSERT_TRUE(Increase(lda, fresh, path));
    ASSERT_EQ(lda.m_nValidEigenNum, 1);
    const double norm = std::sqrt(53.0);
    const double sign = lda.m_pplfEigenVecs[0][0] < 0 ? -1.0 : 1.0;
    EXPECT_NEAR(sign * lda.m_pplfEigenVecs[0][0], 7.0 / norm, 1e-12);
    EXPECT_NEAR(sign * lda.m_pplfEigenVecs[0][1], -2.0 / norm, 1e-12);
    EXPECT_NEAR(lda.m_plfEigenVals[0], 60.0 / 7, 1e-10);
    EXPECT_NEAR(lda.m_plfMeanVec[0], 23.0 / 7, 1e-12); // (sum 3 + 20) / 7
    EXPECT_NEAR(lda.m_plfMeanVec[1], 10.0 / 7, 1e-12); // (sum 6 + 4) / 7
    std::filesystem::remove(path);
}

TEST(LDAIncremental, FailuresLeaveNothingInUse)
{
    Batch a = Batch::Random(3, {4, 4, 4}, 31);
    Batch b = Batch::Random(3, {4, 5}, 32);
    const std::string good = SaveStats(a, "good3.inc");
    MessageCapture messages;
    CLDA lda;

    // Each failure starts from a ready object and must leave it not ready and empty.
    auto expectRefused = [&](const std::string& path, int dim, const char* what) {
        ASSERT_TRUE(Increase(lda, b, good)) << what;
        auto t = b.Table();
        EXPECT_FALSE(lda.IncreaseTrainLDA(t.data(), 2, b.counts.data(), dim, path.c_str())) << what;
        EXPECT_FALSE(lda.m_bLDAReady) << what;
        EXPECT_EQ(lda.m_pplfEigenVecs, nullptr) << what;
        EXPECT_EQ(lda.m_plfEigenVals, nullptr) << what;
    };
    expectRefused(TempPath("absent.inc"), 3, "missing file");
    expectRefused(good, 4, "dimension differs from the call");

    std::ifstream in(good, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), {});
    const std::string bad = TempPath("bad3.inc");
    for (size_t cut : {size_t(10), size_t(27), size_t(60), bytes.size() - 1}) {
        std::ofstream(bad, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(cut));
        expectRefused(bad, 3, "truncated");
    }
    auto changed = bytes;
    changed[19] = '!';
    std::ofstream(bad, std::ios::binary).write(changed.data(), static_cast<std::streamsize>(changed.size()));
    expectRefused(bad, 3, "magic");
    changed = bytes;
    changed[28 + 24 + 24] = char(0xff); // first stored count becomes negative
    changed[28 + 24 + 24 + 3] = char(0xff);
    std::ofstream(bad, std::ios::binary).write(changed.data(), static_cast<std::streamsize>(changed.size()));
    expectRefused(bad, 3, "negative stored count");
    EXPECT_TRUE(messages.texts().empty()) << messages.texts().front();

    // A new class without samples is refused before anything is read.
    ASSERT_TRUE(Increase(lda, b, good));
    int zeroCounts[2] = {4, 0};
    auto t = b.Table();
    EXPECT_FALSE(lda.IncreaseTrainLDA(t.data(), 2, zeroCounts, 3, good.c_str()));
    EXPECT_FALSE(lda.m_bLDAReady);

    // One stored and one new class of one sample each: N - Nc = 0, k = 0.
    Batch one{3, {{1, 2, 3}}, {1}};
    Batch other{3, {{3, 2, 1}}, {1}};
    const std::string single = SaveStats(one, "single.inc");
    EXPECT_FALSE(Increase(lda, other, single));
    ASSERT_EQ(messages.texts().size(), 1u);
    EXPECT_EQ(messages.texts()[0], "AllocMemory error: m_pplfEigenVecs");
    EXPECT_FALSE(lda.m_bLDAReady);
    EXPECT_EQ(lda.m_plfMeanVec, nullptr);
    for (const auto& p : {good, bad, single})
        std::filesystem::remove(p);
}
