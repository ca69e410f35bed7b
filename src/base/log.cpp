// Portable half of the diagnostic log: path, line format, message cut and the trace gate.
// The file and debugger output are written by WriteLogLine in log_win.cpp / log_posix.cpp.
#include "base/log.h"

#include <cstdarg>
#include <cstring>

void LogSinkInit();  // platform: prepares the lock

char LogPath[kTextPath];
std::atomic<uint8_t> LogReady{0};
std::atomic<uint8_t> LogGate{0};

static const char kLogFileName[] = "NyraSED.log";

size_t MakeLogPath(const char* modulePath, char* out, size_t size)
{
    char folder[kTextPath] = "";
    const char* slash = modulePath ? strrchr(modulePath, '\\') : nullptr;
    if (slash) {
        size_t n = (size_t)(slash - modulePath) + 1;
        if (n >= sizeof folder)
            n = sizeof folder - 1;
        memcpy(folder, modulePath, n);
        folder[n] = '\0';
    }
    return FormatText(out, size, "%s%s", folder, kLogFileName);
}

size_t FormatLogLine(char* out, int hour, int minute, int second, int millisecond, const char* text)
{
    return FormatText(out, kLogLineSize - 1, "%02d:%02d:%02d.%03d  %s\r\n", hour, minute, second, millisecond,
                      text ? text : "");
}

void LogInit(const char* modulePath)
{
    LogSinkInit();
    MakeLogPath(modulePath, LogPath, kTextPath);
    LogReady.store(1);
}

static void LogFormatted(const char* format, va_list args)
{
    char message[kLogMessageSize];
    FormatTextV(message, kLogMessageSize - 1, format, args);
    WriteLogLine(message);
}

void LogTrace(const char* format, ...)
{
    if (!LogReady.load(std::memory_order_relaxed) || !LogGate.load(std::memory_order_relaxed))
        return;
    va_list args;
    va_start(args, format);
    LogFormatted(format, args);
    va_end(args);
}

void LogAlways(const char* format, ...)
{
    if (!LogReady.load(std::memory_order_relaxed))
        return;
    va_list args;
    va_start(args, format);
    LogFormatted(format, args);
    va_end(args);
}
