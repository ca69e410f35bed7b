// Windows half of the log: one append-only open, write and close per line under LogLock, so
// lines of different threads never interleave and every line is on disk when the call returns.
#include <windows.h>

#include "base/log.h"

static CRITICAL_SECTION LogLock;
static LONG LogLockReady;

void LogSinkInit()
{
    if (InterlockedCompareExchange(&LogLockReady, 1, 0) == 0)
        InitializeCriticalSection(&LogLock);
}

void WriteLogLine(const char* text)
{
    if (!LogReady.load(std::memory_order_relaxed))
        return;
    if (!text)
        text = "";
    // The debugger copy is written outside the lock: its order between threads may differ.
    OutputDebugStringA("[NyraSED] ");
    OutputDebugStringA(text);
    OutputDebugStringA("\n");

    EnterCriticalSection(&LogLock);
    HANDLE file = CreateFileA(LogPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        SYSTEMTIME now;
        GetLocalTime(&now);
        char line[kLogLineSize];
        size_t length = FormatLogLine(line, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds, text);
        DWORD written = 0;
        WriteFile(file, line, (DWORD)length, &written, nullptr);
        CloseHandle(file);
    }
    LeaveCriticalSection(&LogLock);
}
