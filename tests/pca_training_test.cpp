#include "support/Common.h"

#include <new>

#include "common/OrderedProduct.h"
#include "common/VectorOps.h"
#include "pca/PCA.h"
#include "pca/SubspaceModel.h"
#include "pca/SymEigen.h"
#include "support/HandModel.h"
#include "support/MessageCapture.h"
#include "support/NaiveVsFast.h"

using namespace velmora_test;
using Texts = std::vector<std::string>;

// While non-zero, the library's nothrow array requests of at least this many
// bytes fail, as on a machine short of memory. Granted requests come from the
// ordinary array new, so that delete[] matches.
size_t g_refuseFrom = 0;

void* operator new[](size_t size, const std::nothrow_t&) noexcept
{
    if (g_refuseFrom != 0 && size >= g_refuseFrom)
        return nullptr;
    try {
        return ::operator new[](size);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

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

using Matrix = std::vector<double>;

// Random symmetric, or with rank > 0 the Gram matrix of `rank` random columns
// (positive semi-definite of that rank), or with rank < 0 diagonal with
// repeated values (every Householder row is already zero).
Matrix RandomSymmetric(int n, std::mt19937& rng, int rank = 0)
{
    const Matrix x = RandomValues(static_cast<size_t>(n) * (rank > 0 ? rank : n), rng);
    Matrix a(static_cast<size_t>(n) * n);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j <= i; ++j)
            a[i * n + j] = a[j * n + i] = rank > 0 ? VectorDot(&x[i * rank], &x[j * rank], rank)
                                          : rank < 0 ? (i == j) * double(i * i % 5)
                                                     : x[i * n + j];
    return a;
}

// The textbook element-by-element formulation of both stages, written out
// independently of the library: the library must agree with it bit for bit.
void ReferenceTridiagonalize(Matrix& a, int n, double* d, double* c)
{
    auto A = [&](int r, int k) -> double& { return a[r * n + k]; };
    for (int i = n - 1; i >= 1; --i) {
        double h = 0.0;
        if (i > 1)
            for (int k = 0; k < i; ++k)
                h += A(i, k) * A(i, k);
        if (h + 1.0 == 1.0) {
            c[i] = i == 1 ? A(1, 0) : 0.0;
            d[i] = 0.0;
            continue;
        }
        double g = std::sqrt(h);
        if (A(i, i - 1) > 0.0)
            g = -g;
        c[i] = g;
        h = h - A(i, i - 1) * g;
        A(i, i - 1) = A(i, i - 1) - g;
        double f = 0.0;
        for (int j = 0; j < i; ++j) {
            A(j, i) = A(i, j) / h;
            double first = 0.0, second = 0.0;
            for (int k = 0; k <= j; ++k)
                first += A(j, k) * A(i, k);
            for (int k = j + 1; k <= i - 1; ++k)
                second += A(k, j) * A(i, k);
            g = first + second;
            c[j] = g / h;
            f = f + g * A(j, i);
        }
        const double hh = f / (h + h);
        for (int j = 0; j < i; ++j) {
            f = A(i, j);
            g = c[j] - hh * f;
            c[j] = g;
            for (int k = 0; k <= j; ++k)
                A(j, k) = A(j, k) - f * c[k] - g * A(i, k);
        }
        d[i] = h;
    }
    d[0] = 0.0;
    for (int i = 0; i < n; ++i) {
        if (d[i] != 0.0 && i >= 1)
            for (int j = 0; j < i; ++j) {
                double g = 0.0;
                for (int k = 0; k < i; ++k)
                    g += A(i, k) * A(k, j);
                for (int k = 0; k < i; ++k)
                    A(k, j) = A(k, j) - g * A(k, i);
            }
        d[i] = A(i, i);
        A(i, i) = 1.0;
        for (int j = 0; j < i; ++j)
            A(i, j) = A(j, i) = 0.0;
    }
}

void ReferenceTridiagEigen(Matrix& a, int n, double* d, double* e, double eps)
{
    e[n - 1] = 0.0;
    double f = 0.0, t = 0.0;
    for (int j = 0; j < n; ++j) {
        t = std::max(t, eps * (std::fabs(d[j]) + std::fabs(e[j])));
        int m = j;
        while (std::fabs(e[m]) > t)
            ++m;
        if (m > j) {
            do {
                double g = d[j];
                double p = (d[j + 1] - g) / (2.0 * e[j]);
                double r = std::sqrt(p * p + 1.0);
                d[j] = p >= 0.0 ? e[j] / (p + r) : e[j] / (p - r);
                double h = g - d[j];
                for (int i = j + 1; i < n; ++i)
                    d[i] = d[i] - h;
                f = f + h;
                p = d[m];
                double cs = 1.0, sn = 0.0;
                for (int i = m - 1; i >= j; --i) {
                    g = cs * e[i];
                    h = cs * p;
                    if (std::fabs(p) >= std::fabs(e[i])) {
                        cs = e[i] / p;
                        r = std::sqrt(cs * cs + 1.0);
                        e[i + 1] = sn * p * r;
                        sn = cs / r;
                        cs = 1.0 / r;
                    } else {
                        cs = p / e[i];
                        r = std::sqrt(cs * cs + 1.0);
                        e[i + 1] = sn * e[i] * r;
                        sn = 1.0 / r;
                        cs = cs / r;
                    }
                    p = cs * d[i] - sn * g;
                    d[i + 1] = h + sn * (cs * g + sn * d[i]);
                    for (int k = 0; k < n; ++k) {
                        h = a[k * n + i + 1];
                        a[k * n + i + 1] = sn * a[k * n + i] + cs * h;
                        a[k * n + i] = cs * a[k * n + i] - sn * h;
                    }
                }
                e[j] = sn * p;
                d[j] = cs * p;
            } while (std::fabs(e[j]) > t);
        }
        d[j] = d[j] + f;
    }
    for (int i = 0; i < n; ++i) {
        int k = i;
        double p = d[i];
        for (int j = i + 1; j < n; ++j) {
            if (d[j] > p)
                break;
            k = j;
            p = d[j];
        }
        if (k != i) {
            d[k] = d[i];
            d[i] = p;
            for (int r = 0; r < n; ++r)
                std::swap(a[r * n + i], a[r * n + k]);
        }
    }
}

// Both stages, textbook or library: the tridiagonal form (d, then e), the
// vectors, then the values; the solver's status last.
Matrix Stages(Matrix a, int n, bool textbook = false)
{
    std::vector<double> d(n), w(n + 1);
    testing::internal::CaptureStdout();
    if (textbook)
        ReferenceTridiagonalize(a, n, d.data(), w.data());
    else
        SymTridiagonalize(a.data(), n, d.data(), w.data());
    Matrix out = d;
    out.insert(out.end(), w.begin() + 1, w.end());
    int status = 1;
    if (textbook)
        ReferenceTridiagEigen(a, n, d.data(), w.data() + 1, 1e-10);
    else
        status = TridiagEigen(a.data(), n, d.data(), w.data() + 1, 1e-10);
    testing::internal::GetCapturedStdout();
    out.insert(out.end(), a.begin(), a.end());
    out.insert(out.end(), d.begin(), d.end());
    out.push_back(status);
    return out;
}

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
    std::mt19937 rng(7);
    const int d = 1001;
    std::vector<std::vector<double>> rows(37);
    std::vector<const double*> ptrs;
    for (auto& r : rows) {
        r = RandomValues(d, rng, -1e3, 1e3);
        ptrs.push_back(r.data());
    }
    const std::vector<double> v = RandomValues(d, rng, -1e3, 1e3);
    std::vector<double> out(38, 99.0);
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
    EXPECT_FALSE(model.SaveModel((dir / "c.bin"), -1)); // silent
    EXPECT_FALSE(model.SaveModel((dir / "no/such/dir.bin"), 0)); // silent
    EXPECT_FALSE(model.ProjectToLDA(kFeatures.data(), 7, out, 1));
    EXPECT_FALSE(model.ProjectToLDA(kFeatures.data(), 6, out, 3));
    EXPECT_FALSE(model.ProjectToPCA(kFeatures.data(), 6, out, 5));
    EXPECT_FALSE(model.LoadModel(path, 5));
    EXPECT_TRUE(model.m_bPCAReady); // the PCA block was complete
    EXPECT_FALSE(model.m_bLDAReady);
    EXPECT_FALSE(model.LoadModel(dir.Write("l0.bin", BasisModel(6, 4, 0, 0).Bytes()), 0));
    EXPECT_TRUE(model.ProjectToPCA(kFeatures.data(), 6, out, 4));
    for (const char* name : {"a.bin", "b.bin", "c.bin"})
        EXPECT_FALSE(std::filesystem::exists(dir / name)) << name;
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

TEST(SymEigen, BitIdenticalToTextbookLoops)
{
    const std::pair<int, int> cases[] = {{1, 0}, {2, 0}, {3, 0}, {4, 0}, {5, 0}, {9, 0}, {37, 0}, {130, 0}, {301, 0},
                                         {40, 6}, {97, 97}, {150, 20}, {7, -1}}; // n, rank (0: full random)
    const auto make = [&cases](std::mt19937& rng, int t) {
        return std::pair{cases[t].first, RandomSymmetric(cases[t].first, rng, cases[t].second)};
    };
    const auto fast = [](const std::pair<int, Matrix>& in) { return Stages(in.second, in.first); };
    const auto naive = [](const std::pair<int, Matrix>& in) { return Stages(in.second, in.first, true); };
    ExpectSameOnRandomCases(static_cast<int>(std::size(cases)), 3, make, fast, naive);
    // Without room for the transposed copy the rotations go straight to the
    // matrix; without any work vector the first stage runs the textbook loops.
    for (const size_t refused : {8 * 1024, 1}) {
        g_refuseFrom = refused;
        ExpectSameOnRandomCases(static_cast<int>(std::size(cases)), 3, make, fast, naive);
    }
    g_refuseFrom = 0;
}

TEST(SymEigen, ProgressLinesAndNotANumber)
{
    std::mt19937 rng(1);
    Matrix a = RandomSymmetric(3, rng);
    std::vector<double> d(3), w(4);
    testing::internal::CaptureStdout();
    SymTridiagonalize(a.data(), 3, d.data(), w.data());
    TridiagEigen(a.data(), 3, d.data(), w.data() + 1, 1e-10);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "\rloop1 times: 2   \rloop1 times: 1   "
              "\rloop2 times: 0   \rloop2 times: 1   \rloop2 times: 2   "
              "\rloop3 times: 0   \rloop3 times: 1   \rloop3 times: 2   ");

    Matrix bad = RandomSymmetric(6, rng);
    bad[7] = bad[12] = std::nan("");
    const double status = Stages(bad, 6).back(); // must return; the values are meaningless
    EXPECT_TRUE(status == 0 || status == 1);
}

TEST(SortIndexDescending, OrderAndTies)
{
    // Position i wins a tie when it holds one of the largest remaining values.
    const std::pair<std::vector<double>, std::vector<int>> cases[] = {
        {{1, 5, 3, 5, -2, 3}, {1, 3, 2, 5, 0, 4}}, {{2, 7, 7, 7}, {1, 2, 3, 0}}, {{7, 7, 7}, {0, 1, 2}},
        {{1, 9, 9}, {1, 2, 0}}};
    for (const auto& [values, order] : cases) {
        std::vector<int> index(values.size());
        SortIndexDescending(values.data(), index.data(), static_cast<int>(values.size()));
        EXPECT_EQ(index, order);
    }
}

// Dense, row-table and transposed views, on 1 to 3 threads, against VectorDot.
TEST(OrderedProduct, MatchesVectorDotBitForBit)
{
    std::mt19937 rng(5);
    for (int threads : {1, 2, 3}) {
        for (auto dims : {std::vector<size_t>{1, 1, 1}, {5, 7, 3}, {9, 300, 17}, {33, 513, 41},
                          {130, 70, 260}}) {
            const size_t rows = dims[0], inner = dims[1], cols = dims[2];
            const Matrix A = RandomValues(rows * inner, rng), Bt = RandomValues(cols * inner, rng);
            Matrix B(inner * cols), At(inner * rows), want(rows * cols);
            std::vector<const double*> rowsA(rows), rowsBt(cols);
            for (size_t t = 0; t < inner; ++t) {
                for (size_t j = 0; j < cols; ++j)
                    B[t * cols + j] = Bt[j * inner + t];
                for (size_t i = 0; i < rows; ++i)
                    At[t * rows + i] = A[i * inner + t];
            }
            for (size_t i = 0; i < rows; ++i)
                for (size_t j = 0; j < cols; ++j)
                    want[i * cols + j] = VectorDot(&A[i * inner], &Bt[j * inner], int(inner));
            for (size_t i = 0; i < rows; ++i)
                rowsA[i] = &A[i * inner];
            for (size_t j = 0; j < cols; ++j)
                rowsBt[j] = &Bt[j * inner];
            const std::pair<MatrixView, MatrixView> views[] = {
                {MatrixView::Dense(A.data(), inner), MatrixView::Dense(B.data(), cols)},
                {MatrixView::Rows(rowsA.data()), MatrixView::Rows(rowsBt.data(), true)},
                {MatrixView::Dense(At.data(), rows, true), MatrixView::Dense(B.data(), cols)}};
            for (const auto& [a, b] : views) {
                Matrix got(rows * cols, -1.0);
                ASSERT_TRUE(OrderedProduct(a, b, got.data(), cols, rows, cols, inner, false, threads));
                EXPECT_TRUE(Same(want, got));
            }
        }
    }
}

TEST(OrderedProduct, UpperTriangleOnly)
{
    const size_t n = 21, inner = 300;
    std::mt19937 rng(9);
    const Matrix X = RandomValues(n * inner, rng);
    Matrix G(n * n, 42.0);
    ASSERT_TRUE(OrderedProduct(MatrixView::Dense(X.data(), inner), MatrixView::Dense(X.data(), inner, true),
                               G.data(), n, n, n, inner, true, 2));
    for (size_t i = 0; i < n; ++i)
        for (size_t j = 0; j < n; ++j)
            EXPECT_EQ(G[i * n + j], j < i ? 42.0 : VectorDot(&X[i * inner], &X[j * inner], int(inner)));
}
