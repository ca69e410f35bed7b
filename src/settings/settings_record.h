// NyraSettings: every user-visible option in one 1800-byte little-endian record, stored byte
// for byte in settings.dat and in the host's configuration blob. Integers are signed unless
// marked; a flag is on when non-zero.
#pragma once
#include <cstddef>
#include <cstdint>

#include "imaging/filter_entry.h"

constexpr int kModelCount = 3;  // ModelIndex: 0 Standard, 1 SMS Variant, 2 Size 3
constexpr int kPathChars = 260;
extern const char kDefaultDataDir[];  // "C:\Apteryx\Apteryx Imaging\Devices\Nyra"

// Per sensor model (ModelIndex) integration parameters and correction folder.
struct SensorModelParams {
    int32_t integrationMode;         // 0 auto/auto, 1 auto detection/manual integration, 2 manual/manual
    int32_t startThreshold;          // 0..65535
    int32_t stopThreshold;           // 0..65535
    int32_t integrationTimeMs;       // 1..60000
    char correctionDir[kPathChars];  // where SN<serial>.CAL files are looked for
};
static_assert(sizeof(SensorModelParams) == 276, "");
static_assert(offsetof(SensorModelParams, integrationMode) == 0, "");
static_assert(offsetof(SensorModelParams, startThreshold) == 4, "");
static_assert(offsetof(SensorModelParams, stopThreshold) == 8, "");
static_assert(offsetof(SensorModelParams, integrationTimeMs) == 12, "");
static_assert(offsetof(SensorModelParams, correctionDir) == 16, "");

// Packed to 4 so the record keeps 4-byte alignment inside HostConfigBlob (2052 bytes), whose
// size is not a multiple of 8; the double at offset 48 is naturally placed either way.
#pragma pack(push, 4)
struct NyraSettings {
    int32_t showSwitchSensorButton;         // 0
    int32_t closeHardwareEachCapture;       // 4
    int32_t closeHardwareAfterLayout;       // 8
    int32_t makeCornersBlack;               // 12
    int32_t enableLogging;                  // 16, copied into LogGate at each capture start
    int32_t allowSuspend;                   // 20
    int32_t suspendDelayMinutes;            // 24
    int32_t imageReturnType;                // 28, CorrectionMode
    uint32_t correctionImageCount;          // 32
    int32_t captureTimeoutSeconds;          // 36, 5..600
    int32_t applyImageFiltering;            // 40
    int32_t saveRawImage;                   // 44, stored and edited, read by nothing
    double imageCalibration;                // 48, > 0
    int32_t sensorModel;                    // 56, ModelIndex on the Hardware page
    int32_t modelFollowsDetected;           // 60, always 1
    int32_t reserved;                       // 64, always 0
    SensorModelParams models[kModelCount];  // 68
    int32_t filterCount;                    // 896
    FilterEntry filters[kMaxFilters];       // 900
    int32_t hideExposureIndicator;          // 1796, 0 or 1
};
#pragma pack(pop)
static_assert(sizeof(NyraSettings) == 1800, "NyraSettings is stored byte for byte");
static_assert(offsetof(NyraSettings, showSwitchSensorButton) == 0, "");
static_assert(offsetof(NyraSettings, closeHardwareEachCapture) == 4, "");
static_assert(offsetof(NyraSettings, closeHardwareAfterLayout) == 8, "");
static_assert(offsetof(NyraSettings, makeCornersBlack) == 12, "");
static_assert(offsetof(NyraSettings, enableLogging) == 16, "");
static_assert(offsetof(NyraSettings, allowSuspend) == 20, "");
static_assert(offsetof(NyraSettings, suspendDelayMinutes) == 24, "");
static_assert(offsetof(NyraSettings, imageReturnType) == 28, "");
static_assert(offsetof(NyraSettings, correctionImageCount) == 32, "");
static_assert(offsetof(NyraSettings, captureTimeoutSeconds) == 36, "");
static_assert(offsetof(NyraSettings, applyImageFiltering) == 40, "");
static_assert(offsetof(NyraSettings, saveRawImage) == 44, "");
static_assert(offsetof(NyraSettings, imageCalibration) == 48, "");
static_assert(offsetof(NyraSettings, sensorModel) == 56, "");
static_assert(offsetof(NyraSettings, modelFollowsDetected) == 60, "");
static_assert(offsetof(NyraSettings, reserved) == 64, "");
static_assert(offsetof(NyraSettings, models) == 68, "");
static_assert(offsetof(NyraSettings, filterCount) == 896, "");
static_assert(offsetof(NyraSettings, filters) == 900, "");
static_assert(offsetof(NyraSettings, hideExposureIndicator) == 1796, "");
