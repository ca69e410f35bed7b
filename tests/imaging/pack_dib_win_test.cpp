// The DIB hand-off: one movable, zeroed global block, unlocked, that the host owns.
#include <windows.h>

#include <gtest/gtest.h>

#include "imaging/image16.h"

TEST(PackDib16, MovableUnlockedBlockWithExactSize)
{
    uint16_t pixels[3 * 2] = {1, 2, 3, 4, 5, 6};
    HGLOBAL block = static_cast<HGLOBAL>(PackDib16(3, 2, pixels));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(GlobalSize(block), 40u + 8u * 2u);
    EXPECT_EQ(GlobalFlags(block) & GMEM_LOCKCOUNT, 0u) << "handed over unlocked";
    const uint8_t* bytes = static_cast<const uint8_t*>(GlobalLock(block));
    ASSERT_NE(bytes, nullptr);
    EXPECT_NE((void*)bytes, (void*)block) << "a movable block's handle is not its address";
    EXPECT_EQ(bytes[40 + 8], 1);  // image row 0 is the last stored row
    EXPECT_EQ(bytes[40 + 6], 0);  // pad of the first stored row
    EXPECT_EQ(bytes[40 + 0], 4);
    GlobalUnlock(block);
    EXPECT_EQ(GlobalFree(block), nullptr);
}

TEST(PackDib16, WithoutPixelsAndRejectedSizes)
{
    HGLOBAL block = static_cast<HGLOBAL>(PackDib16(1000, 1506, nullptr));
    ASSERT_NE(block, nullptr);
    EXPECT_EQ(GlobalSize(block), 3012040u);
    const uint8_t* bytes = static_cast<const uint8_t*>(GlobalLock(block));
    EXPECT_EQ(bytes[14], 16);
    bool allZero = true;
    for (size_t i = 40; i < 3012040; i++)
        allZero &= bytes[i] == 0;
    EXPECT_TRUE(allZero);
    GlobalUnlock(block);
    GlobalFree(block);

    EXPECT_EQ(PackDib16(0, 10, nullptr), nullptr);
    EXPECT_EQ(PackDib16(10, -1, nullptr), nullptr);
}
