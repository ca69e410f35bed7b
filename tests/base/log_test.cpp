// Log path and line format (portable half of the log).
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/log.h"

TEST(LogPath, BesideTheLibraryOrBareName)
{
    char path[260];
    MakeLogPath("C:\\Host\\Plugins\\NyraPro.SED", path, sizeof path);
    EXPECT_STREQ(path, "C:\\Host\\Plugins\\NyraSED.log");
    MakeLogPath("NyraPro.SED", path, sizeof path);
    EXPECT_STREQ(path, "NyraSED.log");
    MakeLogPath(nullptr, path, sizeof path);
    EXPECT_STREQ(path, "NyraSED.log");

    std::string deep = "C:\\" + std::string(300, 'd') + "\\NyraPro.SED";
    MakeLogPath(deep.c_str(), path, sizeof path);
    EXPECT_EQ(strlen(path), 259u) << "cut to 259 characters";
}

TEST(LogLine, FormatAndCut)
{
    char line[kLogLineSize];
    EXPECT_EQ(FormatLogLine(line, 7, 5, 3, 9, "hello"), 21u);
    EXPECT_STREQ(line, "07:05:03.009  hello\r\n");

    std::string longText(1300, 'x');
    EXPECT_EQ(FormatLogLine(line, 23, 59, 59, 999, longText.c_str()), 1198u);
    EXPECT_EQ(strlen(line), 1198u);
    EXPECT_EQ(line[1197], 'x') << "a cut line has no line end";
}
