// BuildCorrectionFile: the interactive build of a sensor's correction file from N blank
// exposures (the sensor in the direct beam), on the options dialog's thread. Each frame is read
// on a worker with the capture's bounds, so a read that never returns becomes a failed frame
// the user may retry instead of a frozen host. All N frames give a gain map written crash-safely
// over the old file; a series stopped part-way writes nothing. Holds CaptureInProgress from the
// busy check to the end.
#include <windows.h>

#include <cstdlib>

#include "backend/backend.h"
#include "base/log.h"
#include "capture/capture_plan.h"
#include "capture/capture_state.h"
#include "capture/correction_file.h"
#include "capture/sensor_read.h"
#include "capture/sensor_tasks.h"
#include "capture/worker_wait.h"
#include "settings/active_settings.h"
#include "settings/settings.h"

static const char kTitle[] = "Create a correction file";
static const int32_t kMaxCorrectionFrames = 50;

static int Ask(void* owner, const char* text, UINT buttons)
{
    return MessageBoxA(static_cast<HWND>(owner), text, kTitle, buttons);
}

// Reads up to frames blank exposures into sums; returns how many were captured (all of them
// unless the user stopped the series).
static int32_t AcquireBlankFrames(void* owner, const NyraSettings& settings, const SensorReadRequest& request,
                                  int32_t frames, uint32_t* sums)
{
    size_t count = (size_t)request.width * (size_t)request.height;
    int32_t captured = 0;
    for (int32_t k = 1; k <= frames;) {
        char prompt[160];
        FormatText(prompt, sizeof prompt,
                   "Blank image %d of %d.\r\nClick OK, then expose the sensor to the direct beam.", (int)k,
                   (int)frames);
        if (Ask(owner, prompt, MB_OKCANCEL | MB_ICONINFORMATION) != IDOK)
            break;
        CaptureResult frame;
        ReadFrameBounded(settings, request, &frame);
        if (frame.ok && frame.pixels && (size_t)frame.count == count) {
            for (size_t i = 0; i < count; i++)
                sums[i] += frame.pixels[i];
            FreeCaptureResult(&frame);
            captured++;
            k++;
            continue;
        }
        LogTrace("   correction frame %d failed: %s (0x%X)", (int)k, frame.error, (unsigned)frame.status);
        FreeCaptureResult(&frame);
        if (Ask(owner, "That exposure failed. Retry this frame?", MB_RETRYCANCEL | MB_ICONWARNING) != IDRETRY)
            break;
    }
    return captured;
}

static void SaveGains(void* owner, const SensorModelParams& model, const SensorSlot& sensor,
                      const SensorReadRequest& request, int32_t frames, const uint32_t* sums, uint16_t* gains)
{
    ComputeGainMap(sums, frames, request.width, request.height, gains);
    if (model.correctionDir[0])
        CreateDirectoryA(model.correctionDir, nullptr);
    char path[kTextPath];
    CorrectionFilePath(path, sizeof path, model.correctionDir, sensor.serial);
    if (!WriteCorrectionFile(path, sensor.serial, sensor.variant, request.width, request.height, frames,
                             gains)) {
        Ask(owner, "Unable to create the correction file (write failed).", MB_OK | MB_ICONERROR);
        return;
    }
    LogTrace("   correction file saved: %s (%d frames)", path, (int)frames);
    char done[kTextPath + 64];
    FormatText(done, sizeof done, "Correction file created (%d frames averaged):\r\n%s", (int)frames, path);
    Ask(owner, done, MB_OK | MB_ICONINFORMATION);
}

// Everything after the busy flag was taken.
static void BuildWithSensor(void* owner, const NyraSettings& settings, int32_t frames)
{
    ReloadBackendIfPending();
    if (!EnsureBackend()
        || (BackendDevice.load() == 0
            && !OpenFirstSensor(settings.allowSuspend != 0, SuspendDelayMs(settings.suspendDelayMinutes)))) {
        Ask(owner, "The sensor is not available.", MB_OK | MB_ICONERROR);
        return;
    }
    SensorSlot sensor = DetectVariantSafe();
    SensorReadRequest request = TaskReadRequest(settings, sensor.variant);
    const SensorModelParams& model = settings.models[TaskModelIndex(sensor.variant, settings)];
    size_t count = (size_t)request.width * (size_t)request.height;
    uint32_t* sums = static_cast<uint32_t*>(calloc(count, sizeof(uint32_t)));
    uint16_t* gains = static_cast<uint16_t*>(malloc(count * sizeof(uint16_t)));
    int32_t captured = sums && gains ? AcquireBlankFrames(owner, settings, request, frames, sums) : 0;
    ReleaseSensor();
    if (captured == frames)
        SaveGains(owner, model, sensor, request, frames, sums, gains);
    else if (captured == 0)
        Ask(owner, "Correction file was not created (no frames captured).", MB_OK | MB_ICONWARNING);
    free(sums);
    free(gains);
}

void BuildCorrectionFile(void* owner)
{
    NyraLoadSettings(&HostBlob, &ActiveSettings);
    NyraSettings settings = ActiveSettings;  // a host call pumped during a read may reload it
    int32_t frames = (int32_t)settings.correctionImageCount;
    frames = frames < 1 ? 1 : frames > kMaxCorrectionFrames ? kMaxCorrectionFrames : frames;
    char question[400];
    FormatText(
        question, sizeof question,
        "NOTE: To create a correction file, position the sensor directly in front of the x-ray tubehead, "
        "with no object in between. You will be directed to capture a series of %d blank images. Please do "
        "NOT unplug the sensor during this process. Do you want to continue?",
        (int)frames);
    if (Ask(owner, question, MB_YESNO | MB_ICONQUESTION) != IDYES)
        return;
    int32_t idle = 0;
    if (!CaptureInProgress.compare_exchange_strong(idle, 1)) {
        Ask(owner, "A capture is already in progress. Try again in a moment.", MB_OK | MB_ICONWARNING);
        return;
    }
    BuildWithSensor(owner, settings, frames);
    CaptureInProgress.exchange(0);
}
