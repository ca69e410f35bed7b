// Host configuration exports: window, directories, callbacks, version, the configuration blob,
// the dialogs, the sensor's identity and status, and mounting. Each writes one
// trace line with its arguments and result.
#include <windows.h>
#include <shlobj.h>

#include <cstring>

#include "backend/backend.h"
#include "base/host_context.h"
#include "base/log.h"
#include "capture/capture_state.h"
#include "host/exports.h"
#include "settings/active_settings.h"
#include "settings/host_config.h"
#include "settings/settings.h"
#include "ui/options_dialog.h"

extern "C" {

void NYRA_STDCALL SEDSetMainWindow(HWND window)
{
    HostMainWindow = window;
    LogTrace("SEDSetMainWindow(hwnd=%p)", (void*)window);
}

void NYRA_STDCALL SEDSetSEDDir(const char* path)
{
    if (path)
        CopyText(SedDir, sizeof SedDir, path);
    LogTrace("SEDSetSEDDir(\"%s\")", path ? path : "(null)");
}

void NYRA_STDCALL SEDSetDevicesDir(const char* path)
{
    if (path)
        CopyText(DevicesDir, sizeof DevicesDir, path);
    if (DevicesDir[0])
        FormatText(PluginDataDir, sizeof PluginDataDir, "%s\\Nyra", DevicesDir);
    else
        CopyText(PluginDataDir, sizeof PluginDataDir, kDefaultDataDir);
    SHCreateDirectoryExA(nullptr, PluginDataDir, nullptr);
    LogTrace("SEDSetDevicesDir(\"%s\")", path ? path : "(null)");
}

void NYRA_STDCALL SEDSetImageCallback(void* callback)
{
    LogTrace("SEDSetImageCallback(%p)", callback);
}

void NYRA_STDCALL SEDSetStatusCallback(StatusCallbackFn callback)
{
    StatusCallback = callback;
    LogTrace("SEDSetStatusCallback(%p)", reinterpret_cast<void*>(callback));
}

void NYRA_STDCALL SEDSetTranslateCallback(void* callback)
{
    LogTrace("SEDSetTranslateCallback(%p)", callback);
}

void NYRA_STDCALL SEDSetSensorID(uint32_t id)
{
    HostSensorId = id;
    LogTrace("SEDSetSensorID(%d)", (int)id);
}

uint32_t NYRA_STDCALL SEDGetSEDVersion()
{
    const uint32_t version = 0x20000;
    LogTrace("SEDGetSEDVersion() -> 0x%08lX", (unsigned long)version);
    return version;
}

uint32_t NYRA_STDCALL SEDGetVersionInfo(void* a, void* b, void* c)
{
    LogTrace("SEDGetVersionInfo(%p,%p,%p) [stub]", a, b, c);
    return 1;
}

uint32_t NYRA_STDCALL SEDGetConfigurationAndOptionsSize()
{
    LogTrace("SEDGetConfigurationAndOptionsSize() -> 0x%X", (unsigned)kHostBlobSize);
    return kHostBlobSize;
}

// The buffer must hold 2052 bytes; the host passes no size.
uint32_t NYRA_STDCALL SEDGetConfigurationAndOptions(void* buffer)
{
    PrepareHostBlobForHost(&HostBlob);
    if (buffer)
        memcpy(buffer, &HostBlob, kHostBlobSize);
    LogTrace("SEDGetConfigurationAndOptions(buf=%p) copied 0x%X bytes (ver=0x%lX)", buffer,
             (unsigned)kHostBlobSize, (unsigned long)HostBlob.version);
    return 1;
}

uint32_t NYRA_STDCALL SEDSetConfigurationAndOptions(const void* buffer, uint32_t size)
{
    bool stored = AcceptHostBlob(&HostBlob, buffer, size);
    if (SeedHostBlobFromFile(&HostBlob))
        LogTrace("   seeded config from persisted settings file (host blob had no saved options)");
    LogTrace("SEDSetConfigurationAndOptions(buf=%p, size=0x%X) -> %s", buffer, (unsigned)size,
             stored ? "stored" : "defaults kept");
    return 1;
}

uint32_t NYRA_STDCALL SEDDisplayConfiguration()
{
    LogTrace("SEDDisplayConfiguration()");
    return (uint32_t)MessageBoxA((HWND)HostMainWindow,
                                 "Nyra Pro configuration dialog is not built yet (Phase 1 skeleton).",
                                 "NyraPro", MB_OK | MB_ICONINFORMATION);
}

void NYRA_STDCALL SEDDisplayOptions()
{
    LogTrace("SEDDisplayOptions() -> hardware options dialog");
    OptionsContext context;
    memset(&context, 0, sizeof context);
    context.blob = &HostBlob;
    context.sensorName = SensorName;
    int32_t result = ShowOptionsDialog(&context, HostMainWindow);
    LogTrace("   options dialog closed (%s)", result == 1 ? "saved" : "cancelled");
}

uint32_t NYRA_STDCALL SEDAddNewSensor()
{
    LogTrace("SEDAddNewSensor()");
    MessageBoxA((HWND)HostMainWindow,
                "Nyra sensors are detected automatically when connected \x97 no manual setup is required.",
                "Nyra Pro", MB_OK | MB_ICONINFORMATION);
    return 1;
}

uint32_t NYRA_STDCALL SEDSwitchSensor()
{
    LogTrace("SEDSwitchSensor() -> 1 (no-op; switch is capture-dialog driven)");
    return 1;
}

uint32_t NYRA_STDCALL SEDGetCurrentSensorID(char* buffer, int32_t size)
{
    size_t length = CopyTextToHost(buffer, size, SensorName);
    LogTrace("SEDGetCurrentSensorID(buf=%p,size=%d) -> \"%s\"", (void*)buffer, (int)size, SensorName);
    return (uint32_t)length;
}

uint32_t NYRA_STDCALL SEDGetCurrentSensorDefinition(char* buffer, int32_t size)
{
    size_t length = CopyTextToHost(buffer, size, SensorName);
    LogTrace("SEDGetCurrentSensorDefinition(buf=%p,size=%d) -> \"%s\"", (void*)buffer, (int)size, SensorName);
    return (uint32_t)length;
}

uint32_t NYRA_STDCALL SEDGetCurrentPort()
{
    LogTrace("SEDGetCurrentPort() [stub]");
    return 0;
}

uint32_t NYRA_STDCALL SEDGetCurrentStatus(char* buffer, int32_t size)
{
    CopyTextToHost(buffer, size, "Ready");
    LogTrace("SEDGetCurrentStatus -> \"Ready\"");
    return 1;
}

uint32_t NYRA_STDCALL SEDPostMount()
{
    LogTrace("SEDPostMount() -> 1 (mounted OK; simulated, no hardware backend yet)");
    return 1;
}

// Releases the sensor unless a capture, correction build or saturation read holds it. Returns
// 1 when nothing was left open for the host to worry about.
uint32_t NYRA_STDCALL SEDPreUnmount()
{
    LogTrace("SEDPreUnmount()");
    if (CaptureInProgress.load() != 0)
        return 0;
    ReleaseSensor();
    return 1;
}

}  // extern "C"
