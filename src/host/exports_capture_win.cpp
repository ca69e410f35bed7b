// Capture, image-information, DICOM, group and abort exports, and the fixed answers for the
// host facilities this plug-in does not offer (reorientation, import, diagnostic messages,
// background capture). The six capture exports differ only in the name they log.
#include <windows.h>

#include <cstring>

#include "backend/backend.h"
#include "base/log.h"
#include "capture/capture_driver.h"
#include "capture/capture_state.h"
#include "host/dicom_info.h"
#include "host/exports.h"
#include "settings/active_settings.h"
#include "settings/settings.h"

extern "C" {

void* NYRA_STDCALL SEDCaptureImage(uint32_t ctx1, uint32_t ctx2)
{
    return RunCapture("SEDCaptureImage", ctx1, ctx2);
}
void* NYRA_STDCALL SEDCaptureImageNoPrompt(uint32_t ctx1, uint32_t ctx2)
{
    return RunCapture("SEDCaptureImageNoPrompt", ctx1, ctx2);
}
void* NYRA_STDCALL SEDQuickCaptureImage(uint32_t ctx1, uint32_t ctx2)
{
    return RunCapture("SEDQuickCaptureImage", ctx1, ctx2);
}
void* NYRA_STDCALL SEDCaptureImage16(uint32_t ctx1, uint32_t ctx2)
{
    return RunCapture("SEDCaptureImage16", ctx1, ctx2);
}
void* NYRA_STDCALL SEDCaptureImageNoPrompt16(uint32_t ctx1, uint32_t ctx2)
{
    return RunCapture("SEDCaptureImageNoPrompt16", ctx1, ctx2);
}
void* NYRA_STDCALL SEDQuickCaptureImage16(uint32_t ctx1, uint32_t ctx2)
{
    return RunCapture("SEDQuickCaptureImage16", ctx1, ctx2);
}

uint32_t NYRA_STDCALL SEDGetImageInfo(char* buffer, int32_t size)
{
    size_t length = CopyTextToHost(buffer, size, ImageInfoText);
    LogTrace("SEDGetImageInfo -> \"%s\"", ImageInfoText);
    return (uint32_t)length;
}

// The caller's block starts with its capacity; that many bytes of the record are written
// (all of it for a capacity of 0 or of 1584 and above).
uint32_t NYRA_STDCALL SEDGetDICOMInfo(void* record)
{
    if (!record) {
        LogTrace("SEDGetDICOMInfo(NULL)");
        return 1;
    }
    uint32_t capacity;
    memcpy(&capacity, record, sizeof capacity);
    char computer[MAX_COMPUTERNAME_LENGTH + 1] = "";
    DWORD computerSize = sizeof computer;
    if (!GetComputerNameA(computer, &computerSize))
        computer[0] = '\0';
    uint8_t built[kDicomInfoSize];
    BuildDicomInfo(CaptureContext[0], CaptureContext[1], computer, built);
    uint32_t n = DicomCopySize(capacity);
    memcpy(record, built, n);
    LogTrace("SEDGetDICOMInfo(cap=0x%X) -> filled 0x%X bytes (ctx=%08X/%08X)", (unsigned)capacity,
             (unsigned)n, (unsigned)CaptureContext[0], (unsigned)CaptureContext[1]);
    return 1;
}

uint32_t NYRA_STDCALL SEDImportNativeImage(void* p)
{
    LogTrace("SEDImportNativeImage(%p) [stub]", p);
    return 1;
}

#define NYRA_REORIENT_STUB(name)                                                                     \
    uint32_t NYRA_STDCALL name(void* dib, int32_t a, int32_t b, int32_t orient, int32_t flags)       \
    {                                                                                                \
        LogTrace(#name "(dib=%p,%d,%d,orient=%d,flags=%d) [stub]", dib, (int)a, (int)b, (int)orient, \
                 (int)flags);                                                                        \
        return 0;                                                                                    \
    }
NYRA_REORIENT_STUB(SEDReorientImage)
NYRA_REORIENT_STUB(SEDReorientImageEx)
NYRA_REORIENT_STUB(SEDReorientImage16)
NYRA_REORIENT_STUB(SEDReorientImage16Ex)
#undef NYRA_REORIENT_STUB

uint32_t NYRA_STDCALL SEDGroupStarted()
{
    LogTrace("SEDGroupStarted()");
    return (uint32_t)GroupActive.exchange(1);
}

void NYRA_STDCALL SEDGroupEnded()
{
    LogTrace("SEDGroupEnded()");
    GroupActive.exchange(0);
    AbortPipeAsync();
    NyraLoadSettings(&HostBlob, &ActiveSettings);
    if (ActiveSettings.closeHardwareAfterLayout && CaptureInProgress.load() == 0)
        ReleaseSensor();
}

uint32_t NYRA_STDCALL SEDUserTerminated()
{
    UserTerminated.exchange(1);
    CancelRequested.exchange(1);
    AbortPipeAsync();
    LogTrace("SEDUserTerminated() -> 1");
    return 1;
}

uint32_t NYRA_STDCALL SEDTimedOut()
{
    int32_t value = TimedOut.load();
    LogTrace("SEDTimedOut() -> %d", (int)value);
    return (uint32_t)value;
}

uint32_t NYRA_STDCALL SEDGetErrorMessage(char* buffer, int32_t size)
{
    size_t length = CopyTextToHost(buffer, size, CaptureErrorText);
    LogTrace("SEDGetErrorMessage(buf=%p,size=%d) -> \"%s\"", (void*)buffer, (int)size, CaptureErrorText);
    return (uint32_t)length;
}

uint32_t NYRA_STDCALL SEDGetNumberOfDiagnosticMessages()
{
    LogTrace("SEDGetNumberOfDiagnosticMessages() -> 0");
    return 0;
}

uint32_t NYRA_STDCALL SEDGetDiagnosticMessage(void* p)
{
    LogTrace("SEDGetDiagnosticMessage(%p) [stub]", p);
    return 0;
}

void NYRA_STDCALL SEDResetDiagnosticMessages()
{
    LogTrace("SEDResetDiagnosticMessages()");
}
void NYRA_STDCALL SEDBGCStart()
{
    LogTrace("SEDBGCStart() [stub]");
}
void NYRA_STDCALL SEDBGCTerminate()
{
    LogTrace("SEDBGCTerminate() [stub]");
}

uint32_t NYRA_STDCALL SEDIsBGCActive(void* p)
{
    LogTrace("SEDIsBGCActive(%p) -> 0 (not active)", p);
    return 0;
}

uint32_t NYRA_STDCALL SEDGetNumberOfBGCDiagnosticMessages(void* p)
{
    LogTrace("SEDGetNumberOfBGCDiagnosticMessages(%p) -> 0", p);
    return 0;
}

uint32_t NYRA_STDCALL SEDGetBGCDiagnosticMessage(void* p)
{
    LogTrace("SEDGetBGCDiagnosticMessage(%p) [stub]", p);
    return 0;
}

void NYRA_STDCALL SEDResetBGCDiagnosticMessages()
{
    LogTrace("SEDResetBGCDiagnosticMessages()");
}

}  // extern "C"
