// Stand-in for the sensor maker's USB library, written from what the plug-in relies on. One
// source builds SMS_API.dll (image reads take the capacity as a 64-bit value) and, with
// SIM_KIND_IO, IO_API.dll (32-bit capacity); builds lacking an export differ only in their .def.
// It simulates 0 to 4 sensors (simsdk.ini beside the DLL, see sim_config.h), opens them in order,
// delivers a phantom frame after the exposure delay, and can hang, ignore aborts, fault or fail
// on request. Every call is appended to simsdk_calls.log beside the DLL with its arguments and
// result, so tests can check exactly what the plug-in passed.
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "phantom.h"
#include "sim_config.h"

#if defined(SIM_KIND_IO)
typedef uint32_t SimCapacity;
#define SIM_CAPACITY_BITS 32
#else
typedef uint64_t SimCapacity;
#define SIM_CAPACITY_BITS 64
#endif

typedef intptr_t SimHandle;

extern "C" __declspec(dllimport) int32_t __stdcall CmosStubVersion();  // from CMOS_OPTION.dll / CMOS_USB.dll

namespace {

const SimHandle kHandleBase = 0x1000;
const int32_t kStatusAborted = (int32_t)0x80000001;
const int32_t kStatusBadHandle = (int32_t)0x80000004;
const int32_t kStatusSmallBuffer = (int32_t)0x80000010;
const int32_t kStatusBadRequest = (int32_t)0x80000020;
const int32_t kStatusInfoFailed = (int32_t)0x80000003;

HMODULE Self;
CRITICAL_SECTION Lock;
char Folder[MAX_PATH];

struct Device {
    volatile LONG open;
    HANDLE abortEvent;  // manual reset; set by abort or close, reset when a read starts
    LONG infoCalls;
    LONG frames;
};
Device Devices[kSimMaxSensors];
LONG OpenCalls;

void FolderFile(char* out, size_t size, const char* name)
{
    snprintf(out, size, "%s%s", Folder, name);
}

void Log(const char* format, ...)
{
    char line[512];
    va_list args;
    va_start(args, format);
    vsnprintf(line, sizeof line - 3, format, args);
    va_end(args);
    line[sizeof line - 3] = '\0';
    strcat(line, "\r\n");
    char path[MAX_PATH + 32];
    FolderFile(path, sizeof path, "simsdk_calls.log");
    EnterCriticalSection(&Lock);
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD written = 0;
        WriteFile(file, line, (DWORD)strlen(line), &written, nullptr);
        CloseHandle(file);
    }
    LeaveCriticalSection(&Lock);
}

SimConfig LoadConfig()
{
    char path[MAX_PATH + 32];
    FolderFile(path, sizeof path, "simsdk.ini");
    char text[4096] = "";
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file != INVALID_HANDLE_VALUE) {
        DWORD got = 0;
        ReadFile(file, text, sizeof text - 1, &got, nullptr);
        text[got] = '\0';
        CloseHandle(file);
    }
    SimConfig config;
    ParseSimConfig(text, &config);
    return config;
}

bool Released()
{
    char path[MAX_PATH + 32];
    FolderFile(path, sizeof path, "sim_release.flag");
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

void WaitForRelease()
{
    while (!Released())
        Sleep(20);
}

int IndexOf(SimHandle handle)
{
    SimHandle index = handle - kHandleBase - 1;
    return index >= 0 && index < kSimMaxSensors ? (int)index : -1;
}

// The frame as delivered (little-endian pixels, row 0 first), for tests that reprocess it.
void DumpFrame(const uint8_t* pixels, unsigned long long bytes)
{
    char path[MAX_PATH + 32];
    FolderFile(path, sizeof path, "sim_frame.raw");
    HANDLE file = CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file, pixels, (DWORD)bytes, &written, nullptr);
    CloseHandle(file);
}

void Crash()
{
    volatile int* nowhere = nullptr;
    *nowhere = 1;
}

}  // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH) {
        Self = instance;
        InitializeCriticalSection(&Lock);
        DWORD n = GetModuleFileNameA(instance, Folder, MAX_PATH);
        Folder[n < MAX_PATH ? n : MAX_PATH - 1] = '\0';
        char* slash = strrchr(Folder, '\\');
        if (slash)
            slash[1] = '\0';
        else
            Folder[0] = '\0';
        for (Device& d : Devices)
            d.abortEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    }
    return TRUE;
}

int32_t __stdcall USB_SetVid(uint32_t vendorId, const char* guid)
{
    Log("USB_SetVid vid=0x%04X guid=%s stub=%d", (unsigned)vendorId, guid ? guid : "(null)",
        (int)CmosStubVersion());
    return 0;
}

SimHandle __stdcall USB_OpenDevice(uint32_t productId)
{
    SimConfig config = LoadConfig();
    SimHandle handle = 0;
    if (InterlockedIncrement(&OpenCalls) > config.openFail && productId == 0x4400) {
        for (int i = 0; i < config.sensors; ++i) {
            if (InterlockedCompareExchange(&Devices[i].open, 1, 0) == 0) {
                ResetEvent(Devices[i].abortEvent);
                Devices[i].infoCalls = 0;
                handle = kHandleBase + 1 + i;
                break;
            }
        }
    }
    if (!handle && config.duplicate) {
        for (int i = config.sensors - 1; i >= 0 && !handle; --i)
            if (Devices[i].open)
                handle = kHandleBase + 1 + i;
    }
    if (!handle)
        SetLastError(ERROR_DEVICE_NOT_CONNECTED);
    Log("USB_OpenDevice pid=0x%04X -> 0x%X", (unsigned)productId, (unsigned)handle);
    return handle;
}

int32_t __stdcall USB_OpenPipe(SimHandle handle)
{
    int32_t result = IndexOf(handle) >= 0 ? LoadConfig().pipe : -1;
    Log("USB_OpenPipe h=0x%X -> %d", (unsigned)handle, (int)result);
    return result;
}

int32_t __stdcall USB_CloseDevice(SimHandle handle)
{
    SimConfig config = LoadConfig();
    Log("USB_CloseDevice h=0x%X", (unsigned)handle);
    if (config.closeHangs)
        WaitForRelease();
    int index = IndexOf(handle);
    if (index < 0)
        return kStatusBadHandle;
    SetEvent(Devices[index].abortEvent);
    InterlockedExchange(&Devices[index].open, 0);
    return 0;
}

int32_t __stdcall USB_ResumeDevice(SimHandle handle)
{
    Log("USB_ResumeDevice h=0x%X", (unsigned)handle);
    return 0;
}

int32_t __stdcall USB_SuspendDevice(SimHandle handle)
{
    Log("USB_SuspendDevice h=0x%X", (unsigned)handle);
    return 0;
}

int32_t __stdcall USB_SetDefaultSystemSuspendTime(SimHandle handle, uint32_t idleMs)
{
    SimConfig config = LoadConfig();
    Log("USB_SetDefaultSystemSuspendTime h=0x%X ms=%u", (unsigned)handle, (unsigned)idleMs);
    if (config.suspend == 2)
        Crash();
    return config.suspend == 1 ? -1 : 0;
}

int32_t __stdcall HPK_AbortBulkPipe(SimHandle handle)
{
    SimConfig config = LoadConfig();
    Log("HPK_AbortBulkPipe h=0x%X", (unsigned)handle);
    if (config.abortHangs)
        WaitForRelease();
    int index = IndexOf(handle);
    if (index < 0)
        return kStatusBadHandle;
    SetEvent(Devices[index].abortEvent);
    return 0;
}

int32_t __stdcall HPK_GetSensorInformation(SimHandle handle, const void* request, void* reply)
{
    SimConfig config = LoadConfig();
    int index = IndexOf(handle);
    int32_t status = 0;
    const uint8_t* in = static_cast<const uint8_t*>(request);
    uint32_t code = 0;
    double one = 0;
    if (in) {
        memcpy(&code, in, 4);
        memcpy(&one, in + 8, 8);
    }
    if (index < 0 || !Devices[index].open || index >= config.sensors) {
        status = kStatusBadHandle;
    } else if (code != 0x01B301C2u || one != 1.0 || !reply) {
        status = kStatusBadRequest;
    } else {
        LONG call = InterlockedIncrement(&Devices[index].infoCalls);
        if (config.infoFail == -2) {
            Log("HPK_GetSensorInformation h=0x%X -> fault", (unsigned)handle);
            Crash();
        }
        if (config.infoFail < 0 || call <= config.infoFail) {
            status = kStatusInfoFailed;
        } else {
            uint8_t* out = static_cast<uint8_t*>(reply);
            const SimSensor& s = config.sensor[index];
            out[16] = (uint8_t)(s.lot & 0xFF);
            out[17] = (uint8_t)(s.lot >> 8);
            out[18] = s.type;
            out[19] = s.firmware;
        }
    }
    Log("HPK_GetSensorInformation h=0x%X code=0x%08X one=%g -> 0x%X", (unsigned)handle, (unsigned)code, one,
        (unsigned)status);
    return status;
}

static int32_t ReadImage(const char* name, SimHandle handle, void* buffer, SimCapacity* capacity,
                         const uint8_t* params)
{
    SimConfig config = LoadConfig();
    int index = IndexOf(handle);
    unsigned mode = 0, start = 0, stop = 0;
    double integration = 0;
    if (params) {
        uint16_t s16 = 0, e16 = 0;
        mode = params[0];
        memcpy(&s16, params + 8, 2);
        memcpy(&e16, params + 10, 2);
        memcpy(&integration, params + 16, 8);
        start = s16;
        stop = e16;
    }
    unsigned long long cap = capacity ? (unsigned long long)*capacity : 0;
    Log("%s h=0x%X capbits=%d capacity=%llu mode=%u start=%u stop=%u integ=%g", name, (unsigned)handle,
        SIM_CAPACITY_BITS, cap, mode, start, stop, integration);
    if (index < 0 || !Devices[index].open)
        return kStatusBadHandle;
    Device& device = Devices[index];
    ResetEvent(device.abortEvent);
    int32_t status = 0;
    switch (config.read) {
    case ReadFault: Crash(); break;
    case ReadStuck:
        WaitForRelease();
        status = config.stuckThenFrame ? 0 : kStatusAborted;
        break;
    case ReadHang:
        WaitForSingleObject(device.abortEvent, INFINITE);
        status = kStatusAborted;
        break;
    case ReadStatus:
    case ReadFrame:
        if (WaitForSingleObject(device.abortEvent, (DWORD)config.exposureMs) == WAIT_OBJECT_0)
            status = kStatusAborted;
        else if (config.read == ReadStatus)
            status = (int32_t)config.readStatus;
        break;
    }
    if (status == 0) {
        int width = 0, height = 0;
        SimFrameSize(config.sensor[index], &width, &height);
        unsigned long long need = 14ull + 2ull * (unsigned long long)width * (unsigned long long)height;
        if (!buffer || cap < need) {
            status = kStatusSmallBuffer;
        } else {
            uint8_t* bytes = static_cast<uint8_t*>(buffer);
            LONG frame = InterlockedIncrement(&device.frames);
            memset(bytes, 0, 14);
            memcpy(bytes, "NYSIM", 5);
            bytes[5] = (uint8_t)index;
            memcpy(bytes + 6, &width, 4);
            memcpy(bytes + 10, &height, 4);
            uint16_t* pixels = reinterpret_cast<uint16_t*>(bytes + 14);
            if (config.flat >= 0) {
                for (size_t i = 0; i < (size_t)width * height; ++i)
                    pixels[i] =
                        (uint16_t)(config.splitRight >= 0 && (int)(i % width) >= width / 2 ? config.splitRight
                                                                                           : config.flat);
            } else {
                RenderPhantom(pixels, width, height,
                              config.seed >= 0 ? (uint32_t)config.seed : (uint32_t)(index * 1000 + frame));
            }
            if (config.dump)
                DumpFrame(bytes + 14, need - 14);
        }
    }
    Log("%s h=0x%X -> 0x%X", name, (unsigned)handle, (unsigned)status);
    return status;
}

int32_t __stdcall HPK_GetXrayImage(SimHandle handle, void* buffer, SimCapacity* capacity,
                                   const uint8_t* params)
{
    return ReadImage("HPK_GetXrayImage", handle, buffer, capacity, params);
}

int32_t __stdcall HPK_GetXrayCorrectionImage(SimHandle handle, void* buffer, SimCapacity* capacity,
                                             const uint8_t* params)
{
    return ReadImage("HPK_GetXrayCorrectionImage", handle, buffer, capacity, params);
}

}  // extern "C"
