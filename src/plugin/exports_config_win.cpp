// Host configuration exports: version, directories, window, callbacks, blob, identity.
#include <windows.h>

#include "plugin/exports.h"
#include "plugin/globals.h"
#include "plugin/log.h"

extern "C" uint32_t NYRA_STDCALL SEDGetSEDVersion()
{
    const uint32_t version = 0x20000;
    LogTrace("SEDGetSEDVersion() -> 0x%08lX", (unsigned long)version);
    return version;
}
