// The file operations behind the files the plug-in owns (settings.dat, correction files), as
// a table of plain functions. Paths are Windows-style (backslashes); the POSIX table maps them
// for the native build. The save and load code call only through this table, so a test can
// put in one whose Nth call fails and check that a failed save leaves the previous file whole.
#pragma once
#include <cstdint>

// Opaque open file; null means the open failed.
typedef void* SettingsFileHandle;

struct SettingsFileOps {
    // Existing file, read access, others may read too.
    SettingsFileHandle (*openRead)(const char* path);
    // Write access, no sharing, created or truncated, normal attributes.
    SettingsFileHandle (*createTemp)(const char* path);
    // Each returns true when the call itself succeeded; *done receives the bytes moved
    // (a read at the end of the file succeeds with 0).
    bool (*read)(SettingsFileHandle file, void* buffer, uint32_t size, uint32_t* done);
    bool (*write)(SettingsFileHandle file, const void* data, uint32_t size, uint32_t* done);
    // Forces the written data to the disk.
    bool (*flush)(SettingsFileHandle file);
    void (*close)(SettingsFileHandle file);
    // Replaces an existing target; returns only once the move is on disk.
    bool (*moveReplace)(const char* from, const char* to);
    bool (*remove)(const char* path);
    // Creates the folder and its missing parents; an existing folder is success.
    bool (*makeDirectory)(const char* path);
    uint32_t (*processId)();
    // The system's error code of the last failed call above.
    uint32_t (*lastError)();
};

// The platform's table (settings_file_ops_win.cpp / settings_file_ops_posix.cpp).
const SettingsFileOps& PlatformSettingsFileOps();

// The table in use: the platform's unless a test has put in its own.
const SettingsFileOps& SettingsFiles();

// Puts in another table (null restores the platform's); returns the one in use before.
const SettingsFileOps* SetSettingsFileOps(const SettingsFileOps* ops);

// Reads until size bytes arrived, the file ended or a read failed; returns the bytes read.
inline uint32_t ReadUpTo(const SettingsFileOps& ops, SettingsFileHandle file, uint8_t* buffer, uint32_t size)
{
    uint32_t total = 0;
    while (total < size) {
        uint32_t got = 0;
        if (!ops.read(file, buffer + total, size - total, &got) || got == 0)
            break;
        total += got;
    }
    return total;
}

// One write that must report its full length.
inline bool WriteAll(const SettingsFileOps& ops, SettingsFileHandle file, const uint8_t* data, uint32_t size)
{
    uint32_t done = 0;
    return ops.write(file, data, size, &done) && done == size;
}
