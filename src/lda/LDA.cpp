#include "lda/LDA.h"


#include "common/MessageSink.h"
#include "common/NewArray.h"
#include "common/OrderedProduct.h"
#include "common/RowTable.h"

CLDA::~CLDA()
{
    FreeMemory();
}

bool CLDA::AllocMemory()
{
    const int64_t d = m_nFeatureVecDim;
    const int k = m_nValidEigenNum;
    const int nc = m_nClassNum;
    const std::string sizes =
        Details("LDA: ", k, " discriminant vectors of ", d, " values and ", nc, " class means cannot be allocated");

    // The scatter matrices are needed only by training; their failure shows later.
    delete[] m_plfSb;
    delete[] m_plfSw;
    m_plfSb = d >= 0 ? NewArray<double>(d * d).release() : nullptr;
    m_plfSw = d >= 0 ? NewArray<double>(d * d).release() : nullptr;

    m_plfEigenVals = NewArray<double>(k).release();
    if (m_plfEigenVals == nullptr) {
        ShowMessage("AllocMemory error: m_plfEigenVals", sizes);
        return false;
    }
    m_plfMeanVec = NewArray<double>(d).release();
    if (m_plfMeanVec == nullptr) {
        ShowMessage("AllocMemory error: m_plfMeanVec", sizes);
        delete[] m_plfEigenVals;
        m_plfEigenVals = nullptr;
        return false;
    }
    m_pplfEigenVecs = New2DPointer(k, static_cast<int>(d));
    if (m_pplfEigenVecs == nullptr) {
        ShowMessage("AllocMemory error: m_pplfEigenVecs", sizes);
        delete[] m_plfEigenVals;
        delete[] m_plfMeanVec;
        m_plfEigenVals = nullptr;
        m_plfMeanVec = nullptr;
        return false;
    }
    m_pplfMeanVecs = New2DPointer(nc, static_cast<int>(d));
    if (m_pplfMeanVecs == nullptr) {
        ShowMessage("AllocMemory error: m_pplfMeanVecs", sizes);
        delete[] m_plfEigenVals;
        delete[] m_plfMeanVec;
        Delete2DPointer(m_pplfEigenVecs, k);
        m_plfEigenVals = nullptr;
        m_plfMeanVec = nullptr;
        m_pplfEigenVecs = nullptr;
        return false;
    }
    return true;
}

bool CLDA::FreeMemory()
{
    // Delete2DPointer skips null rows, as a partly built table may hold some.
    Delete2DPointer(m_pplfEigenVecs, m_nValidEigenNum);
    Delete2DPointer(m_pplfMeanVecs, m_nClassNum);
    delete[] m_plfEigenVals;
    delete[] m_plfMeanVec;
    delete[] m_plfSb;
    delete[] m_plfSw;
    m_pplfEigenVecs = nullptr;
    m_pplfMeanVecs = nullptr;
    m_plfEigenVals = nullptr;
    m_plfMeanVec = nullptr;
    m_plfSb = nullptr;
    m_plfSw = nullptr;
    return true;
}

bool CLDA::Project2SubSpace(const double* plfIn, double* plfOut, int nOutDim) const
{
    return Project2SubSpace(&plfIn, 1, &plfOut, nOutDim);
}

bool CLDA::Project2SubSpace(const double* const* pplfIn, int count, double* const* pplfOut, int nOutDim) const
{
    if (!m_bLDAReady) {
        ShowMessage("Project2SubSpace error: m_bLDAReady = false");
        return false;
    }
    // A ready object always holds its vectors; this only guards a misused one.
    if (nOutDim > 0 && (m_pplfEigenVecs == nullptr || nOutDim > m_nValidEigenNum))
        return false;
    DotRowsBatch(pplfIn, count, m_pplfEigenVecs, nOutDim, m_nFeatureVecDim, pplfOut);
    return true;
}
