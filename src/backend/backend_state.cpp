// Definitions of the backend's process-wide state and its last-error text. Portable: the loader
// (backend_loader_win.cpp) fills it on Windows; the native build keeps it empty.
#include "backend/backend_state.h"
#include "backend/vendor_call.h"

#include <chrono>
#include <cstdarg>
#include <cstring>
#include <thread>

BackendKind BackendKindLoaded = BackendNone;
void* BackendModule;
VendorApi Vendor;
std::atomic<VendorHandle> BackendDevice{0};
uint16_t BackendProductId;
char BackendLastError[kBackendErrorSize];
wchar_t BackendDir[kBackendDirChars];
std::atomic<uint8_t> SuspendDisabled{0};
uint8_t BackendAttempted;
uint8_t BackendResult;
SensorList CachedSensorList;
int32_t ActiveSlot;

static void SleepMilliseconds(uint32_t ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}
void (*BackendSleep)(uint32_t ms) = SleepMilliseconds;
char PreferredSerial[16];
std::atomic<int32_t> SdkReloadPending{0};
std::atomic<int32_t> StuckWorkerCount{0};

void SetBackendError(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    FormatTextV(BackendLastError, sizeof BackendLastError, format, args);
    va_end(args);
}

void RecordVendorFault(const char* entry, const GuardFault& fault)
{
    SetThreadVendorFault(fault.code ? fault.code : 1u);
    SetBackendError("%s faulted (exception 0x%08X)", entry, (unsigned)fault.code);
}

void ClearVendorState()
{
    memset(&Vendor, 0, sizeof Vendor);
    BackendModule = nullptr;
    BackendKindLoaded = BackendNone;
    BackendDir[0] = L'\0';
}
