#include "support/Common.h"

#include "common/VectorOps.h"
#include "pca/PCA.h"
#include "pca/SubspaceModel.h"
#include "pca/SymEigen.h"
#include "support/HandModel.h"
#include "support/MessageCapture.h"
#include "support/RefusedAllocations.h"

using namespace velmora_test;
using Texts = std::vector<std::string>;

namespace {

using Rows = std::vector<std::vector<double>>;

// n rows of d components with a decaying spectrum; component `constant` (if
// any) holds the same value in every row.
Rows MakeRows(int n, int d, unsigned seed, int constant = -1)
{
    std::mt19937 rng(seed);
    std::normal_distribution<double> normal;
    Rows r;
    for (int s = 0; s < n; ++s) {
        std::vector<double> x(d);
        for (int k = 0; k < d; ++k)
            x[k] = 100 + normal(rng) * (1 + 20.0 / (1 + k)) + (k > 0 ? 0.5 * x[k - 1] : 0);
        if (constant >= 0)
            x[constant] = 77.9;
        r.push_back(x);
    }
    return r;
}

// Standardised feature j of x[j] = 1.5 j - 3 under BasisModel's mean and deviation.
double Standardised(int j)
{
    const double x = j * 1.5 - 3.0;
    return j % 3 == 0 ? x : (x - 0.5 * j) / 2.0;
}
const std::vector<double> kFeatures = {-3.0, -1.5, 0.0, 1.5, 3.0, 4.5};

} // namespace

TEST(PCATraining, StandardisesRowsAndKeepsConstantComponents)
{
    const int n = 50, d = 10;
    Rows rows = MakeRows(n, d, 1, 3);
    const Rows raw = rows;
    auto table = Pointers(rows);
    CPCA pca;
    testing::internal::CaptureStdout();
    ASSERT_TRUE(pca.TrainPCA(table.data(), n, d));
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(pca.m_nMaxValidEigenVecNum, 10);
    EXPECT_EQ(pca.m_plfGramMat, nullptr); // N >= D: covariance path
    EXPECT_FALSE(pca.CalcEigenGram());
    // Mean and sample deviation of the raw rows; the rows end standardised,
    // except constant component 3 (deviation from rounding only), left as it is.
    for (int k = 0; k < d; ++k) {
        double mean = 0, sq = 0, m2 = 0, v2 = 0;
        for (int s = 0; s < n; ++s) {
            mean += raw[s][k] / n;
            m2 += rows[s][k] / n;
            v2 += rows[s][k] * rows[s][k] / (n - 1);
        }
        for (int s = 0; s < n; ++s)
            sq += (raw[s][k] - mean) * (raw[s][k] - mean);
        EXPECT_NEAR(pca.m_plfMeanVec[k], mean, 1e-12);
        EXPECT_EQ(pca.m_pbyMeanVec[k], static_cast<unsigned char>(static_cast<int>(mean)));
        if (k == 3) {
            EXPECT_LT(pca.m_plfStdDevVec[k], 1e-6);
            EXPECT_EQ(rows[7][k], 77.9);
            continue;
        }
        EXPECT_NEAR(pca.m_plfStdDevVec[k], std::sqrt(sq / (n - 1)), 1e-12);
        EXPECT_NEAR(m2, 0.0, 1e-12);
        EXPECT_NEAR(v2, 1.0, 1e-12);
    }
    // Unit eigenvectors of the covariance (divisor N) of the standardised rows,
    // by descending eigenvalue.
    std::vector<double> cov(d * d, 0.0);
    for (int s = 0; s < n; ++s)
        for (int i = 0; i < d * d; ++i)
            cov[i] += rows[s][i / d] * rows[s][i % d] / n;
    for (int e = 0; e < d; ++e) {
        EXPECT_TRUE(e + 1 == d || pca.m_plfEigenVals[e] >= pca.m_plfEigenVals[e + 1]) << e;
        const double* v = pca.m_pplfEigenVecs[e];
        for (int i = 0; i < d; ++i)
            EXPECT_NEAR(std::inner_product(v, v + d, &cov[i * d], 0.0), pca.m_plfEigenVals[e] * v[i], 1e-10);
        EXPECT_NEAR(std::inner_product(v, v + d, v, 0.0), 1.0, 1e-13);
    }
}

TEST(PCATraining, GramPathAgreesWithCovariancePath)
{
    const int n = 40, d = 90;
    Rows a = MakeRows(n, d, 5), b = a;
    auto tableA = Pointers(a), tableB = Pointers(b);
    CPCA gram;
    testing::internal::CaptureStdout();
    ASSERT_TRUE(gram.TrainPCA(tableA.data(), n, d));
    // The covariance path on the same rows; it needs D eigenvalue slots.
    CPCA cov;
    ASSERT_TRUE(cov.SetTrainData(tableB.data(), n, d));
    delete[] cov.m_plfEigenVals;
    cov.m_plfEigenVals = new double[d];
    cov.CalcMeanStd();
    ASSERT_TRUE(cov.CalcEigenCovariance());
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(gram.m_plfGramMat, nullptr);
    ASSERT_EQ(gram.m_nMaxValidEigenVecNum, n);
    ASSERT_EQ(cov.m_nMaxValidEigenVecNum, n);
    // Standardised rows have rank N - 1: compare the N - 1 non-zero pairs.
    for (int e = 0; e + 1 < n; ++e) {
        SCOPED_TRACE(e);
        EXPECT_NEAR(gram.m_plfEigenVals[e], cov.m_plfEigenVals[e],
                    1e-10 * cov.m_plfEigenVals[0]);
        EXPECT_NEAR(std::fabs(std::inner_product(gram.m_pplfEigenVecs[e], gram.m_pplfEigenVecs[e] + d, cov.m_pplfEigenVecs[e], 0.0)), 1.0, 1e-7);
    }
    EXPECT_NEAR(gram.m_plfEigenVals[n - 1], 0.0, 1e-10 * cov.m_plfEigenVals[0]);
    // Progress: the Gram solve (order N) then the covariance solve (order D).
    EXPECT_EQ(std::count(out.begin(), out.end(), '\r'), (3 * n - 1) + (3 * d - 1));
    EXPECT_EQ(out.find('\n'), std::string::npos);
}

TEST(ModelTraining, LDAStageChecksAndMessages)
{
    MessageCapture messages;
    CSubspaceModel model;
    Rows rows = MakeRows(30, 12, 9);
    auto table = Pointers(rows);
    int counts[3] = {10, 10, 10};
    EXPECT_FALSE(model.TrainLDA(table.data(), 3, counts, 12, 4, 1));
    EXPECT_EQ(messages.texts(), std::vector<std::string>{"PCA is not ready!"});

    testing::internal::CaptureStdout();
    ASSERT_TRUE(model.TrainPCA(table.data(), 30, 12));
    testing::internal::GetCapturedStdout();
    EXPECT_TRUE(model.m_bPCAReady);
    EXPECT_EQ(model.m_nPCAEigenUsed, 0); // K and S move only with the LDA
    messages.clear();
    EXPECT_FALSE(model.TrainLDA(table.data(), 3, counts, 13, 4, 1));
    EXPECT_FALSE(model.TrainLDA(table.data(), 3, counts, 12, 13, 1));
    EXPECT_FALSE(model.TrainLDA(table.data(), 3, counts, 12, 4, 4));
    EXPECT_EQ(messages.texts(),
              (std::vector<std::string>{"nTrainSampDim > m_nFeatureVecDim",
                                        "nPCAEigenUsed > m_nMaxValidEigenVecNum",
                                        "pplfLDATrainSamps New2DPointer error!"}));
    messages.clear();
    int empty[3] = {10, 0, 20};
    EXPECT_FALSE(model.TrainLDA(table.data(), 3, empty, 12, 4, 1));
    EXPECT_EQ(messages.texts(), std::vector<std::string>{"TrainLDA error!"});
    EXPECT_FALSE(model.m_bLDAReady);

    messages.clear();
    ASSERT_TRUE(model.TrainLDA(table.data(), 3, counts, 12, 6, 2));
    EXPECT_TRUE(messages.texts().empty());
    EXPECT_TRUE(model.m_bLDAReady);
    EXPECT_EQ(model.m_nPCAEigenUsed, 6);
    EXPECT_EQ(model.m_nPCAEigenSkipped, 2);
    EXPECT_EQ(model.m_pLDA->m_nFeatureVecDim, 4);
    EXPECT_EQ(model.m_pLDA->m_nValidEigenNum, 2);
    // The LDA was trained on components 2..5 of each row's projection.
    std::vector<double> pcs(6);
    ASSERT_TRUE(model.m_pPCA->Project2SubSpace(rows[4].data(), pcs.data(), 6));
    double mean0[4] = {};
    for (int s = 0; s < 10; ++s) {
        ASSERT_TRUE(model.m_pPCA->Project2SubSpace(rows[s].data(), pcs.data(), 6));
        for (int k = 0; k < 4; ++k)
            mean0[k] += pcs[2 + k];
    }
    for (int k = 0; k < 4; ++k)
        EXPECT_EQ(model.m_pLDA->m_pplfMeanVecs[0][k], mean0[k] / 10);

    // Without memory for the projection no LDA is trained on unprojected rows.
    messages.clear();
    g_refuseFrom = 64 * 12 * sizeof(double); // a block of 64 rows of 12 features
    EXPECT_FALSE(model.TrainLDA(table.data(), 3, counts, 12, 6, 2));
    g_refuseFrom = 0;
    EXPECT_EQ(messages.texts(), std::vector<std::string>{"TrainLDA error!"});
    EXPECT_FALSE(model.m_bLDAReady);
}

TEST(PCAProjection, StandardisesOnlyAboveThresholdAndProjects)
{
    MessageCapture messages;
    CPCA pca;
    pca.m_nFeatureVecDim = 5;
    pca.m_nMaxValidEigenVecNum = 2;
    ASSERT_TRUE(pca.AllocLoadMemory());
    // Deviation 2 standardises; exactly 1e-6, 0 and NaN pass the raw value; 1.5e-6 scales.
    const double mean[5] = {1, 2, 3, 4, 5}, dev[5] = {2, 1e-6, 0, NAN, 1.5e-6};
    const double rows[2][5] = {{1, 10, 100, 1000, 0}, {0, 0, 0, 0, 1}};
    for (int k = 0; k < 5; ++k) {
        pca.m_plfMeanVec[k] = mean[k];
        pca.m_plfStdDevVec[k] = dev[k];
        pca.m_pplfEigenVecs[0][k] = rows[0][k];
        pca.m_pplfEigenVecs[1][k] = rows[1][k];
    }
    const double in[5] = {5, 7, 9, 11, 5 + 3e-6};
    double out[3] = {-1, -1, -1};
    ASSERT_TRUE(pca.Project2SubSpace(in, out, 2));
    EXPECT_EQ(out[0], 2.0 + 70.0 + 900.0 + 11000.0); // no whitening by eigenvalue
    EXPECT_NEAR(out[1], 2.0, 1e-9);
    EXPECT_EQ(out[2], -1.0);
    EXPECT_TRUE(pca.Project2SubSpace(in, out + 2, 0));
    EXPECT_FALSE(pca.Project2SubSpace(in, out, 3)); // M + 1: refused silently
    EXPECT_TRUE(messages.texts().empty());

    pca.FreeMemory(); // counts stay, arrays go: a projection must not read them
    EXPECT_FALSE(pca.Project2SubSpace(in, out, 2));
    pca.m_nFeatureVecDim = -1;
    EXPECT_FALSE(pca.Project2SubSpace(in, out, 1));
    EXPECT_EQ(messages.texts(), std::vector<std::string>{"Project(): new memory error!"});
}

TEST(PCAProjection, BlockedRowsMatchVectorDotBitForBit)
{
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> u(-1e3, 1e3);
    const int d = 1001;
    std::vector<std::vector<double>> rows(37, std::vector<double>(d));
    std::vector<const double*> ptrs;
    for (auto& r : rows) {
        for (double& x : r)
            x = u(rng);
        ptrs.push_back(r.data());
    }
    std::vector<double> v(d), out(38, 99.0);
    for (double& x : v)
        x = u(rng);
    for (int n : {1, 8, 9, 37}) { // below, at and across the block size
        DotRows(v.data(), ptrs.data(), n, d, out.data());
        for (int i = 0; i < n; ++i)
            ASSERT_EQ(out[i], VectorDot(v.data(), rows[i].data(), d)) << n << " rows, row " << i;
        EXPECT_EQ(out[37], 99.0);
    }
}

TEST(PCAAllocation, CountsFollowSamplesDimensionAndCap)
{
    struct Case {
        int n, d, m;
        bool gram;
    };
    CPCA pca; // one object throughout: each allocation releases the previous rows once
    for (const Case c : {Case{1000, 7840, 800, true}, Case{500, 7840, 500, true},
                         Case{20, 10, 10, false}, Case{1000, 7840, 800, true}}) {
        std::vector<double*> rows(static_cast<size_t>(c.n));
        EXPECT_TRUE(pca.SetTrainData(rows.data(), c.n, c.d));
        EXPECT_EQ(pca.m_pplfTrainSamps, rows.data());
        EXPECT_EQ(pca.m_nMaxValidEigenVecNum, c.m);
        EXPECT_EQ(pca.AllocatedEigenRows(), c.m);
        EXPECT_EQ(pca.m_plfGramMat != nullptr, c.gram);
        pca.m_nMaxValidEigenVecNum = 1; // FreeMemory must not trust M
    }
    pca.m_nMaxValidEigenVecNum = 300;
    EXPECT_TRUE(pca.AllocLoadMemory());
    EXPECT_EQ(pca.AllocatedEigenRows(), 300);
    EXPECT_EQ(pca.m_plfGramMat, nullptr);

    std::vector<double> row(5, 1.0);
    double* rows[1] = {row.data()};
    EXPECT_FALSE(pca.TrainPCA(rows, 0, 5));
    EXPECT_FALSE(pca.TrainPCA(nullptr, 3, 5));
}

// Cut files and counts beyond the file or inconsistent with it (no LDA after
// a failed load, the PCA stage kept exactly when its block is whole) are
// checked by the model_file fuzz harness in its replay with the suite.
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
