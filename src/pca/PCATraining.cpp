#include <algorithm>
#include <cmath>
#include <cstdint>

#include "common/MessageSink.h"
#include "common/NewArray.h"
#include "common/OrderedProduct.h"
#include "common/VectorOps.h"
#include "pca/PCA.h"
#include "pca/SymEigen.h"

namespace {

constexpr double kMinStdDev = 1e-6;
constexpr double kQLTolerance = 1e-10;

std::string SortDetails(size_t eigenvalues)
{
    return Details("PCA training: no memory to sort ", eigenvalues, " eigenvalues");
}

// Low 8 bits of the value truncated to a 32-bit integer; a value outside that
// range (or not a number) truncates to the x86 "integer indefinite", whose low
// byte is 0.
unsigned char MeanByte(double m)
{
    if (!(std::fabs(m) < 2147483648.0))
        return 0;
    return static_cast<unsigned char>(static_cast<int32_t>(m) & 0xff);
}

// Fills the lower triangle of a symmetric n x n matrix from its upper one.
void MirrorUpper(double* a, size_t n)
{
    for (size_t i = 1; i < n; ++i)
        for (size_t j = 0; j < i; ++j)
            a[i * n + j] = a[j * n + i];
}

} // namespace

bool CPCA::TrainPCA(double** samples, int nSampNum, int nDim)
{
    if (!SetTrainData(samples, nSampNum, nDim))
        return false;
    if (samples == nullptr || nSampNum < 1 || nDim < 1)
        return false;
    CalcMeanStd();
    if (nSampNum < nDim)
        return CalcEigenGram() && GramToEigenVecs();
    return CalcEigenCovariance();
}

void CPCA::CalcMeanStd()
{
    const int n = m_nTrainSampNum;
    const size_t d = static_cast<size_t>(m_nFeatureVecDim);
    double* mean = m_plfMeanVec;
    double* dev = m_plfStdDevVec;
    // Rows outer, components inner: each component still sums its rows in order.
    std::fill(mean, mean + d, 0.0);
    for (int s = 0; s < n; ++s) {
        const double* row = m_pplfTrainSamps[s];
        for (size_t k = 0; k < d; ++k)
            mean[k] += row[k];
    }
    for (size_t k = 0; k < d; ++k) {
        mean[k] /= n;
        m_pbyMeanVec[k] = MeanByte(mean[k]);
    }
    std::fill(dev, dev + d, 0.0);
    for (int s = 0; s < n; ++s) {
        const double* row = m_pplfTrainSamps[s];
        for (size_t k = 0; k < d; ++k) {
            const double diff = row[k] - mean[k];
            dev[k] += diff * diff;
        }
    }
    for (size_t k = 0; k < d; ++k)
        dev[k] = std::sqrt(dev[k] / (n - 1));
    for (int s = 0; s < n; ++s) {
        double* row = m_pplfTrainSamps[s];
        for (size_t k = 0; k < d; ++k)
            if (dev[k] > kMinStdDev)
                row[k] = (row[k] - mean[k]) / dev[k];
    }
}

bool CPCA::CalcEigenCovariance()
{
    const int n = m_nTrainSampNum;
    const int d = m_nFeatureVecDim;
    const size_t D = static_cast<size_t>(d);
    auto cov = NewArray<double>(D * D);
    auto w = NewArray<double>(D + 1);
    if (!cov || !w)
        return false;
    // C[i][j] = column i . column j over the samples, i.e. (X^T X)[i][j].
    if (!OrderedProduct(MatrixView::Rows(m_pplfTrainSamps, true),
                        MatrixView::Rows(m_pplfTrainSamps), cov.get(), D, D, D,
                        static_cast<size_t>(n), true, TrainingThreads()))
        return false;
    MirrorUpper(cov.get(), D);
    for (size_t i = 0; i < D * D; ++i)
        cov[i] /= n;

    SymTridiagonalize(cov.get(), d, m_plfEigenVals, w.get());
    if (TridiagEigen(cov.get(), d, m_plfEigenVals, w.get() + 1, kQLTolerance) != 1)
        return false;

    auto index = NewArray<int>(D);
    auto reorder = NewArray<double>(D);
    if (!index || !reorder) {
        ShowMessage("Alloc memory Error", SortDetails(D));
        return false;
    }
    SortIndexDescending(m_plfEigenVals, index.get(), d);
    for (size_t i = 0; i < D; ++i)
        reorder[i] = m_plfEigenVals[index[i]];
    std::copy(reorder.get(), reorder.get() + D, m_plfEigenVals);
    for (int i = 0; i < m_nMaxValidEigenVecNum; ++i) {
        double* row = m_pplfEigenVecs[i];
        const size_t column = static_cast<size_t>(index[i]);
        for (size_t k = 0; k < D; ++k)
            row[k] = cov[k * D + column];
        VectorNormalize(row, d);
    }
    return true;
}

bool CPCA::CalcEigenGram()
{
    const int n = m_nTrainSampNum;
    const size_t N = static_cast<size_t>(n);
    auto w = NewArray<double>(N + 1);
    if (!w || m_plfGramMat == nullptr)
        return false;
    double* gram = m_plfGramMat;
    if (!OrderedProduct(MatrixView::Rows(m_pplfTrainSamps),
                        MatrixView::Rows(m_pplfTrainSamps, true), gram, N, N, N,
                        static_cast<size_t>(m_nFeatureVecDim), true, TrainingThreads()))
        return false;
    MirrorUpper(gram, N);
    SymTridiagonalize(gram, n, m_plfEigenVals, w.get());
    return TridiagEigen(gram, n, m_plfEigenVals, w.get() + 1, kQLTolerance) == 1;
}

bool CPCA::GramToEigenVecs()
{
    const int n = m_nTrainSampNum;
    const size_t N = static_cast<size_t>(n);
    const size_t D = static_cast<size_t>(m_nFeatureVecDim);
    const int m = m_nMaxValidEigenVecNum;
    auto index = NewArray<int>(N);
    auto reorder = NewArray<double>(N);
    if (!index || !reorder) {
        ShowMessage("Alloc memory Error", SortDetails(N));
        return false;
    }
    SortIndexDescending(m_plfEigenVals, index.get(), n);
    for (size_t j = 0; j < N; ++j)
        reorder[j] = m_plfEigenVals[index[j]] / n;
    std::copy(reorder.get(), reorder.get() + N, m_plfEigenVals);
    if (m < 1)
        return true;

    // Row i = sum over samples s of row_s * G[s][index[i]]: the chosen Gram
    // eigenvectors, gathered as rows, times the sample matrix.
    const size_t M = static_cast<size_t>(m);
    auto chosen = NewArray<double>(M * N);
    if (!chosen)
        return false;
    for (size_t i = 0; i < M; ++i)
        for (size_t s = 0; s < N; ++s)
            chosen[i * N + s] = m_plfGramMat[s * N + static_cast<size_t>(index[i])];
    if (!OrderedProduct(MatrixView::Dense(chosen.get(), N), MatrixView::Rows(m_pplfTrainSamps),
                        m_pplfEigenVecs, M, D, N, TrainingThreads()))
        return false;
    for (int i = 0; i < m; ++i)
        VectorNormalize(m_pplfEigenVecs[i], m_nFeatureVecDim);
    return true;
}
