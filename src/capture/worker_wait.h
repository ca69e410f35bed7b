// Running a job's body on a worker thread while the host's thread stays responsive, shared by
// the capture driver and the two sensor tasks (correction-file build, saturation report). The
// host's messages are pumped in 100 ms slices; a read still pending at the settings' capture
// timeout is aborted, the device force-closed 2 s after the abort and the worker abandoned 6 s
// after it, so a vendor library that never lets go cannot freeze the host. Windows only;
// handles are passed as void*.
#pragma once
#include <cstdint>

#include "capture/capture_job.h"

struct WorkerWatch {
    void* statusWindow;   // dialog 111 of a capture (messages, timer, status lines), or null
    void** switchWindow;  // the switch-sensor window a capture may open at an arming, or null
    // Called on the host's thread at each new arming of a capture; null for the sensor tasks,
    // whose read is armed once and timed from the start.
    void (*onArmed)(CaptureJob* job, void* context);
    void* context;
};

// Starts job->body on a worker thread (guarded, with the thread's module pins). Null when the
// thread could not be created; the caller then runs the body inline.
void* StartWorkerThread(CaptureJob* job);
// Waits for the thread while serving the host; true when the worker had to be abandoned, in
// which case the caller hands the job over with HandOverAbandonedJob. Closes the thread handle.
bool WaitForWorker(void* thread, CaptureJob* job, const WorkerWatch& watch);
// Counts the stuck worker, asks for a library reload, and passes the job to the worker's thread
// (or frees it here when the worker returned just before).
void HandOverAbandonedJob(CaptureJob* job);
// After a worker fault: closes the device the faulting library held and asks for a reload.
void SettleCrashedJob(CaptureJob* job);
// Reloads the vendor library when an abandoned or crashed worker asked for it and none is
// still inside it (logged either way).
void ReloadBackendIfPending();
// Gives every waiting message of the thread to the given dialogs, else dispatches it.
void PumpMessages(void* dialog1, void* dialog2);
