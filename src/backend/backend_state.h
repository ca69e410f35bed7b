// Process-wide state of the sensor backend: the loaded vendor library, its entry points, the
// open device and the last error. No lock of its own: captures, correction builds and saturation
// reads exclude each other through CaptureInProgress, so one sensor operation runs at a time.
// The release threads touch only what was copied into their own request.
#pragma once
#include <atomic>
#include <cstdint>

#include "backend/sensor_slot.h"
#include "backend/vendor_api.h"
#include "base/text.h"

constexpr int kBackendErrorSize = 256;  // 255 characters + terminator
constexpr int kBackendDirChars = 260;

extern BackendKind BackendKindLoaded;  // kind of the loaded library (None, SMS, IO)
extern void* BackendModule;            // HMODULE of the loaded library, or null
extern VendorApi Vendor;               // bound entry points; all null while none is loaded
// The open sensor; 0 = none. Taken with an exchange wherever a release may race with a reader.
extern std::atomic<VendorHandle> BackendDevice;
extern uint16_t BackendProductId;                 // product id last used to open a device
extern char BackendLastError[kBackendErrorSize];  // emptied when a search or an open starts
extern wchar_t BackendDir[kBackendDirChars];      // folder of the loaded library; empty = none
extern std::atomic<uint8_t> SuspendDisabled;      // never call the suspend timer again
extern uint8_t BackendAttempted;                  // EnsureBackend has run
extern uint8_t BackendResult;                     // its cached outcome

struct SensorList {
    SensorSlot slots[kMaxSensors];
    int32_t count;  // 0 = empty
};
extern SensorList CachedSensorList;  // filled by ReadAllSmsSlots, reused on the isolated path
extern int32_t ActiveSlot;           // index OpenAndSelect selected last
extern char PreferredSerial[16];     // the sensor the user chose to switch to; empty = first

// Set when the library faulted or left a worker inside it: reload it at the next start.
extern std::atomic<int32_t> SdkReloadPending;
// Abandoned workers still inside the library; the unload does not call into it while any is.
extern std::atomic<int32_t> StuckWorkerCount;

// How the backend waits between vendor calls (a retry's settling time, the gaps around a reader
// run): real sleeps, which tests replace with a recorder so that the rules run without waiting.
extern void (*BackendSleep)(uint32_t ms);

// printf-style into BackendLastError, cut at 255 characters.
void SetBackendError(const char* format, ...) NYRA_PRINTF(1, 2);

// Forgets the library's entry points, the kind and the folder (not the error or the kill switch).
void ClearVendorState();
