#include "pca/PCA.h"

#include <algorithm>
#include <new>
#include <vector>

#include "common/MessageSink.h"
#include "common/NewArray.h"
#include "common/VectorOps.h"

namespace {

constexpr int kMaxEigenVecs = 800;
constexpr double kMinStdDev = 1e-6;

} // namespace

CPCA::~CPCA()
{
    FreeMemory();
}

void CPCA::FreeMemory()
{
    delete[] m_pbyMeanVec;
    delete[] m_plfMeanVec;
    delete[] m_plfStdDevVec;
    delete[] m_plfEigenVals;
    delete[] m_plfGramMat;
    if (m_pplfEigenVecs != nullptr) {
        for (int i = 0; i < m_nAllocatedEigenRows; ++i)
            delete[] m_pplfEigenVecs[i];
        delete[] m_pplfEigenVecs;
    }
    m_pbyMeanVec = nullptr;
    m_plfMeanVec = nullptr;
    m_plfStdDevVec = nullptr;
    m_plfEigenVals = nullptr;
    m_plfGramMat = nullptr;
    m_pplfEigenVecs = nullptr;
    m_nAllocatedEigenRows = 0;
}

bool CPCA::SetTrainData(double** samples, int nSampNum, int nDim)
{
    m_nTrainSampNum = nSampNum;
    m_nFeatureVecDim = nDim;
    m_pplfTrainSamps = samples;
    return AllocTrainMemory();
}

void CPCA::AllocArrays(int64_t nEigenVals, int nRows)
{
    const int64_t d = m_nFeatureVecDim;
    m_pbyMeanVec = NewArray<unsigned char>(d).release();
    m_plfMeanVec = NewArray<double>(d).release();
    m_plfStdDevVec = NewArray<double>(d).release();
    m_plfEigenVals = NewArray<double>(nEigenVals).release();
    if (nRows < 1 || d < 1)
        return;
    // Rows one by one, so that a failure part-way releases exactly what was obtained.
    m_pplfEigenVecs = NewArray<double*>(nRows).release();
    if (m_pplfEigenVecs == nullptr)
        return;
    for (int i = 0; i < nRows; ++i) {
        m_pplfEigenVecs[i] = NewArray<double>(d).release();
        if (m_pplfEigenVecs[i] == nullptr) {
            for (int j = 0; j < i; ++j)
                delete[] m_pplfEigenVecs[j];
            delete[] m_pplfEigenVecs;
            m_pplfEigenVecs = nullptr;
            return;
        }
    }
    m_nAllocatedEigenRows = nRows;
}

// Returns false when some array could not be had, so that callers need not write
// through a missing one; the arrays that were obtained stay until FreeMemory.
bool CPCA::AllocTrainMemory()
{
    FreeMemory();
    const int n = m_nTrainSampNum;
    const int d = m_nFeatureVecDim;
    int m = std::min(n, d);
    if (m > kMaxEigenVecs)
        m = kMaxEigenVecs;
    m_nMaxValidEigenVecNum = m;
    if (n < d && n > 0)
        m_plfGramMat = NewArray<double>(static_cast<int64_t>(n) * n).release();
    AllocArrays(n, m);
    const bool gramOk = !(n < d && n > 0) || m_plfGramMat != nullptr;
    return gramOk && HasProjectionArrays(m) && m_plfEigenVals != nullptr &&
           m_pbyMeanVec != nullptr;
}

bool CPCA::AllocLoadMemory()
{
    FreeMemory();
    AllocArrays(m_nMaxValidEigenVecNum, m_nMaxValidEigenVecNum);
    return HasProjectionArrays(m_nMaxValidEigenVecNum) && m_plfEigenVals != nullptr &&
           m_pbyMeanVec != nullptr;
}

bool CPCA::HasProjectionArrays(int nOut) const
{
    if (m_nFeatureVecDim < 0)
        return false;
    if (m_nFeatureVecDim > 0 && (m_plfMeanVec == nullptr || m_plfStdDevVec == nullptr))
        return false;
    if (nOut > 0 && m_nFeatureVecDim > 0 &&
        (m_pplfEigenVecs == nullptr || nOut > m_nAllocatedEigenRows))
        return false;
    return true;
}

bool CPCA::Project2SubSpace(const double* in, double* out, int nOut) const
{
    return Project2SubSpace(&in, 1, &out, nOut);
}

bool CPCA::Project2SubSpace(const double* const* in, int count, double* const* out, int nOut) const
{
    const int d = m_nFeatureVecDim;
    // Every element is written below; a batch's megabytes are not zeroed first.
    std::unique_ptr<double[]> work;
    std::vector<double*> rows;
    bool allocated = d >= 0 && count >= 0;
    if (allocated) {
        try {
            work = NewArray<double>(static_cast<int64_t>(d) * count);
            rows.resize(static_cast<size_t>(count));
        } catch (const std::bad_alloc&) {
            allocated = false;
        }
        allocated = allocated && (work != nullptr || static_cast<int64_t>(d) * count == 0);
    }
    if (!allocated) {
        ShowMessage("Project(): new memory error!", Details("projection: no memory for ", d, " feature values"));
        return false;
    }
    if (nOut > m_nMaxValidEigenVecNum)
        return false;
    // A partly released object (failed load or training) projects nothing.
    if (!HasProjectionArrays(nOut) || (count > 0 && in == nullptr) || (count > 0 && nOut > 0 && out == nullptr))
        return false;
    for (int b = 0; b < count; ++b)
        if ((d > 0 && in[b] == nullptr) || (nOut > 0 && out[b] == nullptr))
            return false;

    for (int b = 0; b < count; ++b) {
        double* w = work.get() + static_cast<size_t>(b) * static_cast<size_t>(d);
        const double* x = in[b];
        rows[static_cast<size_t>(b)] = w;
        for (int k = 0; k < d; ++k) {
            // Constant components (and not-a-number deviations) pass through untouched.
            w[k] = m_plfStdDevVec[k] > kMinStdDev ? (x[k] - m_plfMeanVec[k]) / m_plfStdDevVec[k] : x[k];
        }
    }
    if (d == 0) {
        for (int b = 0; b < count; ++b)
            std::fill(out[b], out[b] + nOut, 0.0);
        return true;
    }
    DotRowsBatch(rows.data(), count, m_pplfEigenVecs, nOut, d, out);
    return true;
}
