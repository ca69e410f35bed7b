// DIB layout and the in-place clean-up operations.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "imaging/image16.h"

static uint32_t Get32(const uint8_t* p)
{
    return p[0] | p[1] << 8 | p[2] << 16 | (uint32_t)p[3] << 24;
}
static uint16_t Get16(const uint8_t* p)
{
    return (uint16_t)(p[0] | p[1] << 8);
}

TEST(Dib16, SizesAndStride)
{
    EXPECT_EQ(DibBlockSize(1, 1), 44u);
    EXPECT_EQ(DibStride(1000), 2000u);
    EXPECT_EQ(DibBlockSize(1000, 1506), 3012040u);
    EXPECT_EQ(DibStride(1301), 2604u);
    EXPECT_EQ(DibBlockSize(0, 5), 0u);
    EXPECT_EQ(DibBlockSize(5, -1), 0u);
    EXPECT_EQ(DibBlockSize(0x7FFFFFFF, 0x7FFFFFFF), 0u) << "a size past 4 GiB must not wrap";
}

TEST(Dib16, HeaderAndBottomUpRowsWithZeroPadding)
{
    const int w = 3, h = 2;
    uint16_t pixels[w * h] = {0x0102, 0x0304, 0xFFFF, 10, 20, 30};
    std::vector<uint8_t> block(DibBlockSize(w, h), 0);
    WriteDib16(block.data(), w, h, pixels);
    const uint8_t* b = block.data();
    EXPECT_EQ(Get32(b + 0), 40u);
    EXPECT_EQ((int32_t)Get32(b + 4), 3);
    EXPECT_EQ((int32_t)Get32(b + 8), 2);
    EXPECT_EQ(Get16(b + 12), 1);
    EXPECT_EQ(Get16(b + 14), 16);
    EXPECT_EQ(Get32(b + 16), 0u);
    EXPECT_EQ(Get32(b + 20), 16u);
    EXPECT_EQ(Get32(b + 24), 50000u);
    EXPECT_EQ(Get32(b + 28), 50000u);
    EXPECT_EQ(Get32(b + 32), 0u);
    EXPECT_EQ(Get32(b + 36), 0u);
    // Image row 0 is the last stored row.
    const uint8_t* stored0 = b + 40;
    const uint8_t* stored1 = b + 40 + 8;
    EXPECT_EQ(Get16(stored1 + 0), 0x0102);
    EXPECT_EQ(Get16(stored1 + 4), 0xFFFF);
    EXPECT_EQ(Get16(stored1 + 6), 0) << "pad";
    EXPECT_EQ(Get16(stored0 + 0), 10);
    EXPECT_EQ(Get16(stored0 + 4), 30);
    EXPECT_EQ(Get16(stored0 + 6), 0) << "pad";
}

TEST(Dib16, OnePixel)
{
    uint16_t pixel = 0xBEEF;
    std::vector<uint8_t> block(44, 0);
    WriteDib16(block.data(), 1, 1, &pixel);
    EXPECT_EQ(Get32(block.data() + 20), 4u);
    EXPECT_EQ(Get16(block.data() + 40), 0xBEEF);
    EXPECT_EQ(Get16(block.data() + 42), 0);
}

TEST(FrameSize, ByVariant)
{
    int32_t w, h;
    FrameSizeForVariant(3, &w, &h);
    EXPECT_EQ(w * 10000 + h, 2580 * 10000 + 1706);
    FrameSizeForVariant(4, &w, &h);
    EXPECT_EQ(w * 10000 + h, 1000 * 10000 + 1506);
    for (int v : {0, 1, 2, 5, -1}) {
        FrameSizeForVariant(v, &w, &h);
        EXPECT_EQ(w * 10000 + h, 1300 * 10000 + 1706) << v;
    }
}

struct Plane {
    int w, h;
    std::vector<uint16_t> px;
    Plane(int w_, int h_, uint16_t fill) : w(w_), h(h_), px((size_t)w_ * h_, fill) {}
    uint16_t& at(int r, int c) { return px[(size_t)r * w + c]; }
};

TEST(EdgeRuns, DarkRunAtRowStartTakesFirstGoodValue)
{
    Plane p(20, 20, 1000);
    uint16_t start[5] = {0, 0, 10, 32, 500};
    for (int c = 0; c < 5; c++)
        p.at(5, c) = start[c];
    p.at(6, 0) = 33;  // not bad: that end stays
    FillDarkEdgeRuns(p.px.data(), p.w, p.h);
    for (int c = 0; c < 5; c++)
        EXPECT_EQ(p.at(5, c), 500) << c;
    EXPECT_EQ(p.at(6, 0), 33);
}

TEST(EdgeRuns, RunsAtEveryEdgeAndLimit)
{
    // 30 x 24: limit = 8. Runs of 7 are repaired, runs of 8 stay.
    Plane p(30, 24, 2000);
    for (int c = 0; c < 7; c++)
        p.at(3, 29 - c) = 65000;  // right end, 7 saturated
    for (int c = 0; c < 8; c++)
        p.at(4, c) = 61000;  // left end, 8 saturated: reaches the limit
    for (int r = 0; r < 2; r++)
        p.at(r, 10) = 60000;  // top of column 10
    p.at(23, 12) = 64000;     // bottom of column 12
    p.at(22, 12) = 1234;
    FillSaturatedEdgeRuns(p.px.data(), p.w, p.h);
    for (int c = 0; c < 7; c++)
        EXPECT_EQ(p.at(3, 29 - c), 2000);
    for (int c = 0; c < 8; c++)
        EXPECT_EQ(p.at(4, c), 61000);
    EXPECT_EQ(p.at(0, 10), 2000);
    EXPECT_EQ(p.at(1, 10), 2000);
    EXPECT_EQ(p.at(23, 12), 1234);
}

TEST(EdgeRuns, SmallImagesUntouched)
{
    for (auto [w, h] : {std::pair{7, 100}, std::pair{100, 7}}) {
        Plane p(w, h, 0);
        p.at(0, 1) = 100;
        std::vector<uint16_t> before = p.px;
        FillDarkEdgeRuns(p.px.data(), w, h);
        EXPECT_EQ(p.px, before);
        std::fill(p.px.begin(), p.px.end(), 65535);
        before = p.px;
        FillSaturatedEdgeRuns(p.px.data(), w, h);
        EXPECT_EQ(p.px, before);
    }
    FillDarkEdgeRuns(nullptr, 100, 100);
}

static int ZeroCount(Plane& p, int r, int from, int to)
{
    int n = 0;
    for (int c = from; c <= to; c++)
        n += p.at(r, c) == 0;
    return n;
}

TEST(BlackenCorners, TrianglesOfStandardSensor)
{
    Plane p(1300, 1706, 7);
    BlackenCorners(p.px.data(), p.w, p.h, 1);
    EXPECT_EQ(ZeroCount(p, 0, 0, 649), 270);
    EXPECT_EQ(ZeroCount(p, 0, 650, 1299), 270);
    EXPECT_EQ(p.at(0, 270), 7);
    EXPECT_EQ(ZeroCount(p, 269, 0, 1299), 2);
    EXPECT_EQ(p.at(269, 0), 0);
    EXPECT_EQ(p.at(269, 1299), 0);
    EXPECT_EQ(ZeroCount(p, 270, 0, 1299), 0);
    EXPECT_EQ(ZeroCount(p, 1705, 0, 1299), 0) << "no wedge for this variant";
}

TEST(BlackenCorners, SizeThreeTrianglesAndWedge)
{
    Plane p(2580, 1706, 7);
    BlackenCorners(p.px.data(), p.w, p.h, 3);
    EXPECT_EQ(ZeroCount(p, 0, 0, 1289), 281);
    EXPECT_EQ(ZeroCount(p, 280, 0, 2579), 2);
    EXPECT_EQ(ZeroCount(p, 281, 0, 2579), 0);
    EXPECT_EQ(ZeroCount(p, 1256, 0, 2579), 0);
    EXPECT_EQ(ZeroCount(p, 1257, 0, 2579), 3);
    EXPECT_EQ(p.at(1257, 1288), 7);
    EXPECT_EQ(p.at(1257, 1289), 0);
    EXPECT_EQ(p.at(1257, 1291), 0);
    EXPECT_EQ(ZeroCount(p, 1705, 0, 2579), 1601);
    EXPECT_EQ(p.at(1705, 489), 7);
    EXPECT_EQ(p.at(1705, 490), 0);
    EXPECT_EQ(p.at(1705, 2090), 0);
    EXPECT_EQ(p.at(1705, 2091), 7);
}

TEST(BlackenCorners, NarrowImageStaysInBounds)
{
    Plane p(5, 3, 9);
    BlackenCorners(p.px.data(), p.w, p.h, 3);
    for (uint16_t v : p.px)
        EXPECT_EQ(v, 0);
}

TEST(StampMark, ComplementsMarkedCellsAndIsItsOwnInverse)
{
    Plane p(100, 40, 1000);
    p.at(39, 99) = 5;
    std::vector<uint16_t> before = p.px;
    StampMark(p.px.data(), p.w, p.h);
    int marked = 0;
    for (int r = 0; r < kMarkRows; r++)
        for (int c = 0; c < kMarkColumns; c++) {
            EXPECT_EQ(p.at(r, c), kMark[r][c] ? 64535 : 1000);
            marked += kMark[r][c];
        }
    EXPECT_GT(marked, 200);
    EXPECT_EQ(p.at(39, 99), 5);
    StampMark(p.px.data(), p.w, p.h);
    EXPECT_EQ(p.px, before);

    Plane narrow(84, 40, 1000), low(100, 34, 1000);
    StampMark(narrow.px.data(), narrow.w, narrow.h);
    StampMark(low.px.data(), low.w, low.h);
    EXPECT_EQ(narrow.px, std::vector<uint16_t>(84 * 40, 1000));
    EXPECT_EQ(low.px, std::vector<uint16_t>(100 * 34, 1000));
}
