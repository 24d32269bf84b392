#pragma once
// Subspace model files and templates built byte by byte, independently of the
// library's writers (counts are written as given, so inconsistent files can be made).
#include <climits>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "common/ByteOrder.h"
#include "support/ScratchDir.h"

namespace velmora_test {

struct HandModel {
    int32_t n = 17, d = 0, k = 0, s = 0, l = 0, e = 0;
    std::vector<double> mean, stdDev, eigenVals, ldaEigenVals, ldaMean;
    std::vector<std::vector<double>> eigenVecs, ldaVecs;

    std::string Bytes() const
    {
        std::string out;
        auto put = [&out](uint64_t bits, int size) {
            for (int i = 0; i < size; ++i)
                out.push_back(static_cast<char>((bits >> (8 * i)) & 0xff));
        };
        auto putDoubles = [&put](const std::vector<double>& v) {
            for (double x : v) {
                uint64_t bits;
                std::memcpy(&bits, &x, 8);
                put(bits, 8);
            }
        };
        for (int32_t v : {n, d, k})
            put(static_cast<uint32_t>(v), 4);
        for (double m : mean) // the mean truncated to bytes
            out.push_back(static_cast<char>(static_cast<int>(m) & 0xff));
        putDoubles(mean);
        putDoubles(stdDev);
        putDoubles(eigenVals);
        for (const auto& row : eigenVecs)
            putDoubles(row);
        for (int32_t v : {s, l, e})
            put(static_cast<uint32_t>(v), 4);
        putDoubles(ldaEigenVals);
        putDoubles(ldaMean);
        for (const auto& row : ldaVecs)
            putDoubles(row);
        return out;
    }
};

// D features, K PCA rows that are unit vectors at pick(i), S skipped, L LDA rows
// of E = K - S values, row i the unit vector i % E. Mean 0.5 j; deviation 2, or
// 0 (value passed through raw) for every third component.
template <typename Pick>
HandModel BasisModel(int d, int k, int s, int l, Pick pick)
{
    HandModel m;
    m.d = d, m.k = k, m.s = s, m.l = l, m.e = k - s;
    auto unit = [](int size, int at) {
        std::vector<double> v(static_cast<size_t>(size), 0.0);
        v[static_cast<size_t>(at)] = 1.0;
        return v;
    };
    for (int j = 0; j < d; ++j) {
        m.mean.push_back(0.5 * j);
        m.stdDev.push_back(j % 3 == 0 ? 0.0 : 2.0);
    }
    for (int i = 0; i < k; ++i) {
        m.eigenVals.push_back(100.0 - i);
        m.eigenVecs.push_back(unit(d, pick(i)));
    }
    for (int i = 0; i < l; ++i) {
        m.ldaEigenVals.push_back(10.0 - i);
        m.ldaVecs.push_back(unit(m.e, i % m.e));
    }
    for (int j = 0; j < m.e; ++j)
        m.ldaMean.push_back(-1.0 * j);
    return m;
}

inline HandModel BasisModel(int d, int k, int s, int l)
{
    return BasisModel(d, k, s, l, [](int i) { return i; });
}

// A template: count and length (those of the vectors unless given), then the values.
inline Bytes TemplateOf(const std::vector<std::vector<double>>& vectors, int32_t count = INT32_MIN,
                        int32_t length = INT32_MIN)
{
    const size_t n = vectors.empty() ? 0 : vectors[0].size();
    Bytes t(8 + 8 * vectors.size() * n);
    WriteInt32LE(t.data(), count != INT32_MIN ? count : static_cast<int32_t>(vectors.size()));
    WriteInt32LE(t.data() + 4, length != INT32_MIN ? length : static_cast<int32_t>(n));
    for (size_t i = 0; i < vectors.size() * n; ++i)
        WriteDoubleLE(t.data() + 8 + 8 * i, vectors[i / n][i % n]);
    return t;
}

} // namespace velmora_test
