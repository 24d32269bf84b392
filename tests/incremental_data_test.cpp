#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/ByteOrder.h"
#include "lda/IncrementalData.h"
#include "lda/IncreaseStatistics.h"

namespace {

std::string TempPath(const std::string& name)
{
    return (std::filesystem::temp_directory_path() / ("velmora_incdata_" + name)).string();
}

std::vector<unsigned char> ReadBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(in), {});
}

void WriteBytes(const std::string& path, const std::vector<unsigned char>& bytes, size_t n)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(n));
}

// Hand-built file: header with any Nf and d, then the given doubles and counts.
struct RawFile {
    std::vector<unsigned char> bytes;
    RawFile(int32_t nf, int32_t d)
    {
        bytes.assign(g_szIncreaseMagic, g_szIncreaseMagic + kIncreaseMagicSize);
        Int(nf);
        Int(d);
    }
    void Int(int32_t v)
    {
        unsigned char b[4];
        WriteInt32LE(b, v);
        bytes.insert(bytes.end(), b, b + 4);
    }
    void Doubles(std::initializer_list<double> vs)
    {
        for (double v : vs) {
            unsigned char b[8];
            WriteDoubleLE(b, v);
            bytes.insert(bytes.end(), b, b + 8);
        }
    }
};

// Two classes in two dimensions, worked by hand:
// class 0: (1,2) (3,4)        mean (2,3)  scatter [[2,2],[2,2]]
// class 1: (0,0) (2,0) (4,3)  mean (2,1)  scatter [[8,6],[6,6]]
struct HandBatch {
    double s[5][2] = {{1, 2}, {3, 4}, {0, 0}, {2, 0}, {4, 3}};
    const double* rows[5] = {s[0], s[1], s[2], s[3], s[4]};
    int counts[2] = {2, 3};
};

} // namespace

TEST(IncreaseStatistics, HandComputedSumsMeansAndScatter)
{
    HandBatch b;
    CIncreaseStatistics st;
    ASSERT_TRUE(st.AddClasses(b.rows, 2, b.counts, 2));
    EXPECT_EQ(st.GetDim(), 2);
    EXPECT_EQ(st.GetClassNum(), 2);
    EXPECT_EQ(st.GetTotalSampNum(), 5);
    EXPECT_EQ(st.GetSampSum(), (std::vector<double>{10, 9}));
    EXPECT_EQ(st.GetClassMean(0), (std::vector<double>{2, 3}));
    EXPECT_EQ(st.GetClassMean(1), (std::vector<double>{2, 1}));
    EXPECT_EQ(st.GetClassSampNum(1), 3);
    EXPECT_EQ(st.GetScatter(), (std::vector<double>{10, 8, 8, 8}));

    // The same classes in two batches give the same statistics: batches append classes.
    CIncreaseStatistics two;
    ASSERT_TRUE(two.AddClasses(b.rows, 1, b.counts, 2));
    ASSERT_TRUE(two.AddClasses(b.rows + 2, 1, b.counts + 1, 2));
    EXPECT_EQ(two.GetSampSum(), st.GetSampSum());
    EXPECT_EQ(two.GetScatter(), st.GetScatter());
    EXPECT_EQ(two.GetClassMean(1), st.GetClassMean(1));
}

TEST(IncreaseStatistics, RefusesBadBatchesAndLeavesItselfUnchanged)
{
    HandBatch b;
    CIncreaseStatistics st;
    ASSERT_TRUE(st.AddClasses(b.rows, 1, b.counts, 2));
    const auto scatter = st.GetScatter();

    int zero[2] = {2, 0};
    EXPECT_FALSE(st.AddClasses(b.rows, 2, zero, 2));            // empty class
    EXPECT_FALSE(st.AddClasses(b.rows, 1, b.counts, 3));        // other dimension
    EXPECT_FALSE(st.AddClasses(b.rows, -1, b.counts, 2));
    EXPECT_FALSE(st.AddClasses(nullptr, 1, b.counts, 2));
    const double* holes[2] = {b.s[0], nullptr};
    EXPECT_FALSE(st.AddClasses(holes, 1, b.counts, 2));         // missing row
    EXPECT_EQ(st.GetClassNum(), 1);
    EXPECT_EQ(st.GetScatter(), scatter);

    CIncreaseStatistics fresh;
    EXPECT_FALSE(fresh.AddClasses(b.rows, 1, b.counts, kIncreaseMaxDim + 1));
    EXPECT_FALSE(fresh.Reset(0));
    EXPECT_FALSE(fresh.Save(TempPath("never").c_str())); // no dimension yet
    EXPECT_FALSE(std::filesystem::exists(TempPath("never")));
}

TEST(IncrementalData, WriterProducesTheExactLayoutAndReadsBack)
{
    HandBatch b;
    CIncreaseStatistics st;
    ASSERT_TRUE(st.AddClasses(b.rows, 2, b.counts, 2));
    const std::string path = TempPath("roundtrip.inc");
    ASSERT_TRUE(st.Save(path.c_str()));

    const auto bytes = ReadBytes(path);
    ASSERT_EQ(bytes.size(), IncreaseFileSize(2, 2));
    ASSERT_EQ(bytes.size(), 28u + 16 + 2 * (16 + 4) + 32);
    EXPECT_EQ(std::memcmp(bytes.data(), "QuorvaneIncrease2.4", 20), 0); // includes the zero
    EXPECT_EQ(ReadInt32LE(&bytes[20]), 2);
    EXPECT_EQ(ReadInt32LE(&bytes[24]), 2);
    EXPECT_EQ(ReadDoubleLE(&bytes[28]), 10.0);                 // a sum, not a mean
    EXPECT_EQ(ReadDoubleLE(&bytes[28 + 16 + 8]), 3.0);         // class 0 mean[1]
    EXPECT_EQ(ReadInt32LE(&bytes[28 + 32]), 2);                // class 0 count
    EXPECT_EQ(ReadInt32LE(&bytes[28 + 16 + 20 + 16]), 3);      // class 1 count
    EXPECT_EQ(ReadDoubleLE(&bytes[28 + 16 + 40]), 10.0);       // S[0][0], not divided
    EXPECT_EQ(ReadDoubleLE(&bytes[28 + 16 + 40 + 24]), 8.0);   // S[1][1]

    int nf = 0, d = 0;
    ASSERT_TRUE(ReadIncreaseFileHeader(path.c_str(), &nf, &d));
    EXPECT_EQ(nf, 2);
    EXPECT_EQ(d, 2);
    double sum[2], m0[2], m1[2], scatter[4];
    double* means[2] = {m0, m1};
    int counts[2];
    ASSERT_TRUE(ReadIncreaseFileData(path.c_str(), sum, means, scatter, 2, counts, 2));
    EXPECT_EQ(m1[0], 2.0);
    EXPECT_EQ(m1[1], 1.0);
    EXPECT_EQ(counts[1], 3);
    EXPECT_EQ(scatter[1], 8.0);

    CIncreaseStatistics back;
    ASSERT_TRUE(back.Load(path.c_str()));
    EXPECT_EQ(back.GetSampSum(), st.GetSampSum());
    EXPECT_EQ(back.GetClassMean(0), st.GetClassMean(0));
    EXPECT_EQ(back.GetClassSampNum(1), 3);
    EXPECT_EQ(back.GetScatter(), st.GetScatter());

    // An empty statistics file: Nf = 0, zero sum and scatter.
    CIncreaseStatistics empty;
    ASSERT_TRUE(empty.Reset(3));
    ASSERT_TRUE(empty.Save(path.c_str()));
    EXPECT_EQ(ReadBytes(path).size(), 28u + 24 + 72);
    ASSERT_TRUE(back.Load(path.c_str()));
    EXPECT_EQ(back.GetClassNum(), 0);
    EXPECT_EQ(back.GetScatter(), std::vector<double>(9, 0.0));
    std::filesystem::remove(path);
}

TEST(IncrementalData, TruncationAnywhereAndForeignMagicFail)
{
    HandBatch b;
    CIncreaseStatistics st;
    ASSERT_TRUE(st.AddClasses(b.rows, 2, b.counts, 2));
    const std::string good = TempPath("good.inc");
    const std::string bad = TempPath("bad.inc");
    ASSERT_TRUE(st.Save(good.c_str()));
    const auto bytes = ReadBytes(good);

    double sum[2], m0[2], m1[2], scatter[4];
    double* means[2] = {m0, m1};
    int counts[2];
    for (size_t n = 0; n < bytes.size(); ++n) {
        WriteBytes(bad, bytes, n);
        int nf = -7, d = -7;
        EXPECT_FALSE(ReadIncreaseFileHeader(bad.c_str(), &nf, &d)) << "cut at " << n;
        EXPECT_EQ(nf, -7);
        EXPECT_FALSE(ReadIncreaseFileData(bad.c_str(), sum, means, scatter, 2, counts, 2))
            << "cut at " << n;
        CIncreaseStatistics keep;
        EXPECT_FALSE(keep.Load(bad.c_str()));
    }
    for (size_t i = 0; i < kIncreaseMagicSize; ++i) {
        auto changed = bytes;
        changed[i] ^= (i == 19) ? 0x20 : 0x01; // the terminating zero counts too
        WriteBytes(bad, changed, changed.size());
        int nf, d;
        EXPECT_FALSE(ReadIncreaseFileHeader(bad.c_str(), &nf, &d)) << "magic byte " << i;
        EXPECT_FALSE(ReadIncreaseFileData(bad.c_str(), sum, means, scatter, 2, counts, 2));
    }
    // Trailing bytes are ignored.
    auto longer = bytes;
    longer.insert(longer.end(), 13, 0xab);
    WriteBytes(bad, longer, longer.size());
    CIncreaseStatistics back;
    EXPECT_TRUE(back.Load(bad.c_str()));
    EXPECT_EQ(back.GetScatter(), st.GetScatter());
    EXPECT_FALSE(ReadIncreaseFileHeader(TempPath("missing.inc").c_str(), counts, counts + 1));
    EXPECT_FALSE(ReadIncreaseFileHeader(nullptr, counts, counts + 1));
    std::filesystem::remove(good);
    std::filesystem::remove(bad);
}

TEST(IncrementalData, HostileCountsAndMismatchedCallsFail)
{
    const std::string path = TempPath("hostile.inc");
    int nf = 0, d = 0;
    // Dimensions outside 1..1024 and counts the file length cannot back.
    for (int32_t dim : {0, -1, INT_MIN, kIncreaseMaxDim + 1, INT_MAX}) {
        RawFile f(0, dim);
        f.bytes.resize(f.bytes.size() + 4096, 0);
        WriteBytes(path, f.bytes, f.bytes.size());
        EXPECT_FALSE(ReadIncreaseFileHeader(path.c_str(), &nf, &d)) << "d = " << dim;
    }
    for (int32_t classes : {INT_MAX, 1 << 20, 2}) {
        RawFile f(classes, 1);
        f.Doubles({1.0, 2.0, 3.0});
        WriteBytes(path, f.bytes, f.bytes.size());
        EXPECT_FALSE(ReadIncreaseFileHeader(path.c_str(), &nf, &d)) << "Nf = " << classes;
    }
    EXPECT_EQ(IncreaseFileSize(INT_MAX, kIncreaseMaxDim),
              28u + 8192 + uint64_t(INT_MAX) * 8196 + 8ull * 1024 * 1024);

    // A negative Nf means no class records: S follows the sum directly.
    RawFile neg(-5, 1);
    neg.Doubles({4.0, 9.0});
    WriteBytes(path, neg.bytes, neg.bytes.size());
    ASSERT_TRUE(ReadIncreaseFileHeader(path.c_str(), &nf, &d));
    EXPECT_EQ(nf, -5);
    double sum = 0, scatter = 0;
    ASSERT_TRUE(ReadIncreaseFileData(path.c_str(), &sum, nullptr, &scatter, -5, nullptr, 1));
    EXPECT_EQ(sum, 4.0);
    EXPECT_EQ(scatter, 9.0);
    CIncreaseStatistics st;
    ASSERT_TRUE(st.Load(path.c_str()));
    EXPECT_EQ(st.GetClassNum(), 0);

    // The data reader insists on the header it was sized for and on its arrays.
    RawFile one(1, 1);
    one.Doubles({4.0, 4.0});
    one.Int(1);
    one.Doubles({0.0});
    WriteBytes(path, one.bytes, one.bytes.size());
    double mean = 0;
    double* means[1] = {&mean};
    int count = 0;
    EXPECT_TRUE(ReadIncreaseFileData(path.c_str(), &sum, means, &scatter, 1, &count, 1));
    EXPECT_EQ(count, 1);
    EXPECT_FALSE(ReadIncreaseFileData(path.c_str(), &sum, means, &scatter, 0, &count, 1));
    EXPECT_FALSE(ReadIncreaseFileData(path.c_str(), &sum, means, &scatter, 1, &count, 2));
    EXPECT_FALSE(ReadIncreaseFileData(path.c_str(), &sum, nullptr, &scatter, 1, &count, 1));
    double* holes[1] = {nullptr};
    EXPECT_FALSE(ReadIncreaseFileData(path.c_str(), &sum, holes, &scatter, 1, &count, 1));
    EXPECT_FALSE(ReadIncreaseFileData(path.c_str(), nullptr, means, &scatter, 1, &count, 1));
    std::filesystem::remove(path);
}
