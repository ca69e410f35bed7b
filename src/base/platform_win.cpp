#include <windows.h>

#include "base/platform.h"

uint32_t LastSystemError()
{
    return GetLastError();
}
