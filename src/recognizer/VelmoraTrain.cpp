#include <velmora/Velmora.h>

#include <cstdint>
#include <memory>
#include <new>
#include <vector>

#include "common/File.h"
#include "common/RowTable.h"
#include "pca/SubspaceModel.h"
#include "recognizer/ModuleState.h"

namespace {

constexpr int kPCAEigenUsed = 300;
constexpr int kPCAEigenSkipped = 2;
constexpr int64_t kHeaderBytes = 16;

struct RowTableDeleter {
    int rows;
    void operator()(double** table) const { Delete2DPointer(table, rows); }
};

void ToDoubles(const unsigned char* bytes, double* row, int64_t n)
{
    for (int64_t k = 0; k < n; ++k)
        row[k] = bytes[k];
}

} // namespace

enumTError CVelmora::Train(unsigned char** ppImages, int nSampWidth, int nSampHeight,
                           int nClassNum, int* const pnClassSampNum,
                           const std::string& strSampFile)
{
    if (ppImages == nullptr)
        return T_BAD_ARGUMENT;
    CFile file;
    if (!file.Open(strSampFile, CFile::modeRead))
        return T_FILE_ERROR;
    const int64_t fileLength = static_cast<int64_t>(file.GetLength());
    int32_t width = 0, height = 0, storedSamples = 0, storedClasses = 0;
    if (!file.ReadInt32(width) || !file.ReadInt32(height) || !file.ReadInt32(storedSamples) ||
        !file.ReadInt32(storedClasses))
        return T_SAMPLE_FILE_ERROR;
    if (width != nSampWidth || height != nSampHeight)
        return T_BAD_ARGUMENT;
    if (nClassNum < 0 ||
        static_cast<int64_t>(storedClasses) + nClassNum < static_cast<int64_t>(g_templateDim) + 10)
        return T_BAD_ARGUMENT;
    if (nClassNum > 0 && pnClassSampNum == nullptr)
        return T_BAD_ARGUMENT;
    int64_t newSamples = 0;
    for (int i = 0; i < nClassNum; ++i) {
        if (pnClassSampNum[i] < 1)
            return T_BAD_ARGUMENT;
        newSamples += pnClassSampNum[i];
    }
    const int64_t length = static_cast<int64_t>(width) * height;
    const int64_t total = storedSamples + newSamples;
    if (total < 1 || length < 1)
        return T_NO_SAMPLES;
    // Rows are handed on with int sizes; nothing this large fits in memory anyway.
    if (total > INT32_MAX || length > INT32_MAX)
        return T_NO_SAMPLES;
    // The file's counts are checked against its length before anything is
    // allocated for them: a consistent file holds at least Nf counts and Ns samples.
    if (storedSamples < 0 || storedClasses < 0 ||
        kHeaderBytes + 4 * static_cast<int64_t>(storedClasses) > fileLength ||
        static_cast<int64_t>(storedSamples) >
            (fileLength - kHeaderBytes - 4 * static_cast<int64_t>(storedClasses)) / length)
        return T_SAMPLE_FILE_ERROR;

    const int64_t classCount = static_cast<int64_t>(storedClasses) + nClassNum;
    if (classCount > INT32_MAX)
        return T_BAD_ARGUMENT;
    const int rowCount = static_cast<int>(total);
    const int rowLength = static_cast<int>(length);
    std::unique_ptr<double*, RowTableDeleter> rows(New2DPointer(rowCount, rowLength),
                                                    RowTableDeleter{rowCount});
    std::unique_ptr<int[]> table(new (std::nothrow) int[static_cast<size_t>(classCount)]);
    std::unique_ptr<unsigned char[]> buffer(new (std::nothrow) unsigned char[rowLength]);
    if (!rows || !table || !buffer)
        return T_NO_SAMPLES;

    int read = 0;
    for (int32_t f = 0; f < storedClasses; ++f) {
        int32_t count = 0;
        if (!file.ReadInt32(count))
            return T_SAMPLE_FILE_ERROR;
        table[f] = count;
        for (int32_t s = 0; s < count; ++s) {
            if (read >= storedSamples)
                return T_SAMPLE_FILE_ERROR;
            if (file.Read(buffer.get(), static_cast<size_t>(rowLength)) !=
                static_cast<size_t>(rowLength))
                return T_SAMPLE_FILE_ERROR;
            ToDoubles(buffer.get(), rows.get()[read++], rowLength);
        }
    }
    file.Close();
    buffer.reset();
    if (read != storedSamples)
        return T_SAMPLE_FILE_ERROR;

    int next = 0;
    for (int i = 0; i < nClassNum; ++i) {
        table[storedClasses + i] = pnClassSampNum[i];
        for (int s = 0; s < pnClassSampNum[i]; ++s, ++next) {
            if (ppImages[next] == nullptr)
                return T_BAD_ARGUMENT;
            ToDoubles(ppImages[next], rows.get()[read + next], rowLength);
        }
    }

    g_recognizerReady = false;
    if (!g_subspaceModel.TrainPCA(rows.get(), rowCount, rowLength))
        return T_PCA_FAILED;
    if (!g_subspaceModel.TrainLDA(rows.get(), static_cast<int>(classCount), table.get(),
                                  rowLength, kPCAEigenUsed, kPCAEigenSkipped))
        return T_LDA_FAILED;
    g_recognizerReady = true;
    return T_OK;
}

enumTError CVelmora::SaveMatrix(const std::string& strPath)
{
    return g_subspaceModel.SaveModel(strPath, g_templateDim + 5) ? T_OK : T_FILE_ERROR;
}
