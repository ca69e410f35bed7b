// Shared by the settings tests: a fixture that points PluginDataDir and the log at fresh
// temporary folders, helpers that write settings files of any version and length, and a
// file-operations table that fails its Nth call (once, or from then on), in the manner of
// SQLite's I/O error tests.
#pragma once
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "base/host_context.h"
#include "base/log.h"
#include "base/text.h"
#include "settings/settings.h"
#include "settings/settings_file_codec.h"
#include "settings/settings_file_ops.h"
#include "support/test_support.h"

inline NyraSettings DefaultSettings()
{
    NyraSettings s;
    memset(&s, 0, sizeof s);
    SettingsDefaults(&s);
    ValidateSettings(&s);
    return s;
}

// settings.dat bytes with the given version, cut or padded to size.
inline std::vector<uint8_t> SettingsFileBytes(uint32_t version, const NyraSettings& s,
                                              size_t size = kSettingsFileSize)
{
    std::vector<uint8_t> bytes(kSettingsFileSize);
    EncodeSettingsFile(s, bytes.data());
    bytes[4] = (uint8_t)version;
    bytes[5] = (uint8_t)(version >> 8);
    bytes[6] = (uint8_t)(version >> 16);
    bytes[7] = (uint8_t)(version >> 24);
    bytes.resize(size, 0x5A);
    return bytes;
}

// The record stored in a settings.dat image (no checks).
inline NyraSettings StoredRecord(const std::vector<uint8_t>& bytes)
{
    NyraSettings s;
    memset(&s, 0, sizeof s);
    if (bytes.size() >= kSettingsFileSize)
        memcpy(&s, bytes.data() + kSettingsHeaderSize, sizeof s);
    return s;
}

inline uint32_t StoredVersion(const std::vector<uint8_t>& bytes)
{
    if (bytes.size() < kSettingsHeaderSize)
        return 0;
    return (uint32_t)bytes[4] | (uint32_t)bytes[5] << 8 | (uint32_t)bytes[6] << 16 | (uint32_t)bytes[7] << 24;
}

class SettingsFileTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        CopyText(PluginDataDir, sizeof PluginDataDir, data.path().c_str());
        LogInit(logs.file("NyraSED.log").c_str());  // also prepares the log's lock
        CopyText(LogPath, sizeof LogPath, logs.file("NyraSED.log").c_str());
        LogGate.store(1);
    }
    void TearDown() override
    {
        SetSettingsFileOps(nullptr);
        LogGate.store(0);
        LogReady.store(0);
        LogPath[0] = '\0';
        PluginDataDir[0] = '\0';
    }

public:
    std::string SettingsPath() const { return data.file("settings.dat"); }
    // The path as the settings code builds it and logs it: always with a backslash.
    std::string LoggedSettingsPath() const { return data.path() + "\\settings.dat"; }
    std::vector<uint8_t> Stored() const { return ReadFileBytes(SettingsPath()); }
    void Store(const std::vector<uint8_t>& bytes) const
    {
        ASSERT_TRUE(WriteFileBytes(SettingsPath(), bytes));
    }
    std::string Log() const { return ReadFileText(logs.file("NyraSED.log")); }
    void ClearLog() const { std::filesystem::remove(logs.file("NyraSED.log")); }

    std::vector<std::string> DataFiles() const
    {
        std::vector<std::string> names;
        for (const auto& entry : std::filesystem::directory_iterator(data.path()))
            names.push_back(entry.path().filename().string());
        return names;
    }

    TempDir data;
    TempDir logs;
};

// A table over the platform's whose Nth counted call fails. Counted: every call that can
// fail (open, create, read, write, flush, move, delete, make directory). A failing write
// first writes half of its bytes, as a full disk would. lastError reports kFaultError after
// an injected failure.
struct FaultOps {
    static constexpr uint32_t kFaultError = 1234;
    static inline int failAt = 0;           // 1-based counted call to fail; 0: never
    static inline bool persistent = false;  // every counted call after the first fault fails too
    static inline int calls = 0;
    static inline bool fired = false;
    static inline bool lastFailed = false;

    static void Arm(int n, bool keepFailing)
    {
        failAt = n;
        persistent = keepFailing;
        calls = 0;
        fired = false;
        lastFailed = false;
    }
    static bool Fail()
    {
        calls++;
        lastFailed = (failAt > 0 && calls == failAt) || (persistent && fired);
        if (lastFailed)
            fired = true;
        return lastFailed;
    }
    static const SettingsFileOps& P() { return PlatformSettingsFileOps(); }

    static SettingsFileHandle OpenRead(const char* path) { return Fail() ? nullptr : P().openRead(path); }
    static SettingsFileHandle CreateTemp(const char* path) { return Fail() ? nullptr : P().createTemp(path); }
    static bool Read(SettingsFileHandle f, void* b, uint32_t n, uint32_t* done)
    {
        *done = 0;
        return Fail() ? false : P().read(f, b, n, done);
    }
    static bool Write(SettingsFileHandle f, const void* d, uint32_t n, uint32_t* done)
    {
        if (Fail()) {
            P().write(f, d, n / 2, done);
            return false;
        }
        return P().write(f, d, n, done);
    }
    static bool Flush(SettingsFileHandle f) { return Fail() ? false : P().flush(f); }
    static void Close(SettingsFileHandle f) { P().close(f); }
    static bool Move(const char* a, const char* b) { return Fail() ? false : P().moveReplace(a, b); }
    static bool Remove(const char* p) { return Fail() ? false : P().remove(p); }
    static bool MakeDirectory(const char* p) { return Fail() ? false : P().makeDirectory(p); }
    static uint32_t ProcessId() { return P().processId(); }
    static uint32_t LastError() { return lastFailed ? kFaultError : P().lastError(); }

    static const SettingsFileOps* Table()
    {
        static const SettingsFileOps table = {OpenRead, CreateTemp, Read,          Write,     Flush,    Close,
                                              Move,     Remove,     MakeDirectory, ProcessId, LastError};
        return &table;
    }
};
