// The saturation report's figures: the threshold, truncated percentages, the exact text.
#include <gtest/gtest.h>

#include <vector>

#include "capture/saturation.h"

TEST(SaturationFigures, ThresholdPercentagesAndText)
{
    // 1300 x 1706 pixels, one at 16000 (saturated), one at 15999 (not).
    std::vector<uint16_t> frame(1300 * 1706, 1000);
    frame[10] = 16000;
    frame[11] = 15999;
    char text[512];
    FormatSaturationReport(text, sizeof text, "811234", 2, frame.data(), (int32_t)frame.size(), 65535, 1003);
    EXPECT_STREQ(text, "Nyra Sensor '811234'  Size 2\r\n\r\nMax pixel value : 65535  (of 65535)\r\n"
                       "Mean value      : 1003\r\nPeak level      : 100% of full scale\r\n"
                       "Saturated pixels: 1  (0%)");

    std::vector<uint16_t> half(4, 20000);
    half[0] = half[1] = 0;
    FormatSaturationReport(text, sizeof text, "X", 3, half.data(), 4, 32767, 10000);
    EXPECT_NE(strstr(text, "Peak level      : 49% of full scale\r\nSaturated pixels: 2  (50%)"), nullptr)
        << text;
}
