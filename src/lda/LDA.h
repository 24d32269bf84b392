#pragma once
// One linear-discriminant (Fisher) subspace: k discriminant vectors of dimension
// d with their eigenvalues and means, plus the working storage of batch and
// incremental training.
#include <cstdint>
#include <vector>

class CLDA {
public:
    static constexpr int kMaxSampSumDim = 1024;

    CLDA() = default;
    virtual ~CLDA();
    CLDA(const CLDA&) = delete;
    CLDA& operator=(const CLDA&) = delete;

    // Result and working arrays for the current d, k and Nc; reports the first
    // result array it cannot obtain and releases what this call obtained.
    bool AllocMemory();
    // Releases every owned array and sets it to null. Flags, counts, the running
    // sum and the incremental lists stay.
    bool FreeMemory();
    // plfOut[i] = plfIn . eigenvector i for i < nOutDim; the input is not centred.
    bool Project2SubSpace(const double* plfIn, double* plfOut, int nOutDim) const;
    // The same for `count` inputs at once, each result bit for bit the one above.
    bool Project2SubSpace(const double* const* pplfIn, int count, double* const* pplfOut, int nOutDim) const;

    // Batch training on N = sum of the class counts samples of nDim values,
    // grouped by class. A class count below 1 is refused.
    bool TrainLDA(double** pplfSamps, int nClassNum, int* pnClassSampNum, int nDim);
    // Class means and the sample-weighted overall mean.
    bool CalcMeans();
    // Between- and within-class scatter, both normalised by N.
    bool CalcScatter();
    // Discriminant vectors and eigenvalues from m_plfSw and m_plfSb.
    bool CalcEigen();
    // A = U W V^T of an m x n matrix (m >= n), see CSVD::Decompose.
    bool SVD(double* A, int m, int n, double* W, double* V);

    // Incremental training (LDAIncremental.cpp): the statistics of earlier classes
    // from an incremental data file plus a new batch of samples grouped by class.
    // An empty path trains on the batch alone (TrainLDA).
    bool IncreaseTrainLDA(double** pplfSamps, int nClassNum, int* pnClassSampNum, int nDim,
                          const char* szIncreaseFile);
    // Its two steps: the file's classes then the batch's into the running
    // statistics and unnormalised scatters (the batch holds nBatchTotal samples);
    // then the mean, normalised scatters and discriminant vectors from them.
    bool AccumulateIncreaseStatistics(double** pplfSamps, int nClassNum, int* pnClassSampNum, int nDim,
                                      const char* szIncreaseFile, int64_t nBatchTotal);
    bool SolveIncreaseSubspace(int nDim);
    bool ReadIncreaseHeader(const char* path, int* pnClassNum, int* pnDim);
    bool ReadIncreaseData(const char* path, double* plfSum, double** pplfClassMeans,
                          double* plfScatter, int nClassNum, int* pnClassSampNum, int nDim);
    // Appends classes (means, counts, sample sum) to the running statistics.
    void AccumulateClasses(double** pplfMeans, int nClassNum, const int* pnCounts, int nDim,
                           const double* plfSum, bool bReset);
    // m_plfSw += plfMat (cleared first when bReset).
    void AddWithinScatter(const double* plfMat, int nDim, bool bReset);
    // Class means of a batch and its sample sum.
    void CalcBatchMeans(double** pplfSamps, int nClassNum, const int* pnCounts, int nDim,
                        double** pplfMeans, double* plfSum);
    // Unnormalised within-class scatter of a batch.
    void CalcBatchScatter(double** pplfSamps, double** pplfMeans, int nClassNum,
                          const int* pnCounts, int nDim, double* plfMat);
    // m_plfSb from the class lists and m_plfMeanVec.
    void CalcBetweenScatter();

    int32_t m_bLDAReady = 0;
    int32_t m_nClassNum = 0;
    int32_t m_nFeatureVecDim = 0;
    int32_t m_nValidEigenNum = 0;
    double** m_pplfEigenVecs = nullptr; // m_nValidEigenNum rows of d doubles
    double** m_pplfMeanVecs = nullptr;  // m_nClassNum rows of d doubles
    double* m_plfEigenVals = nullptr;
    double* m_plfMeanVec = nullptr;
    double m_plfSampSum[kMaxSampSumDim] = {};
    int32_t m_nTotalSampNum = 0;
    int32_t* m_pnClassSampNum = nullptr;  // borrowed during training
    double** m_pplfTrainSamps = nullptr;  // borrowed during training
    double* m_plfSb = nullptr;            // d x d, row-major
    double* m_plfSw = nullptr;            // d x d, row-major
    std::vector<std::vector<double>> m_vecClassMeans; // incremental training, append order
    std::vector<int32_t> m_vecClassSampNum;
};
