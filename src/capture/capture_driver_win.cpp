// RunCapture: one capture on the host's thread. It takes the re-entrancy guard, resets the
// per-capture flags, reloads the settings and the log gate, reloads the vendor library after an
// abandoned or crashed capture, starts the worker thread and keeps the host responsive while it
// waits: status window, message pump, timer, timeout, cancel, and the abort escalation (abort,
// forced close after 2 s, abandonment after 6 s) so that a vendor library that never lets go
// cannot freeze the host. Returns the DIB for the host to own, or null.
#include <windows.h>

#include <cstdlib>
#include <cstring>

#include "backend/backend.h"
#include "capture/capture_driver.h"
#include "capture/capture_job.h"
#include "capture/status_window.h"
#include "capture/synthetic_image.h"
#include "imaging/image16.h"
#include "plugin/globals.h"
#include "plugin/log.h"
#include "settings/settings.h"

static const uint32_t kSliceMs = 100;
static const uint32_t kForceCloseAfterMs = 2000;
static const uint32_t kAbandonAfterMs = 6000;

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
        SetCaptureError("The sensor timed out waiting for an X-ray exposure.  Please arm the sensor and expose again.");
    LogTrace("   -> CANCEL (sensor present but capture failed/cancelled/timed out; userTerm=%ld timedOut=%ld)",
             (long)UserTerminated.load(), (long)TimedOut.load());
    return nullptr;
}

// A vendor library is present but no sensor was opened. Handing the host the test pattern here
// would put a fake image into a patient's record, so the capture fails with the reason.
static void* NoSensorEnding()
{
    if (!CaptureErrorText[0])
        SetCaptureError("No sensor could be opened: %s", BackendLastError[0] ? BackendLastError : "no sensor connected");
    NotifyHost(2, nullptr);
    LogTrace("   -> CANCEL (vendor library present but no sensor could be opened)");
    return nullptr;
}

static void PumpMessages(HWND status)
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (status && IsDialogMessageA(status, &msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

struct WaitState {
    DWORD startTick;
    int64_t lastSecond;
    int32_t lastArmCount;
    bool aborting;
    DWORD abortTick;
    int stage;
    bool abandoned;
};

static void AbortRead(WaitState* w)
{
    AbortPipeAsync();
    w->aborting = true;
    w->abortTick = GetTickCount();
}

// One slice of the wait loop after the messages have been pumped.
static void WatchJob(CaptureJob* job, HWND status, WaitState* w)
{
    DWORD now = GetTickCount();
    uint32_t seconds = (now - w->startTick) / 1000;
    if (status && (int64_t)seconds != w->lastSecond) {
        w->lastSecond = seconds;
        SetStatusTimer(status, seconds);
    }

    int32_t armCount = job->armCount.load();
    if (job->armed.load() && armCount != w->lastArmCount) {
        w->lastArmCount = armCount;
        w->startTick = now;
        w->lastSecond = -1;
        w->aborting = false;
        LogTrace("   sensor armed -> status GREEN \"Sensor Ready\" (%s)", SensorName);
        NotifyHost(6, SensorName);
        AddStatusLine("System ready");
        // The switch-sensor window joins here once it exists (two or more sensors and the
        // "Show switch sensor button" setting).
    } else if (w->aborting) {
        DWORD sinceAbort = now - w->abortTick;
        if (w->stage == 0 && sinceAbort > kForceCloseAfterMs) {
            w->stage = 1;
            LogTrace("   abort did not unblock the read after 2s -> force-closing the sensor handle");
            AddStatusLine("Releasing sensor ...");
            ReleaseSensor();
        } else if (w->stage == 1 && sinceAbort > kAbandonAfterMs) {
            LogAlways("   worker STILL blocked 6s after abort -> abandoning it so the host is not frozen");
            AddStatusLine("Sensor did not respond; releasing.");
            w->abandoned = true;
        }
        return;
    }

    if (CancelRequested.load()) {
        LogTrace("   cancel requested -> aborting capture pipe");
        AbortRead(w);
    } else if (now - w->startTick > (DWORD)ActiveSettings.captureTimeoutSeconds * 1000u) {
        LogTrace("   no X-ray within %d s -> aborting capture pipe", (int)ActiveSettings.captureTimeoutSeconds);
        TimedOut.exchange(1);
        AddStatusLine("Timed out waiting for X-ray.");
        AbortRead(w);
    }
}

// Waits for the worker thread while serving the host; returns true when the worker was abandoned.
static bool WaitForWorker(HANDLE thread, CaptureJob* job, HWND status)
{
    WaitState w{GetTickCount(), -1, 0, false, 0, 0, false};
    DWORD result = MsgWaitForMultipleObjects(1, &thread, FALSE, kSliceMs, QS_ALLINPUT);
    while (result != WAIT_OBJECT_0) {
        PumpMessages(status);
        WatchJob(job, status, &w);
        if (w.abandoned)
            return true;
        result = MsgWaitForMultipleObjects(1, &thread, FALSE, kSliceMs, QS_ALLINPUT);
    }
    WaitForSingleObject(thread, INFINITE);
    return false;
}

// The driver gives up on a worker still blocked in the vendor library. The job passes to the
// worker's thread, unless the worker returned in the meantime, in which case it is freed here.
static void* AbandonJob(CaptureJob* job)
{
    StuckWorkerCount.fetch_add(1);
    SdkReloadPending.exchange(1);
    if (job->abandoned.exchange(kJobAbandoned) == kJobWorkerDone) {
        FreeCaptureJob(job);
        StuckWorkerCount.fetch_sub(1);
    }
    UserTerminated.exchange(1);
    SetCaptureError("The sensor stopped responding and was released.  Re-arm to try again (if it still fails, "
                    "unplug the sensor and reconnect it).");
    CaptureInProgress.exchange(0);
    return CancelEnding();
}

static void* FinishJob(CaptureJob* job)
{
    void* dib = job->dib;
    job->dib = nullptr;
    bool sensorOpen = job->sensorOpen != 0;
    if (job->crashed.load()) {
        // Nothing the faulting library holds can be trusted: close its device now and load it
        // afresh before the next capture, as after an abandonment.
        ReleaseSensor();
        SdkReloadPending.exchange(1);
    }
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
    CaptureJob* job = NewCaptureJob();
    if (!job) {
        CaptureInProgress.exchange(0);
        LogTrace("   -> CANCEL (out of memory)");
        return nullptr;
    }
    DWORD threadId = 0;
    PinWorkerModules(job, reinterpret_cast<const void*>(Vendor.USB_OpenDevice));
    HANDLE thread = CreateThread(nullptr, 0, CaptureThreadMain, job, 0, &threadId);
    if (!thread) {
        LogTrace("   CreateThread failed (%lu) -> inline capture (UI may block)", GetLastError());
        UnpinWorkerModules(job);
        CaptureWorkerGuarded(job);
        return FinishJob(job);
    }
    HWND status = static_cast<HWND>(CreateStatusWindow(job));
    bool abandoned = WaitForWorker(thread, job, status);
    CloseHandle(thread);
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

    if (SdkReloadPending.load()) {
        int32_t stuck = StuckWorkerCount.load();
        if (stuck != 0) {
            LogTrace("   SDK reload deferred: %ld capture thread(s) still stuck inside the vendor DLL", (long)stuck);
        } else {
            LogTrace("   previous capture was abandoned -> reloading the vendor SDK to clear its state");
            UnloadBackend();
            SdkReloadPending.exchange(0);
        }
    }

    NotifyHost(5, SensorName);
    if (!EnsureBackend()) {
        CaptureInProgress.exchange(0);
        return SyntheticTestImage();
    }
    return CaptureWithSensor();
}
