// settings.dat against the real Windows file system: the default data folder is created when
// the host never named one, files held open by others make the save fail the way Windows
// reports it (sharing violation on the temporary file, a blocked replace) while the old file
// stays whole and no temporary file is left, and the reader shares the file with readers.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "settings_fixture.h"

namespace {

using SettingsWinFile = SettingsFileTest;

bool IsDirectory(const char* path)
{
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

struct OpenFile {
    HANDLE handle;
    OpenFile(const std::string& path, DWORD access, DWORD share, DWORD disposition)
        : handle(
            CreateFileA(path.c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr))
    {}
    ~OpenFile()
    {
        if (handle != INVALID_HANDLE_VALUE)
            CloseHandle(handle);
    }
};

TEST_F(SettingsWinFile, EmptyDataFolderBecomesTheDefaultFolderAndIsCreated)
{
    // Remove afterwards only the levels this test created.
    const char* levels[] = {"C:\\Apteryx\\Apteryx Imaging\\Devices\\Nyra",
                            "C:\\Apteryx\\Apteryx Imaging\\Devices", "C:\\Apteryx\\Apteryx Imaging",
                            "C:\\Apteryx"};
    bool existed[4];
    for (int i = 0; i < 4; i++)
        existed[i] = IsDirectory(levels[i]);

    PluginDataDir[0] = '\0';
    char path[kPathChars];
    ASSERT_TRUE(SettingsFilePath(path));
    EXPECT_STREQ(PluginDataDir, "C:\\Apteryx\\Apteryx Imaging\\Devices\\Nyra");
    EXPECT_STREQ(path, "C:\\Apteryx\\Apteryx Imaging\\Devices\\Nyra\\settings.dat");
    EXPECT_TRUE(IsDirectory(kDefaultDataDir));

    for (int i = 0; i < 4; i++)
        if (!existed[i])
            RemoveDirectoryA(levels[i]);
}

TEST_F(SettingsWinFile, TemporaryFileHeldByAnotherWriterFailsTheOpenAndKeepsTheOldFile)
{
    const std::vector<uint8_t> oldBytes = SettingsFileBytes(3, DefaultSettings());
    Store(oldBytes);
    const std::string temp = data.file("settings." + std::to_string(GetCurrentProcessId()) + ".tmp");
    {
        OpenFile holder(temp, GENERIC_WRITE, 0, CREATE_ALWAYS);
        ASSERT_NE(holder.handle, INVALID_HANDLE_VALUE);
        NyraSettings s = DefaultSettings();
        s.captureTimeoutSeconds = 77;
        NyraPersistSave(&s);
    }
    EXPECT_NE(Log().find("NyraPersistSave: open temp failed (32)\r\n"), std::string::npos) << Log();
    EXPECT_EQ(Stored(), oldBytes);
}

TEST_F(SettingsWinFile, ReplaceBlockedByAnOpenFileKeepsTheOldFileAndRemovesTheTemporaryOne)
{
    const std::vector<uint8_t> oldBytes = SettingsFileBytes(3, DefaultSettings());
    Store(oldBytes);
    {
        // A reader that does not allow deletion blocks the rename over the file.
        OpenFile holder(SettingsPath(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
        ASSERT_NE(holder.handle, INVALID_HANDLE_VALUE);
        NyraSettings s = DefaultSettings();
        s.captureTimeoutSeconds = 77;
        NyraPersistSave(&s);
    }
    std::string log = Log();
    EXPECT_NE(log.find("NyraPersistSave: replace failed ("), std::string::npos) << log;
    EXPECT_EQ(log.find("NyraPersistSave: " + LoggedSettingsPath()), std::string::npos) << log;
    EXPECT_EQ(Stored(), oldBytes);
    EXPECT_EQ(DataFiles(), std::vector<std::string>{"settings.dat"});
}

TEST_F(SettingsWinFile, ReadSharesWithReadersButNotWithAnExclusiveWriter)
{
    NyraSettings s = DefaultSettings();
    s.captureTimeoutSeconds = 42;
    Store(SettingsFileBytes(3, s));
    NyraSettings out;
    {
        OpenFile reader(SettingsPath(), GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING);
        ASSERT_NE(reader.handle, INVALID_HANDLE_VALUE);
        ASSERT_TRUE(ReadSettingsFile(&out));
        EXPECT_EQ(out.captureTimeoutSeconds, 42);
    }
    {
        OpenFile writer(SettingsPath(), GENERIC_WRITE, 0, OPEN_EXISTING);
        ASSERT_NE(writer.handle, INVALID_HANDLE_VALUE);
        memset(&out, 0x55, sizeof out);
        EXPECT_FALSE(ReadSettingsFile(&out));
        EXPECT_EQ(out.captureTimeoutSeconds, 0x55555555);
    }
}

}  // namespace
