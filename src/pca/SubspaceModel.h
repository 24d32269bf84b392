#pragma once
// The module-wide projection from feature vectors to template vectors: a PCA
// onto the first K components, then an LDA on components S to K - 1. Owns its
// CPCA and CLDA and reads and writes them as one model file.
#include <cstdint>
#include <memory>
#include <string>

#include "lda/LDA.h"
#include "pca/PCA.h"

class CSubspaceModel {
public:
    CSubspaceModel() = default;
    virtual ~CSubspaceModel() = default;
    CSubspaceModel(const CSubspaceModel&) = delete;
    CSubspaceModel& operator=(const CSubspaceModel&) = delete;

    // Replaces the PCA stage with the PCA block of a model file; K and S stay.
    bool LoadPCA(const std::string& path, int nNum);
    // Writes the model: K PCA vectors, S, and nNum LDA vectors (0: all of them).
    bool SaveModel(const std::string& path, int nNum) const;
    // Reads a model file; nNum > 0 keeps only the first nNum LDA vectors.
    bool LoadModel(const std::string& path, int nNum);
    // Feature vector -> nOutDim template values through both stages.
    bool ProjectToLDA(const double* in, int nInDim, double* out, int nOutDim) const;
    // The same for `count` feature vectors at once, each result bit for bit the
    // one above, with one check and message for all.
    bool ProjectToLDA(const double* const* in, int count, int nInDim, double* const* out, int nOutDim) const;
    // Feature vector -> its first nOutDim principal components.
    bool ProjectToPCA(const double* in, int nInDim, double* out, int nOutDim) const;

    // Trains the PCA stage on the rows (standardised in place); K and S stay.
    bool TrainPCA(double** rows, int nSampNum, int nDim);
    // Trains the LDA stage on principal components nPCAEigenSkipped to
    // nPCAEigenUsed - 1 of the rows, which are grouped by class.
    bool TrainLDA(double** rows, int nClassNum, int* pnClassSampNum, int nTrainSampDim,
                  int nPCAEigenUsed, int nPCAEigenSkipped);

    // Incremental LDA training on PCA coefficient rows the caller has computed
    // (nLDATrainSampDim each); the LDA takes components nPCAEigenSkipped to
    // nPCAEigenUsed - 1. On success K and S become those two numbers.
    bool IncreaseTrainLDA(double** pplfRows, int nClassNum, int* pnClassSampNum,
                          int nLDATrainSampDim, int nPCAEigenUsed, int nPCAEigenSkipped,
                          const char* szIncreaseFile);
    // Appends the classes of labelled feature vectors (nInDim values each) to
    // incremental statistics: their first nDim principal components, the input
    // that IncreaseTrainLDA with nDim components and none skipped works on.
    bool CollectIncreaseStatistics(const double* const* ppFeatures, int nClassNum,
                                   const int* pnClassSampNum, int nInDim, int nDim,
                                   class CIncreaseStatistics& stats) const;

    bool m_bLDAReady = false;
    bool m_bPCAReady = false;
    // Declared in this order so that the PCA is destroyed before the LDA.
    std::unique_ptr<CLDA> m_pLDA;
    std::unique_ptr<CPCA> m_pPCA;
    int32_t m_nPCAEigenUsed = 0;    // K
    int32_t m_nPCAEigenSkipped = 0; // S

private:
    bool ReadLDABlock(class CFile& file, int nNum);
};
