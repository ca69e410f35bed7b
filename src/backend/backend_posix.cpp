// The native build has no vendor library: the loader finds nothing, and the bounded release
// calls have nothing to release. Lets portable callers (the capture engine) link and take their
// "no backend" branches in native tests.
#include "backend/backend_loader.h"
#include "backend/backend_state.h"
#include "backend/vendor_release.h"

wchar_t FixedSdkDir[kSdkDirChars] = L"";
const char kSuspendKillSwitchName[] = "suspend_unsupported.flag";
const char kSuspendKillSwitchText[] =
    "USB_SetDefaultSystemSuspendTime faulted on this machine; NyraPro no longer calls it.\r\n"
    "Delete this file to re-enable the sensor suspend timer.\r\n";

bool EnsureBackend()
{
    if (!BackendAttempted) {
        BackendAttempted = 1;
        SetBackendError("no SMS or IO backend files found in %s", "(native build)");
    }
    return false;
}

bool LoadBackendDir(const wchar_t*, BackendKind)
{
    return false;
}

bool LoadBackendAnyKind(const wchar_t*)
{
    return false;
}

bool BindVendorApi()
{
    SetBackendError("no backend loaded");
    return false;
}

void UnloadBackend()
{
    BackendDevice.store(0);
    ClearVendorState();
    CachedSensorList = SensorList();
    BackendAttempted = 0;
    BackendResult = 0;
}

int32_t GuardedVendorCall(VendorTimerCall_fn entry, VendorHandle device, uint32_t ms)
{
    return entry ? entry(device, ms) : -1;
}

bool SafeCloseDevice(VendorHandle device, VendorHandleCall_fn first, VendorHandleCall_fn second, uint32_t)
{
    if (device && first)
        first(device);
    if (device && second)
        second(device);
    return true;
}

void ReleaseSensor()
{
    VendorHandle device = BackendDevice.exchange(0);
    SafeCloseDevice(device, Vendor.HPK_AbortBulkPipe, Vendor.USB_CloseDevice, kReleaseWaitMs);
}

void AbortPipeAsync()
{
    VendorHandle device = BackendDevice.load();
    if (device)
        SafeCloseDevice(device, Vendor.HPK_AbortBulkPipe, nullptr, kAbortWaitMs);
}

void WriteSuspendKillSwitch(const wchar_t*) {}

void ApplySuspendTimer(VendorHandle, bool, uint32_t) {}
