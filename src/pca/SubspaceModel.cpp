#include "pca/SubspaceModel.h"

#include <new>
#include <vector>

#include "common/MessageSink.h"

namespace {

std::string FeatureCountDetails(int nInDim, const CPCA& pca)
{
    return Details("projection: the features have ", nInDim, " values, the model takes ", pca.m_nFeatureVecDim);
}

} // namespace

bool CSubspaceModel::LoadPCA(const std::string& path, int nNum)
{
    m_bPCAReady = false;
    if (!m_pPCA)
        m_pPCA = std::make_unique<CPCA>();
    if (!m_pPCA->ReadPCAFile(path, nNum))
        return false;
    m_bPCAReady = true;
    return true;
}

bool CSubspaceModel::ProjectToLDA(const double* in, int nInDim, double* out, int nOutDim) const
{
    return ProjectToLDA(&in, 1, nInDim, &out, nOutDim);
}

bool CSubspaceModel::ProjectToLDA(const double* const* in, int count, int nInDim, double* const* out,
                                  int nOutDim) const
{
    if (!m_bLDAReady || !m_pPCA || !m_pLDA)
        return false;
    if (nInDim != m_pPCA->m_nFeatureVecDim) {
        ShowMessage("nInDim != m_pPCA->m_nFeatureVecDim", FeatureCountDetails(nInDim, *m_pPCA));
        return false;
    }
    if (nOutDim > m_pLDA->m_nValidEigenNum) {
        ShowMessage("nOutDim > m_pLDA->m_nValidEigenNum",
                    Details("template: asked for ", nOutDim, " discriminant vectors, the model has ",
                            m_pLDA->m_nValidEigenNum));
        return false;
    }
    const int k = m_nPCAEigenUsed;
    const int s = m_nPCAEigenSkipped;
    std::vector<double> work;
    std::vector<double*> rows;
    bool ok = k >= 0 && count >= 0;
    if (ok) {
        try {
            work.resize(static_cast<size_t>(k) * static_cast<size_t>(count));
            rows.resize(static_cast<size_t>(count));
        } catch (const std::bad_alloc&) {
            ok = false;
        }
    }
    for (size_t b = 0; ok && b < rows.size(); ++b)
        rows[b] = work.data() + b * static_cast<size_t>(k);
    if (!ok || !m_pPCA->Project2SubSpace(in, count, rows.data(), k)) {
        ShowMessage("m_pPCA->Project2SubSpace error");
        return false;
    }
    // The LDA reads components S to K - 1; a stage of another width cannot be fed.
    if (s < 0 || s > k || m_pLDA->m_nFeatureVecDim != k - s) {
        ShowMessage("m_pLDA->Project2SubSpace error");
        return false;
    }
    for (double*& row : rows)
        row += s;
    if (!m_pLDA->Project2SubSpace(rows.data(), count, out, nOutDim)) {
        ShowMessage("m_pLDA->Project2SubSpace error");
        return false;
    }
    return true;
}

bool CSubspaceModel::ProjectToPCA(const double* in, int nInDim, double* out, int nOutDim) const
{
    if (!m_bPCAReady || !m_pPCA)
        return false;
    if (nInDim != m_pPCA->m_nFeatureVecDim) {
        ShowMessage("nInDim != m_pPCA->m_nFeatureVecDim", FeatureCountDetails(nInDim, *m_pPCA));
        return false;
    }
    if (nOutDim > m_pPCA->m_nMaxValidEigenVecNum) {
        ShowMessage("nOutDim > m_pPCA->m_nMaxValidEigenVecNum",
                    Details("PCA coefficients: asked for ", nOutDim, " principal components, the model has ",
                            m_pPCA->m_nMaxValidEigenVecNum));
        return false;
    }
    if (!m_pPCA->Project2SubSpace(in, out, nOutDim)) {
        ShowMessage("m_pPCA->Project2SubSpace error");
        return false;
    }
    return true;
}
