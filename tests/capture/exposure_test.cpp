// Exposure classification (block, bounds, log line) and the indicator stamp: position, sizes,
// thresholds and the mask cache, with a mask builder put in by the test.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "capture/exposure.h"
#include "capture/log_lines.h"
#include "settings/settings_fixture.h"

namespace {

// Block rows 700..799, columns 600..699 of a 1300-wide frame: `high` pixels of base + 1, the
// rest base; everything outside the block 60000 so that only the block counts.
std::vector<uint16_t> BlockFrame(int w, int h, int x0, int y0, int side, uint16_t base, int high)
{
    std::vector<uint16_t> px((size_t)w * h, 60000);
    int n = 0;
    for (int y = y0; y < y0 + side; y++)
        for (int x = x0; x < x0 + side; x++)
            px[(size_t)y * w + x] = (uint16_t)(base + (n++ < high ? 1 : 0));
    return px;
}

int BuildCalls = 0;
// Top row and left column of the symbol set: shows where the symbol's top and left land.
uint8_t* CornerMask(ExposureLevel, int32_t side)
{
    BuildCalls++;
    uint8_t* m = static_cast<uint8_t*>(calloc((size_t)side * side, 1));
    for (int i = 0; i < side; i++)
        m[i] = m[(size_t)i * side] = 1;
    return m;
}
uint8_t* FullMask(ExposureLevel, int32_t side)
{
    uint8_t* m = static_cast<uint8_t*>(malloc((size_t)side * side));
    memset(m, 1, (size_t)side * side);
    return m;
}
uint8_t* NoMask(ExposureLevel, int32_t)
{
    return nullptr;
}

class ExposureLog : public SettingsFileTest {};

}  // namespace

TEST_F(ExposureLog, BoundsAndLogLine)
{
    struct Case {
        uint16_t base;
        int high;  // pixels of base + 1 out of 10000
        const char* line;
    } const cases[] = {
        {1360, 0, "   exposure: rawMean=1360.0 -> 100.0 uGy -> PERFECT (P)\n"},
        {2720, 0, "   exposure: rawMean=2720.0 -> 200.0 uGy -> PERFECT (P)\n"},
        {2720, 1000, "   exposure: rawMean=2720.1 -> 200.0 uGy -> HIGH (H)\n"},
        {1359, 9000, "   exposure: rawMean=1359.9 -> 100.0 uGy -> LOW (L)\n"},
    };
    for (const Case& c : cases) {
        ClearLog();
        std::vector<uint16_t> px = BlockFrame(1300, 1706, 600, 700, 100, c.base, c.high);
        ClassifyExposure(px.data(), 1300, 1706);
        EXPECT_EQ(Untimed(Log()), c.line);
    }
    // The wide frame's block: 200 x 200 at rows 700..899, columns 1190..1389.
    std::vector<uint16_t> wide = BlockFrame(2580, 1706, 1190, 700, 200, 2000, 0);
    EXPECT_DOUBLE_EQ(ExposureRawMean(wide.data(), 2580, 1706), 2000.0);
    ClearLog();
    std::vector<uint16_t> narrow(7 * 100, 60000);
    EXPECT_EQ(ClassifyExposure(narrow.data(), 7, 100), ExposureLow);
    EXPECT_EQ(ClassifyExposure(nullptr, 1300, 1706), ExposureLow);
    const std::string zero = "   exposure: rawMean=0.0 -> 0.0 uGy -> LOW (L)\n";
    EXPECT_EQ(Untimed(Log()), zero + zero);
    // A frame smaller than the block: the block moves inwards and is clipped.
    std::vector<uint16_t> small(50 * 40, 1360);
    small[0] = 1360 + 2000;
    EXPECT_DOUBLE_EQ(ExposureRawMean(small.data(), 50, 40), 1361.0);
}

TEST(ExposureIndicator, PlacementSizesAndThresholds)
{
    SetIndicatorGlyphBuilder(CornerMask);
    struct Case {
        int w, h, side, margin;
    } const cases[] = {{1999, 200, 72, 10}, {2000, 200, 120, 20}};
    for (const Case& c : cases) {
        std::vector<uint16_t> px((size_t)c.w * c.h, 7);
        ASSERT_TRUE(StampExposureIndicator(px.data(), c.w, c.h, ExposurePerfect));
        // The symbol's top row goes to the highest buffer row (it ends up on top after the turn).
        const int left = c.w - c.margin - c.side, topRow = c.margin + c.side - 1;
        size_t white = 0;
        for (int y = 0; y < c.h; y++)
            for (int x = 0; x < c.w; x++) {
                bool inSymbol = (y == topRow && x >= left && x < left + c.side)
                                || (x == left && y >= c.margin && y <= topRow);
                EXPECT_EQ(px[(size_t)y * c.w + x], inSymbol ? 65535 : 7) << c.w << " " << y << "," << x;
                white += inSymbol;
            }
        EXPECT_EQ(white, (size_t)(2 * c.side - 1));
    }

    SetIndicatorGlyphBuilder(FullMask);
    std::vector<uint16_t> px(81 * 200, 7);
    EXPECT_FALSE(StampExposureIndicator(px.data(), 81, 200, ExposureLow));
    EXPECT_EQ(px, std::vector<uint16_t>(81 * 200, 7));
    px.assign(82 * 82, 7);
    ASSERT_TRUE(StampExposureIndicator(px.data(), 82, 82, ExposureLow));
    for (int y = 0; y < 82; y++)
        for (int x = 0; x < 82; x++)
            ASSERT_EQ(px[(size_t)y * 82 + x], y >= 10 && x < 72 ? 65535 : 7) << y << "," << x;

    SetIndicatorGlyphBuilder(NoMask);
    EXPECT_FALSE(StampExposureIndicator(px.data(), 82, 82, ExposureLow));
    SetIndicatorGlyphBuilder(nullptr);
}

TEST(ExposureIndicator, MaskBuiltOncePerLevelAndSide)
{
    SetIndicatorGlyphBuilder(CornerMask);
    BuildCalls = 0;
    std::vector<uint16_t> px(2000 * 200);
    for (int i = 0; i < 2; i++)
        StampExposureIndicator(px.data(), 1300, 150, ExposureHigh);
    EXPECT_EQ(BuildCalls, 1);
    StampExposureIndicator(px.data(), 1300, 150, ExposureLow);
    EXPECT_EQ(BuildCalls, 2);
    StampExposureIndicator(px.data(), 2000, 200, ExposureHigh);  // another side: rebuilt
    StampExposureIndicator(px.data(), 2000, 200, ExposureHigh);
    EXPECT_EQ(BuildCalls, 3);
    SetIndicatorGlyphBuilder(nullptr);
}
