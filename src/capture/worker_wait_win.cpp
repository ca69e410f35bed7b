// The wait of the host's thread for a worker: message pump, timer of the status window, the
// capture's arming watch, cancel and timeout, and the escalation from abort to forced close to
// abandonment. Timeout and escalation bounds are the same for captures and sensor tasks: the
// timeout is the settings snapshot's capture timeout, counted from the start of the wait and
// again from each arming; the escalation clock counts from the abort.
#include <windows.h>

#include "backend/backend.h"
#include "capture/status_window.h"
#include "capture/worker_wait.h"
#include "plugin/globals.h"
#include "plugin/log.h"

static const uint32_t kSliceMs = 100;
static const uint32_t kForceCloseAfterMs = 2000;
static const uint32_t kAbandonAfterMs = 6000;

void PumpMessages(void* dialog1, void* dialog2)
{
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (dialog1 && IsDialogMessageA(static_cast<HWND>(dialog1), &msg))
            continue;
        if (dialog2 && IsDialogMessageA(static_cast<HWND>(dialog2), &msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

void* StartWorkerThread(CaptureJob* job)
{
    DWORD threadId = 0;
    PinWorkerModules(job, reinterpret_cast<const void*>(Vendor.USB_OpenDevice));
    HANDLE thread = CreateThread(nullptr, 0, CaptureThreadMain, job, 0, &threadId);
    if (!thread) {
        LogTrace("   CreateThread failed (%lu) -> inline capture (UI may block)", GetLastError());
        UnpinWorkerModules(job);
    }
    return thread;
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

static void Escalate(WaitState* w, DWORD now)
{
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
}

// One slice of the wait after the messages have been pumped.
static void WatchJob(CaptureJob* job, const WorkerWatch& watch, WaitState* w)
{
    DWORD now = GetTickCount();
    uint32_t seconds = (now - w->startTick) / 1000;
    if (watch.statusWindow && (int64_t)seconds != w->lastSecond) {
        w->lastSecond = seconds;
        SetStatusTimer(watch.statusWindow, seconds);
    }

    int32_t armCount = job->armCount.load();
    if (watch.onArmed && job->armed.load() && armCount != w->lastArmCount) {
        w->lastArmCount = armCount;
        w->startTick = now;
        w->lastSecond = -1;
        w->aborting = false;
        watch.onArmed(job, watch.context);
    } else if (w->aborting) {
        Escalate(w, now);
        return;
    }

    int32_t timeoutSeconds = job->settings.captureTimeoutSeconds;
    if (CancelRequested.load() && watch.onArmed) {
        LogTrace("   cancel requested -> aborting capture pipe");
        AbortRead(w);
    } else if (now - w->startTick > (DWORD)timeoutSeconds * 1000u) {
        LogTrace("   no X-ray within %d s -> aborting capture pipe", (int)timeoutSeconds);
        if (watch.onArmed) {
            TimedOut.exchange(1);
            AddStatusLine("Timed out waiting for X-ray.");
        }
        AbortRead(w);
    }
}

bool WaitForWorker(void* threadHandle, CaptureJob* job, const WorkerWatch& watch)
{
    HANDLE thread = static_cast<HANDLE>(threadHandle);
    WaitState w{GetTickCount(), -1, 0, false, 0, 0, false};
    DWORD result = MsgWaitForMultipleObjects(1, &thread, FALSE, kSliceMs, QS_ALLINPUT);
    while (result != WAIT_OBJECT_0) {
        PumpMessages(watch.statusWindow, watch.switchWindow ? *watch.switchWindow : nullptr);
        WatchJob(job, watch, &w);
        if (w.abandoned)
            break;
        result = MsgWaitForMultipleObjects(1, &thread, FALSE, kSliceMs, QS_ALLINPUT);
    }
    if (!w.abandoned) {
        WaitForSingleObject(thread, INFINITE);
        // A read armed and finished within one slice (a quick exposure on a busy machine) was
        // never seen armed: the host still gets its "armed" status and the sensor's name
        // before the image.
        if (watch.onArmed && job->armCount.load() != w.lastArmCount)
            watch.onArmed(job, watch.context);
    }
    CloseHandle(thread);
    return w.abandoned;
}

void HandOverAbandonedJob(CaptureJob* job)
{
    StuckWorkerCount.fetch_add(1);
    SdkReloadPending.exchange(1);
    if (job->abandoned.exchange(kJobAbandoned) == kJobWorkerDone) {
        FreeCaptureJob(job);
        StuckWorkerCount.fetch_sub(1);
    }
}

void SettleCrashedJob(CaptureJob* job)
{
    if (!job->crashed.load())
        return;
    // Nothing the faulting library holds can be trusted: close its device now and load it
    // afresh before the next sensor operation, as after an abandonment.
    ReleaseSensor();
    SdkReloadPending.exchange(1);
}

void ReloadBackendIfPending()
{
    if (!SdkReloadPending.load())
        return;
    int32_t stuck = StuckWorkerCount.load();
    if (stuck != 0) {
        LogTrace("   SDK reload deferred: %ld capture thread(s) still stuck inside the vendor DLL", (long)stuck);
        return;
    }
    LogTrace("   previous capture was abandoned -> reloading the vendor SDK to clear its state");
    UnloadBackend();
    SdkReloadPending.exchange(0);
}
