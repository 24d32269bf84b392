#pragma once
// Builds subspace model files byte by byte, independently of the library's
// writer, and writes scratch files for tests.
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <unistd.h>

namespace velmora_test {

class ByteWriter {
public:
    void Int32(int32_t v)
    {
        uint32_t u;
        std::memcpy(&u, &v, 4);
        for (int i = 0; i < 4; ++i)
            m_bytes.push_back(static_cast<char>((u >> (8 * i)) & 0xff));
    }
    void Double(double v)
    {
        uint64_t u;
        std::memcpy(&u, &v, 8);
        for (int i = 0; i < 8; ++i)
            m_bytes.push_back(static_cast<char>((u >> (8 * i)) & 0xff));
    }
    void Doubles(const std::vector<double>& v)
    {
        for (double x : v)
            Double(x);
    }
    void Byte(unsigned char b) { m_bytes.push_back(static_cast<char>(b)); }
    const std::string& Bytes() const { return m_bytes; }

private:
    std::string m_bytes;
};

// The fields of a model file, in file order; the writer takes them as they are,
// so inconsistent counts can be produced on purpose.
struct HandModel {
    int32_t n = 0;
    int32_t d = 0;
    int32_t k = 0;
    std::vector<unsigned char> meanBytes;
    std::vector<double> mean;
    std::vector<double> stdDev;
    std::vector<double> eigenVals;
    std::vector<std::vector<double>> eigenVecs;
    int32_t s = 0;
    int32_t l = 0;
    int32_t e = 0;
    std::vector<double> ldaEigenVals;
    std::vector<double> ldaMean;
    std::vector<std::vector<double>> ldaVecs;

    std::string Bytes() const
    {
        ByteWriter w;
        w.Int32(n);
        w.Int32(d);
        w.Int32(k);
        for (unsigned char b : meanBytes)
            w.Byte(b);
        w.Doubles(mean);
        w.Doubles(stdDev);
        w.Doubles(eigenVals);
        for (const auto& row : eigenVecs)
            w.Doubles(row);
        w.Int32(s);
        w.Int32(l);
        w.Int32(e);
        w.Doubles(ldaEigenVals);
        w.Doubles(ldaMean);
        for (const auto& row : ldaVecs)
            w.Doubles(row);
        return w.Bytes();
    }
};

inline std::vector<double> UnitVector(int dim, int index, double scale = 1.0)
{
    std::vector<double> v(static_cast<size_t>(dim), 0.0);
    v[static_cast<size_t>(index)] = scale;
    return v;
}

// A consistent model: D features, K PCA vectors, S skipped, L LDA vectors of
// E = K - S values. PCA rows are unit basis vectors, so the PCA coefficients are
// the standardised features; LDA row i is the unit vector of its component i.
inline HandModel BasisModel(int d, int k, int s, int l)
{
    HandModel m;
    m.n = 17;
    m.d = d;
    m.k = k;
    for (int j = 0; j < d; ++j) {
        m.meanBytes.push_back(static_cast<unsigned char>(j));
        m.mean.push_back(0.5 * j);
        m.stdDev.push_back(j % 3 == 0 ? 0.0 : 2.0); // every third component passes through
    }
    for (int i = 0; i < k; ++i) {
        m.eigenVals.push_back(100.0 - i);
        m.eigenVecs.push_back(UnitVector(d, i));
    }
    m.s = s;
    m.l = l;
    m.e = k - s;
    for (int i = 0; i < l; ++i) {
        m.ldaEigenVals.push_back(10.0 - i);
        m.ldaVecs.push_back(UnitVector(m.e, i % m.e));
    }
    for (int j = 0; j < m.e; ++j)
        m.ldaMean.push_back(-1.0 * j);
    return m;
}

class ScratchDir {
public:
    ScratchDir()
    {
        m_dir = std::filesystem::temp_directory_path() /
                ("velmora_test_" + std::to_string(::getpid()) + "_" + std::to_string(s_serial++));
        std::filesystem::create_directories(m_dir);
    }
    ~ScratchDir()
    {
        std::error_code ec;
        std::filesystem::remove_all(m_dir, ec);
    }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    std::string Path(const std::string& name) const { return (m_dir / name).string(); }
    std::string Write(const std::string& name, const std::string& bytes) const
    {
        const std::string path = Path(name);
        std::ofstream(path, std::ios::binary).write(bytes.data(),
                                                    static_cast<std::streamsize>(bytes.size()));
        return path;
    }
    static std::string Read(const std::string& path)
    {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

private:
    std::filesystem::path m_dir;
    static inline int s_serial = 0;
};

} // namespace velmora_test
