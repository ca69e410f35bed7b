// The companion library the vendor DLL needs beside it (CMOS_OPTION.dll for SMS, CMOS_USB.dll
// for IO). Empty but for one function the stand-in imports, so that the stand-in loads only when
// the loader's search finds this file next to it.
#include <windows.h>

#include <cstdint>

extern "C" __declspec(dllexport) int32_t __stdcall CmosStubVersion()
{
    return 1;
}
