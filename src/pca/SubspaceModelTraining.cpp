#include <algorithm>
#include <cstdint>
#include <memory>
#include <new>

#include "common/MessageSink.h"
#include "common/NewArray.h"
#include "common/OrderedProduct.h"
#include "common/RowTable.h"
#include "pca/SubspaceModel.h"

namespace {

constexpr double kMinStdDev = 1e-6;
constexpr size_t kProjectionChunk = 64;

struct RowTableDeleter {
    int rows;
    void operator()(double** table) const { Delete2DPointer(table, rows); }
};
using RowTablePtr = std::unique_ptr<double*, RowTableDeleter>;

// Components first..last-1 of the PCA projection of every row: the same
// standardisation and dot products as CPCA::Project2SubSpace, row for row,
// but a block of rows at a time.
bool ProjectRows(const CPCA& pca, double* const* rows, int count, int nUsed, int first,
                 double* const* out)
{
    const size_t d = static_cast<size_t>(pca.m_nFeatureVecDim);
    const size_t used = static_cast<size_t>(nUsed);
    const auto work = NewArray<double>(kProjectionChunk * d);
    const auto coeffs = NewArray<double>(kProjectionChunk * used);
    if (!work || !coeffs)
        return false;
    for (int s0 = 0; s0 < count; s0 += static_cast<int>(kProjectionChunk)) {
        const size_t n = std::min(kProjectionChunk, static_cast<size_t>(count - s0));
        for (size_t r = 0; r < n; ++r) {
            const double* in = rows[s0 + r];
            double* w = work.get() + r * d;
            for (size_t k = 0; k < d; ++k) {
                const double dev = pca.m_plfStdDevVec[k];
                w[k] = dev > kMinStdDev ? (in[k] - pca.m_plfMeanVec[k]) / dev : in[k];
            }
        }
        if (!OrderedProduct(MatrixView::Dense(work.get(), d),
                            MatrixView::Rows(pca.m_pplfEigenVecs, true), coeffs.get(), used, n,
                            used, d, false, TrainingThreads()))
            return false;
        for (size_t r = 0; r < n; ++r)
            std::copy(coeffs.get() + r * used + first, coeffs.get() + (r + 1) * used,
                      out[s0 + r]);
    }
    return true;
}

} // namespace

bool CSubspaceModel::TrainPCA(double** rows, int nSampNum, int nDim)
{
    m_bPCAReady = false;
    if (!m_pPCA) {
        m_pPCA.reset(new (std::nothrow) CPCA);
        if (!m_pPCA)
            return false;
    }
    if (!m_pPCA->TrainPCA(rows, nSampNum, nDim))
        return false;
    m_bPCAReady = true;
    return true;
}

bool CSubspaceModel::TrainLDA(double** rows, int nClassNum, int* pnClassSampNum,
                              int nTrainSampDim, int nPCAEigenUsed, int nPCAEigenSkipped)
{
    m_bLDAReady = false;
    if (!m_bPCAReady || !m_pPCA) {
        ShowMessage("PCA is not ready!");
        return false;
    }
    if (nTrainSampDim > m_pPCA->m_nFeatureVecDim) {
        ShowMessage("nTrainSampDim > m_nFeatureVecDim",
                    Details("LDA training: samples of ", nTrainSampDim, " values, the PCA takes ",
                            m_pPCA->m_nFeatureVecDim));
        return false;
    }
    if (nPCAEigenUsed > m_pPCA->m_nMaxValidEigenVecNum) {
        ShowMessage("nPCAEigenUsed > m_nMaxValidEigenVecNum",
                    Details("LDA training: asked for ", nPCAEigenUsed, " principal components, the PCA has ",
                            m_pPCA->m_nMaxValidEigenVecNum));
        return false;
    }
    // Shorter rows than the PCA reads cannot be projected.
    if (nTrainSampDim < m_pPCA->m_nFeatureVecDim)
        return false;

    int64_t total = 0;
    if (nClassNum >= 1 && pnClassSampNum != nullptr)
        for (int i = 0; i < nClassNum; ++i)
            total += std::max(pnClassSampNum[i], 0);
    const int64_t width = static_cast<int64_t>(nPCAEigenUsed) - nPCAEigenSkipped;
    const int count = total > INT32_MAX ? 0 : static_cast<int>(total);
    RowTablePtr ldaRows(nullptr, RowTableDeleter{count});
    if (count >= 1 && width >= 1 && nPCAEigenSkipped >= 0 && rows != nullptr)
        ldaRows.reset(New2DPointer(count, static_cast<int>(width)));
    if (!ldaRows) {
        ShowMessage("pplfLDATrainSamps New2DPointer error!",
                    Details("LDA training: ", total, " samples of principal components ", nPCAEigenSkipped,
                            " to ", static_cast<int64_t>(nPCAEigenUsed) - 1, " cannot be held"));
        return false;
    }

    const bool projected =
        m_pPCA->HasProjectionArrays(nPCAEigenUsed) &&
        ProjectRows(*m_pPCA, rows, count, nPCAEigenUsed, nPCAEigenSkipped, ldaRows.get());
    if (!m_pLDA)
        m_pLDA.reset(new (std::nothrow) CLDA);
    if (!projected || !m_pLDA ||
        !m_pLDA->TrainLDA(ldaRows.get(), nClassNum, pnClassSampNum, static_cast<int>(width))) {
        ShowMessage("TrainLDA error!");
        return false;
    }
    m_nPCAEigenUsed = nPCAEigenUsed;
    m_nPCAEigenSkipped = nPCAEigenSkipped;
    m_bLDAReady = true;
    return true;
}
