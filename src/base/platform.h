// Platform facts every layer may need: the calling convention of the host's exports and the
// vendor library's entries, and the size of a path buffer.
#pragma once

#if defined(_WIN32)
#define NYRA_STDCALL __stdcall
#else
#define NYRA_STDCALL
#endif

constexpr int kTextPath = 260;  // MAX_PATH: paths the host gives and the plug-in builds

#include <cstdint>

// The calling thread's last system error (GetLastError on Windows, errno elsewhere).
uint32_t LastSystemError();
