// The wait of the host's thread for a worker: message pump, timer of the status window, and the
// acting on what the escalation (escalation.cpp) decides at each slice: announcing an arming,
// aborting the read on cancel or timeout, force-closing the device, abandoning the worker.
// Timeout and escalation bounds are the same for captures and sensor tasks.
#include <windows.h>

#include "backend/backend.h"
#include "backend/backend_state.h"
#include "base/log.h"
#include "capture/capture_state.h"
#include "capture/escalation.h"
#include "capture/status_window.h"
#include "capture/worker_wait.h"

static const uint32_t kSliceMs = 100;

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

// One slice of the wait after the messages have been pumped: the timer, then what the
// escalation decided, acted on here. True when the worker is given up.
static bool WatchJob(CaptureJob* job, const WorkerWatch& watch, EscalationState* state, int64_t* lastSecond)
{
    DWORD now = GetTickCount();
    uint32_t seconds = (now - state->startTick) / 1000;
    if (watch.statusWindow && (int64_t)seconds != *lastSecond) {
        *lastSecond = seconds;
        SetStatusTimer(watch.statusWindow, seconds);
    }

    int32_t armCount = job->armCount.load();
    EscalationInput in{now,
                       job->armed.load() != 0,
                       armCount,
                       watch.onArmed != nullptr,
                       CancelRequested.load() != 0,
                       job->settings.captureTimeoutSeconds};
    EscalationStep step = StepEscalation(state, in);
    if (step.rearmed) {
        *lastSecond = -1;
        watch.onArmed(job, watch.context);
    }
    switch (step.action) {
    case EscalationAction::None: break;
    case EscalationAction::AbortOnCancel:
        LogTrace("   cancel requested -> aborting capture pipe");
        AbortPipeAsync();
        NoteAbortIssued(state, GetTickCount());
        break;
    case EscalationAction::AbortOnTimeout:
        LogTrace("   no X-ray within %d s -> aborting capture pipe", (int)in.timeoutSeconds);
        if (watch.onArmed) {
            TimedOut.exchange(1);
            AddStatusLine("Timed out waiting for X-ray.");
        }
        AbortPipeAsync();
        NoteAbortIssued(state, GetTickCount());
        break;
    case EscalationAction::ForceClose:
        LogTrace("   abort did not unblock the read after 2s -> force-closing the sensor handle");
        AddStatusLine("Releasing sensor ...");
        ReleaseSensor();
        break;
    case EscalationAction::Abandon:
        LogAlways("   worker STILL blocked 6s after abort -> abandoning it so the host is not frozen");
        AddStatusLine("Sensor did not respond; releasing.");
        return true;
    }
    return false;
}

bool WaitForWorker(void* threadHandle, CaptureJob* job, const WorkerWatch& watch)
{
    HANDLE thread = static_cast<HANDLE>(threadHandle);
    EscalationState state = StartEscalation(GetTickCount());
    int64_t lastSecond = -1;
    bool abandoned = false;
    DWORD result = MsgWaitForMultipleObjects(1, &thread, FALSE, kSliceMs, QS_ALLINPUT);
    while (result != WAIT_OBJECT_0) {
        PumpMessages(watch.statusWindow, watch.switchWindow ? *watch.switchWindow : nullptr);
        abandoned = WatchJob(job, watch, &state, &lastSecond);
        if (abandoned)
            break;
        result = MsgWaitForMultipleObjects(1, &thread, FALSE, kSliceMs, QS_ALLINPUT);
    }
    if (!abandoned) {
        WaitForSingleObject(thread, INFINITE);
        // A read armed and finished within one slice (a quick exposure on a busy machine) was
        // never seen armed: the host still gets its "armed" status and the sensor's name
        // before the image.
        if (watch.onArmed && job->armCount.load() != state.lastArmCount)
            watch.onArmed(job, watch.context);
    }
    CloseHandle(thread);
    return abandoned;
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
        LogTrace("   SDK reload deferred: %ld capture thread(s) still stuck inside the vendor DLL",
                 (long)stuck);
        return;
    }
    LogTrace("   previous capture was abandoned -> reloading the vendor SDK to clear its state");
    UnloadBackend();
    SdkReloadPending.exchange(0);
}
