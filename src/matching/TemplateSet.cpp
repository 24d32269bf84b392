#include "matching/TemplateSet.h"

#include <algorithm>
#include <new>

#include "common/MessageSink.h"
#include "common/VectorOps.h"

namespace {
double MappedCosine(const double* a, const double* b, int n)
{
    return (VectorCosine(a, b, n) + 1.0) * 0.5;
}
} // namespace

CTemplateSet::CTemplateSet(int count, int dimension) : m_count(count), m_dimension(dimension)
{
    if (count < 1 || dimension < 1)
        return;
    try {
        m_rows.assign(static_cast<size_t>(count), std::vector<double>(static_cast<size_t>(dimension)));
        m_work.assign(static_cast<size_t>(dimension), 0.0);
    } catch (const std::bad_alloc&) {
        m_rows.clear();
        m_work.clear();
    }
}

CTemplateSet::~CTemplateSet() = default;

int CTemplateSet::SetOneTemplate(int index, const double* vector)
{
    if (vector == nullptr) {
        ShowMessage("SetTemplate: Null template pointer!!");
        return 0;
    }
    if (index < 0 || index >= m_count || !IsValid()) {
        ShowMessage("SetOneTemplate: try to set invalid template No!!",
                    Details("vector index ", index, ", the set holds ", m_count, " vectors",
                            IsValid() ? "" : " and has no memory"));
        return 0;
    }
    std::copy(vector, vector + m_dimension, m_rows[static_cast<size_t>(index)].begin());
    return 1;
}

double CTemplateSet::Similarity(const double* query, int mode)
{
    if (mode == kMaxMode)
        return MaxSimilarity(query);
    if (mode == kMeanMode)
        return MeanSimilarity(query);
    return FeatureLineSimilarity(query);
}

double CTemplateSet::MaxSimilarity(const double* query) const
{
    double best = -1.0;
    for (const std::vector<double>& row : m_rows) {
        const double s = MappedCosine(query, row.data(), m_dimension);
        if (s >= best) // NaN never wins an ordered comparison
            best = s;
    }
    return best;
}

double CTemplateSet::MeanSimilarity(const double* query)
{
    std::fill(m_work.begin(), m_work.end(), 0.0);
    for (const std::vector<double>& row : m_rows)
        for (int k = 0; k < m_dimension; ++k)
            m_work[k] += row[k];
    for (int k = 0; k < m_dimension; ++k)
        m_work[k] /= m_count;
    return MappedCosine(query, m_work.data(), m_dimension);
}

double CTemplateSet::FeatureLineSimilarity(const double* query)
{
    if (m_count == 1)
        return MaxSimilarity(query);
    std::vector<double> a(m_dimension);
    std::vector<double> b(m_dimension);
    double best = 0.0;
    for (int i = 0; i < m_count; ++i) {
        const std::vector<double>& ri = m_rows[i];
        for (int j = i + 1; j < m_count; ++j) {
            const std::vector<double>& rj = m_rows[j];
            for (int k = 0; k < m_dimension; ++k) {
                a[k] = query[k] - ri[k];
                b[k] = rj[k] - ri[k];
            }
            // Foot of the query on the line through both vectors; t is not clipped.
            const double t = VectorDot(a.data(), b.data(), m_dimension) /
                             VectorDot(b.data(), b.data(), m_dimension);
            for (int k = 0; k < m_dimension; ++k)
                m_work[k] = t * b[k] + ri[k];
            const double s = MappedCosine(query, m_work.data(), m_dimension);
            if (s > best)
                best = s;
        }
    }
    return best;
}

double CTemplateSet::CompareSet(CTemplateSet& other, int mode)
{
    // The smaller set asks; on equal counts this set asks.
    CTemplateSet& query = other.m_count < m_count ? other : *this;
    CTemplateSet& gallery = other.m_count < m_count ? *this : other;
    double best = -1.0;
    for (const std::vector<double>& q : query.m_rows) {
        const double s = gallery.Similarity(q.data(), mode);
        if (s > best)
            best = s;
    }
    return best;
}
