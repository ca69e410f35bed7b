// CaptureJob: the record the capture driver shares with its worker thread for one capture.
#pragma once
#include <atomic>
#include <cstdint>

#include "plugin/globals.h"
#include "plugin/text.h"

// Who frees the job once the driver and the worker are both done with it. Each side announces
// itself with one atomic exchange; whichever comes second knows the other is gone:
// the worker finding kJobAbandoned frees the job (the driver gave up and returned), the driver
// finding kJobWorkerDone knows the worker returned just before the abandonment and frees it.
enum JobHandover : int32_t {
    kJobRunning = 0,
    kJobWorkerDone = 1,
    kJobAbandoned = 2,
};

struct CaptureJob {
    void* dib;                         // finished DIB (HGLOBAL); null until the worker succeeds
    uint8_t sensorOpen;                // a sensor was opened for this capture
    std::atomic<uint8_t> armed;        // waiting for the exposure
    std::atomic<int32_t> armCount;     // +1 at each arming; the driver watches for a change
    std::atomic<int32_t> abandoned;    // JobHandover
    std::atomic<uint8_t> crashed;      // the guard caught a fault inside the worker
    intptr_t device;                   // the vendor handle this worker opened or reused
    // References on the plug-in and the vendor library held by the worker thread for as long as
    // it runs, so an abandoned worker that returns late never runs in unmapped code (HMODULEs).
    void* selfPin;
    void* vendorPin;
};

CaptureJob* NewCaptureJob();
// Frees the job and a DIB it still holds.
void FreeCaptureJob(CaptureJob* job);

// Body of one real capture (runs on the worker thread); returns 0 in every case.
uint32_t CaptureWorker(CaptureJob* job);
// CaptureWorker under the fault guard: a fault ends the capture without a DIB.
uint32_t CaptureWorkerGuarded(CaptureJob* job);
// Takes the worker thread's references on the plug-in and on the module of vendorEntry before
// the thread starts; the thread drops them when it ends. Unpin undoes it when no thread started.
void PinWorkerModules(CaptureJob* job, const void* vendorEntry);
void UnpinWorkerModules(CaptureJob* job);
// Thread entry: runs the guarded worker, then hands the job over (see JobHandover).
unsigned long NYRA_STDCALL CaptureThreadMain(void* job);

// printf-style into CaptureErrorText, cut at 511 characters.
void SetCaptureError(const char* format, ...) NYRA_PRINTF(1, 2);
