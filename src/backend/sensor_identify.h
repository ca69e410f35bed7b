// Sensor identification: the size-variant rule, the serial reader's text protocol and the
// in-process identification through HPK_GetSensorInformation. Portable; the calls into the
// vendor library go through a VendorApi table so tests can hand in a fake.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "backend/sensor_slot.h"
#include "backend/vendor_api.h"

constexpr int kIdentifyAttempts = 8;
constexpr uint32_t kIdentifyRetryMs = 250;
constexpr uint32_t kSerialReaderDefaultTimeoutMs = 20000;
// How long RunSerialReader waits for the reader before killing it. Tests may shorten it.
extern std::atomic<uint32_t> SerialReaderTimeoutMs;

// Size variant of an identified sensor: 3 for firmware 0x20-0x3F, else 1 (type >= 0x80) or 4.
int32_t VariantFor(uint8_t type, uint8_t firmware);

// One "RESULT|serial|firmware" record of the serial reader.
struct SerialRecord {
    char serial[16];   // at most 15 characters kept; may be empty
    uint8_t firmware;  // low 8 bits of the hex number
};

// Parses the records of text in order into out[max]; returns how many were found. Parsing stops
// at a record without the "|" that ends its serial.
int ParseSerialRecords(const char* text, SerialRecord* out, int max);

// Judges a finished (not timed-out) reader run: true when the text holds "RESULT|"; otherwise
// writes "SmsSerialReader: ..." with the "ERROR|" text, the whole text or "(no output)".
bool JudgeReaderOutput(const char* text, char* error, size_t errorSize);

// Fills a slot from a reader record: valid, firmware, serial, type and lot from the serial's hex
// digits when it has 6 or more characters, the variant, and the description.
void FillSlotFromSerial(SensorSlot* slot, const char* serial, uint8_t firmware, int index);

// Identifies the open device: up to 8 calls of HPK_GetSensorInformation, sleeping 250 ms after
// each failed one. device 0 gives an all-zero slot. sleepMs may be null (no waiting).
SensorSlot DetectVariantOn(const VendorApi& api, VendorHandle device, uint16_t productId,
                           void (*sleepMs)(uint32_t));

// The same on the backend's open device, with real waits.
SensorSlot DetectVariant();
