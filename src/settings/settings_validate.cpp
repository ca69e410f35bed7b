// Defaults and repair of the settings record. SettingsDefaults writes every field that has a
// default and leaves other bytes alone; ValidateSettings clamps or resets each out-of-range
// value in a fixed order and hands the filter list to the catalogue's repair. Neither fails:
// settings are repaired, never rejected. Flags other than those named below are not
// normalised (any non-zero value means on).
#include "base/text.h"
#include "imaging/filter_catalogue.h"
#include "settings/settings.h"

const char kDefaultDataDir[] = "C:\\Apteryx\\Apteryx Imaging\\Devices\\Nyra";

namespace {

// Start and stop thresholds by ModelIndex: the Standard sensor triggers slightly higher.
const int32_t kDefaultStartThreshold[kModelCount] = {440, 435, 435};
const int32_t kDefaultStopThreshold[kModelCount] = {437, 433, 433};

constexpr int32_t kDefaultSuspendMinutes = 10;
constexpr uint32_t kMsPerMinute = 60000;
constexpr int32_t kMinTimeoutSeconds = 5;
constexpr int32_t kMaxTimeoutSeconds = 600;
constexpr int32_t kDefaultIntegrationMode = 1;  // auto detection / manual integration
constexpr int32_t kMaxThreshold = 65535;
constexpr int32_t kMinIntegrationMs = 1;
constexpr int32_t kMaxIntegrationMs = 60000;

int32_t Clamp(int32_t value, int32_t low, int32_t high)
{
    return value < low ? low : value > high ? high : value;
}

void ModelDefaults(SensorModelParams* model, int index)
{
    model->integrationMode = kDefaultIntegrationMode;
    model->startThreshold = kDefaultStartThreshold[index];
    model->stopThreshold = kDefaultStopThreshold[index];
    model->integrationTimeMs = 500;
    CopyText(model->correctionDir, sizeof model->correctionDir, kDefaultDataDir);
}

void ValidateModel(SensorModelParams* model)
{
    if (model->integrationMode < 0 || model->integrationMode > 2)
        model->integrationMode = kDefaultIntegrationMode;
    model->startThreshold = Clamp(model->startThreshold, 0, kMaxThreshold);
    model->stopThreshold = Clamp(model->stopThreshold, 0, kMaxThreshold);
    model->integrationTimeMs = Clamp(model->integrationTimeMs, kMinIntegrationMs, kMaxIntegrationMs);
    model->correctionDir[sizeof model->correctionDir - 1] = '\0';
}

}  // namespace

void SettingsDefaults(NyraSettings* s)
{
    if (!s)
        return;
    s->showSwitchSensorButton = 1;
    s->closeHardwareEachCapture = 1;
    s->closeHardwareAfterLayout = 1;
    s->makeCornersBlack = 1;
    s->enableLogging = 0;
    s->allowSuspend = 1;
    s->suspendDelayMinutes = kDefaultSuspendMinutes;
    s->imageReturnType = 1;  // dark corrected image only
    s->correctionImageCount = 10;
    s->captureTimeoutSeconds = 300;
    s->applyImageFiltering = 1;
    s->saveRawImage = 0;
    s->imageCalibration = 1.0;
    s->sensorModel = 0;
    s->modelFollowsDetected = 1;
    s->reserved = 0;
    for (int i = 0; i < kModelCount; i++)
        ModelDefaults(&s->models[i], i);
    s->hideExposureIndicator = 0;
    DefaultFilterList(&s->filterCount, s->filters);
}

// Validation keeps the stored minutes as they are (any value from 1 up), so the conversion
// clamps: 71,583 minutes and more would wrap 32 bits and arm a timer of a few seconds.
uint32_t SuspendDelayMs(int32_t minutes)
{
    constexpr int32_t kLargestMinutes = (int32_t)(UINT32_MAX / kMsPerMinute);
    if (minutes < 0)
        return 0;
    return (uint32_t)(minutes < kLargestMinutes ? minutes : kLargestMinutes) * kMsPerMinute;
}

void ValidateSettings(NyraSettings* s)
{
    if (!s)
        return;
    if (s->suspendDelayMinutes < 1)
        s->suspendDelayMinutes = kDefaultSuspendMinutes;
    s->captureTimeoutSeconds = Clamp(s->captureTimeoutSeconds, kMinTimeoutSeconds, kMaxTimeoutSeconds);
    // Written as "not greater than" so that a NaN read from a damaged file is reset too.
    if (!(s->imageCalibration > 0.0))
        s->imageCalibration = 1.0;
    if (s->sensorModel < 0 || s->sensorModel >= kModelCount)
        s->sensorModel = 0;
    if (s->hideExposureIndicator != 0)
        s->hideExposureIndicator = 1;
    s->modelFollowsDetected = 1;
    s->reserved = 0;
    for (int i = 0; i < kModelCount; i++)
        ValidateModel(&s->models[i]);
    ValidateFilterList(&s->filterCount, s->filters);
}
