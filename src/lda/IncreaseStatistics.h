#pragma once
// Builds incremental data files: the statistics of labelled LDA input vectors
// (for instance PCA coefficients of faces) in the layout of lda/IncrementalData.h.
// Every batch of classes is appended as classes of its own; nothing is merged.
#include <cstdint>
#include <vector>

class CIncreaseStatistics {
public:
    CIncreaseStatistics() = default;

    // Empty statistics of dimension nDim (1..kIncreaseMaxDim): no classes, zero sums.
    // A file saved right after holds Nf = 0, a zero sum and a zero scatter.
    bool Reset(int nDim);

    // Replaces the statistics with those of an incremental data file. On failure
    // the object is left as it was.
    bool Load(const char* path);

    // Appends nClassNum classes: pplfSamps holds their samples grouped by class,
    // pnClassSampNum[i] rows of nDim doubles for class i. On an empty object the
    // dimension is taken from nDim. False, leaving the object unchanged, on a null
    // array or row, a class with fewer than one sample, nClassNum below 0, or a
    // dimension that differs from the one held or lies outside 1..kIncreaseMaxDim.
    bool AddClasses(const double* const* pplfSamps, int nClassNum, const int* pnClassSampNum,
                    int nDim);

    // Writes the file; a partly written file is removed.
    bool Save(const char* path) const;

    int GetDim() const { return m_nDim; }
    int GetClassNum() const { return static_cast<int>(m_vecClassSampNum.size()); }
    int64_t GetTotalSampNum() const;
    const std::vector<double>& GetSampSum() const { return m_vecSampSum; }
    const std::vector<double>& GetClassMean(int i) const { return m_vecClassMeans[i]; }
    int GetClassSampNum(int i) const { return m_vecClassSampNum[i]; }
    // Unnormalised within-class scatter, nDim x nDim row-major.
    const std::vector<double>& GetScatter() const { return m_vecScatter; }

private:
    int m_nDim = 0;
    std::vector<double> m_vecSampSum;
    std::vector<std::vector<double>> m_vecClassMeans;
    std::vector<int32_t> m_vecClassSampNum;
    std::vector<double> m_vecScatter;
};
