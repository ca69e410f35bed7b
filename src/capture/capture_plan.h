// What the worker asks of the sensor, decided from the size variant it reports and the
// settings: frame size, parameter block, the texts that describe the sensor, and the arming
// parameters passed to the frame read. Also the small frame steps that need no sensor.
#pragma once
#include <cstdint>

#include "backend/sensor_slot.h"
#include "settings/settings_record.h"

struct CapturePlan {
    int32_t width;
    int32_t height;
    int32_t modelIndex;     // parameter block of NyraSettings.models
    int32_t sizeNumber;     // "Size %d" in SensorName
    const char* modelName;  // "Standard", "SMS Variant", "Size 3"
    uint8_t mode;           // stored integration mode index + 1
    int32_t startThreshold;
    int32_t stopThreshold;
    int32_t integrationMs;
    bool correction;  // false only for raw images (return type 2)
};

CapturePlan PlanCapture(int32_t variant, const NyraSettings& settings);

// "Size %d" of the sensor descriptions: 3 for variant 3, 1 for variant 4, 2 for the others.
int32_t SizeNumberForVariant(int32_t variant);
// Parameter block of the correction-file build and the saturation report: by the variant when
// the model follows the detected sensor, else the Hardware page's model (0 when out of range).
int32_t TaskModelIndex(int32_t variant, const NyraSettings& settings);
// Entry of the switch-sensor list: "Size %d  (%s)" with the size number and serial.
void FormatSwitchEntry(char* out, size_t size, const SensorSlot& slot);

// "Active %lu seconds" below a minute, "Active %lu minute(s) %lu seconds" from then on.
void FormatTimerText(char* out, size_t size, uint32_t seconds);

// The diagnostics note after a read: flat buffer, suspiciously fast, or nothing.
const char* ReadNote(uint32_t minimum, uint32_t maximum, uint32_t elapsedMs);

struct FrameStats {
    uint32_t minimum, maximum, mean;
};
FrameStats ComputeFrameStats(const uint16_t* pixels, int32_t width, int32_t height);

// Largest values along the four edges, leaving out 120 pixels at each corner (0 where an
// edge is 240 pixels or shorter).
struct EdgeMaxima {
    uint32_t top, bottom, left, right;
};
EdgeMaxima ComputeEdgeMaxima(const uint16_t* pixels, int32_t width, int32_t height);

// Mirrors every row in place (column c <-> width - 1 - c).
void MirrorRows(uint16_t* pixels, int32_t width, int32_t height);
// Zeroes the first three and last three rows when the image has at least six.
void ClearTopAndBottomRows(uint16_t* pixels, int32_t width, int32_t height);
// Turns the image upside down in place (row r <-> height - 1 - r).
void FlipRows(uint16_t* pixels, int32_t width, int32_t height);
