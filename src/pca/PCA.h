#pragma once
// One principal-component subspace: per-component mean and standard deviation of
// the training vectors, covariance eigenvalues (largest first) and the matching
// unit eigenvectors. Filled by training or from the PCA block of a model file.
#include <cstdint>
#include <string>

#include "common/OrderedProduct.h"

class CFile;

class CPCA {
public:
    CPCA() = default;
    virtual ~CPCA();
    CPCA(const CPCA&) = delete;
    CPCA& operator=(const CPCA&) = delete;

    // Releases every owned array; counts and the borrowed sample rows stay.
    void FreeMemory();
    // Borrows the caller's rows (standardised in place by training) and allocates.
    bool SetTrainData(double** samples, int nSampNum, int nDim);
    // Arrays for training: mean bytes, mean, deviation, Gram matrix when N < D,
    // N eigenvalues and M = min(N, D, 800) eigenvector rows.
    bool AllocTrainMemory();
    // Arrays for reading a PCA block of M = m_nMaxValidEigenVecNum vectors.
    bool AllocLoadMemory();
    // Standardises a copy of `in` (components with a deviation above 1e-6 only)
    // and writes its first nOut principal components to `out`.
    bool Project2SubSpace(const double* in, double* out, int nOut) const;
    // The same for `count` vectors at once, each result bit for bit the one above.
    bool Project2SubSpace(const double* const* in, int count, double* const* out, int nOut) const;
    // Reads the PCA block that starts every model file; nNum > 0 keeps only the
    // first nNum eigenvector rows.
    bool ReadPCAFile(const std::string& path, int nNum);

    // The PCA block at the file's current position. Reading checks every count
    // against the bytes left in the file before allocating; nNum as in
    // ReadPCAFile. On failure the object holds no arrays and zero counts.
    bool ReadBlock(CFile& file, int nNum);
    // Writes the block with the first nVecs eigenvalues and eigenvector rows.
    bool WriteBlock(CFile& file, int nVecs) const;

    // Training on N rows of D values, which are standardised in place: mean,
    // deviation, then the covariance eigenvectors, through the N x N Gram matrix
    // when N < D.
    bool TrainPCA(double** samples, int nSampNum, int nDim);
    void CalcMeanStd();
    bool CalcEigenCovariance();
    bool CalcEigenGram();
    bool GramToEigenVecs();

    // True when the arrays a projection onto nOut components reads are present.
    bool HasProjectionArrays(int nOut) const;
    // Number of eigenvector rows currently allocated (independent of M).
    int AllocatedEigenRows() const { return m_nAllocatedEigenRows; }

    double* m_plfGramMat = nullptr;
    double** m_pplfTrainSamps = nullptr; // borrowed
    int32_t m_nTrainSampNum = 0;
    int32_t m_nFeatureVecDim = 0;
    int32_t m_nMaxValidEigenVecNum = 0;
    unsigned char* m_pbyMeanVec = nullptr;
    double* m_plfMeanVec = nullptr;
    double* m_plfStdDevVec = nullptr;
    double* m_plfEigenVals = nullptr;
    double** m_pplfEigenVecs = nullptr;

private:
    // Shared tail of both allocations: mean bytes, mean, deviation, nEigenVals
    // eigenvalues and nRows eigenvector rows of D doubles.
    void AllocArrays(int64_t nEigenVals, int nRows);
    // Discards everything read so far after a failed read.
    void DiscardLoaded();

    int m_nAllocatedEigenRows = 0;
};
