// Owns the vendor calls that may hang or fault: GuardedVendorCall (suspend timer), the release
// thread behind SafeCloseDevice, ReleaseSensor, AbortPipeAsync and the suspend kill-switch file.
// Waits are bounded; a release thread still stuck in the library after its caller gave up keeps
// the vendor library and the plug-in mapped (it holds a reference to each) until it returns, so
// an unload meanwhile cannot pull the code out from under it. Faults inside the calls are
// contained by GuardedCall and never reach the host.
#include "backend/vendor_release.h"

#include <windows.h>

#include <cstdlib>

#include "backend/backend_state.h"
#include "backend/fault_guard.h"
#include "backend/wide_text.h"
#include "base/log.h"

const char kSuspendKillSwitchName[] = "suspend_unsupported.flag";
const char kSuspendKillSwitchText[] =
    "USB_SetDefaultSystemSuspendTime faulted on this machine; NyraPro no longer calls it.\r\n"
    "Delete this file to re-enable the sensor suspend timer.\r\n";

struct HandleCall {
    VendorHandleCall_fn entry;
    VendorHandle device;
};

static void RunHandleCall(void* arg)
{
    HandleCall* call = static_cast<HandleCall*>(arg);
    call->entry(call->device);
}

bool CallVendorHandleGuarded(VendorHandleCall_fn entry, VendorHandle device, GuardFault* fault)
{
    if (!entry || !device)
        return true;
    HandleCall call = {entry, device};
    return GuardedCall(RunHandleCall, &call, fault);
}

namespace {

struct TimerCall {
    VendorTimerCall_fn entry;
    VendorHandle device;
    uint32_t ms;
    int32_t result;
};

void RunTimerCall(void* arg)
{
    TimerCall* call = static_cast<TimerCall*>(arg);
    call->result = call->entry(call->device, call->ms);
}

// Everything the release thread touches: its own copies, never the backend state.
struct ReleaseRequest {
    VendorHandleCall_fn first;
    VendorHandleCall_fn second;
    VendorHandle device;
    HMODULE vendorPin;  // reference on the library holding the entries, or null
    HMODULE selfPin;    // reference on the module holding this code (null in a program)
};

// Adds a reference to the module containing address, unless it is the program itself.
HMODULE PinModuleOf(const void* address)
{
    HMODULE module = nullptr;
    if (!address
        || !GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, static_cast<LPCWSTR>(address),
                               &module))
        return nullptr;
    if (module == GetModuleHandleW(nullptr)) {
        FreeLibrary(module);
        return nullptr;
    }
    return module;
}

void GuardedHandleCall(VendorHandleCall_fn entry, VendorHandle device)
{
    GuardFault fault;
    if (!CallVendorHandleGuarded(entry, device, &fault))
        LogTrace("!!! vendor release call faulted (SEH 0x%08lX at %p) -> ignored", (unsigned long)fault.code,
                 fault.address);
}

DWORD WINAPI ReleaseThreadMain(void* arg)
{
    ReleaseRequest* request = static_cast<ReleaseRequest*>(arg);
    GuardedHandleCall(request->first, request->device);
    GuardedHandleCall(request->second, request->device);
    HMODULE vendorPin = request->vendorPin;
    HMODULE selfPin = request->selfPin;
    free(request);
    if (vendorPin)
        FreeLibrary(vendorPin);
    if (selfPin)
        FreeLibraryAndExitThread(selfPin, 0);
    return 0;
}

}  // namespace

int32_t GuardedVendorCall(VendorTimerCall_fn entry, VendorHandle device, uint32_t ms)
{
    if (!entry)
        return -1;
    TimerCall call = {entry, device, ms, 0};
    GuardFault fault;
    if (GuardedCall(RunTimerCall, &call, &fault))
        return call.result;
    SuspendDisabled.store(1);
    return -1;
}

bool SafeCloseDevice(VendorHandle device, VendorHandleCall_fn first, VendorHandleCall_fn second,
                     uint32_t waitMs)
{
    if (!device || (!first && !second))
        return true;
    ReleaseRequest* request = static_cast<ReleaseRequest*>(calloc(1, sizeof(ReleaseRequest)));
    if (!request)
        return false;
    request->first = first;
    request->second = second;
    request->device = device;
    request->vendorPin = PinModuleOf(first ? (const void*)first : (const void*)second);
    request->selfPin = PinModuleOf((const void*)&ReleaseThreadMain);
    HANDLE thread = CreateThread(nullptr, 0, ReleaseThreadMain, request, 0, nullptr);
    if (!thread) {
        if (request->vendorPin)
            FreeLibrary(request->vendorPin);
        if (request->selfPin)
            FreeLibrary(request->selfPin);
        free(request);
        return false;
    }
    bool finished = WaitForSingleObject(thread, waitMs) == WAIT_OBJECT_0;
    CloseHandle(thread);
    return finished;
}

void ReleaseSensor()
{
    VendorHandle device = BackendDevice.exchange(0);
    if (device)
        SafeCloseDevice(device, Vendor.HPK_AbortBulkPipe, Vendor.USB_CloseDevice, kReleaseWaitMs);
}

void AbortPipeAsync()
{
    VendorHandle device = BackendDevice.load();
    if (device && Vendor.HPK_AbortBulkPipe)
        SafeCloseDevice(device, Vendor.HPK_AbortBulkPipe, nullptr, kAbortWaitMs);
}

void WriteSuspendKillSwitch(const wchar_t* dir)
{
    if (!dir || !dir[0])
        return;
    wchar_t path[MAX_PATH + 32];
    if (!JoinWide(path, sizeof path / sizeof path[0], dir, kSuspendKillSwitchName))
        return;
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    DWORD length = (DWORD)(sizeof kSuspendKillSwitchText - 1);
    DWORD written = 0;
    WriteFile(file, kSuspendKillSwitchText, length, &written, nullptr);
    CloseHandle(file);
    LogTrace("   wrote suspend_unsupported.flag -> the suspend timer stays off on every future run");
}

void ApplySuspendTimer(VendorHandle device, bool suspendSwitch, uint32_t suspendMs)
{
    if (BackendKindLoaded != BackendSms || !Vendor.USB_SetDefaultSystemSuspendTime || !suspendSwitch
        || SuspendDisabled.load())
        return;
    LogTrace("   [trace] USB_SetDefaultSystemSuspendTime(h=%p, %ums)", (void*)device, suspendMs);
    if (GuardedVendorCall(Vendor.USB_SetDefaultSystemSuspendTime, device, suspendMs) == -1) {
        LogTrace("   [trace] suspend-timer call FAULTED -> ignored and DISABLED (a faulting vendor "
                 "call corrupts SDK state and breaks the abort/cancel path)");
        WriteSuspendKillSwitch(BackendDir);
    }
}
