#include "support/Common.h"

#include <cstdio>

#include "common/AlignedVector.h"
#include "common/File.h"
#include "common/RowTable.h"
#include "common/VectorOps.h"
#include "support/ScratchDir.h"

TEST(VectorOps, DotNormalizeCosine)
{
    const double a[] = {1, 2, 3};
    const double b[] = {4, -5, 6};
    EXPECT_EQ(VectorDot(a, b, 3), 12.0);
    EXPECT_EQ(VectorDot(a, b, 0), 0.0);
    EXPECT_EQ(VectorDot(a, b, -4), 0.0);
    EXPECT_NEAR(VectorCosine(a, b, 3), 12.0 / (std::sqrt(14.0) * std::sqrt(77.0)), 1e-15);

    double v[] = {3, 4}, zero[] = {0, 0};
    EXPECT_EQ(VectorNormalize(v, 2), 5.0);
    EXPECT_TRUE(std::fabs(v[0] - 0.6) < 1e-15 && std::fabs(v[1] - 0.8) < 1e-15) << v[0] << " " << v[1];
    EXPECT_EQ(VectorNormalize(zero, 2), 0.0);
    EXPECT_TRUE(std::isnan(zero[0]));
}

TEST(RowTable, RefusesEmptyShapesAllocatesRowsAndAlignsVectors)
{
    for (const auto& [rows, columns] : {std::pair{0, 5}, {5, 0}, {-1, -1}})
        EXPECT_EQ(New2DPointer(rows, columns), nullptr);
    double** t = New2DPointer(3, 4);
    ASSERT_NE(t, nullptr);
    for (int i = 0; i < 3; ++i)
        for (int j = 0; j < 4; ++j)
            t[i][j] = i * 4 + j; // every row writable (checked under ASan)
    EXPECT_EQ(t[2][3], 11.0);
    Delete2DPointer(t, 3);
    Delete2DPointer(nullptr, 3);
    // Sizes on either side of the allocator's switch to mapped pages.
    for (size_t n : {size_t{3}, size_t{1} << 20}) {
        AlignedVector<double> v(n, 1.0);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(v.data()) % 64, 0u) << n;
    }
}

TEST(File, WritesReadsAndReportsShortReads)
{
    velmora_test::ScratchDir dir;
    const std::string path = dir / "velmora_common_file.bin";
    {
        CFile f;
        ASSERT_TRUE(f.Open(path, CFile::modeCreate | CFile::modeWrite));
        const double values[] = {1.25, -3.0, 1e-300};
        EXPECT_TRUE(f.WriteInt32(-7));
        EXPECT_TRUE(f.WriteDoubles(values, 3));
    }
    CFile f;
    ASSERT_TRUE(f.Open(path, CFile::modeRead));
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
    EXPECT_FALSE(f.Open(dir / "absent", CFile::modeRead));
}
