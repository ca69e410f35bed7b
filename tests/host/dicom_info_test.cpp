#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "host/dicom_info.h"

static std::string TextAt(const std::vector<uint8_t>& b, size_t offset)
{
    return std::string((const char*)&b[offset]);
}
static uint32_t U32(const std::vector<uint8_t>& b, size_t o)
{
    return b[o] | b[o + 1] << 8 | b[o + 2] << 16 | (uint32_t)b[o + 3] << 24;
}

TEST(DicomInfo, RecordForContext)
{
    std::vector<uint8_t> rec(kDicomInfoSize, 0xCC);
    BuildDicomInfo(7, 9, "STATION", rec.data());
    EXPECT_EQ(U32(rec, 0), 1584u);
    EXPECT_EQ(TextAt(rec, 4), "1.2.840.10008.5.1.4.1.1.1.3");
    EXPECT_EQ(TextAt(rec, 68), "IO");
    EXPECT_EQ(TextAt(rec, 100), "Nyra");
    EXPECT_EQ(TextAt(rec, 164), "Nyra");
    EXPECT_EQ(TextAt(rec, 420), "1.2.826.0.1.3680043.9.7000.7");
    EXPECT_EQ(TextAt(rec, 484), "STATION");
    EXPECT_EQ(TextAt(rec, 1152), "JAW");
    EXPECT_EQ(TextAt(rec, 1216), "1.2.826.0.1.3680043.9.7001.7");
    EXPECT_EQ(TextAt(rec, 1280), "1.9.7.9");
    EXPECT_EQ(TextAt(rec, 1312), "Maxilla and mandible");
    EXPECT_EQ(TextAt(rec, 1376), "T-D1217");
    EXPECT_EQ(U32(rec, 1440), 1u);
    EXPECT_EQ(U32(rec, 1572), 7u);
    EXPECT_EQ(U32(rec, 1576), 9u);
    EXPECT_EQ(U32(rec, 1580), 0u);
    // Every byte outside the listed fields and texts is zero.
    EXPECT_EQ(rec[68 + 2], 0);
    for (size_t i = 548; i < 1152; i++)
        ASSERT_EQ(rec[i], 0) << i;
    for (size_t i = 1444; i < 1572; i++)
        ASSERT_EQ(rec[i], 0) << i;
}

TEST(DicomInfo, LargestContextAndCopySize)
{
    std::vector<uint8_t> rec(kDicomInfoSize);
    BuildDicomInfo(4294967295u, 4294967295u, nullptr, rec.data());
    EXPECT_EQ(TextAt(rec, 1280), "1.9.4294967295.4294967295");
    EXPECT_EQ(TextAt(rec, 484), "");
    EXPECT_EQ(DicomCopySize(100), 100u);
    EXPECT_EQ(DicomCopySize(0), 1584u);
    EXPECT_EQ(DicomCopySize(1), 1u);
    EXPECT_EQ(DicomCopySize(1583), 1583u);
    EXPECT_EQ(DicomCopySize(5000), 1584u);
}
