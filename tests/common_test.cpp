#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <limits>

#include "common/ByteOrder.h"
#include "common/File.h"
#include "common/RowTable.h"
#include "common/VectorOps.h"

TEST(VectorOps, DotNormalizeCosine)
{
    const double a[] = {1, 2, 3};
    const double b[] = {4, -5, 6};
    EXPECT_EQ(VectorDot(a, b, 3), 12.0);
    EXPECT_EQ(VectorDot(a, b, 0), 0.0);
    EXPECT_EQ(VectorDot(a, b, -4), 0.0);
    EXPECT_NEAR(VectorCosine(a, b, 3), 12.0 / (std::sqrt(14.0) * std::sqrt(77.0)), 1e-15);

    double v[] = {3, 4};
    EXPECT_EQ(VectorNormalize(v, 2), 5.0);
    EXPECT_DOUBLE_EQ(v[0], 0.6);
    EXPECT_DOUBLE_EQ(v[1], 0.8);
    double zero[] = {0, 0};
    EXPECT_EQ(VectorNormalize(zero, 2), 0.0);
    EXPECT_TRUE(std::isnan(zero[0]));
}

TEST(RowTable, RefusesEmptyShapesAndAllocatesRows)
{
    EXPECT_EQ(New2DPointer(0, 5), nullptr);
    EXPECT_EQ(New2DPointer(5, 0), nullptr);
    EXPECT_EQ(New2DPointer(-1, -1), nullptr);
    double** t = New2DPointer(3, 4);
    ASSERT_NE(t, nullptr);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 4; ++j)
            t[i][j] = i * 4 + j; // every row writable (checked under ASan)
    EXPECT_EQ(t[2][3], 11.0);
    Delete2DPointer(t, 3);
    Delete2DPointer(nullptr, 3);
}

TEST(ByteOrder, LittleEndianRoundTrip)
{
    unsigned char b[8];
    WriteInt32LE(b, -2);
    EXPECT_EQ(b[0], 0xfe);
    EXPECT_EQ(b[3], 0xff);
    EXPECT_EQ(ReadInt32LE(b), -2);
    WriteInt32LE(b, 0x01020304);
    EXPECT_EQ(b[0], 4);
    EXPECT_EQ(b[3], 1);
    WriteDoubleLE(b, 1.0); // 0x3ff0000000000000
    EXPECT_EQ(b[7], 0x3f);
    EXPECT_EQ(b[6], 0xf0);
    EXPECT_EQ(b[0], 0);
    const double nan = std::numeric_limits<double>::quiet_NaN();
    WriteDoubleLE(b, nan);
    EXPECT_TRUE(std::isnan(ReadDoubleLE(b)));
    WriteDoubleLE(b, -1.5e300);
    EXPECT_EQ(ReadDoubleLE(b), -1.5e300);
}

TEST(File, WritesReadsAndReportsShortReads)
{
    const auto path = std::filesystem::temp_directory_path() / "velmora_common_file.bin";
    {
        CFile f;
        ASSERT_TRUE(f.Open(path.string(), CFile::modeCreate | CFile::modeWrite));
        const double values[] = {1.25, -3.0, 1e-300};
        EXPECT_TRUE(f.WriteInt32(-7));
        EXPECT_TRUE(f.WriteDoubles(values, 3));
    }
    CFile f;
    ASSERT_TRUE(f.Open(path.string(), CFile::modeRead));
    EXPECT_EQ(f.GetLength(), 28u);
    EXPECT_EQ(f.GetFileName(), "velmora_common_file.bin");
    int32_t i = 0;
    double d[3] = {};
    EXPECT_TRUE(f.ReadInt32(i));
    EXPECT_EQ(i, -7);
    EXPECT_TRUE(f.ReadDoubles(d, 3));
    EXPECT_EQ(d[2], 1e-300);
    EXPECT_FALSE(f.ReadDouble(d[0])); // end of file
    EXPECT_TRUE(f.Seek(4));
    EXPECT_TRUE(f.ReadDouble(d[0]));
    EXPECT_EQ(d[0], 1.25);
    f.Close();
    std::filesystem::remove(path);
    EXPECT_FALSE(f.Open(path.string(), CFile::modeRead));
}
