// What the loader and the host hand the plug-in, once, for the life of the process: the
// module, the owner window, the folders and the status callback. The entry point and the
// configuration exports set them; every layer below reads them. All start null or empty.
#pragma once
#include <cstdint>

#include "base/platform.h"

// The host's status callback: (HostSensorId, status code, text or null).
typedef void(NYRA_STDCALL* StatusCallbackFn)(uint32_t sensorId, uint32_t status, const char* text);

extern void* ModuleInstance;  // HINSTANCE of NyraPro.SED
extern void* HostMainWindow;  // owner of every dialog and message box
extern char SedDir[kTextPath];
extern char DevicesDir[kTextPath];
extern char PluginDataDir[kTextPath];  // DevicesDir\Nyra, or the default folder
extern StatusCallbackFn StatusCallback;
extern uint32_t HostSensorId;  // first argument of every status callback
