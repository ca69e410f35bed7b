// The load order (blob, then settings.dat, then defaults), the correction-folder substitution
// and the one-time migrations of version 1 and 2 files, on a real folder.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "settings_fixture.h"

namespace {

using SettingsLoad = SettingsFileTest;

HostConfigBlob BlobWith(const NyraSettings& s)
{
    HostConfigBlob blob;
    memset(&blob, 0, sizeof blob);
    blob.version = kHostBlobVersion;
    memcpy(blob.magic, "NYRS", 4);
    blob.settings = s;
    memset(blob.reserved, 0x77, sizeof blob.reserved);
    return blob;
}

NyraSettings Garbage()
{
    NyraSettings s;
    memset(&s, 0xCC, sizeof s);
    return s;
}

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

const char kRestored[] = "NyraLoadSettings: restored from persisted file\r\n";
const char kTimeoutMigrated[] = "NyraLoadSettings: capture timeout migrated 60s -> 300s (5 min)\r\n";
const char kLoggingOff[] =
    "NyraLoadSettings: diagnostic logging turned OFF (new default; re-enable in Hardware options)\r\n";

TEST_F(SettingsLoad, BlobWithSettingsComesFirstAndIsValidated)
{
    NyraSettings file = DefaultSettings();
    file.captureTimeoutSeconds = 100;
    Store(SettingsFileBytes(3, file));
    NyraSettings fromHost = DefaultSettings();
    fromHost.captureTimeoutSeconds = 1000;
    fromHost.filterCount = 0;
    const HostConfigBlob blob = BlobWith(fromHost);
    const HostConfigBlob blobBefore = blob;

    NyraSettings out = Garbage();
    NyraLoadSettings(&blob, &out);
    EXPECT_EQ(out.captureTimeoutSeconds, 600);
    EXPECT_EQ(out.filterCount, 7);
    EXPECT_EQ(memcmp(&blob, &blobBefore, sizeof blob), 0);
    EXPECT_FALSE(Contains(Log(), kRestored));
}

TEST_F(SettingsLoad, FileIsUsedWhenTheBlobHasNoSettings)
{
    NyraSettings file = DefaultSettings();
    file.captureTimeoutSeconds = 100;
    Store(SettingsFileBytes(3, file));
    HostConfigBlob blob = BlobWith(DefaultSettings());
    memcpy(blob.magic, "NYRX", 4);
    const HostConfigBlob* sources[] = {&blob, nullptr};
    for (const HostConfigBlob* source : sources) {
        ClearLog();
        NyraSettings out = Garbage();
        NyraLoadSettings(source, &out);
        EXPECT_EQ(out.captureTimeoutSeconds, 100);
        EXPECT_TRUE(Contains(Log(), kRestored)) << Log();
    }
}

TEST_F(SettingsLoad, DefaultsWhenNeitherBlobNorFileHoldSettings)
{
    Store(SettingsFileBytes(4, DefaultSettings()));  // a future version is ignored silently
    NyraSettings out = Garbage();
    NyraLoadSettings(nullptr, &out);
    NyraSettings expected = Garbage();
    SettingsDefaults(&expected);
    ValidateSettings(&expected);
    ApplyDataDirToModels(&expected, PluginDataDir);
    EXPECT_EQ(memcmp(&out, &expected, sizeof out), 0);
    EXPECT_STREQ(out.models[0].correctionDir, data.path().c_str());
    EXPECT_EQ(Log(), "");
    EXPECT_EQ(StoredVersion(Stored()), 4u);  // left as it was
    NyraLoadSettings(nullptr, nullptr);      // ignored
}

TEST_F(SettingsLoad, DefaultCorrectionFoldersFollowTheDataFolder)
{
    NyraSettings s = DefaultSettings();
    CopyText(s.models[0].correctionDir, kPathChars, "c:\\apteryx\\apteryx imaging\\devices\\nyra");
    s.models[1].correctionDir[0] = '\0';
    CopyText(s.models[2].correctionDir, kPathChars, "E:\\Cal");
    const HostConfigBlob blob = BlobWith(s);
    NyraSettings out = Garbage();
    NyraLoadSettings(&blob, &out);
    EXPECT_STREQ(out.models[0].correctionDir, PluginDataDir);
    EXPECT_STREQ(out.models[1].correctionDir, PluginDataDir);
    EXPECT_STREQ(out.models[2].correctionDir, "E:\\Cal");
    EXPECT_STREQ(blob.settings.models[1].correctionDir, "");  // the blob itself is not changed
}

TEST_F(SettingsLoad, VersionOneTimeoutOfSixtyBecomesFiveMinutesAndTheFileVersionThree)
{
    NyraSettings file = DefaultSettings();
    file.captureTimeoutSeconds = 60;
    file.enableLogging = 1;
    Store(SettingsFileBytes(1, file));
    NyraSettings out = Garbage();
    NyraLoadSettings(nullptr, &out);
    EXPECT_EQ(out.captureTimeoutSeconds, 300);
    EXPECT_EQ(out.enableLogging, 0);
    std::string log = Log();
    EXPECT_TRUE(Contains(log, kTimeoutMigrated)) << log;
    EXPECT_TRUE(Contains(log, kLoggingOff)) << log;
    std::vector<uint8_t> stored = Stored();
    EXPECT_EQ(StoredVersion(stored), 3u);
    EXPECT_EQ(memcmp(stored.data() + kSettingsHeaderSize, &out, sizeof out), 0);

    // Once rewritten, the migrations never run again.
    ClearLog();
    NyraSettings again = Garbage();
    NyraLoadSettings(nullptr, &again);
    EXPECT_EQ(memcmp(&again, &out, sizeof out), 0);
    EXPECT_FALSE(Contains(Log(), kTimeoutMigrated));
    EXPECT_EQ(Stored(), stored);
}

TEST_F(SettingsLoad, OnlyAStoredSixtyIsMigratedAndOnlyFromVersionOne)
{
    struct Case {
        uint32_t version;
        int32_t timeout;
        int32_t expected;
        bool rewritten;
    } const cases[] = {
        {1, 61, 61, true},  // only the logging step applies
        {1, 600, 600, true},
        {2, 60, 60, true},
        {3, 60, 60, false},  // version 3 is read as it is
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("version " + std::to_string(c.version) + " timeout " + std::to_string(c.timeout));
        ClearLog();
        NyraSettings file = DefaultSettings();
        file.captureTimeoutSeconds = c.timeout;
        const std::vector<uint8_t> bytes = SettingsFileBytes(c.version, file);
        Store(bytes);
        NyraSettings out = Garbage();
        NyraLoadSettings(nullptr, &out);
        EXPECT_EQ(out.captureTimeoutSeconds, c.expected);
        EXPECT_FALSE(Contains(Log(), kTimeoutMigrated));
        EXPECT_FALSE(Contains(Log(), kLoggingOff));  // logging was already off
        if (c.rewritten) {
            EXPECT_EQ(StoredVersion(Stored()), 3u);
        } else {
            EXPECT_EQ(Stored(), bytes);
        }
    }
}

TEST_F(SettingsLoad, VersionTwoLoggingIsSwitchedOffOnceOnly)
{
    NyraSettings file = DefaultSettings();
    file.enableLogging = 1;
    Store(SettingsFileBytes(2, file));
    NyraSettings out = Garbage();
    NyraLoadSettings(nullptr, &out);
    EXPECT_EQ(out.enableLogging, 0);
    EXPECT_TRUE(Contains(Log(), kLoggingOff)) << Log();
    EXPECT_EQ(StoredVersion(Stored()), 3u);
    EXPECT_EQ(StoredRecord(Stored()).enableLogging, 0);

    // The user switches logging back on and saves: it stays on.
    out.enableLogging = 1;
    NyraPersistSave(&out);
    ClearLog();
    NyraSettings second = Garbage();
    NyraLoadSettings(nullptr, &second);
    EXPECT_EQ(second.enableLogging, 1);
    EXPECT_FALSE(Contains(Log(), kLoggingOff));
}

TEST_F(SettingsLoad, MigrationActsOnTheBlobSettingsAndRewritesTheFileWithThem)
{
    NyraSettings file = DefaultSettings();
    file.captureTimeoutSeconds = 200;
    Store(SettingsFileBytes(1, file));
    NyraSettings fromHost = DefaultSettings();
    fromHost.captureTimeoutSeconds = 60;
    fromHost.enableLogging = 1;
    const HostConfigBlob blob = BlobWith(fromHost);
    NyraSettings out = Garbage();
    NyraLoadSettings(&blob, &out);
    EXPECT_EQ(out.captureTimeoutSeconds, 300);
    EXPECT_EQ(out.enableLogging, 0);
    EXPECT_EQ(blob.settings.captureTimeoutSeconds, 60);
    EXPECT_EQ(blob.settings.enableLogging, 1);
    EXPECT_EQ(StoredRecord(Stored()).captureTimeoutSeconds, 300);
    EXPECT_EQ(StoredVersion(Stored()), 3u);
}

TEST_F(SettingsLoad, MigrationUnderFileFaultsKeepsTheOldFileOrWritesTheNewOne)
{
    NyraSettings file = DefaultSettings();
    file.captureTimeoutSeconds = 60;
    file.enableLogging = 1;
    const std::vector<uint8_t> oldBytes = SettingsFileBytes(1, file);
    for (int n = 1; n < 60; n++) {
        SCOPED_TRACE("fault at call " + std::to_string(n));
        Store(oldBytes);
        FaultOps::Arm(n, false);
        SetSettingsFileOps(FaultOps::Table());
        NyraSettings out = Garbage();
        NyraLoadSettings(nullptr, &out);
        SetSettingsFileOps(nullptr);
        // Whatever failed, the destination holds usable, validated settings.
        NyraSettings check = out;
        ValidateSettings(&check);
        EXPECT_EQ(memcmp(&check, &out, sizeof out), 0);
        std::vector<uint8_t> now = Stored();
        if (now != oldBytes) {
            EXPECT_EQ(StoredVersion(now), 3u);
            EXPECT_EQ(memcmp(now.data() + kSettingsHeaderSize, &out, sizeof out), 0);
        }
        EXPECT_EQ(DataFiles(), std::vector<std::string>{"settings.dat"});
        if (!FaultOps::fired)
            return;
    }
    ADD_FAILURE() << "the load never completed";
}

}  // namespace
