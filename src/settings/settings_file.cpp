// settings.dat in PluginDataDir: its path, reading it, and the crash-safe save. All file
// access goes through the SettingsFileOps table in use. The save writes a temporary file
// "settings.<pid>.tmp", flushes it and only then moves it over settings.dat, so a crash or
// a failed call leaves the previous file whole; failures are logged, never returned. A path
// that would not fit in 260 characters is refused rather than cut to a different name.
#include <cstring>

#include "base/host_context.h"
#include "base/log.h"
#include "base/text.h"
#include "settings/settings.h"
#include "settings/settings_file_codec.h"
#include "settings/settings_file_ops.h"

namespace {

const SettingsFileOps* OpsInUse;
const char kSettingsFileName[] = "settings.dat";

// "<dir>\<name>" into out[kPathChars]; false when it would have been cut.
bool JoinPath(char* out, const char* dir, const char* name)
{
    char buffer[kPathChars + 1];
    size_t n = FormatText(buffer, sizeof buffer, "%s\\%s", dir, name);
    if (n >= (size_t)kPathChars)
        return false;
    memcpy(out, buffer, n + 1);
    return true;
}

// The folder of settings.dat: PluginDataDir, which gets the default folder when it is still
// empty. The folder is (re)created each time; failures show up at the next open.
bool SettingsDir(char* dir)
{
    const SettingsFileOps& ops = SettingsFiles();
    if (!PluginDataDir[0])
        CopyText(PluginDataDir, sizeof PluginDataDir, kDefaultDataDir);
    CopyText(dir, kPathChars, PluginDataDir);
    if (!dir[0])
        return false;
    ops.makeDirectory(dir);
    return true;
}

// Reads up to size bytes from the start of settings.dat. False when there is no path or the
// file cannot be opened.
bool ReadSettingsBytes(uint8_t* buffer, uint32_t size, uint32_t* got)
{
    char path[kPathChars];
    if (!SettingsFilePath(path))
        return false;
    const SettingsFileOps& ops = SettingsFiles();
    SettingsFileHandle file = ops.openRead(path);
    if (!file)
        return false;
    *got = ReadUpTo(ops, file, buffer, size);
    ops.close(file);
    return true;
}

}  // namespace

const SettingsFileOps& SettingsFiles()
{
    return OpsInUse ? *OpsInUse : PlatformSettingsFileOps();
}

const SettingsFileOps* SetSettingsFileOps(const SettingsFileOps* ops)
{
    const SettingsFileOps* before = OpsInUse;
    OpsInUse = ops;
    return before;
}

bool SettingsFilePath(char* out)
{
    char dir[kPathChars];
    if (!out || !SettingsDir(dir))
        return false;
    return JoinPath(out, dir, kSettingsFileName);
}

bool ReadSettingsFileVersion(uint32_t* version)
{
    uint8_t header[kSettingsHeaderSize];
    uint32_t got = 0;
    return ReadSettingsBytes(header, sizeof header, &got) && DecodeSettingsHeader(header, got, version);
}

bool ReadSettingsFile(NyraSettings* destination)
{
    if (!destination)
        return false;
    uint8_t bytes[kSettingsFileSize];
    uint32_t got = 0;
    NyraSettings record;
    if (!ReadSettingsBytes(bytes, sizeof bytes, &got) || !DecodeSettingsFile(bytes, got, &record, nullptr))
        return false;
    ValidateSettings(&record);
    memcpy(destination, &record, sizeof record);
    return true;
}

bool NyraPersistSave(const NyraSettings* settings)
{
    if (!settings)
        return false;
    const SettingsFileOps& ops = SettingsFiles();
    char dir[kPathChars], finalPath[kPathChars], tempPath[kPathChars];
    if (!SettingsDir(dir))
        return false;
    char tempName[32];
    FormatText(tempName, sizeof tempName, "settings.%lu.tmp", (unsigned long)ops.processId());
    if (!JoinPath(finalPath, dir, kSettingsFileName) || !JoinPath(tempPath, dir, tempName))
        return false;

    NyraSettings copy;
    memcpy(&copy, settings, sizeof copy);
    ValidateSettings(&copy);
    uint8_t bytes[kSettingsFileSize];
    EncodeSettingsFile(copy, bytes);

    SettingsFileHandle file = ops.createTemp(tempPath);
    if (!file) {
        LogTrace("NyraPersistSave: open temp failed (%lu)", (unsigned long)ops.lastError());
        return false;
    }
    bool written = WriteAll(ops, file, bytes, kSettingsHeaderSize)
                   && WriteAll(ops, file, bytes + kSettingsHeaderSize, sizeof(NyraSettings));
    // A file whose flush failed may not be on disk yet; moving it over the old one could
    // leave neither after a crash, so it counts as a failed write.
    bool flushed = ops.flush(file);
    ops.close(file);
    if (!written || !flushed) {
        ops.remove(tempPath);
        LogTrace("NyraPersistSave: write failed");
        return false;
    }
    if (!ops.moveReplace(tempPath, finalPath)) {
        unsigned long error = ops.lastError();
        ops.remove(tempPath);
        LogTrace("NyraPersistSave: replace failed (%lu)", error);
        return false;
    }
    LogTrace("NyraPersistSave: %s", finalPath);
    return true;
}
