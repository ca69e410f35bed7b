// Releases the open sensor and frees the vendor library when the plug-in is unloaded or the
// process ends. Runs from the run-time's exit handlers, under the loader lock: a thread started
// now would not run before the library is gone, so abort and close are called directly, each
// behind the fault guard (at process end the vendor library may already have been detached),
// and only then is the library freed. No wait on any thread happens here.
// A library that a worker is stuck in, or that faulted and awaits its reload, is not called at
// all: its close may hang as its read did, and a hang here would hang the host's exit (or hold
// the loader lock for good). The handle and the module are left to the process's teardown.
#include "backend/backend_unload.h"

#include <windows.h>

#include "backend/backend_state.h"
#include "backend/vendor_release.h"
#include "base/log.h"

void ReleaseBackendAtUnload()
{
    ReleaseThreadFaultSlot();
    int32_t stuck = StuckWorkerCount.load();
    int32_t reloadPending = SdkReloadPending.load();
    if (stuck > 0 || reloadPending) {
        if (BackendModule || BackendDevice.load())
            LogTrace(
                "   unload: vendor library not called (%ld worker(s) stuck in it, reload pending=%ld) -> "
                "sensor and library left to process teardown",
                (long)stuck, (long)reloadPending);
        return;
    }
    VendorHandle device = BackendDevice.exchange(0);
    if (device) {
        CallVendorHandleGuarded(Vendor.HPK_AbortBulkPipe, device, nullptr);
        CallVendorHandleGuarded(Vendor.USB_CloseDevice, device, nullptr);
    }
    HMODULE module = static_cast<HMODULE>(BackendModule);
    ClearVendorState();
    if (module)
        FreeLibrary(module);
}
