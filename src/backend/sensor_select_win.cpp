// Sensor enumeration and selection: OpenAndSelect (direct and isolated paths), ReadAllSmsSlots,
// ReopenSlot, DetectVariantSafe and OpenFirstSensor, over the process-wide backend state.
// Runs on the thread that owns the sensor operation, one at a time (CaptureInProgress). At most
// three sensors are listed; a fourth is never opened. An identification failure is not an open
// failure: that sensor stays listed as "PID%04X", variant 2. Failures return 0/false with
// BackendLastError set; every handle opened on a failing path is closed again.
#include "backend/sensor_select.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "backend/backend_state.h"
#include "backend/sensor_identify.h"
#include "backend/vendor_release.h"
#include "plugin/globals.h"
#include "plugin/log.h"

namespace {

bool NoDevice(VendorHandle handle)
{
    return handle == 0 || handle == (VendorHandle)-1;
}

bool PipeReady(int32_t status)
{
    return (uint32_t)status <= 126;
}

bool BackendLoaded()
{
    return BackendModule && BackendResult && Vendor.USB_OpenDevice;
}

void CloseDirect(VendorHandle handle)
{
    if (Vendor.HPK_AbortBulkPipe)
        Vendor.HPK_AbortBulkPipe(handle);
    if (Vendor.USB_CloseDevice)
        Vendor.USB_CloseDevice(handle);
}

// USB_OpenDevice, and after a first failure USB_SetVid, 500 ms and one more try. Returns the
// handle or 0 with the error recorded.
VendorHandle OpenWithRetry(int slot, bool logSteps)
{
    VendorHandle handle = Vendor.USB_OpenDevice(BackendProductId);
    if (!NoDevice(handle))
        return handle;
    DWORD firstError = GetLastError();
    if (logSteps)
        LogTrace("   [trace] slot%d: USB_SetVid + retry USB_OpenDevice", slot);
    Vendor.USB_SetVid(kVendorId, kDeviceInterfaceGuid);
    Sleep(500);
    handle = Vendor.USB_OpenDevice(BackendProductId);
    if (!NoDevice(handle))
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
    for (int attempt = 0; attempt < kMaxSensors; ++attempt) {
        LogTrace("   [trace] slot%d: USB_OpenDevice(0x%04X)", attempt, (unsigned)BackendProductId);
        VendorHandle handle;
        if (attempt == 0) {
            handle = OpenWithRetry(attempt, true);
        } else {
            handle = Vendor.USB_OpenDevice(BackendProductId);
            if (NoDevice(handle))
                handle = 0;
        }
        if (!handle)
            break;
        bool duplicate = false;
        for (int i = 0; i < count; ++i)
            duplicate = duplicate || handles[i] == handle;
        if (duplicate)
            break;
        LogTrace("   [trace] slot%d: USB_OpenPipe(h=%p)", attempt, (void*)handle);
        if (!PipeReady(Vendor.USB_OpenPipe(handle))) {
            Vendor.USB_CloseDevice(handle);
            break;
        }
        handles[count] = handle;
        BackendDevice.store(handle);
        LogTrace("   [trace] slot%d: DetectVariant (HPK_GetSensorInformation)", attempt);
        slots[count] = DetectVariant();
        LogTrace("   [trace] slot%d: DetectVariant returned serial=%s valid=%d", attempt,
                 slots[count].serial, slots[count].valid);
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
        VendorHandle handle = Vendor.USB_OpenDevice(productId);
        if (NoDevice(handle))
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
            Vendor.USB_CloseDevice(held[i]);
        return 0;
    }
    for (int i = 0; i < index; ++i)
        Vendor.USB_CloseDevice(held[i]);
    VendorHandle chosen = held[index];
    if (!PipeReady(Vendor.USB_OpenPipe(chosen))) {
        Vendor.USB_CloseDevice(chosen);
        return 0;
    }
    return chosen;
}

int32_t OpenAndSelect(bool suspendSwitch, uint32_t suspendMs, SensorSlot* list, int32_t* index)
{
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
    if (!IsolatedPathAvailable())
        return DetectVariant();
    uint16_t productId = BackendProductId ? BackendProductId : kProductId;
    int32_t index = ActiveSlot;
    LogTrace("   [trace] DetectVariantSafe -> isolated SmsSerialReader.exe read (slot %d)", index);
    if (BackendDevice.load()) {
        ReleaseSensor();
        Sleep(250);
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
    Sleep(150);
    BackendDevice.store(ReopenSlot(productId, index));
    return slot;
}

bool OpenFirstSensor(bool suspendSwitch, uint32_t suspendMs)
{
    if (!BackendLoaded()) {
        SetBackendError("no backend loaded");
        return false;
    }
    BackendProductId = kProductId;
    VendorHandle handle = OpenWithRetry(0, false);
    if (!handle)
        return false;
    int32_t pipe = Vendor.USB_OpenPipe(handle);
    if (!PipeReady(pipe)) {
        Vendor.USB_CloseDevice(handle);
        SetBackendError("USB_OpenPipe returned %d (outside 0..126)", (int)pipe);
        return false;
    }
    BackendDevice.store(handle);
    ApplySuspendTimer(handle, suspendSwitch, suspendMs);
    return true;
}
