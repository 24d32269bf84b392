#include "lda/IncrementalData.h"

#include <cstring>

#include "common/File.h"

const char g_szIncreaseMagic[kIncreaseMagicSize] = "QuorvaneIncrease2.4";

namespace {

constexpr uint64_t kHeaderSize = kIncreaseMagicSize + 4 + 4;

// Opens the file and reads the whole header; the stream is left just after it.
bool OpenAndReadHeader(CFile& file, const char* path, int32_t& nClassNum, int32_t& nDim)
{
    if (path == nullptr || !file.Open(path, CFile::modeRead))
        return false;
    char magic[kIncreaseMagicSize];
    if (file.Read(magic, sizeof magic) != sizeof magic)
        return false;
    if (std::memcmp(magic, g_szIncreaseMagic, sizeof magic) != 0)
        return false;
    return file.ReadInt32(nClassNum) && file.ReadInt32(nDim);
}

} // namespace

uint64_t IncreaseFileSize(int nClassNum, int nDim)
{
    const uint64_t d = nDim < 0 ? 0 : static_cast<uint64_t>(nDim);
    const uint64_t classes = nClassNum < 0 ? 0 : static_cast<uint64_t>(nClassNum);
    return kHeaderSize + 8 * d + classes * (8 * d + 4) + 8 * d * d;
}

bool ReadIncreaseFileHeader(const char* path, int* pnClassNum, int* pnDim)
{
    if (pnClassNum == nullptr || pnDim == nullptr)
        return false;
    CFile file;
    int32_t nClassNum = 0;
    int32_t nDim = 0;
    if (!OpenAndReadHeader(file, path, nClassNum, nDim))
        return false;
    if (nDim < 1 || nDim > kIncreaseMaxDim)
        return false;
    if (file.GetLength() < IncreaseFileSize(nClassNum, nDim))
        return false;
    *pnClassNum = nClassNum;
    *pnDim = nDim;
    return true;
}

bool ReadIncreaseFileData(const char* path, double* plfSum, double** pplfClassMeans,
                          double* plfScatter, int nClassNum, int* pnClassSampNum, int nDim)
{
    if (nClassNum < 0)
        nClassNum = 0;
    if (plfSum == nullptr || plfScatter == nullptr || nDim < 1 || nDim > kIncreaseMaxDim)
        return false;
    if (nClassNum > 0 && (pplfClassMeans == nullptr || pnClassSampNum == nullptr))
        return false;

    CFile file;
    int32_t fileClassNum = 0;
    int32_t fileDim = 0;
    if (!OpenAndReadHeader(file, path, fileClassNum, fileDim))
        return false;
    if (fileDim != nDim || (fileClassNum < 0 ? 0 : fileClassNum) != nClassNum)
        return false;

    const size_t d = static_cast<size_t>(nDim);
    if (!file.ReadDoubles(plfSum, d))
        return false;
    for (int i = 0; i < nClassNum; ++i) {
        if (pplfClassMeans[i] == nullptr || !file.ReadDoubles(pplfClassMeans[i], d))
            return false;
        int32_t count = 0;
        if (!file.ReadInt32(count))
            return false;
        pnClassSampNum[i] = count;
    }
    return file.ReadDoubles(plfScatter, d * d);
}
