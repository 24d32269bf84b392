#pragma once
#include <vector>

// An owned set of template vectors and the three ways of scoring a query
// vector against it. Every score is a mapped cosine, (cos + 1) / 2.
class CTemplateSet {
public:
    enum Mode { kMaxMode = 1, kMeanMode = 2 }; // any other value: feature line

    CTemplateSet(int count, int dimension);
    virtual ~CTemplateSet();

    // False when count or dimension was below 1 or memory ran out.
    bool IsValid() const { return !m_rows.empty(); }
    int Count() const { return m_count; }
    int Dimension() const { return m_dimension; }

    int SetOneTemplate(int index, const double* vector);
    double Similarity(const double* query, int mode);
    double MaxSimilarity(const double* query) const;
    double MeanSimilarity(const double* query);
    double FeatureLineSimilarity(const double* query);
    double CompareSet(CTemplateSet& other, int mode);

private:
    int m_count;
    std::vector<std::vector<double>> m_rows;
    std::vector<double> m_work; // mean vector and foot point
    int m_dimension;
};
