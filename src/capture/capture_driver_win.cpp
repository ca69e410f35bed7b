// RunCapture: one capture on the host's thread. It takes the re-entrancy guard, resets the
// per-capture flags, reloads the settings and the log gate, reloads the vendor library after an
// abandoned or crashed capture, starts the worker on a snapshot of the settings and keeps the
// host responsive while it waits (worker_wait_win.cpp), with the status window and, for two or
// more sensors, the switch-sensor window. The worker's texts and sensor list are published here,
// on the host's thread; an abandoned worker's are dropped. Returns the DIB for the host to own,
// or null.
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "backend/backend.h"
#include "base/host_context.h"
#include "base/log.h"
#include "capture/capture_driver.h"
#include "capture/capture_job.h"
#include "capture/capture_state.h"
#include "capture/status_window.h"
#include "capture/switch_sensor.h"
#include "capture/synthetic_image.h"
#include "capture/worker_wait.h"
#include "imaging/image16.h"
#include "settings/active_settings.h"
#include "settings/settings.h"

void NotifyHost(uint32_t status, const char* text)
{
    if (StatusCallback)
        StatusCallback(HostSensorId, status, text);
}

static void* SyntheticTestImage()
{
    void* dib = nullptr;
    uint16_t* pixels = static_cast<uint16_t*>(malloc(sizeof(uint16_t) * kSyntheticWidth * kSyntheticHeight));
    if (pixels) {
        FillSyntheticTestImage(pixels);
        dib = PackDib16(kSyntheticWidth, kSyntheticHeight, pixels);
        free(pixels);
    }
    NotifyHost(0, nullptr);
    if (!dib) {
        LogTrace("   DIB alloc failed -> CANCEL");
        return nullptr;
    }
    LogTrace("   SYNTHETIC 16-bit DIB %dx%d -> HGLOBAL=%p (no sensor; hand-off test only)", kSyntheticWidth,
             kSyntheticHeight, dib);
    return dib;
}

static void* CancelEnding()
{
    NotifyHost(2, nullptr);
    if (UserTerminated.load() && !CaptureErrorText[0])
        SetCaptureError("The user cancelled the operation.");
    else if (TimedOut.load() && !CaptureErrorText[0])
        SetCaptureError(
            "The sensor timed out waiting for an X-ray exposure.  Please arm the sensor and expose again.");
    LogTrace(
        "   -> CANCEL (sensor present but capture failed/cancelled/timed out; userTerm=%ld timedOut=%ld)",
        (long)UserTerminated.load(), (long)TimedOut.load());
    return nullptr;
}

// A vendor library is present but no sensor was opened. Handing the host the test pattern here
// would put a fake image into a patient's record, so the capture fails with the reason.
static void* NoSensorEnding()
{
    if (!CaptureErrorText[0])
        SetCaptureError("No sensor could be opened: %s",
                        BackendLastError[0] ? BackendLastError : "no sensor connected");
    NotifyHost(2, nullptr);
    LogTrace("   -> CANCEL (vendor library present but no sensor could be opened)");
    return nullptr;
}

// Sensor name and list as the worker found them at its latest arming (or at its end).
static void PublishSensor(const CaptureJob* job)
{
    if (job->sensorName[0])
        CopyText(SensorName, sizeof SensorName, job->sensorName);
    if (job->sensorCount > 0) {
        CaptureSensorCount = job->sensorCount;
        CaptureActiveSlot = job->activeSlot;
        memcpy(CaptureSensorList, job->sensors, sizeof CaptureSensorList);
    }
}

// context: the capture's switch-sensor window (void*), created at the first arming that needs it.
static void OnArmed(CaptureJob* job, void* context)
{
    void** switchWindow = static_cast<void**>(context);
    PublishSensor(job);
    LogTrace("   sensor armed -> status GREEN \"Sensor Ready\" (%s)", SensorName);
    NotifyHost(6, SensorName);
    AddStatusLine("System ready");
    if (CaptureSensorCount >= 2 && job->settings.showSwitchSensorButton)
        *switchWindow = ShowSwitchSensorWindow(*switchWindow);
}

// The driver gave up on a worker still blocked in the vendor library; whatever it still
// produces is dropped with its job.
static void* AbandonJob(CaptureJob* job)
{
    HandOverAbandonedJob(job);
    UserTerminated.exchange(1);
    SetCaptureError(
        "The sensor stopped responding and was released.  Re-arm to try again (if it still fails, "
        "unplug the sensor and reconnect it).");
    CaptureInProgress.exchange(0);
    return CancelEnding();
}

static void* FinishJob(CaptureJob* job)
{
    PublishSensor(job);
    if (job->imageInfo[0])
        CopyText(ImageInfoText, sizeof ImageInfoText, job->imageInfo);
    if (job->errorText[0])
        CopyText(CaptureErrorText, sizeof CaptureErrorText, job->errorText);
    void* dib = job->dib;
    job->dib = nullptr;
    bool sensorOpen = job->sensorOpen != 0;
    SettleCrashedJob(job);
    FreeCaptureJob(job);
    CaptureInProgress.exchange(0);
    if (dib) {
        NotifyHost(0, nullptr);
        LogTrace("   -> returning REAL image handle %p to host", dib);
        return dib;
    }
    return sensorOpen ? CancelEnding() : NoSensorEnding();
}

static void* CaptureWithSensor()
{
    CaptureJob* job = NewCaptureJob(ActiveSettings);
    if (!job) {
        CaptureInProgress.exchange(0);
        LogTrace("   -> CANCEL (out of memory)");
        return nullptr;
    }
    void* thread = StartWorkerThread(job);
    if (!thread) {
        CaptureWorkerGuarded(job);
        return FinishJob(job);
    }
    HWND status = static_cast<HWND>(CreateStatusWindow(job));
    void* switchWindow = nullptr;
    WorkerWatch watch{status, &switchWindow, OnArmed, &switchWindow};
    bool abandoned = WaitForWorker(thread, job, watch);
    DestroySwitchSensorWindow(switchWindow);
    DestroyStatusWindow(status);
    return abandoned ? AbandonJob(job) : FinishJob(job);
}

void* RunCapture(const char* exportName, uint32_t ctx1, uint32_t ctx2)
{
    LogTrace("%s(ctx1=%p, ctx2=%p)", exportName, (void*)(uintptr_t)ctx1, (void*)(uintptr_t)ctx2);
    int32_t idle = 0;
    if (!CaptureInProgress.compare_exchange_strong(idle, 1)) {
        LogTrace("   -> CANCEL (capture already in progress; re-entrant call rejected)");
        return nullptr;
    }
    CancelRequested.exchange(0);
    UserTerminated.exchange(0);
    TimedOut.exchange(0);
    CaptureErrorText[0] = '\0';
    CaptureContext[0] = ctx1;
    CaptureContext[1] = ctx2;

    NyraLoadSettings(&HostBlob, &ActiveSettings);
    LogGate.store(ActiveSettings.enableLogging ? 1 : 0);

    ReloadBackendIfPending();

    NotifyHost(5, SensorName);
    if (!EnsureBackend()) {
        CaptureInProgress.exchange(0);
        return SyntheticTestImage();
    }
    return CaptureWithSensor();
}
