// Library entry: records the module, opens the log beside the library and registers the
// device release that runs when the library is unloaded or the process ends.
#include <windows.h>

#include <cstdlib>

#include "backend/backend_unload.h"
#include "base/host_context.h"
#include "base/log.h"

static void UnloadRelease()
{
    ReleaseBackendAtUnload();
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(instance);
        ModuleInstance = instance;
        char modulePath[MAX_PATH] = "";
        DWORD n = GetModuleFileNameA(instance, modulePath, MAX_PATH);
        if (n >= MAX_PATH)
            modulePath[MAX_PATH - 1] = '\0';
        LogInit(modulePath);
        LogTrace("==================================================");
        LogTrace("NyraSED DLL_PROCESS_ATTACH  (Phase-1 skeleton)");
        LogTrace("==================================================");
        // The run-time calls its exit handlers after this DllMain has seen the detach.
        atexit(UnloadRelease);
    } else if (reason == DLL_PROCESS_DETACH) {
        LogTrace("NyraSED DLL_PROCESS_DETACH");
    }
    return TRUE;
}
