// The log file as the plug-in writes it: one whole line per message, gate, cut, re-creation.
#include <windows.h>

#include <gtest/gtest.h>

#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "base/log.h"
#include "support/test_support.h"

namespace {

class LogFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string fakeLibrary = dir.file("NyraPro.SED");
        LogInit(fakeLibrary.c_str());
        logPath = dir.file("NyraSED.log");
        ASSERT_STREQ(LogPath, logPath.c_str());
        LogGate.store(1);
    }
    void TearDown() override { LogGate.store(0); }

    std::vector<std::string> Lines()
    {
        std::vector<std::string> lines;
        std::string text = ReadFileText(logPath), line;
        size_t start = 0;
        for (size_t end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
            lines.push_back(text.substr(start, end - start));
        EXPECT_EQ(start, text.size()) << "text after the last line end";
        return lines;
    }

    TempDir dir;
    std::string logPath;
};

TEST_F(LogFile, LineFormatAndGate)
{
    LogTrace("SEDGetSEDVersion() -> 0x%08lX", 0x20000ul);
    LogGate.store(0);
    LogTrace("not written while the gate is closed");
    LogAlways("   worker STILL blocked 6s after abort -> abandoning it so the host is not frozen");
    std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 2u);
    std::regex stamp(R"(^\d\d:\d\d:\d\d\.\d\d\d  )");
    EXPECT_TRUE(std::regex_search(lines[0], stamp)) << lines[0];
    EXPECT_EQ(lines[0].substr(14), "SEDGetSEDVersion() -> 0x00020000");
    EXPECT_EQ(lines[1].substr(14),
              "   worker STILL blocked 6s after abort -> abandoning it so the host is not frozen");
}

TEST_F(LogFile, LongMessageCutTo1022)
{
    std::string message(1500, 'm');
    LogTrace("%s", message.c_str());
    std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].size(), 14u + 1022u);
}

TEST_F(LogFile, TwoThreadsLeaveWholeLines)
{
    auto writer = [](char tag) {
        for (int i = 0; i < 1000; i++)
            LogTrace("thread %c line %04d", tag, i);
    };
    std::thread a(writer, 'a'), b(writer, 'b');
    a.join();
    b.join();
    std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 2000u);
    std::regex whole(R"(^\d\d:\d\d:\d\d\.\d\d\d  thread [ab] line \d{4}$)");
    int counts[2] = {0, 0};
    for (const std::string& line : lines) {
        ASSERT_TRUE(std::regex_match(line, whole)) << line;
        counts[line[21] - 'a']++;
    }
    EXPECT_EQ(counts[0], 1000);
    EXPECT_EQ(counts[1], 1000);
}

TEST_F(LogFile, DeletedFileIsCreatedAgain)
{
    LogTrace("first");
    ASSERT_TRUE(DeleteFileA(logPath.c_str()));
    LogTrace("second");
    std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].substr(14), "second");
}

TEST_F(LogFile, MissingFolderLosesOnlyThatLine)
{
    char saved[kTextPath];
    CopyText(saved, sizeof saved, LogPath);
    CopyText(LogPath, sizeof LogPath, dir.file("missing\\NyraSED.log").c_str());
    LogTrace("lost");
    CopyText(LogPath, sizeof LogPath, saved);
    LogTrace("kept");
    std::vector<std::string> lines = Lines();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].substr(14), "kept");
}

}  // namespace
