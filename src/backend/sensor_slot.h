// One identified sensor, as enumeration reports it and the capture engine keeps it.
#pragma once
#include <cstdint>

// Size variant reported for a sensor; the capture engine maps it to a model and a frame size.
enum SensorVariant : int32_t {
    VariantNone = 0,       // no open device
    VariantStandard2 = 1,  // standard sensor, size 2
    VariantSms = 2,        // SMS variant, and every sensor that could not be identified
    VariantSize3 = 3,
    VariantStandard1 = 4,  // standard sensor, size 1
};

constexpr int kMaxSensors = 3;

struct SensorSlot {
    uint8_t valid;     // identification succeeded
    uint8_t type;      // sensor type code
    uint8_t firmware;  // firmware code
    uint16_t lot;
    char serial[16];       // "%02X%04X" type and lot, or "PID%04X" when not identified
    int32_t variant;       // SensorVariant
    int32_t status;        // last identification status (0 on the serial-reader path)
    char description[96];  // diagnostic line, cut to fit
};
