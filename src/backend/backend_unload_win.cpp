// Releases the open sensor and frees the vendor library when the plug-in is unloaded or the
// process ends. Runs from the run-time's exit handlers, under the loader lock: a thread started
// now would not run before the library is gone, so abort and close are called directly, each
// behind the fault guard (at process end the vendor library may already have been detached),
// and only then is the library freed. No wait on any thread happens here.
#include "backend/backend_unload.h"

#include <windows.h>

#include "backend/backend_state.h"
#include "backend/fault_guard.h"

namespace {

struct UnloadCall {
    VendorHandleCall_fn entry;
    VendorHandle device;
};

void RunUnloadCall(void* arg)
{
    UnloadCall* call = static_cast<UnloadCall*>(arg);
    call->entry(call->device);
}

void CallGuarded(VendorHandleCall_fn entry, VendorHandle device)
{
    if (!entry || !device)
        return;
    UnloadCall call = {entry, device};
    GuardedCall(RunUnloadCall, &call, nullptr);
}

}  // namespace

void ReleaseBackendAtUnload()
{
    VendorHandle device = BackendDevice.exchange(0);
    if (device) {
        CallGuarded(Vendor.HPK_AbortBulkPipe, device);
        CallGuarded(Vendor.USB_CloseDevice, device);
    }
    HMODULE module = static_cast<HMODULE>(BackendModule);
    ClearVendorState();
    if (module)
        FreeLibrary(module);
}
