// Releases the open sensor and frees the vendor library when the plug-in is unloaded or the
// process ends. Runs from the run-time's exit handlers, under the loader lock: a thread started
// now would not run before the library is gone, so abort and close are called directly, each
// behind the fault guard (at process end the vendor library may already have been detached),
// and only then is the library freed. No wait on any thread happens here.
#include "backend/backend_unload.h"

#include <windows.h>

#include "backend/backend_state.h"
#include "backend/vendor_release.h"

void ReleaseBackendAtUnload()
{
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
