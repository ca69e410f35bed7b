// Sensor enumeration and selection: OpenAndSelect (direct and isolated paths), ReadAllSmsSlots,
// ReopenSlot, DetectVariantSafe and OpenFirstSensor, over the process-wide backend state.
// Runs on the thread that owns the sensor operation, one at a time (CaptureInProgress). At most
// three sensors are listed; a fourth is never opened. An identification failure is not an open
// failure: that sensor stays listed as "PID%04X", variant 2. Failures return 0/false with
// BackendLastError set, which each search starts by clearing; every handle opened on a failing
// path is closed again. A vendor fault ends the operation as a failure naming the faulting call.
#include "backend/sensor_select.h"

#include <cstring>

#include "backend/backend_state.h"
#include "backend/sensor_identify.h"
#include "backend/vendor_call.h"
#include "backend/vendor_release.h"
#include "base/log.h"

namespace {

bool NoDevice(VendorHandle handle)
{
    return handle == 0 || handle == (VendorHandle)-1;
}

bool PipeReady(int32_t status)
{
    return (uint32_t)status <= 126;
}

// A reason left by an earlier capture must not be reported as this one's; but after a fault on
// this thread (a re-arming after a faulted read) the fault stays the reason, as nothing will be
// called to give another.
void ClearBackendErrorForOpen()
{
    if (!ThreadVendorFault())
        BackendLastError[0] = '\0';
}

bool BackendLoaded()
{
    return BackendModule && BackendResult && Vendor.USB_OpenDevice;
}

// Each vendor call below runs behind its own guard (vendor_call.h). After a fault the thread
// calls the library no more: opens yield no device, pipes fail, and the handles we still hold
// are closed on a release thread, which does not inherit this thread's fault.

// The handle, or 0 for no device (0, -1 or a fault). *error gets the system error of the open.
VendorHandle OpenDevice(uint16_t productId, uint32_t* error = nullptr)
{
    VendorHandle handle = 0;
    uint32_t lastError = 0;
    if (!CallVendor("USB_OpenDevice", [&] {
            handle = Vendor.USB_OpenDevice(productId);
            lastError = LastSystemError();
        }))
        handle = 0;
    if (error)
        *error = lastError;
    return NoDevice(handle) ? 0 : handle;
}

// USB_OpenPipe's result; -1 (not ready) after a fault.
int32_t OpenPipe(VendorHandle handle)
{
    int32_t status = -1;
    CallVendor("USB_OpenPipe", [&] { status = Vendor.USB_OpenPipe(handle); });
    return status;
}

void CloseDevice(VendorHandle handle)
{
    if (ThreadVendorFault())
        SafeCloseDevice(handle, nullptr, Vendor.USB_CloseDevice, kReleaseWaitMs);
    else if (Vendor.USB_CloseDevice)
        CallVendor("USB_CloseDevice", [&] { Vendor.USB_CloseDevice(handle); });
}

void CloseDirect(VendorHandle handle)
{
    if (ThreadVendorFault()) {
        SafeCloseDevice(handle, Vendor.HPK_AbortBulkPipe, Vendor.USB_CloseDevice, kReleaseWaitMs);
        return;
    }
    if (Vendor.HPK_AbortBulkPipe)
        CallVendor("HPK_AbortBulkPipe", [&] { Vendor.HPK_AbortBulkPipe(handle); });
    CloseDevice(handle);
}

// USB_OpenDevice, and after a first failure USB_SetVid, 500 ms and one more try. Returns the
// handle or 0 with the error recorded.
VendorHandle OpenWithRetry(int slot, bool logSteps)
{
    uint32_t firstError = 0;
    VendorHandle handle = OpenDevice(BackendProductId, &firstError);
    if (handle || ThreadVendorFault())
        return handle;
    if (logSteps)
        LogTrace("   [trace] slot%d: USB_SetVid + retry USB_OpenDevice", slot);
    if (!CallVendor("USB_SetVid", [&] { Vendor.USB_SetVid(kVendorId, kDeviceInterfaceGuid); }))
        return 0;
    BackendSleep(500);
    handle = OpenDevice(BackendProductId);
    if (handle || ThreadVendorFault())
        return handle;
    SetBackendError("USB_OpenDevice(0x%04X) failed (first GetLastError=%lu)", (unsigned)BackendProductId,
                    (unsigned long)firstError);
    return 0;
}

// Opens, pipes and identifies up to three sensors in this process. The handles stay open in
// handles[]; returns the count.
int DirectEnumerate(SensorSlot* slots, VendorHandle* handles)
{
    int count = 0;
    for (int attempt = 0; attempt < kMaxSensors && !ThreadVendorFault(); ++attempt) {
        LogTrace("   [trace] slot%d: USB_OpenDevice(0x%04X)", attempt, (unsigned)BackendProductId);
        VendorHandle handle = attempt == 0 ? OpenWithRetry(attempt, true) : OpenDevice(BackendProductId);
        if (!handle)
            break;
        bool duplicate = false;
        for (int i = 0; i < count; ++i)
            duplicate = duplicate || handles[i] == handle;
        if (duplicate)
            break;
        LogTrace("   [trace] slot%d: USB_OpenPipe(h=%p)", attempt, (void*)handle);
        if (!PipeReady(OpenPipe(handle))) {
            CloseDevice(handle);
            break;
        }
        handles[count] = handle;
        BackendDevice.store(handle);
        LogTrace("   [trace] slot%d: DetectVariant (HPK_GetSensorInformation)", attempt);
        slots[count] = DetectVariant();
        LogTrace("   [trace] slot%d: DetectVariant returned serial=%s valid=%d", attempt, slots[count].serial,
                 slots[count].valid);
        ++count;
    }
    BackendDevice.store(0);
    return count;
}

}  // namespace

int32_t ReadAllSmsSlots(SensorSlot* list)
{
    char text[1024];
    int count = 0;
    if (RunSerialReader(kProductId, "all", text, sizeof text)) {
        // Up to three sensors; records with an empty serial do not take a slot.
        SerialRecord records[8];
        int found = ParseSerialRecords(text, records, 8);
        for (int i = 0; i < found && count < kMaxSensors; ++i) {
            if (!records[i].serial[0])
                continue;
            FillSlotFromSerial(&list[count], records[i].serial, records[i].firmware, count);
            ++count;
        }
    }
    LogTrace("   [trace] ReadAllSmsSlots -> %d sensor(s) in one helper run", count);
    if (count) {
        for (int i = 0; i < count; ++i)
            LogTrace("   [trace] slot%d: serial=%s valid=%d [%s]", i, list[i].serial, list[i].valid,
                     list[i].description);
        memcpy(CachedSensorList.slots, list, sizeof CachedSensorList.slots);
        CachedSensorList.count = count;
    }
    return count;
}

VendorHandle ReopenSlot(uint16_t productId, int32_t index)
{
    if (index < 0 || index >= kMaxSensors || !Vendor.USB_OpenDevice)
        return 0;
    VendorHandle held[kMaxSensors];
    int count = 0;
    while (count < index + 1) {
        VendorHandle handle = OpenDevice(productId);
        if (!handle)
            break;
        bool duplicate = false;
        for (int i = 0; i < count; ++i)
            duplicate = duplicate || held[i] == handle;
        // A handle we already hold is closed once, with the others below; closing it here as
        // well would close the same device twice.
        if (duplicate)
            break;
        held[count++] = handle;
    }
    if (count != index + 1) {
        for (int i = 0; i < count; ++i)
            CloseDevice(held[i]);
        return 0;
    }
    for (int i = 0; i < index; ++i)
        CloseDevice(held[i]);
    VendorHandle chosen = held[index];
    if (!PipeReady(OpenPipe(chosen))) {
        CloseDevice(chosen);
        return 0;
    }
    return chosen;
}

int32_t OpenAndSelect(bool suspendSwitch, uint32_t suspendMs, SensorSlot* list, int32_t* index)
{
    ClearBackendErrorForOpen();
    if (!BackendLoaded()) {
        SetBackendError("no backend loaded");
        return 0;
    }
    ReleaseSensor();
    BackendProductId = kProductId;
    SensorSlot slots[kMaxSensors];
    memset(slots, 0, sizeof slots);
    VendorHandle handles[kMaxSensors] = {0, 0, 0};
    int count = 0;

    const bool isolated = IsolatedPathAvailable();
    if (isolated) {
        if (CachedSensorList.count > 0) {
            count = CachedSensorList.count;
            memcpy(slots, CachedSensorList.slots, sizeof slots);
            LogTrace("   [trace] using cached sensor list (%d) -- no re-enumeration", count);
        } else {
            count = ReadAllSmsSlots(slots);
        }
    } else {
        count = DirectEnumerate(slots, handles);
        if (ThreadVendorFault()) {
            // BackendLastError names the call that faulted; nothing found is trusted.
            for (int i = 0; i < count; ++i)
                CloseDirect(handles[i]);
            return 0;
        }
    }
    if (count == 0) {
        if (!BackendLastError[0])
            SetBackendError("no Nyra sensor opened");
        return 0;
    }

    int selected = 0;
    if (PreferredSerial[0]) {
        for (int i = 0; i < count; ++i) {
            if (CompareNoCase(slots[i].serial, PreferredSerial) == 0) {
                selected = i;
                break;
            }
        }
    }

    if (isolated) {
        VendorHandle handle = ReopenSlot(kProductId, selected);
        if (!handle) {
            BackendDevice.store(0);
            memset(&CachedSensorList, 0, sizeof CachedSensorList);
            if (!ThreadVendorFault())
                SetBackendError("could not reopen sensor slot %d", selected);
            return 0;
        }
        BackendDevice.store(handle);
    } else {
        for (int i = 0; i < count; ++i)
            if (i != selected)
                CloseDirect(handles[i]);
        BackendDevice.store(handles[selected]);
    }

    ActiveSlot = selected;
    ApplySuspendTimer(BackendDevice.load(), suspendSwitch, suspendMs);
    if (list)
        memcpy(list, slots, sizeof slots);
    if (index)
        *index = selected;
    LogTrace("   [trace] OpenAndSelect done: count=%d active=%d handle=%p", count, selected,
             (void*)BackendDevice.load());
    return count;
}

SensorSlot DetectVariantSafe()
{
    ClearBackendErrorForOpen();
    if (!IsolatedPathAvailable())
        return DetectVariant();
    uint16_t productId = BackendProductId ? BackendProductId : kProductId;
    int32_t index = ActiveSlot;
    LogTrace("   [trace] DetectVariantSafe -> isolated SmsSerialReader.exe read (slot %d)", index);
    if (BackendDevice.load()) {
        ReleaseSensor();
        BackendSleep(250);
    }
    char selector[16];
    FormatText(selector, sizeof selector, "%d", index);
    char text[512];
    SensorSlot slot;
    memset(&slot, 0, sizeof slot);
    SerialRecord record;
    if (RunSerialReader(productId, selector, text, sizeof text) && ParseSerialRecords(text, &record, 1) == 1
        && record.serial[0]) {
        FillSlotFromSerial(&slot, record.serial, record.firmware, index);
    } else {
        slot.valid = 0;
        slot.variant = VariantSms;
        FormatText(slot.serial, sizeof slot.serial, "PID%04X", productId);
        FormatText(slot.description, sizeof slot.description, "isolated slot%d FAILED: %s", index,
                   BackendLastError[0] ? BackendLastError : "?");
    }
    BackendSleep(150);
    BackendDevice.store(ReopenSlot(productId, index));
    return slot;
}

bool OpenFirstSensor(bool suspendSwitch, uint32_t suspendMs)
{
    ClearBackendErrorForOpen();
    if (!BackendLoaded()) {
        SetBackendError("no backend loaded");
        return false;
    }
    BackendProductId = kProductId;
    VendorHandle handle = OpenWithRetry(0, false);
    if (!handle)
        return false;
    int32_t pipe = OpenPipe(handle);
    if (!PipeReady(pipe)) {
        CloseDevice(handle);
        if (ThreadVendorFault())
            return false;
        SetBackendError("USB_OpenPipe returned %d (outside 0..126)", (int)pipe);
        return false;
    }
    BackendDevice.store(handle);
    ApplySuspendTimer(handle, suspendSwitch, suspendMs);
    return true;
}
