#include <gtest/gtest.h>

#include <vector>

#include "capture/synthetic_image.h"

TEST(SyntheticTestImage, KnownPixels)
{
    std::vector<uint16_t> px((size_t)kSyntheticWidth * kSyntheticHeight);
    FillSyntheticTestImage(px.data());
    auto at = [&](int r, int c) { return px[(size_t)r * kSyntheticWidth + c]; };
    EXPECT_EQ(at(0, 0), 0);
    EXPECT_EQ(at(0, 1023), 32735);
    EXPECT_EQ(at(64, 0), 1638);
    EXPECT_EQ(at(65, 0), 60000);
    EXPECT_EQ(at(128, 0), 3276);
    EXPECT_EQ(at(1279, 1023), 65476);
    for (int r = 0; r < kSyntheticHeight; r++)
        ASSERT_EQ(at(r, 60), 32000) << r;
}
