// NyraShowSaturation: one raw exposure of the bare sensor in the direct beam (integration
// 5000 ms, mode 3), reported in one message box with its peak and saturated share. Holds
// CaptureInProgress for the read; the read itself runs on a worker with the capture's bounds,
// so a library that never returns costs the user the timeout, not the host.
#include <windows.h>

#include "backend/backend.h"
#include "base/log.h"
#include "capture/capture_plan.h"
#include "capture/capture_state.h"
#include "capture/saturation.h"
#include "capture/sensor_read.h"
#include "capture/sensor_tasks.h"
#include "capture/worker_wait.h"
#include "settings/active_settings.h"
#include "settings/settings.h"

static const int32_t kSaturationIntegrationMs = 5000;
static const uint8_t kSaturationMode = 3;

// Opens the sensor when needed, reads one raw frame and writes the report text.
static void MeasureSaturation(char* text, size_t size)
{
    NyraSettings settings = ActiveSettings;  // a host call pumped during the read may reload it
    if (!EnsureBackend()) {
        CopyText(text, size, "Sensor backend not available (vendor DLLs not found).");
        return;
    }
    if (BackendDevice.load() == 0
        && !OpenFirstSensor(settings.allowSuspend != 0, SuspendDelayMs(settings.suspendDelayMinutes))) {
        FormatText(text, size, "Sensor not available: %s", BackendLastError);
        return;
    }
    SensorSlot sensor = DetectVariantSafe();
    SensorReadRequest request = TaskReadRequest(settings, sensor.variant);
    request.integrationMs = kSaturationIntegrationMs;
    request.mode = kSaturationMode;
    CaptureResult result;
    ReadFrameBounded(settings, request, &result);
    if (result.ok && result.pixels && result.count > 0)
        FormatSaturationReport(text, size, sensor.serial, SizeNumberForVariant(sensor.variant), result.pixels,
                               result.count, result.maximum, result.mean);
    else
        FormatText(text, size, "Capture failed: %s (native 0x%X)", result.error, (unsigned)result.status);
    FreeCaptureResult(&result);
    ReleaseSensor();
}

void NyraShowSaturation(void* owner)
{
    LogTrace("NyraShowSaturation()");
    int32_t idle = 0;
    if (!CaptureInProgress.compare_exchange_strong(idle, 1)) {
        MessageBoxA(static_cast<HWND>(owner), "A capture is already in progress. Try again in a moment.",
                    "X-ray Saturation", MB_OK | MB_ICONWARNING);
        return;
    }
    NyraLoadSettings(&HostBlob, &ActiveSettings);
    ReloadBackendIfPending();
    char text[512] = "";
    MeasureSaturation(text, sizeof text);
    CaptureInProgress.exchange(0);
    LogTrace("   saturation: %s", text);
    MessageBoxA(static_cast<HWND>(owner), text, "X-ray Saturation Information", MB_OK | MB_ICONINFORMATION);
}
