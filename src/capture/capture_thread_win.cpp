// The worker thread's frame: the job's allocation, the fault guard around the worker, and the
// hand-over of an abandoned job, so that exactly one side frees it and StuckWorkerCount is
// decremented once for every abandonment.
#include <windows.h>

#include <cstdarg>
#include <cstdlib>
#include <new>

#include "backend/backend_state.h"
#include "backend/fault_guard.h"
#include "base/log.h"
#include "capture/capture_job.h"
#include "capture/capture_state.h"

CaptureJob* NewCaptureJob(const NyraSettings& settings)
{
    void* memory = calloc(1, sizeof(CaptureJob));
    if (!memory)
        return nullptr;
    CaptureJob* job = new (memory) CaptureJob();
    job->body = [](CaptureJob* j) { CaptureWorker(j); };
    job->settings = settings;
    job->lowClip = -1;
    return job;
}

void FreeCaptureJob(CaptureJob* job)
{
    if (!job)
        return;
    if (job->dib)
        GlobalFree(static_cast<HGLOBAL>(job->dib));
    FreeCaptureResult(&job->read);
    job->~CaptureJob();
    free(job);
}

void SetCaptureError(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    FormatTextV(CaptureErrorText, sizeof CaptureErrorText, format, args);
    va_end(args);
}

void SetJobError(CaptureJob* job, const char* format, ...)
{
    va_list args;
    va_start(args, format);
    FormatTextV(job->errorText, sizeof job->errorText, format, args);
    va_end(args);
}

static void RunWorker(void* param)
{
    CaptureJob* job = static_cast<CaptureJob*>(param);
    job->body(job);
}

// Each vendor call of the worker has its own guard, so a vendor fault comes back here as an
// ordinary failed capture with the thread's vendor fault set. The guard around the whole worker
// is the last resort for a fault in our own code, whose frames it skips.
uint32_t CaptureWorkerGuarded(CaptureJob* job)
{
    SetThreadVendorFault(0);  // the inline fallback runs on the host's thread
    GuardFault fault{};
    if (GuardedCall(RunWorker, job, &fault))
        fault.code = ThreadVendorFault();
    SetThreadVendorFault(0);
    if (fault.code == 0)
        return 0;
    LogAlways(
        "!!! CAPTURE WORKER CRASHED: SEH exception 0x%08lX inside the sensor SDK. The last '[trace]' line "
        "above names the exact SDK call that faulted. Host protected; capture cancelled.",
        (unsigned long)fault.code);
    // A DIB the worker may have packed before the fault is not trusted.
    if (job->dib) {
        GlobalFree(static_cast<HGLOBAL>(job->dib));
        job->dib = nullptr;
    }
    // Nor is a frame the read may have half delivered.
    FreeCaptureResult(&job->read);
    job->armed.store(0);
    job->crashed.store(1);
    return 0;
}

// A reference on the module holding address, or null for the program itself (which cannot
// be unloaded under the thread anyway).
static HMODULE PinModule(const void* address)
{
    HMODULE module = nullptr;
    if (!address
        || !GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, static_cast<LPCWSTR>(address),
                               &module))
        return nullptr;
    if (module == GetModuleHandleW(nullptr)) {
        FreeLibrary(module);
        return nullptr;
    }
    return module;
}

void PinWorkerModules(CaptureJob* job, const void* vendorEntry)
{
    job->selfPin = PinModule(reinterpret_cast<const void*>(&CaptureThreadMain));
    job->vendorPin = PinModule(vendorEntry);
}

void UnpinWorkerModules(CaptureJob* job)
{
    if (job->vendorPin)
        FreeLibrary(static_cast<HMODULE>(job->vendorPin));
    if (job->selfPin)
        FreeLibrary(static_cast<HMODULE>(job->selfPin));
    job->vendorPin = job->selfPin = nullptr;
}

unsigned long NYRA_STDCALL CaptureThreadMain(void* param)
{
    CaptureJob* job = static_cast<CaptureJob*>(param);
    HMODULE selfPin = static_cast<HMODULE>(job->selfPin);
    HMODULE vendorPin = static_cast<HMODULE>(job->vendorPin);
    uint32_t result = CaptureWorkerGuarded(job);
    // After this exchange the job may already be freed by the driver: only locals from here on.
    if (job->abandoned.exchange(kJobWorkerDone) == kJobAbandoned) {
        LogAlways("   abandoned capture worker finally exited -> releasing its job");
        FreeCaptureJob(job);
        StuckWorkerCount.fetch_sub(1);
    }
    if (vendorPin)
        FreeLibrary(vendorPin);
    if (selfPin)
        FreeLibraryAndExitThread(selfPin, result);
    return result;
}
