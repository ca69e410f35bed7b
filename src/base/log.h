// The diagnostic log: "NyraSED.log" beside the library, one line per message, opened and
// closed for every line so that nothing is lost when a vendor call brings the process down.
// Each line also goes to the debugger output as "[NyraSED] " + message + "\n".
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "base/platform.h"
#include "base/text.h"

constexpr size_t kLogMessageSize = 1024;  // a message is cut after 1022 characters
constexpr size_t kLogLineSize = 1200;     // a line is cut after 1198 characters

extern char LogPath[kTextPath];        // "<library folder>\NyraSED.log"
extern std::atomic<uint8_t> LogReady;  // set once at attach
extern std::atomic<uint8_t> LogGate;   // "Enable logging", sampled at each capture start

// Computes LogPath from the library's own path, prepares the lock and opens the log (LogReady).
void LogInit(const char* modulePath);

// "<folder of modulePath>\NyraSED.log", or "NyraSED.log" when the path has no backslash; cut
// to size - 1. Returns the length written.
size_t MakeLogPath(const char* modulePath, char* out, size_t size);

// "%02d:%02d:%02d.%03d  %s\r\n" into out[kLogLineSize], bounded to 1199 characters. Returns
// the length written.
size_t FormatLogLine(char* out, int hour, int minute, int second, int millisecond, const char* text);

// Writes one line; gated only by LogReady.
void WriteLogLine(const char* text);

// printf-style; written only while LogGate is open.
void LogTrace(const char* format, ...) NYRA_PRINTF(1, 2);
// printf-style; written whenever the log is ready (crashed and abandoned workers).
void LogAlways(const char* format, ...) NYRA_PRINTF(1, 2);
