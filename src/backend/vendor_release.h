// Bounded and guarded vendor calls: the ones known to hang (abort, close) run on a short-lived
// release thread that the caller waits for only so long; the one known to fault (the suspend
// timer) runs behind the fault guard and is switched off for good once it has faulted.
#pragma once
#include <cstdint>

#include "backend/fault_guard.h"
#include "backend/vendor_api.h"

constexpr uint32_t kReleaseWaitMs = 2000;    // abort and close
constexpr uint32_t kAbortWaitMs = 1500;      // abort only
extern const char kSuspendKillSwitchName[];  // "suspend_unsupported.flag"
extern const char kSuspendKillSwitchText[];  // its whole content

// Calls entry(device, ms) behind the fault guard: the entry's result, or -1 after a fault, which
// also sets SuspendDisabled.
int32_t GuardedVendorCall(VendorTimerCall_fn entry, VendorHandle device, uint32_t ms);

// Calls entry(device) behind the fault guard, without logging (also usable under the loader
// lock). True when it returned normally or there was nothing to call.
bool CallVendorHandleGuarded(VendorHandleCall_fn entry, VendorHandle device, GuardFault* fault);

// Runs first(device) then second(device) (each if not null) on a release thread, each behind
// the fault guard, and waits at most waitMs for it. Does nothing for device 0 or no entries.
// Returns true when the thread finished within the wait.
bool SafeCloseDevice(VendorHandle device, VendorHandleCall_fn first, VendorHandleCall_fn second,
                     uint32_t waitMs);

// Takes the open device out of the backend state and aborts and closes it (2000 ms bound).
void ReleaseSensor();

// Aborts the read pending on the open device (1500 ms bound); the device stays open and owned
// by whoever reads from it.
void AbortPipeAsync();

// Writes the kill-switch file into dir (wide path); nothing when dir is empty.
void WriteSuspendKillSwitch(const wchar_t* dir);

// After a device has been opened: sets the sensor's idle suspend time when the SMS kind is
// loaded, the entry is bound, the caller's switch is on and the kill switch is not set.
void ApplySuspendTimer(VendorHandle device, bool suspendSwitch, uint32_t suspendMs);
