// Reading and writing the subspace model file: the PCA block, then S, L, E, the
// L LDA eigenvalues, the E-value LDA mean and L rows of E values. Little-endian,
// no header or padding; only the counts say where things are, so each count is
// checked against the bytes the file really has before anything is allocated.
#include <cstdint>

#include "common/File.h"
#include "common/MessageSink.h"
#include "common/NewArray.h"
#include "common/RowTable.h"
#include "pca/SubspaceModel.h"

namespace {

uint64_t BytesLeft(const CFile& file)
{
    const uint64_t length = file.GetLength();
    const uint64_t position = file.GetPosition();
    return length > position ? length - position : 0;
}

std::string VectorCountDetails(const char* lead, int count, int dimension)
{
    return Details("model file: ", lead, ' ', count, " discriminant vectors of ", dimension, " values");
}

std::string ShortFileDetails(int count, const char* what, int dimension, uint64_t needed, uint64_t left)
{
    return Details("model file: ", count, ' ', what, ' ', dimension, " values need ", needed, " bytes, ", left,
                   " are left");
}

} // namespace

bool CSubspaceModel::SaveModel(const std::string& path, int nNum) const
{
    if (!m_bLDAReady || !m_pLDA || !m_pPCA) {
        ShowMessage("LDA is not ready!");
        return false;
    }
    const CLDA& lda = *m_pLDA;
    if (nNum > lda.m_nValidEigenNum) {
        ShowMessage("nNum > m_pLDA->m_nValidEigenNum",
                    Details("saving the model: asked for ", nNum, " discriminant vectors, the model has ",
                            lda.m_nValidEigenNum));
        return false;
    }
    const int l = nNum == 0 ? lda.m_nValidEigenNum : nNum;
    const int e = lda.m_nFeatureVecDim;
    // Refuse before creating the file if the stages cannot give what the layout needs.
    if (l < 0 || e < 0 || lda.m_plfEigenVals == nullptr || lda.m_plfMeanVec == nullptr ||
        (l > 0 && lda.m_pplfEigenVecs == nullptr) || m_nPCAEigenUsed < 0 ||
        m_nPCAEigenUsed > m_pPCA->m_nMaxValidEigenVecNum ||
        !m_pPCA->HasProjectionArrays(m_nPCAEigenUsed))
        return false;

    CFile file;
    if (!file.Open(path, CFile::modeCreate | CFile::modeWrite))
        return false;
    bool ok = m_pPCA->WriteBlock(file, m_nPCAEigenUsed) && file.WriteInt32(m_nPCAEigenSkipped) &&
              file.WriteInt32(l) && file.WriteInt32(e) &&
              file.WriteDoubles(lda.m_plfEigenVals, static_cast<size_t>(l)) &&
              file.WriteDoubles(lda.m_plfMeanVec, static_cast<size_t>(e));
    for (int i = 0; ok && i < l; ++i)
        ok = file.WriteDoubles(lda.m_pplfEigenVecs[i], static_cast<size_t>(e));
    return file.Close() && ok;
}

bool CSubspaceModel::LoadModel(const std::string& path, int nNum)
{
    m_bLDAReady = false;
    m_bPCAReady = false;
    if (!m_pPCA)
        m_pPCA = std::make_unique<CPCA>();
    if (!m_pLDA)
        m_pLDA = std::make_unique<CLDA>();
    m_pLDA->m_bLDAReady = 0;

    CFile file;
    if (!file.Open(path, CFile::modeRead))
        return false;

    // A PCA block that is cut short or announces more than the file holds is
    // rejected whole: the PCA object is left empty and not ready.
    if (!m_pPCA->ReadBlock(file, 0)) {
        m_nPCAEigenUsed = 0;
        m_nPCAEigenSkipped = 0;
        return false;
    }
    m_nPCAEigenUsed = m_pPCA->m_nMaxValidEigenVecNum;
    m_bPCAReady = true;

    int32_t s = 0;
    if (!file.ReadInt32(s)) {
        m_pLDA->FreeMemory();
        return false;
    }
    m_nPCAEigenSkipped = s;
    return ReadLDABlock(file, nNum);
}

bool CSubspaceModel::ReadLDABlock(CFile& file, int nNum)
{
    CLDA& lda = *m_pLDA;
    lda.m_bLDAReady = 0;
    lda.FreeMemory();
    lda.m_nValidEigenNum = 0;
    lda.m_nFeatureVecDim = 0;

    int32_t l = 0, e = 0;
    if (!file.ReadInt32(l) || !file.ReadInt32(e))
        return false;
    if (nNum != 0 && nNum > l) {
        ShowMessage("nNum > m_pLDA->m_nValidEigenNum",
                    Details("model file: asked for ", nNum, " discriminant vectors, the file has ", l));
        return false;
    }
    if (nNum == 0)
        nNum = l;
    if (nNum < 1 || e < 1) {
        ShowMessage("m_pLDA->m_pplfEigenVecs memory allocation error", VectorCountDetails("holds", nNum, e));
        return false;
    }
    // The LDA must read exactly the PCA components S to K - 1.
    const int k = m_nPCAEigenUsed;
    const int s = m_nPCAEigenSkipped;
    if (s < 0 || s > k || e != k - s)
        return false;

    // Eigenvalues and mean first (all L values are stored, nNum are kept), then
    // the nNum rows; rows beyond nNum may be absent.
    const uint64_t left = BytesLeft(file);
    const uint64_t headBytes = 8 * (static_cast<uint64_t>(l) + static_cast<uint64_t>(e));
    if (headBytes > left) {
        ShowMessage("LDA Read Eigen error", ShortFileDetails(l, "discriminant values and a mean of", e,
                                                             headBytes, left));
        return false;
    }
    lda.m_plfEigenVals = NewArray<double>(nNum).release();
    lda.m_plfMeanVec = NewArray<double>(e).release();
    if (lda.m_plfEigenVals == nullptr || lda.m_plfMeanVec == nullptr) {
        ShowMessage("m_pLDA->m_pplfEigenVecs memory allocation error", VectorCountDetails("no memory for", nNum, e));
        lda.FreeMemory();
        return false;
    }
    if (!file.ReadDoubles(lda.m_plfEigenVals, static_cast<size_t>(nNum)) ||
        !file.Seek(file.GetPosition() + 8 * static_cast<uint64_t>(l - nNum)) ||
        !file.ReadDoubles(lda.m_plfMeanVec, static_cast<size_t>(e))) {
        ShowMessage("LDA Read Eigen error", "model file: the discriminant values cannot be read");
        lda.FreeMemory();
        return false;
    }
    lda.m_nValidEigenNum = nNum;
    lda.m_nFeatureVecDim = e;

    const uint64_t rowBytes = 8 * static_cast<uint64_t>(nNum) * static_cast<uint64_t>(e);
    if (rowBytes > BytesLeft(file)) {
        ShowMessage("LDA Read Eigen error",
                    ShortFileDetails(nNum, "discriminant vectors of", e, rowBytes, BytesLeft(file)));
        lda.FreeMemory();
        return false;
    }
    lda.m_pplfEigenVecs = New2DPointer(nNum, e);
    if (lda.m_pplfEigenVecs == nullptr) {
        ShowMessage("m_pLDA->m_pplfEigenVecs memory allocation error", VectorCountDetails("no memory for", nNum, e));
        lda.FreeMemory();
        return false;
    }
    for (int i = 0; i < nNum; ++i) {
        if (!file.ReadDoubles(lda.m_pplfEigenVecs[i], static_cast<size_t>(e))) {
            ShowMessage("LDA Read Eigen error",
                        Details("model file: discriminant vector ", i + 1, " of ", nNum, " cannot be read"));
            lda.FreeMemory();
            return false;
        }
    }
    lda.m_bLDAReady = 1;
    m_bLDAReady = true;
    return true;
}
