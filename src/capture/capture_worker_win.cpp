// CaptureWorker: the body of one real capture, on the worker thread. Opens or reuses the
// sensor, chooses frame size and parameters from the reported size variant, arms the sensor
// and blocks in Capture16 until the exposure is read or the read is aborted, then finishes the
// frame and packs it as the DIB the driver hands to the host. Returns 0 in every case; success
// is a DIB in the job. The sensor stays open after a success unless the settings say otherwise.
// The worker reads the settings snapshot in the job and leaves its texts and the sensor list
// there for the driver to publish; an abandoned worker that wakes up drops its frame.
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "backend/backend.h"
#include "backend/backend_state.h"
#include "base/log.h"
#include "capture/capture_job.h"
#include "capture/capture_plan.h"
#include "capture/capture_state.h"
#include "capture/post_read.h"
#include "imaging/image16.h"
#include "settings/settings.h"

static const char* KindName(BackendKind kind)
{
    return kind == BackendSms ? "SMS" : kind == BackendIo ? "IO" : "None";
}

// Opens a sensor (or takes the one left open by the last capture) and returns its slot.
static bool OpenOrReuseSensor(CaptureJob* job, SensorSlot* current)
{
    if (BackendDevice.load() == 0) {
        SensorSlot slots[kMaxSensors] = {};
        int32_t active = 0;
        const NyraSettings& settings = job->settings;
        uint32_t suspendMs = SuspendDelayMs(settings.suspendDelayMinutes);
        int32_t count = OpenAndSelect(settings.allowSuspend != 0, suspendMs, slots, &active);
        if (count < 1) {
            LogTrace("   sensor open failed: %s (no sensor connected?)", BackendLastError);
            return false;
        }
        if (active < 0 || active >= kMaxSensors || active >= count)
            active = 0;
        job->activeSlot = active;
        job->sensorCount = count < kMaxSensors ? count : kMaxSensors;
        for (int32_t i = 0; i < count && i < kMaxSensors; i++) {
            job->sensors[i] = slots[i];
            LogTrace("   slot%d: serial=%s variant=%d [%s]", (int)i, slots[i].serial, (int)slots[i].variant,
                     slots[i].description);
        }
        if (count >= 2)
            LogTrace("   %d SENSORS present, active=slot%d serial=%s", (int)count, (int)active,
                     slots[active].serial);
        *current = slots[active];
    } else {
        *current = DetectVariantSafe();
        LogTrace("   reused sensor: serial=%s variant=%d [%s]", current->serial, (int)current->variant,
                 current->description);
    }
    job->device = BackendDevice.load();
    return true;
}

// Everything between the read and the DIB; the chain may replace the pixel block and swap the
// size, and the image then holds the new block.
static void FinishFrame(CaptureJob* job, Image16* image, const SensorSlot& sensor)
{
    PostReadInput input{&job->settings, sensor.variant, sensor.serial, nullptr};
    PostReadResult result;
    ProcessCapturedFrame(image, input, &result);
    job->lowClip = result.lowClip;
}

// Releases the device this worker used, and only that one: after an abandonment the driver has
// already force-closed it, and a later capture may own whatever is open now.
static void ReleaseOwnDevice(CaptureJob* job)
{
    if (job->abandoned.load() == kJobAbandoned)
        return;
    VendorHandle device = job->device;
    if (device && BackendDevice.compare_exchange_strong(device, 0))
        SafeCloseDevice(device, Vendor.HPK_AbortBulkPipe, Vendor.USB_CloseDevice, kReleaseWaitMs);
}

uint32_t CaptureWorker(CaptureJob* job)
{
    CaptureResult result;
    memset(&result, 0, sizeof result);
    SensorSlot sensor{};
    for (;;) {
        job->armed.store(0);
        if (!OpenOrReuseSensor(job, &sensor))
            return 0;
        job->sensorOpen = 1;

        CapturePlan plan = PlanCapture(sensor.variant, job->settings);
        LogTrace("   backend=%s serial=%s reported variant=%d -> model %d \"%s\" (auto)",
                 KindName(BackendKindLoaded), sensor.serial, (int)sensor.variant, (int)plan.modelIndex,
                 plan.modelName);
        FormatText(job->sensorName, sizeof job->sensorName, "Nyra Sensor '%s' Size %d", sensor.serial,
                   (int)plan.sizeNumber);

        SwitchRequested.exchange(0);
        job->armCount.fetch_add(1);
        job->armed.store(1);
        LogTrace("   sensor OPEN ok: variant=%d serial=%s fw=0x%02X -> "
                 "Capture16(%dx%d,start=%d,stop=%d,integ=%dms,"
                 "mode=0x%02X,corr=%d)",
                 (int)sensor.variant, sensor.serial, sensor.firmware, (int)plan.width, (int)plan.height,
                 (int)plan.startThreshold, (int)plan.stopThreshold, (int)plan.integrationMs, plan.mode,
                 plan.correction ? 1 : 0);

        DWORD before = GetTickCount();
        Capture16(&result, plan.width, plan.height, (uint16_t)plan.startThreshold,
                  (uint16_t)plan.stopThreshold, plan.integrationMs, plan.mode, plan.correction ? 1 : 0);
        DWORD elapsed = GetTickCount() - before;

        // Given up on by the driver: the switch flag and everything else now belong to a later
        // capture, which may even be reading from the device this worker opened.
        if (job->abandoned.load() == kJobAbandoned)
            break;
        if (SwitchRequested.load()) {
            LogTrace("   switch/refresh -> re-arming (prefer=%s)", PreferredSerial);
            FreeCaptureResult(&result);
            ReleaseOwnDevice(job);
            continue;
        }

        if (!result.ok || !result.pixels || result.width <= 0 || result.height <= 0) {
            LogTrace("   REAL CAPTURE FAILED: %s (native 0x%X)", result.error, (unsigned)result.status);
            if (!UserTerminated.load() && !TimedOut.load() && !GroupActive.load())
                SetJobError(job, "Capture failed: %s (status 0x%X)", result.error, (unsigned)result.status);
            break;
        }
        LogTrace("   Capture16 returned OK in %lu ms; pixels min=%u max=%u mean=%u %s",
                 (unsigned long)elapsed, (unsigned)result.minimum, (unsigned)result.maximum,
                 (unsigned)result.mean, ReadNote(result.minimum, result.maximum, elapsed));

        Image16 image = {result.width, result.height, result.pixels};
        FinishFrame(job, &image, sensor);
        result.pixels = image.pixels;  // FreeCaptureResult releases whichever block survived
        result.width = image.width;
        result.height = image.height;
        result.count = image.width * image.height;
        job->dib = PackDib16(result.width, result.height, result.pixels);
        FormatText(job->imageInfo, sizeof job->imageInfo, "%s  %dx%d  16-bit", job->sensorName,
                   (int)result.width, (int)result.height);
        LogTrace("   REAL CAPTURE OK: %d px (%dx%d) -> DIB HGLOBAL=%p", (int)(result.width * result.height),
                 (int)result.width, (int)result.height, job->dib);
        break;
    }

    FreeCaptureResult(&result);
    if (job->dib && !job->settings.closeHardwareEachCapture)
        return 0;
    ReleaseOwnDevice(job);
    return 0;
}
