// Incremental training of CLDA: the earlier classes come from an incremental data
// file as statistics, the new batch as samples; both are kept as separate classes.
#include <cstdint>
#include <cstring>
#include <exception>
#include <vector>

#include "common/MessageSink.h"
#include "common/NewArray.h"
#include "common/RowTable.h"
#include "lda/IncrementalData.h"
#include "lda/LDA.h"

static_assert(CLDA::kMaxSampSumDim == kIncreaseMaxDim,
              "the running sum must hold every dimension a file may carry");

namespace {

std::string VectorDetails(int count, int dimension)
{
    return Details("incremental LDA: ", count, " discriminant vectors of ", dimension, " values cannot be allocated");
}

// Releases the arrays of one training attempt on every path out of it.
struct WorkArrays {
    double** means = nullptr;
    int meanRows = 0;
    double* sum = nullptr;
    double* mat = nullptr;
    int* counts = nullptr;
    void ReleaseMeans()
    {
        Delete2DPointer(means, meanRows);
        means = nullptr;
        meanRows = 0;
        delete[] counts;
        counts = nullptr;
    }
    ~WorkArrays()
    {
        ReleaseMeans();
        delete[] sum;
        delete[] mat;
    }
};

} // namespace

bool CLDA::ReadIncreaseHeader(const char* path, int* pnClassNum, int* pnDim)
{
    return ReadIncreaseFileHeader(path, pnClassNum, pnDim);
}

bool CLDA::ReadIncreaseData(const char* path, double* plfSum, double** pplfClassMeans,
                            double* plfScatter, int nClassNum, int* pnClassSampNum, int nDim)
{
    return ReadIncreaseFileData(path, plfSum, pplfClassMeans, plfScatter, nClassNum,
                                pnClassSampNum, nDim);
}

bool CLDA::IncreaseTrainLDA(double** pplfSamps, int nClassNum, int* pnClassSampNum, int nDim,
                            const char* szIncreaseFile)
{
    if (szIncreaseFile != nullptr && szIncreaseFile[0] == '\0')
        return TrainLDA(pplfSamps, nClassNum, pnClassSampNum, nDim);

    m_bLDAReady = false;
    FreeMemory();
    m_nFeatureVecDim = nDim;
    if (nClassNum < 0)
        nClassNum = 0;
    // The new batch is read through its counts, so they must describe real rows.
    const int64_t batchTotal =
        nClassNum > 0 && pplfSamps == nullptr ? -1 : ClassRowTotal(nClassNum, pnClassSampNum);
    if (batchTotal < 0 ||
        !AccumulateIncreaseStatistics(pplfSamps, nClassNum, pnClassSampNum, nDim, szIncreaseFile, batchTotal))
        return false;
    if (!SolveIncreaseSubspace(nDim))
        return false;
    m_bLDAReady = true;
    return true;
}

bool CLDA::AccumulateIncreaseStatistics(double** pplfSamps, int nClassNum, int* pnClassSampNum, int nDim,
                                        const char* szIncreaseFile, int64_t nBatchTotal)
{
    int nStoredNum = 0;
    int nFileDim = 0;
    if (!ReadIncreaseHeader(szIncreaseFile, &nStoredNum, &nFileDim) || nFileDim != nDim ||
        nDim > kMaxSampSumDim)
        return false;
    if (nStoredNum < 0)
        nStoredNum = 0;

    // The header reader has checked Nf and d against the file length.
    const int64_t d = nDim;
    WorkArrays work;
    work.sum = NewArray<double>(d).release();
    work.mat = NewArray<double>(d * d).release();
    if (nStoredNum > 0) {
        work.means = New2DPointer(nStoredNum, nDim);
        work.meanRows = work.means != nullptr ? nStoredNum : 0;
        work.counts = NewArray<int>(nStoredNum).release();
        if (work.means == nullptr || work.counts == nullptr)
            return false;
    }
    if (work.sum == nullptr || work.mat == nullptr)
        return false;
    if (!ReadIncreaseData(szIncreaseFile, work.sum, work.means, work.mat, nStoredNum, work.counts,
                          nDim))
        return false;
    int64_t total = nBatchTotal;
    for (int i = 0; i < nStoredNum; ++i) {
        if (work.counts[i] < 0)
            return false;
        total += work.counts[i];
    }
    if (total > INT32_MAX)
        return false;

    m_plfSb = NewArray<double>(d * d).release();
    m_plfSw = NewArray<double>(d * d).release();
    if (m_plfSb == nullptr || m_plfSw == nullptr)
        return false;

    try {
        AccumulateClasses(work.means, nStoredNum, work.counts, nDim, work.sum, true);
        AddWithinScatter(work.mat, nDim, true);
        work.ReleaseMeans();

        if (nClassNum > 0) {
            work.means = New2DPointer(nClassNum, nDim);
            if (work.means == nullptr)
                return false;
            work.meanRows = nClassNum;
        }
        CalcBatchMeans(pplfSamps, nClassNum, pnClassSampNum, nDim, work.means, work.sum);
        CalcBatchScatter(pplfSamps, work.means, nClassNum, pnClassSampNum, nDim, work.mat);
        AccumulateClasses(work.means, nClassNum, pnClassSampNum, nDim, work.sum, false);
        AddWithinScatter(work.mat, nDim, false);
    } catch (const std::exception&) {
        return false;
    }
    return true;
}

bool CLDA::SolveIncreaseSubspace(int nDim)
{
    const int64_t d = nDim;
    const int n = m_nTotalSampNum;
    for (int64_t i = 0; i < d * d; ++i)
        m_plfSw[i] /= n;

    m_plfMeanVec = NewArray<double>(d).release();
    if (m_plfMeanVec == nullptr)
        return false;
    for (int j = 0; j < nDim; ++j)
        m_plfMeanVec[j] = m_plfSampSum[j] / n;

    CalcBetweenScatter();

    int k = m_nClassNum - 1;
    if (k > nDim)
        k = nDim;
    if (k > n - m_nClassNum)
        k = n - m_nClassNum;
    m_nValidEigenNum = k;

    m_plfEigenVals = NewArray<double>(k).release();
    if (m_plfEigenVals == nullptr) {
        ShowMessage("AllocMemory error: m_plfEigenVals", VectorDetails(k, nDim));
        return false;
    }
    m_pplfEigenVecs = New2DPointer(k, nDim);
    if (m_pplfEigenVecs == nullptr) {
        ShowMessage("AllocMemory error: m_pplfEigenVecs", VectorDetails(k, nDim));
        delete[] m_plfEigenVals;
        delete[] m_plfMeanVec;
        m_plfEigenVals = nullptr;
        m_plfMeanVec = nullptr;
        return false;
    }

    const bool ok = CalcEigen();
    delete[] m_plfSb;
    delete[] m_plfSw;
    m_plfSb = nullptr;
    m_plfSw = nullptr;
    return ok;
}

void CLDA::AccumulateClasses(double** pplfMeans, int nClassNum, const int* pnCounts, int nDim,
                             const double* plfSum, bool bReset)
{
    m_nFeatureVecDim = nDim;
    if (bReset) {
        m_vecClassMeans.clear();
        m_vecClassSampNum.clear();
        m_nTotalSampNum = 0;
        std::memset(m_plfSampSum, 0, sizeof(double) * static_cast<size_t>(nDim));
    }
    for (int i = 0; i < nClassNum; ++i) {
        m_vecClassMeans.emplace_back(pplfMeans[i], pplfMeans[i] + nDim);
        m_vecClassSampNum.push_back(pnCounts[i]);
        m_nTotalSampNum += pnCounts[i];
    }
    m_nClassNum = static_cast<int32_t>(m_vecClassSampNum.size());
    for (int j = 0; j < nDim; ++j)
        m_plfSampSum[j] += plfSum[j];
}

void CLDA::AddWithinScatter(const double* plfMat, int nDim, bool bReset)
{
    m_nFeatureVecDim = nDim;
    const int64_t size = static_cast<int64_t>(nDim) * nDim;
    if (bReset)
        std::memset(m_plfSw, 0, sizeof(double) * static_cast<size_t>(size));
    for (int64_t i = 0; i < size; ++i)
        m_plfSw[i] += plfMat[i];
}

void CLDA::CalcBatchMeans(double** pplfSamps, int nClassNum, const int* pnCounts, int nDim,
                          double** pplfMeans, double* plfSum)
{
    std::memset(plfSum, 0, sizeof(double) * static_cast<size_t>(nDim));
    double** samp = pplfSamps;
    for (int i = 0; i < nClassNum; ++i) {
        double* mean = pplfMeans[i];
        std::memset(mean, 0, sizeof(double) * static_cast<size_t>(nDim));
        for (int s = 0; s < pnCounts[i]; ++s, ++samp)
            for (int j = 0; j < nDim; ++j) {
                mean[j] += (*samp)[j];
                plfSum[j] += (*samp)[j];
            }
        for (int j = 0; j < nDim; ++j)
            mean[j] /= pnCounts[i];
    }
}

void CLDA::CalcBatchScatter(double** pplfSamps, double** pplfMeans, int nClassNum,
                            const int* pnCounts, int nDim, double* plfMat)
{
    const size_t d = static_cast<size_t>(nDim);
    std::memset(plfMat, 0, sizeof(double) * d * d);
    std::vector<double> u(d);
    double** samp = pplfSamps;
    for (int i = 0; i < nClassNum; ++i)
        for (int s = 0; s < pnCounts[i]; ++s, ++samp) {
            for (size_t j = 0; j < d; ++j)
                u[j] = (*samp)[j] - pplfMeans[i][j];
            for (size_t r = 0; r < d; ++r)
                for (size_t c = 0; c < d; ++c)
                    plfMat[r * d + c] += u[r] * u[c];
        }
}

void CLDA::CalcBetweenScatter()
{
    const size_t d = static_cast<size_t>(m_nFeatureVecDim);
    std::memset(m_plfSb, 0, sizeof(double) * d * d);
    m_nClassNum = static_cast<int32_t>(m_vecClassSampNum.size());
    std::vector<double> u(d);
    for (size_t c = 0; c < m_vecClassSampNum.size(); ++c) {
        const double w = static_cast<double>(m_vecClassSampNum[c]) / m_nTotalSampNum;
        for (size_t j = 0; j < d; ++j)
            u[j] = m_vecClassMeans[c][j] - m_plfMeanVec[j];
        for (size_t r = 0; r < d; ++r)
            for (size_t col = 0; col < d; ++col)
                m_plfSb[r * d + col] += w * (u[r] * u[col]);
    }
}
