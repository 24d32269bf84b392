#include <cstdint>
#include <exception>
#include <vector>

#include <velmora/Velmora.h>

#include "common/RowTable.h"
#include "lda/IncreaseStatistics.h"
#include "pca/SubspaceModel.h"
#include "preprocess/FaceMasks.h"
#include "preprocess/FacePreprocessor.h"
#include "preprocess/FaceWeight.h"
#include "recognizer/Engine.h"
#include "recognizer/ModuleState.h"
#include "recognizer/PhotometricSteps.h"

namespace {

// T rows of nDim doubles behind a row table, or false when memory runs out.
struct CoefficientRows {
    std::vector<std::vector<double>> data;
    std::vector<double*> table;
    bool Allocate(int64_t rows, int nDim)
    {
        try {
            data.assign(static_cast<size_t>(rows), std::vector<double>(static_cast<size_t>(nDim)));
            table.resize(data.size());
        } catch (const std::exception&) {
            return false;
        }
        for (size_t s = 0; s < data.size(); ++s)
            table[s] = data[s].data();
        return true;
    }
};

} // namespace

bool CVelmora::GetFacePCACoefficients(unsigned char* face, bool bPreprocess, double* coeffs,
                                      int nDim) const
{
    if (bPreprocess) {
        ApplyPhotometricSteps(face);
        if (m_bApplyFaceWeight != 0)
            ApplyFaceWeight(face, kFacePixels);
    }
    std::vector<double> feature(velmora::kFeatureDim, 0.0);
    velmora::engine::FaceFeatures(face, feature.data());
    return g_subspaceModel.ProjectToPCA(feature.data(), velmora::kFeatureDim, coeffs, nDim);
}

enumTError CVelmora::IncreaseTrain(unsigned char** ppImages, int nClassNum,
                                   int* const pnClassSampNum, int, bool bPreprocess,
                                   int nLDAEigenUsed, int, const char* const szPCAFile,
                                   const char* const szIncreaseFile,
                                   const char* const szModelFile)
{
    if (szPCAFile != nullptr) {
        if (!g_subspaceModel.LoadPCA(szPCAFile, 0))
            return T_BAD_ARGUMENT;
    } else if (!g_recognizerReady) {
        return T_BAD_ARGUMENT;
    }

    const int64_t total = ClassRowTotal(nClassNum, pnClassSampNum);
    const int k = g_subspaceModel.m_nPCAEigenUsed;
    if (total < 0 || (total > 0 && ppImages == nullptr))
        return T_BAD_ARGUMENT;
    if (total < 1 || k < 1)
        return T_NO_SAMPLES;
    if (total > INT32_MAX)
        return T_NO_SAMPLES;

    CoefficientRows rows;
    if (!rows.Allocate(total, k))
        return T_NO_SAMPLES;
    for (int64_t s = 0; s < total; ++s) {
        if (ppImages[s] == nullptr ||
            !GetFacePCACoefficients(ppImages[s], bPreprocess, rows.table[s], k))
            return T_BAD_ARGUMENT;
    }

    if (!g_subspaceModel.IncreaseTrainLDA(rows.table.data(), nClassNum, pnClassSampNum, k,
                                          nLDAEigenUsed, 0, szIncreaseFile))
        return T_BAD_ARGUMENT;
    if (szModelFile == nullptr || !g_subspaceModel.SaveModel(szModelFile, 0))
        return T_BAD_ARGUMENT;
    return T_OK;
}

enumTError CVelmora::SaveIncreaseData(unsigned char** ppImages, int nClassNum,
                                      int* const pnClassSampNum, bool bPreprocess, int nDim,
                                      const char* const szBaseFile,
                                      const char* const szIncreaseFile) const
{
    if (!g_recognizerReady || szIncreaseFile == nullptr)
        return T_BAD_ARGUMENT;
    const int64_t total = ClassRowTotal(nClassNum, pnClassSampNum);
    if (total < 0 || (total > 0 && ppImages == nullptr) || nDim < 1 ||
        nDim > g_subspaceModel.m_nPCAEigenUsed)
        return T_BAD_ARGUMENT;
    if (total < 1 || total > INT32_MAX)
        return T_NO_SAMPLES;

    CIncreaseStatistics stats;
    if (szBaseFile != nullptr) {
        if (!stats.Load(szBaseFile))
            return T_FILE_ERROR;
        if (stats.GetDim() != nDim)
            return T_BAD_ARGUMENT;
    }
    CoefficientRows rows;
    if (!rows.Allocate(total, nDim))
        return T_NO_SAMPLES;
    for (int64_t s = 0; s < total; ++s) {
        if (ppImages[s] == nullptr ||
            !GetFacePCACoefficients(ppImages[s], bPreprocess, rows.table[s], nDim))
            return T_BAD_ARGUMENT;
    }
    if (!stats.AddClasses(rows.table.data(), nClassNum, pnClassSampNum, nDim))
        return T_BAD_ARGUMENT;
    return stats.Save(szIncreaseFile) ? T_OK : T_FILE_ERROR;
}
