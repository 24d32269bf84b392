#include <cstdint>

#include "common/File.h"
#include "pca/PCA.h"

namespace {

// a * b + c in 64 bits, false on overflow.
bool MulAdd(uint64_t a, uint64_t b, uint64_t c, uint64_t& result)
{
    uint64_t product;
    if (__builtin_mul_overflow(a, b, &product))
        return false;
    return !__builtin_add_overflow(product, c, &result);
}

} // namespace

void CPCA::DiscardLoaded()
{
    FreeMemory();
    m_nTrainSampNum = 0;
    m_nFeatureVecDim = 0;
    m_nMaxValidEigenVecNum = 0;
}

bool CPCA::ReadBlock(CFile& file, int nNum)
{
    FreeMemory();
    if (nNum < 0) {
        DiscardLoaded();
        return false;
    }
    const uint64_t start = file.GetPosition();
    const uint64_t length = file.GetLength();
    const uint64_t available = length > start ? length - start : 0;

    int32_t n = 0, d = 0, k = 0;
    if (!file.ReadInt32(n) || !file.ReadInt32(d) || !file.ReadInt32(k) || n < 0 || d < 1 ||
        k < 0) {
        DiscardLoaded();
        return false;
    }
    const int32_t rows = (nNum != 0 && nNum < k) ? nNum : k;

    // The format has no length field: a count is believed only if the file
    // really holds what it announces.
    uint64_t fixed, needed;
    if (!MulAdd(17, static_cast<uint64_t>(d), 12, fixed) ||
        !MulAdd(8, static_cast<uint64_t>(k), fixed, fixed) ||
        !MulAdd(8 * static_cast<uint64_t>(rows), static_cast<uint64_t>(d), fixed, needed) ||
        needed > available) {
        DiscardLoaded();
        return false;
    }

    m_nTrainSampNum = n;
    m_nFeatureVecDim = d;
    m_nMaxValidEigenVecNum = k;
    AllocArrays(k, rows);
    const size_t du = static_cast<size_t>(d);
    bool ok = m_pbyMeanVec != nullptr && m_plfMeanVec != nullptr && m_plfStdDevVec != nullptr &&
              m_plfEigenVals != nullptr && (rows == 0 || m_pplfEigenVecs != nullptr);
    ok = ok && file.Read(m_pbyMeanVec, du) == du && file.ReadDoubles(m_plfMeanVec, du) &&
         file.ReadDoubles(m_plfStdDevVec, du) &&
         file.ReadDoubles(m_plfEigenVals, static_cast<size_t>(k));
    for (int i = 0; ok && i < rows; ++i)
        ok = file.ReadDoubles(m_pplfEigenVecs[i], du);
    if (!ok) {
        DiscardLoaded();
        return false;
    }
    m_nMaxValidEigenVecNum = rows;
    return true;
}

bool CPCA::WriteBlock(CFile& file, int nVecs) const
{
    const int d = m_nFeatureVecDim;
    if (nVecs < 0 || nVecs > m_nMaxValidEigenVecNum || d < 1 || !HasProjectionArrays(nVecs) ||
        m_pbyMeanVec == nullptr || (nVecs > 0 && m_plfEigenVals == nullptr))
        return false;
    const size_t du = static_cast<size_t>(d);
    bool ok = file.WriteInt32(m_nTrainSampNum) && file.WriteInt32(d) &&
              file.WriteInt32(nVecs) && file.Write(m_pbyMeanVec, du) &&
              file.WriteDoubles(m_plfMeanVec, du) && file.WriteDoubles(m_plfStdDevVec, du) &&
              file.WriteDoubles(m_plfEigenVals, static_cast<size_t>(nVecs));
    for (int i = 0; ok && i < nVecs; ++i)
        ok = file.WriteDoubles(m_pplfEigenVecs[i], du);
    return ok;
}

bool CPCA::ReadPCAFile(const std::string& path, int nNum)
{
    CFile file;
    if (!file.Open(path, CFile::modeRead))
        return false;
    return ReadBlock(file, nNum);
}
