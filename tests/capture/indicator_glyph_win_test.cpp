// The indicator symbol drawn with GDI: rays, disc and a letter-shaped hole, at both sides.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "capture/exposure.h"

TEST(IndicatorGlyph, RaysDiscAndLetter)
{
    EXPECT_EQ(BuildIndicatorGlyph(ExposureLow, 7), nullptr);
    uint8_t* masks[3] = {};
    for (int32_t side : {72, 120}) {
        for (int level = 0; level < 3; level++) {
            uint8_t* m = masks[level] = BuildIndicatorGlyph((ExposureLevel)level, side);
            ASSERT_NE(m, nullptr);
            auto at = [&](double fy, double fx) {
                return m[(size_t)(fy * side) * side + (size_t)(fx * side)];
            };
            EXPECT_EQ(at(0.02, 0.02), 0) << "corner";
            EXPECT_EQ(at(0.5, 0.9), 1) << "ray at 0 degrees";
            EXPECT_EQ(at(0.1, 0.5), 1) << "ray at 270 degrees";
            EXPECT_EQ(at(0.28, 0.5), 1) << "disc above the letter";
            EXPECT_EQ(at(0.5, 0.785), 0) << "gap between disc and rays";
            size_t holes = 0;  // black letter strokes inside the disc
            for (int y = side * 36 / 100; y < side * 64 / 100; y++)
                for (int x = side * 36 / 100; x < side * 64 / 100; x++)
                    holes += m[(size_t)y * side + x] == 0;
            EXPECT_GT(holes, (size_t)side * side / 200) << level;
        }
        EXPECT_NE(memcmp(masks[0], masks[1], (size_t)side * side), 0);
        EXPECT_NE(memcmp(masks[1], masks[2], (size_t)side * side), 0);
        for (uint8_t* m : masks)
            free(m);
    }
}
