// POSIX half of the log, for the native build of the portable core and its tests: the same
// line format appended to LogPath under a mutex. There is no debugger channel here.
#include <sys/time.h>

#include <cstdio>
#include <ctime>
#include <mutex>

#include "base/log.h"

static std::mutex LogLock;

void LogSinkInit() {}

void WriteLogLine(const char* text)
{
    if (!LogReady.load(std::memory_order_relaxed))
        return;
    std::lock_guard<std::mutex> hold(LogLock);
    FILE* file = fopen(LogPath, "ab");
    if (!file)
        return;
    timeval tv;
    gettimeofday(&tv, nullptr);
    tm local;
    localtime_r(&tv.tv_sec, &local);
    char line[kLogLineSize];
    size_t length = FormatLogLine(line, local.tm_hour, local.tm_min, local.tm_sec, (int)(tv.tv_usec / 1000),
                                  text ? text : "");
    fwrite(line, 1, length, file);
    fclose(file);
}
