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

void DotRows(const double* v, const double* const* rows, int nRows, int n, double* out)
{
    // Eight rows share each pass over v: eight independent sums keep the
    // floating-point units busy, and each still adds its terms in index order
    // from 0.0, exactly as VectorDot does.
    constexpr int kBlock = 8;
    int i = 0;
    for (; i + kBlock <= nRows; i += kBlock) {
        const double* r0 = rows[i];
        const double* r1 = rows[i + 1];
        const double* r2 = rows[i + 2];
        const double* r3 = rows[i + 3];
        const double* r4 = rows[i + 4];
        const double* r5 = rows[i + 5];
        const double* r6 = rows[i + 6];
        const double* r7 = rows[i + 7];
        double s0 = 0.0, s1 = 0.0, s2 = 0.0, s3 = 0.0, s4 = 0.0, s5 = 0.0, s6 = 0.0, s7 = 0.0;
        for (int j = 0; j < n; ++j) {
            const double x = v[j];
            s0 += x * r0[j];
            s1 += x * r1[j];
            s2 += x * r2[j];
            s3 += x * r3[j];
            s4 += x * r4[j];
            s5 += x * r5[j];
            s6 += x * r6[j];
            s7 += x * r7[j];
        }
        out[i] = s0;
        out[i + 1] = s1;
        out[i + 2] = s2;
        out[i + 3] = s3;
        out[i + 4] = s4;
        out[i + 5] = s5;
        out[i + 6] = s6;
        out[i + 7] = s7;
    }
    for (; i < nRows; ++i)
        out[i] = VectorDot(v, rows[i], n);
}

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
    const int d = m_nFeatureVecDim;
    std::vector<double> work;
    bool allocated = d >= 0;
    if (allocated) {
        try {
            work.resize(static_cast<size_t>(d));
        } catch (const std::bad_alloc&) {
            allocated = false;
        }
    }
    if (!allocated) {
        ShowMessage("Project(): new memory error!", Details("projection: no memory for ", d, " feature values"));
        return false;
    }
    if (nOut > m_nMaxValidEigenVecNum)
        return false;
    // A partly released object (failed load or training) projects nothing.
    if (!HasProjectionArrays(nOut) || (d > 0 && in == nullptr) || (nOut > 0 && out == nullptr))
        return false;

    std::copy(in, in + d, work.begin());
    for (int k = 0; k < d; ++k) {
        // Constant components (and not-a-number deviations) pass through untouched.
        if (m_plfStdDevVec[k] > kMinStdDev)
            work[k] = (work[k] - m_plfMeanVec[k]) / m_plfStdDevVec[k];
    }
    if (d == 0) {
        for (int i = 0; i < nOut; ++i)
            out[i] = 0.0;
        return true;
    }
    DotRows(work.data(), m_pplfEigenVecs, nOut, d, out);
    return true;
}
