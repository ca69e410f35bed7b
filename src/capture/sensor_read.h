// One frame read for the sensor tasks (correction-file build, saturation report) with the same
// protection as a capture: the read runs on a worker behind the fault guard while the host's
// messages are pumped, and is aborted, force-closed and finally abandoned on the capture's
// bounds. Windows only.
#pragma once
#include "backend/capture16.h"
#include "capture/capture_job.h"

// Reads into *out (released by the caller with FreeCaptureResult). A read that faulted or had
// to be abandoned comes back as a failed result with its reason in out->error.
void ReadFrameBounded(const NyraSettings& settings, const SensorReadRequest& request, CaptureResult* out);

// A raw-frame read for a task: the frame size by the reported variant and the thresholds,
// integration time and mode (index + 1) of the task's parameter block.
SensorReadRequest TaskReadRequest(const NyraSettings& settings, int32_t variant);
