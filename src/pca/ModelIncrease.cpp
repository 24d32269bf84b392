// The subspace model's incremental training and the statistics that feed it.
#include <exception>
#include <vector>

#include "common/MessageSink.h"
#include "lda/IncreaseStatistics.h"
#include "pca/SubspaceModel.h"

bool CSubspaceModel::IncreaseTrainLDA(double** pplfRows, int nClassNum, int* pnClassSampNum,
                                      int nLDATrainSampDim, int nPCAEigenUsed,
                                      int nPCAEigenSkipped, const char* szIncreaseFile)
{
    m_bLDAReady = false;
    if (!m_bPCAReady) {
        ShowMessage("PCA is not ready!");
        return false;
    }
    if (nPCAEigenUsed > nLDATrainSampDim) {
        ShowMessage("nPCAEigenUsed > nLDATrainSampDim",
                    Details("incremental training: asked for ", nPCAEigenUsed,
                            " principal components, the faces have ", nLDATrainSampDim));
        return false;
    }
    if (!m_pLDA)
        m_pLDA = std::make_unique<CLDA>();

    // The row table is built from the counts, so they must describe real rows.
    bool ok = nPCAEigenSkipped >= 0 && nPCAEigenSkipped <= nPCAEigenUsed;
    int64_t total = 0;
    if (nClassNum > 0 && (pnClassSampNum == nullptr || pplfRows == nullptr))
        ok = false;
    for (int i = 0; ok && i < nClassNum; ++i) {
        ok = pnClassSampNum[i] >= 1;
        total += pnClassSampNum[i];
    }
    std::vector<double*> table;
    if (ok) {
        try {
            table.resize(static_cast<size_t>(total));
        } catch (const std::exception&) {
            ok = false;
        }
    }
    for (int64_t s = 0; ok && s < total; ++s) {
        ok = pplfRows[s] != nullptr;
        if (ok)
            table[s] = pplfRows[s] + nPCAEigenSkipped;
    }
    if (ok)
        ok = m_pLDA->IncreaseTrainLDA(table.data(), nClassNum, pnClassSampNum,
                                      nPCAEigenUsed - nPCAEigenSkipped, szIncreaseFile);
    if (!ok) {
        ShowMessage("TrainLDA error!");
        return false;
    }
    m_nPCAEigenUsed = nPCAEigenUsed;
    m_nPCAEigenSkipped = nPCAEigenSkipped;
    m_bLDAReady = true;
    return true;
}

bool CSubspaceModel::CollectIncreaseStatistics(const double* const* ppFeatures, int nClassNum,
                                               const int* pnClassSampNum, int nInDim, int nDim,
                                               CIncreaseStatistics& stats) const
{
    if (nClassNum < 0 || nDim < 1 || (nClassNum > 0 && (ppFeatures == nullptr ||
                                                        pnClassSampNum == nullptr)))
        return false;
    try {
        int64_t total = 0;
        for (int i = 0; i < nClassNum; ++i) {
            if (pnClassSampNum[i] < 1)
                return false;
            total += pnClassSampNum[i];
        }
        std::vector<std::vector<double>> coeffs(static_cast<size_t>(total),
                                                std::vector<double>(static_cast<size_t>(nDim)));
        std::vector<const double*> rows(static_cast<size_t>(total));
        for (int64_t s = 0; s < total; ++s) {
            if (ppFeatures[s] == nullptr ||
                !ProjectToPCA(ppFeatures[s], nInDim, coeffs[s].data(), nDim))
                return false;
            rows[s] = coeffs[s].data();
        }
        return stats.AddClasses(rows.data(), nClassNum, pnClassSampNum, nDim);
    } catch (const std::exception&) {
        return false;
    }
}
