// Opening and choosing a sensor. With the IO kind, or an SMS kind without the serial reader, the
// sensors are opened and identified in this process (direct path); with an SMS kind whose folder
// holds SmsSerialReader.exe they are listed by that reader in a child process and the chosen one
// is opened by slot index (isolated path). Failures return 0/false with BackendLastError set.
#pragma once
#include <cstddef>
#include <cstdint>

#include "backend/sensor_slot.h"
#include "backend/vendor_api.h"

// Opens every sensor (at most three), identifies them and keeps the selected one open as the
// backend's device: PreferredSerial (case-insensitive) when it names a listed sensor, else slot
// 0. Returns the number found; list (3 slots) and index may be null.
int32_t OpenAndSelect(bool suspendSwitch, uint32_t suspendMs, SensorSlot* list, int32_t* index);

// Opens the first sensor without identifying it.
bool OpenFirstSensor(bool suspendSwitch, uint32_t suspendMs);

// Identification of the active sensor; on the isolated path closes the device, asks the reader
// and reopens it (the backend's device is 0 afterwards when the reopen failed).
SensorSlot DetectVariantSafe();

// Runs the reader with the selector ("all" or a slot index) and collects its output into
// out[size]. True when it printed at least one "RESULT|" record.
bool RunSerialReader(uint16_t productId, const char* selector, char* out, size_t size);

// Lists the sensors through one reader run into list[3]; returns the count and, when not 0,
// keeps the list as CachedSensorList.
int32_t ReadAllSmsSlots(SensorSlot* list);

// Opens the product id index + 1 times and keeps only the last one, with its pipe ready.
VendorHandle ReopenSlot(uint16_t productId, int32_t index);

// True when the loaded kind is SMS and its folder holds the serial reader.
bool IsolatedPathAvailable();
