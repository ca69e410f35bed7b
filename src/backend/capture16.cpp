// Frame acquisition: fills CaptureParams, hands the library a buffer of at least 8,871,220
// bytes, copies the width x height pixels that follow its 14-byte header, and computes minimum,
// maximum and mean. Portable: the library is reached through a VendorApi table.
// Failures leave ok 0, no pixels and the reason in error ("sensor not open", "out of memory
// (capture buffer)", "HPK_GetXray%s failed, native status 0x%X", "out of memory (pixels)");
// the capture buffer is always freed. A fault inside the read is contained at the call (see
// vendor_call.h) and reported as "HPK_GetXray%s faulted" with the exception code as the
// status. A negative size counts as a failed pixel allocation, and a
// capacity the IO form cannot express in 32 bits as a failed buffer allocation.
#include "backend/capture16.h"

#include <cstdlib>
#include <cstring>

#include "backend/backend_state.h"
#include "backend/vendor_call.h"
#include "base/text.h"

uint64_t CaptureBufferCapacity(int32_t width, int32_t height)
{
    int64_t needed = 2 * (int64_t)width * (int64_t)height + 16;
    return needed > (int64_t)kMinCaptureCapacity ? (uint64_t)needed : kMinCaptureCapacity;
}

void FreeCaptureResult(CaptureResult* result)
{
    if (!result)
        return;
    free(result->pixels);
    result->pixels = nullptr;
    result->count = 0;
    result->ok = 0;
}

void Capture16With(const VendorApi& api, BackendKind kind, VendorHandle device, CaptureResult* result,
                   int32_t width, int32_t height, uint16_t startThreshold, uint16_t stopThreshold,
                   int32_t integrationMs, uint8_t mode, uint8_t correction)
{
    if (!result)
        return;
    memset(result, 0, sizeof *result);
    result->width = width;
    result->height = height;
    result->bits = 16;
    if (!device) {
        CopyText(result->error, sizeof result->error, "sensor not open");
        return;
    }

    CaptureParams params;
    memset(&params, 0, sizeof params);
    params.mode = mode;
    params.startThreshold = startThreshold;
    params.stopThreshold = stopThreshold;
    params.integrationMs = (double)integrationMs;

    const uint64_t capacity = CaptureBufferCapacity(width, height);
    const bool io = kind == BackendIo;
    uint8_t* buffer = nullptr;
    if (!(io && capacity > UINT32_MAX) && capacity <= SIZE_MAX)
        buffer = static_cast<uint8_t*>(malloc((size_t)capacity));
    if (!buffer) {
        CopyText(result->error, sizeof result->error, "out of memory (capture buffer)");
        return;
    }

    const char* which = correction ? "CorrectionImage" : "Image";
    const char* entry = correction ? "HPK_GetXrayCorrectionImage" : "HPK_GetXrayImage";
    int32_t status = -1;
    bool returned = true;
    if (io) {
        uint32_t capacity32 = (uint32_t)capacity;
        XrayReadIo_fn read = correction ? api.HPK_GetXrayCorrectionImage_Io : api.HPK_GetXrayImage_Io;
        if (read)
            returned = CallVendor(entry, [&] { status = read(device, buffer, &capacity32, &params); });
    } else {
        uint64_t capacity64 = capacity;
        XrayReadSms_fn read = correction ? api.HPK_GetXrayCorrectionImage_Sms : api.HPK_GetXrayImage_Sms;
        if (read)
            returned = CallVendor(entry, [&] { status = read(device, buffer, &capacity64, &params); });
    }
    if (!returned) {
        // The library faulted (or had faulted before on this thread): the buffer is ours to free.
        result->status = (int32_t)ThreadVendorFault();
        FormatText(result->error, sizeof result->error, "HPK_GetXray%s faulted", which);
        free(buffer);
        return;
    }
    result->status = status;
    if (status != 0) {
        FormatText(result->error, sizeof result->error, "HPK_GetXray%s failed, native status 0x%X", which,
                   (unsigned)status);
        free(buffer);
        return;
    }

    const int64_t count = (int64_t)width * (int64_t)height;
    const int64_t bytes = count * 2;
    uint16_t* pixels = nullptr;
    if (count >= 0 && bytes <= (int64_t)UINT32_MAX)
        pixels = static_cast<uint16_t*>(malloc(bytes ? (size_t)bytes : 1));
    if (!pixels) {
        CopyText(result->error, sizeof result->error, "out of memory (pixels)");
        free(buffer);
        return;
    }
    memcpy(pixels, buffer + kFrameHeaderBytes, (size_t)bytes);
    free(buffer);

    uint32_t minimum = 65535, maximum = 0;
    uint64_t sum = 0;
    for (int64_t i = 0; i < count; ++i) {
        uint16_t v = pixels[i];
        minimum = v < minimum ? v : minimum;
        maximum = v > maximum ? v : maximum;
        sum += v;
    }
    result->count = (int32_t)count;
    result->pixels = pixels;
    result->minimum = minimum;
    result->maximum = maximum;
    result->mean = (uint32_t)(sum / (uint64_t)(count ? count : 1));
    result->ok = 1;
}

void Capture16(CaptureResult* result, int32_t width, int32_t height, uint16_t startThreshold,
               uint16_t stopThreshold, int32_t integrationMs, uint8_t mode, uint8_t correction)
{
    Capture16With(Vendor, BackendKindLoaded, BackendDevice.load(), result, width, height, startThreshold,
                  stopThreshold, integrationMs, mode, correction);
}
