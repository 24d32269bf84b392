#include "support/Common.h"

#include "common/ByteOrder.h"
#include "lda/IncreaseStatistics.h"
#include "lda/IncrementalData.h"
#include "support/HandModel.h"

using velmora_test::ScratchDir;

namespace {

// Two classes in two dimensions, worked by hand:
// class 0: (1,2) (3,4)        mean (2,3)  scatter [[2,2],[2,2]]
// class 1: (0,0) (2,0) (4,3)  mean (2,1)  scatter [[8,6],[6,6]]
const double kSamples[5][2] = {{1, 2}, {3, 4}, {0, 0}, {2, 0}, {4, 3}};
const double* const kRows[5] = {kSamples[0], kSamples[1], kSamples[2], kSamples[3], kSamples[4]};
const int kCounts[2] = {2, 3};

} // namespace

TEST(IncreaseStatistics, HandComputedStatisticsInTheExactLayout)
{
    CIncreaseStatistics st;
    ASSERT_TRUE(st.AddClasses(kRows, 1, kCounts, 2)); // batches append classes
    ASSERT_TRUE(st.AddClasses(kRows + 2, 1, kCounts + 1, 2));
    EXPECT_EQ(st.GetTotalSampNum(), 5);
    EXPECT_EQ(st.GetSampSum(), (std::vector<double>{10, 9}));
    EXPECT_EQ(st.GetClassMean(1), (std::vector<double>{2, 1}));
    EXPECT_EQ(st.GetScatter(), (std::vector<double>{10, 8, 8, 8}));

    ScratchDir dir;
    const std::string path = (dir / "hand.inc");
    ASSERT_TRUE(st.Save(path.c_str()));
    const std::string b = velmora_test::ReadFile(path);
    const auto* p = reinterpret_cast<const unsigned char*>(b.data());
    ASSERT_EQ(b.size(), IncreaseFileSize(2, 2));
    ASSERT_EQ(b.size(), 28u + 16 + 2 * 20 + 32);
    EXPECT_EQ(std::memcmp(p, "QuorvaneIncrease2.4", 20), 0); // the zero byte included
    EXPECT_EQ(ReadInt32LE(p + 20), 2);
    EXPECT_EQ(ReadInt32LE(p + 24), 2);
    EXPECT_EQ(ReadDoubleLE(p + 28), 10.0);      // a sum, not a mean
    EXPECT_EQ(ReadDoubleLE(p + 52), 3.0);       // class 0 mean[1]
    EXPECT_EQ(ReadInt32LE(p + 60), 2);          // class 0 count
    EXPECT_EQ(ReadInt32LE(p + 80), 3);          // class 1 count
    EXPECT_EQ(ReadDoubleLE(p + 84), 10.0);      // S[0][0], not divided
    EXPECT_EQ(ReadDoubleLE(p + 108), 8.0);      // S[1][1]

    CIncreaseStatistics back;
    ASSERT_TRUE(back.Load(path.c_str()));
    EXPECT_EQ(back.GetSampSum(), st.GetSampSum());
    EXPECT_EQ(back.GetClassMean(0), st.GetClassMean(0));
    EXPECT_EQ(back.GetClassSampNum(1), 3);
    EXPECT_EQ(back.GetScatter(), st.GetScatter());

    // Refused batches leave the statistics as they were.
    const int empty[2] = {2, 0};
    const double* holes[2] = {kSamples[0], nullptr};
    EXPECT_FALSE(st.AddClasses(kRows, 2, empty, 2));
    EXPECT_FALSE(st.AddClasses(kRows, 1, kCounts, 3));
    EXPECT_FALSE(st.AddClasses(holes, 1, kCounts, 2));
    EXPECT_FALSE(CIncreaseStatistics().AddClasses(kRows, 1, kCounts, kIncreaseMaxDim + 1));
    EXPECT_EQ(st.GetClassNum(), 2);
    EXPECT_FALSE(CIncreaseStatistics().Save(path.c_str())); // no dimension yet
}

// Cut files, other magic bytes, dimensions outside 1..1024, counts the file
// cannot hold and the layout of a negative Nf are checked by the increase_file
// fuzz harness in its replay with the suite.
TEST(IncrementalData, DataReaderInsistsOnItsHeaderAndArrays)
{
    ScratchDir dir;
    CIncreaseStatistics st;
    ASSERT_TRUE(st.AddClasses(kRows, 2, kCounts, 2));
    const std::string good = dir / "good.inc";
    ASSERT_TRUE(st.Save(good.c_str()));
    double sum[2], m0[2], m1[2], scatter[4];
    double* means[2] = {m0, m1};
    int counts[2];
    EXPECT_TRUE(ReadIncreaseFileData(good.c_str(), sum, means, scatter, 2, counts, 2));
    EXPECT_FALSE(ReadIncreaseFileData(good.c_str(), sum, means, scatter, 1, counts, 2));
    EXPECT_FALSE(ReadIncreaseFileData(good.c_str(), sum, means, scatter, 2, counts, 1));
    EXPECT_FALSE(ReadIncreaseFileData(good.c_str(), sum, nullptr, scatter, 2, counts, 2));
    // Trailing bytes are ignored.
    EXPECT_TRUE(CIncreaseStatistics().Load(dir.Write("long.inc", velmora_test::ReadFile(good) + "trailing").c_str()));
}
