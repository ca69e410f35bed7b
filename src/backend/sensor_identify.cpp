// Owns the identification rules shared by both enumeration paths: the variant rule, the reader
// protocol ("RESULT|serial|firmware" records, "ERROR|" texts) and the in-process identification
// loop. Inputs are texts and a vendor table; outputs are SensorSlot records. A reading counts as
// plausible when the lot is non-zero or the firmware is 1..0x5F; a sensor that never gives one is
// kept as "PID%04X", variant 2, and so is one whose identification call faulted (no further
// attempts then). Nothing here fails: unreadable input yields an empty result.
#include "backend/sensor_identify.h"

#include <cstdlib>
#include <cstring>

#include "backend/backend_state.h"
#include "backend/vendor_call.h"
#include "base/log.h"

std::atomic<uint32_t> SerialReaderTimeoutMs{kSerialReaderDefaultTimeoutMs};

int32_t VariantFor(uint8_t type, uint8_t firmware)
{
    if (firmware >= 0x20 && firmware <= 0x3F)
        return VariantSize3;
    return type >= 0x80 ? VariantStandard2 : VariantStandard1;
}

static int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Hex value of text[0..length) (stops at the first non-hex character).
static uint32_t HexValue(const char* text, size_t length)
{
    uint32_t value = 0;
    for (size_t i = 0; i < length && HexDigit(text[i]) >= 0; ++i)
        value = value * 16 + (uint32_t)HexDigit(text[i]);
    return value;
}

int ParseSerialRecords(const char* text, SerialRecord* out, int max)
{
    static const char kTag[] = "RESULT|";
    int count = 0;
    const char* p = text;
    while (p && count < max) {
        const char* record = strstr(p, kTag);
        if (!record)
            break;
        const char* serial = record + sizeof kTag - 1;
        const char* bar = strchr(serial, '|');
        if (!bar)
            break;
        SerialRecord& r = out[count++];
        size_t length = (size_t)(bar - serial);
        if (length > sizeof r.serial - 1)
            length = sizeof r.serial - 1;
        memcpy(r.serial, serial, length);
        r.serial[length] = '\0';
        r.firmware = (uint8_t)HexValue(bar + 1, (size_t)-1);
        p = bar + 1;
    }
    return count;
}

bool JudgeReaderOutput(const char* text, char* error, size_t errorSize)
{
    if (text && strstr(text, "RESULT|"))
        return true;
    const char* reason = text ? strstr(text, "ERROR|") : nullptr;
    if (!reason)
        reason = text && text[0] ? text : "(no output)";
    FormatText(error, errorSize, "SmsSerialReader: %s", reason);
    return false;
}

void FillSlotFromSerial(SensorSlot* slot, const char* serial, uint8_t firmware, int index)
{
    memset(slot, 0, sizeof *slot);
    slot->valid = 1;
    slot->firmware = firmware;
    CopyText(slot->serial, sizeof slot->serial, serial);
    size_t length = strlen(slot->serial);
    if (length >= 6) {
        slot->type = (uint8_t)HexValue(slot->serial, 2);
        slot->lot = (uint16_t)(HexValue(slot->serial + 2, length - 2) & 0xFFFF);
    }
    slot->variant = VariantFor(slot->type, slot->firmware);
    FormatText(slot->description, sizeof slot->description, "isolated slot%d OK serial=%s fw=0x%02X", index,
               slot->serial, slot->firmware);
}

SensorSlot DetectVariantOn(const VendorApi& api, VendorHandle device, uint16_t productId,
                           void (*sleepMs)(uint32_t))
{
    SensorSlot slot;
    memset(&slot, 0, sizeof slot);
    if (!device)
        return slot;

    uint8_t request[kSensorInfoRequestSize];
    memset(request, 0, sizeof request);
    const uint32_t code = kSensorInfoRequestCode;
    const double one = 1.0;
    memcpy(request, &code, 4);
    memcpy(request + 8, &one, 8);

    int32_t status = -1;
    uint8_t type = 0, firmware = 0;
    uint16_t lot = 0;
    bool plausible = false;
    int attempt = 0;
    for (attempt = 1; attempt <= kIdentifyAttempts; ++attempt) {
        LogTrace("   [trace] HPK_GetSensorInformation attempt %d (h=%p)", attempt, (void*)device);
        uint8_t reply[kSensorInfoReplySize];
        memset(reply, 0, sizeof reply);
        status = -1;
        if (api.HPK_GetSensorInformation && !CallVendor("HPK_GetSensorInformation", [&] {
                status = api.HPK_GetSensorInformation(device, request, reply);
            }))
            break;  // a library that faulted is asked nothing more
        lot = (uint16_t)(reply[16] | (reply[17] << 8));
        type = reply[18];
        firmware = reply[19];
        plausible = lot != 0 || (firmware >= 1 && firmware <= 0x5F);
        if (status == 0 && plausible)
            break;
        if (sleepMs)
            sleepMs(kIdentifyRetryMs);
    }
    if (attempt > kIdentifyAttempts)
        attempt = kIdentifyAttempts;

    slot.type = type;
    slot.firmware = firmware;
    slot.lot = lot;
    slot.status = status;
    if (status == 0 && plausible) {
        slot.valid = 1;
        slot.variant = VariantFor(type, firmware);
        FormatText(slot.serial, sizeof slot.serial, "%02X%04X", type, lot);
    } else {
        slot.valid = 0;
        slot.variant = VariantSms;
        FormatText(slot.serial, sizeof slot.serial, "PID%04X", productId);
    }
    FormatText(slot.description, sizeof slot.description,
               "hpk_st=0x%X type=0x%02X fw=0x%02X lot=0x%04X att=%d valid=%d", (unsigned)status, type,
               firmware, lot, attempt, slot.valid);
    return slot;
}

SensorSlot DetectVariant()
{
    return DetectVariantOn(Vendor, BackendDevice.load(), BackendProductId ? BackendProductId : kProductId,
                           BackendSleep);
}
