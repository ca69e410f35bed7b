// Loading our own Windows binaries in tests: the output folder the test program runs from, and
// typed GetProcAddress.
#pragma once
#include <windows.h>

#include <string>

// The folder of the running test program, with a trailing backslash; the plug-in and the
// stand-ins are built into it.
std::string OutputFolder();

template <typename Fn>
Fn ProcAs(HMODULE module, const char* name)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}
