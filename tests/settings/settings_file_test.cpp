// settings.dat on a real folder (natively and under Wine): save and read back, the versions
// the reader accepts, files it ignores, refused over-long paths, and the I/O fault loop over
// the crash-safe save: after each injected failure the previous file is byte-identical.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "settings_fixture.h"

namespace {

using SettingsFile = SettingsFileTest;

NyraSettings Custom()
{
    NyraSettings s = DefaultSettings();
    s.captureTimeoutSeconds = 123;
    s.enableLogging = 1;
    s.imageCalibration = 0.5;
    s.filterCount = 2;
    CopyText(s.models[2].correctionDir, kPathChars, "E:\\Cal");
    return s;
}

bool SameRecord(const NyraSettings& a, const NyraSettings& b)
{
    return memcmp(&a, &b, sizeof a) == 0;
}

TEST_F(SettingsFile, PathIsTheDataFolderAndSettingsDat)
{
    char path[kPathChars];
    ASSERT_TRUE(SettingsFilePath(path));
    EXPECT_EQ(std::string(path), LoggedSettingsPath());
    EXPECT_FALSE(SettingsFilePath(nullptr));
}

TEST_F(SettingsFile, SaveWritesAValidatedVersionThreeCopyAndLeavesTheCallerAlone)
{
    NyraSettings s = Custom();
    s.captureTimeoutSeconds = 3;  // repaired in the file only
    s.reserved = 9;
    const NyraSettings before = s;
    NyraPersistSave(&s);
    EXPECT_TRUE(SameRecord(s, before));

    std::vector<uint8_t> stored = Stored();
    ASSERT_EQ(stored.size(), kSettingsFileSize);
    EXPECT_EQ(memcmp(stored.data(), "NYRP", 4), 0);
    EXPECT_EQ(StoredVersion(stored), 3u);
    NyraSettings expected = before;
    ValidateSettings(&expected);
    EXPECT_TRUE(SameRecord(StoredRecord(stored), expected));
    EXPECT_EQ(StoredRecord(stored).captureTimeoutSeconds, 5);

    EXPECT_NE(Log().find("NyraPersistSave: " + LoggedSettingsPath() + "\r\n"), std::string::npos) << Log();
    EXPECT_EQ(DataFiles(), std::vector<std::string>{"settings.dat"});  // no temporary file left
    NyraPersistSave(nullptr);                                          // ignored
}

TEST_F(SettingsFile, ReadAcceptsVersionsOneToThreeAndValidates)
{
    for (uint32_t version = 1; version <= 3; version++) {
        NyraSettings s = Custom();
        s.models[1].startThreshold = 70000;
        Store(SettingsFileBytes(version, s));
        NyraSettings out;
        memset(&out, 0x55, sizeof out);
        ASSERT_TRUE(ReadSettingsFile(&out)) << version;
        ValidateSettings(&s);
        EXPECT_TRUE(SameRecord(out, s)) << version;
        EXPECT_EQ(out.models[1].startThreshold, 65535);
        uint32_t stored = 0;
        EXPECT_TRUE(ReadSettingsFileVersion(&stored));
        EXPECT_EQ(stored, version);
    }
    // Bytes after the record are ignored.
    Store(SettingsFileBytes(3, Custom(), kSettingsFileSize + 100));
    NyraSettings out;
    EXPECT_TRUE(ReadSettingsFile(&out));
    EXPECT_FALSE(ReadSettingsFile(nullptr));
}

TEST_F(SettingsFile, ShortForeignFutureAndMissingFilesAreIgnored)
{
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
    };
    std::vector<uint8_t> foreign = SettingsFileBytes(3, Custom());
    foreign[0] = 'X';
    const Case cases[] = {
        {"1807 bytes", SettingsFileBytes(3, Custom(), kSettingsFileSize - 1)},
        {"header only", SettingsFileBytes(3, Custom(), kSettingsHeaderSize)},
        {"empty", {}},
        {"version 4", SettingsFileBytes(4, Custom())},
        {"version 0", SettingsFileBytes(0, Custom())},
        {"foreign magic", foreign},
    };
    for (const Case& c : cases) {
        Store(c.bytes);
        NyraSettings out;
        memset(&out, 0x55, sizeof out);
        const NyraSettings before = out;
        EXPECT_FALSE(ReadSettingsFile(&out)) << c.name;
        EXPECT_TRUE(SameRecord(out, before)) << c.name;
    }
    std::filesystem::remove(SettingsPath());
    NyraSettings out;
    EXPECT_FALSE(ReadSettingsFile(&out));
    uint32_t version = 0;
    EXPECT_FALSE(ReadSettingsFileVersion(&version));
}

TEST_F(SettingsFile, PathsThatDoNotFitAreRefusedNotCut)
{
    // A 246-character folder + "\\settings.dat" (13) = 259 characters fits; one more character
    // would cut the name to "settings.da", so the path is refused instead.
    std::string fits = data.path() + "\\" + std::string(245 - data.path().size(), 'a');
    std::string tooLong = fits + "a";
    char path[kPathChars];
    CopyText(PluginDataDir, sizeof PluginDataDir, fits.c_str());
    ASSERT_TRUE(SettingsFilePath(path));
    EXPECT_EQ(strlen(path), 259u);
    CopyText(PluginDataDir, sizeof PluginDataDir, tooLong.c_str());
    EXPECT_FALSE(SettingsFilePath(path));
    NyraSettings s = Custom();
    NyraPersistSave(&s);
    EXPECT_FALSE(ReadSettingsFile(&s));
    for (const auto& entry : std::filesystem::recursive_directory_iterator(data.path()))
        EXPECT_FALSE(entry.is_regular_file()) << entry.path();
}

// Fail the 1st, 2nd, ... counted file call of a save until one run completes without a
// fault. After each run either the new file is complete or the old one is byte-identical,
// and a single fault leaves no temporary file behind.
void FaultLoop(SettingsFileTest& t, bool persistent)
{
    NyraSettings oldSettings = Custom();
    NyraSettings newSettings = DefaultSettings();
    newSettings.captureTimeoutSeconds = 456;
    std::vector<uint8_t> oldBytes = SettingsFileBytes(3, oldSettings, kSettingsFileSize + 3);
    std::vector<uint8_t> newBytes(kSettingsFileSize);
    EncodeSettingsFile(newSettings, newBytes.data());

    int failures = 0;
    for (int n = 1; n < 50; n++) {
        SCOPED_TRACE("fault at call " + std::to_string(n));
        t.Store(oldBytes);
        t.ClearLog();
        FaultOps::Arm(n, persistent);
        SetSettingsFileOps(FaultOps::Table());
        NyraPersistSave(&newSettings);
        SetSettingsFileOps(nullptr);
        std::vector<uint8_t> now = t.Stored();
        std::string log = t.Log();
        if (!FaultOps::fired) {
            EXPECT_EQ(now, newBytes);
            EXPECT_NE(log.find("NyraPersistSave: " + t.LoggedSettingsPath()), std::string::npos) << log;
            EXPECT_GE(failures, 5);  // create, two writes, flush, move
            return;
        }
        if (now == newBytes) {
            // Only a failed folder creation may still end in a complete save.
            EXPECT_NE(log.find("NyraPersistSave: " + t.LoggedSettingsPath()), std::string::npos) << log;
            continue;
        }
        failures++;
        EXPECT_EQ(now, oldBytes);
        bool logged = log.find("NyraPersistSave: open temp failed (1234)") != std::string::npos
                      || log.find("NyraPersistSave: write failed") != std::string::npos
                      || log.find("NyraPersistSave: replace failed (1234)") != std::string::npos;
        EXPECT_TRUE(logged) << log;
        if (!persistent) {
            EXPECT_EQ(t.DataFiles(), std::vector<std::string>{"settings.dat"});
        }
    }
    ADD_FAILURE() << "the save never completed";
}

TEST_F(SettingsFile, FaultLoopSingleFailure)
{
    FaultLoop(*this, false);
}

TEST_F(SettingsFile, FaultLoopEveryCallFailsAfterTheFirst)
{
    FaultLoop(*this, true);
}

TEST_F(SettingsFile, EachFailureIsLoggedWithItsOwnText)
{
    // Counted calls of a save: make folder, create temp, write header, write record, flush, move.
    struct Case {
        int failAt;
        const char* text;
    } const cases[] = {
        {2, "NyraPersistSave: open temp failed (1234)\r\n"},
        {3, "NyraPersistSave: write failed\r\n"},
        {4, "NyraPersistSave: write failed\r\n"},
        {5, "NyraPersistSave: write failed\r\n"},
        {6, "NyraPersistSave: replace failed (1234)\r\n"},
    };
    NyraSettings s = Custom();
    for (const Case& c : cases) {
        ClearLog();
        FaultOps::Arm(c.failAt, false);
        SetSettingsFileOps(FaultOps::Table());
        NyraPersistSave(&s);
        SetSettingsFileOps(nullptr);
        std::string log = Log();
        EXPECT_NE(log.find(c.text), std::string::npos) << c.failAt << ": " << log;
        EXPECT_EQ(log.find("NyraPersistSave: " + LoggedSettingsPath()), std::string::npos) << c.failAt;
    }
}

// Records the source of the move and keeps the temporary file.
struct Keep {
    static inline std::string from;
    static bool Move(const char* a, const char*)
    {
        from = a;
        return false;
    }
    static bool Remove(const char*) { return true; }
};

TEST_F(SettingsFile, TemporaryFileIsNamedAfterTheProcess)
{
    // Stop the save at the move and look at what was written.
    SettingsFileOps ops = PlatformSettingsFileOps();
    ops.moveReplace = Keep::Move;
    ops.remove = Keep::Remove;
    SetSettingsFileOps(&ops);
    NyraSettings s = Custom();
    NyraPersistSave(&s);
    SetSettingsFileOps(nullptr);
    const std::string expected =
        data.path() + "\\settings." + std::to_string(PlatformSettingsFileOps().processId()) + ".tmp";
    EXPECT_EQ(Keep::from, expected);
    std::vector<uint8_t> temp = ReadFileBytes(data.file(expected.substr(data.path().size() + 1)));
    EXPECT_EQ(temp.size(), kSettingsFileSize);
    EXPECT_FALSE(FileExists(SettingsPath()));
}

}  // namespace
