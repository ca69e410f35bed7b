// CaptureJob: the record the capture driver shares with its worker thread for one capture.
#pragma once
#include <atomic>
#include <cstdint>

#include "backend/capture16.h"
#include "backend/sensor_slot.h"
#include "base/platform.h"
#include "base/text.h"
#include "settings/settings_record.h"

// Who frees the job once the driver and the worker are both done with it. Each side announces
// itself with one atomic exchange; whichever comes second knows the other is gone:
// the worker finding kJobAbandoned frees the job (the driver gave up and returned), the driver
// finding kJobWorkerDone knows the worker returned just before the abandonment and frees it.
enum JobHandover : int32_t {
    kJobRunning = 0,
    kJobWorkerDone = 1,
    kJobAbandoned = 2,
};

// One frame read for the correction-file build or the saturation report, run on a worker so a
// read that never returns cannot hold the host's thread.
struct SensorReadRequest {
    int32_t width, height;
    uint16_t startThreshold, stopThreshold;
    int32_t integrationMs;
    uint8_t mode;
    uint8_t correction;
};

// The worker reads only the job (its settings snapshot, the request) and writes only the job
// and the backend's device. Anything process-wide that a later capture would see is published
// from the job by the host's thread, so a worker that wakes up after being abandoned changes
// nothing but its own, dropped, job.
struct CaptureJob {
    void (*body)(CaptureJob* job);  // what the thread runs: CaptureWorker, or a sensor read
    NyraSettings settings;          // taken when the capture or task started
    SensorReadRequest request;      // sensor tasks only
    CaptureResult read;             // sensor tasks: the frame; freed with the job

    // Results, published by the host's thread: sensor name and list at each arming, the rest at
    // the end. Written by the worker before it increments armCount or returns.
    char sensorName[80];
    char imageInfo[256];
    char errorText[512];
    SensorSlot sensors[kMaxSensors];
    int32_t sensorCount;  // 0 until the worker enumerated the sensors
    int32_t activeSlot;
    int32_t lowClip;  // clip point handed to the filter chain, -1 before

    void* dib;                       // finished DIB (HGLOBAL); null until the worker succeeds
    uint8_t sensorOpen;              // a sensor was opened for this capture
    std::atomic<uint8_t> armed;      // waiting for the exposure
    std::atomic<int32_t> armCount;   // +1 at each arming; the driver watches for a change
    std::atomic<int32_t> abandoned;  // JobHandover
    std::atomic<uint8_t> crashed;    // the guard caught a fault inside the worker
    intptr_t device;                 // the vendor handle this worker opened or reused
    // References on the plug-in and the vendor library held by the worker thread for as long as
    // it runs, so an abandoned worker that returns late never runs in unmapped code (HMODULEs).
    void* selfPin;
    void* vendorPin;
};

// A zeroed job running CaptureWorker on a copy of settings; null without memory.
CaptureJob* NewCaptureJob(const NyraSettings& settings);
// Frees the job, a DIB and a frame it still holds.
void FreeCaptureJob(CaptureJob* job);

// Body of one real capture (runs on the worker thread); returns 0 in every case.
uint32_t CaptureWorker(CaptureJob* job);
// The job's body under the fault guard: a fault ends the capture without a DIB (or the read
// without a frame).
uint32_t CaptureWorkerGuarded(CaptureJob* job);
// Takes the worker thread's references on the plug-in and on the module of vendorEntry before
// the thread starts; the thread drops them when it ends. Unpin undoes it when no thread started.
void PinWorkerModules(CaptureJob* job, const void* vendorEntry);
void UnpinWorkerModules(CaptureJob* job);
// Thread entry: runs the guarded worker, then hands the job over (see JobHandover).
unsigned long NYRA_STDCALL CaptureThreadMain(void* job);

// printf-style into CaptureErrorText, cut at 511 characters (host's thread only).
void SetCaptureError(const char* format, ...) NYRA_PRINTF(1, 2);
// The same into the job's error text, which the driver publishes when it takes the result.
void SetJobError(CaptureJob* job, const char* format, ...) NYRA_PRINTF(2, 3);
