// The sensor tasks' frame read on a worker thread, waited for like a capture (worker_wait_win.cpp)
// but without a status window, cancel or arming watch: the read is timed from its start with the
// settings' capture timeout, which is as long as the user can be asked to wait for an exposure.
#include <windows.h>

#include <cstring>

#include "backend/backend.h"
#include "base/text.h"
#include "capture/capture_plan.h"
#include "capture/sensor_read.h"
#include "capture/worker_wait.h"
#include "imaging/image16.h"

static void ReadBody(CaptureJob* job)
{
    job->device = BackendDevice.load();
    job->armCount.fetch_add(1);
    job->armed.store(1);
    const SensorReadRequest& r = job->request;
    Capture16(&job->read, r.width, r.height, r.startThreshold, r.stopThreshold, r.integrationMs, r.mode,
              r.correction);
}

static void FailRead(CaptureResult* out, const char* reason)
{
    memset(out, 0, sizeof *out);
    CopyText(out->error, sizeof out->error, reason);
}

void ReadFrameBounded(const NyraSettings& settings, const SensorReadRequest& request, CaptureResult* out)
{
    CaptureJob* job = NewCaptureJob(settings);
    if (!job) {
        FailRead(out, "out of memory");
        return;
    }
    job->body = ReadBody;
    job->request = request;
    void* thread = StartWorkerThread(job);
    if (!thread) {
        CaptureWorkerGuarded(job);
    } else if (WaitForWorker(thread, job, WorkerWatch{nullptr, nullptr, nullptr, nullptr})) {
        HandOverAbandonedJob(job);
        FailRead(out, "the sensor stopped responding and was released");
        return;
    }
    bool crashed = job->crashed.load() != 0;
    SettleCrashedJob(job);
    *out = job->read;
    memset(&job->read, 0, sizeof job->read);
    FreeCaptureJob(job);
    if (crashed)
        FailRead(out, "the sensor library faulted during the read");
}

SensorReadRequest TaskReadRequest(const NyraSettings& settings, int32_t variant)
{
    SensorReadRequest request{};
    FrameSizeForVariant(variant, &request.width, &request.height);
    const SensorModelParams& model = settings.models[TaskModelIndex(variant, settings)];
    request.startThreshold = (uint16_t)model.startThreshold;
    request.stopThreshold = (uint16_t)model.stopThreshold;
    request.integrationMs = model.integrationTimeMs;
    request.mode = (uint8_t)(model.integrationMode + 1);
    request.correction = 0;
    return request;
}
