#include <gtest/gtest.h>

#include <cstring>

#include "base/text.h"

TEST(CopyText, CutsToSizeMinusOneAndReturnsSourceLength)
{
    char buffer[8];
    memset(buffer, 0xCC, sizeof buffer);
    EXPECT_EQ(CopyText(buffer, 4, "Nyra Pro"), 8u);
    EXPECT_STREQ(buffer, "Nyr");
    EXPECT_EQ((unsigned char)buffer[4], 0xCC) << "wrote past the size it was given";

    EXPECT_EQ(CopyText(nullptr, 10, "abc"), 3u);
    EXPECT_EQ(CopyText(buffer, 0, "abc"), 3u);
    EXPECT_EQ(CopyText(buffer, sizeof buffer, nullptr), 0u);
    EXPECT_STREQ(buffer, "");
}

TEST(FormatText, AlwaysTerminatedAndReportsWhatWasWritten)
{
    char buffer[6];
    EXPECT_EQ(FormatText(buffer, sizeof buffer, "%s-%d", "abc", 1234), 5u);
    EXPECT_STREQ(buffer, "abc-1");
    EXPECT_EQ(FormatText(buffer, sizeof buffer, "%d", 42), 2u);
    EXPECT_STREQ(buffer, "42");
}

TEST(CompareNoCase, IgnoresAsciiCaseOnly)
{
    EXPECT_EQ(CompareNoCase("io", "IO"), 0);
    EXPECT_EQ(CompareNoCase("C:\\Apteryx", "c:\\APTERYX"), 0);
    EXPECT_NE(CompareNoCase("IO", "IOX"), 0);
    EXPECT_NE(CompareNoCase("", "a"), 0);
}

TEST(CopyTextToHost, NullOrEmptyBufferSkipsTheCopy)
{
    char buffer[4] = {'x', 'x', 'x', 'x'};
    EXPECT_EQ(CopyTextToHost(buffer, 0, "Ready"), 5u);
    EXPECT_EQ(CopyTextToHost(buffer, -3, "Ready"), 5u);
    EXPECT_EQ(buffer[0], 'x');
    EXPECT_EQ(CopyTextToHost(nullptr, 4, "Ready"), 5u);
    EXPECT_EQ(CopyTextToHost(buffer, 4, "Ready"), 5u);
    EXPECT_STREQ(buffer, "Rea");
}
