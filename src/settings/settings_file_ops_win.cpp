// Windows file operations for settings.dat: CreateFileA, ReadFile, WriteFile,
// FlushFileBuffers, MoveFileExA with replace and write-through, DeleteFileA and
// SHCreateDirectoryExA. Handles are the system's; INVALID_HANDLE_VALUE becomes null. Errors
// are the thread's GetLastError, read by the caller right after the failing call.
#include <windows.h>
#include <shlobj.h>

#include "settings/settings_file_ops.h"

namespace {

SettingsFileHandle FromHandle(HANDLE file)
{
    return file == INVALID_HANDLE_VALUE ? nullptr : (SettingsFileHandle)file;
}

SettingsFileHandle WinOpenRead(const char* path)
{
    return FromHandle(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
}

SettingsFileHandle WinCreateTemp(const char* path)
{
    return FromHandle(
        CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
}

bool WinRead(SettingsFileHandle file, void* buffer, uint32_t size, uint32_t* done)
{
    DWORD got = 0;
    BOOL ok = ReadFile((HANDLE)file, buffer, size, &got, nullptr);
    *done = got;
    return ok != FALSE;
}

bool WinWrite(SettingsFileHandle file, const void* data, uint32_t size, uint32_t* done)
{
    DWORD put = 0;
    BOOL ok = WriteFile((HANDLE)file, data, size, &put, nullptr);
    *done = put;
    return ok != FALSE;
}

bool WinFlush(SettingsFileHandle file)
{
    return FlushFileBuffers((HANDLE)file) != FALSE;
}

void WinClose(SettingsFileHandle file)
{
    CloseHandle((HANDLE)file);
}

bool WinMoveReplace(const char* from, const char* to)
{
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

bool WinRemove(const char* path)
{
    return DeleteFileA(path) != FALSE;
}

bool WinMakeDirectory(const char* path)
{
    int rc = SHCreateDirectoryExA(nullptr, path, nullptr);
    return rc == ERROR_SUCCESS || rc == ERROR_ALREADY_EXISTS || rc == ERROR_FILE_EXISTS;
}

uint32_t WinProcessId()
{
    return GetCurrentProcessId();
}

uint32_t WinLastError()
{
    return GetLastError();
}

const SettingsFileOps kWinOps = {
    WinOpenRead,    WinCreateTemp, WinRead,          WinWrite,     WinFlush,     WinClose,
    WinMoveReplace, WinRemove,     WinMakeDirectory, WinProcessId, WinLastError,
};

}  // namespace

const SettingsFileOps& PlatformSettingsFileOps()
{
    return kWinOps;
}
