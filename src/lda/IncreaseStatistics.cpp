#include "lda/IncreaseStatistics.h"

#include <cstdio>

#include "common/File.h"
#include "lda/IncrementalData.h"

bool CIncreaseStatistics::Reset(int nDim)
{
    if (nDim < 1 || nDim > kIncreaseMaxDim)
        return false;
    const size_t d = static_cast<size_t>(nDim);
    m_nDim = nDim;
    m_vecSampSum.assign(d, 0.0);
    m_vecClassMeans.clear();
    m_vecClassSampNum.clear();
    m_vecScatter.assign(d * d, 0.0);
    return true;
}

bool CIncreaseStatistics::Load(const char* path)
{
    int nClassNum = 0;
    int nDim = 0;
    // The header reader has checked the file length against Nf and d.
    if (!ReadIncreaseFileHeader(path, &nClassNum, &nDim))
        return false;
    if (nClassNum < 0)
        nClassNum = 0;
    const size_t d = static_cast<size_t>(nDim);
    std::vector<double> sum(d);
    std::vector<double> scatter(d * d);
    std::vector<std::vector<double>> means(static_cast<size_t>(nClassNum), std::vector<double>(d));
    std::vector<int32_t> counts(static_cast<size_t>(nClassNum));
    std::vector<double*> rows(static_cast<size_t>(nClassNum));
    for (int i = 0; i < nClassNum; ++i)
        rows[i] = means[i].data();
    if (!ReadIncreaseFileData(path, sum.data(), rows.data(), scatter.data(), nClassNum,
                              counts.data(), nDim))
        return false;
    m_nDim = nDim;
    m_vecSampSum.swap(sum);
    m_vecClassMeans.swap(means);
    m_vecClassSampNum.swap(counts);
    m_vecScatter.swap(scatter);
    return true;
}

bool CIncreaseStatistics::AddClasses(const double* const* pplfSamps, int nClassNum,
                                     const int* pnClassSampNum, int nDim)
{
    if (nClassNum < 0 || nDim < 1 || nDim > kIncreaseMaxDim)
        return false;
    if (m_nDim != 0 && nDim != m_nDim)
        return false;
    if (nClassNum > 0 && (pplfSamps == nullptr || pnClassSampNum == nullptr))
        return false;
    int64_t total = 0;
    for (int i = 0; i < nClassNum; ++i) {
        if (pnClassSampNum[i] < 1)
            return false;
        total += pnClassSampNum[i];
    }
    for (int64_t s = 0; s < total; ++s)
        if (pplfSamps[s] == nullptr)
            return false;

    if (m_nDim == 0)
        Reset(nDim);
    const size_t d = static_cast<size_t>(nDim);
    std::vector<double> batchSum(d, 0.0);
    std::vector<double> u(d);
    const double* const* samp = pplfSamps;
    for (int i = 0; i < nClassNum; ++i) {
        const int n = pnClassSampNum[i];
        std::vector<double> mean(d, 0.0);
        for (int s = 0; s < n; ++s)
            for (size_t j = 0; j < d; ++j) {
                mean[j] += samp[s][j];
                batchSum[j] += samp[s][j];
            }
        for (size_t j = 0; j < d; ++j)
            mean[j] /= n;
        for (int s = 0; s < n; ++s) {
            for (size_t j = 0; j < d; ++j)
                u[j] = samp[s][j] - mean[j];
            for (size_t r = 0; r < d; ++r)
                for (size_t c = 0; c < d; ++c)
                    m_vecScatter[r * d + c] += u[r] * u[c];
        }
        samp += n;
        m_vecClassMeans.push_back(std::move(mean));
        m_vecClassSampNum.push_back(n);
    }
    for (size_t j = 0; j < d; ++j)
        m_vecSampSum[j] += batchSum[j];
    return true;
}

int64_t CIncreaseStatistics::GetTotalSampNum() const
{
    int64_t total = 0;
    for (int32_t n : m_vecClassSampNum)
        total += n;
    return total;
}

bool CIncreaseStatistics::Save(const char* path) const
{
    if (path == nullptr || m_nDim < 1)
        return false;
    CFile file;
    if (!file.Open(path, CFile::modeCreate | CFile::modeWrite))
        return false;
    const size_t d = static_cast<size_t>(m_nDim);
    bool ok = file.Write(g_szIncreaseMagic, kIncreaseMagicSize) &&
              file.WriteInt32(GetClassNum()) && file.WriteInt32(m_nDim) &&
              file.WriteDoubles(m_vecSampSum.data(), d);
    for (size_t i = 0; ok && i < m_vecClassMeans.size(); ++i)
        ok = file.WriteDoubles(m_vecClassMeans[i].data(), d) &&
             file.WriteInt32(m_vecClassSampNum[i]);
    ok = ok && file.WriteDoubles(m_vecScatter.data(), d * d);
    ok = file.Close() && ok;
    if (!ok)
        std::remove(path);
    return ok;
}
