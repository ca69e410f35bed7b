// One 16-bit frame from the open sensor through the vendor library's blocking image read.
#pragma once
#include <cstdint>

#include "backend/vendor_api.h"

// What Capture16 returns. pixels is owned by the caller: release it with FreeCaptureResult.
struct CaptureResult {
    uint8_t ok;      // a frame was read
    int32_t status;  // the library's status of the read (0 = success)
    int32_t width;
    int32_t height;
    int32_t bits;      // always 16
    int32_t count;     // width x height
    uint16_t* pixels;  // count values, row-major; null unless ok
    uint32_t minimum;
    uint32_t maximum;
    uint32_t mean;    // sum / count, truncated
    char error[256];  // reason when ok is 0
};

constexpr uint64_t kMinCaptureCapacity = 8871220;  // bytes the library is always given
constexpr uint32_t kFrameHeaderBytes = 14;

// Capture buffer size for a frame: the larger of 2 x width x height + 16 and 8,871,220 bytes.
uint64_t CaptureBufferCapacity(int32_t width, int32_t height);

// Reads a frame through api from device. The capacity goes by reference as 32 bits for the IO
// kind and as 64 bits otherwise; correction picks HPK_GetXrayCorrectionImage over
// HPK_GetXrayImage.
void Capture16With(const VendorApi& api, BackendKind kind, VendorHandle device, CaptureResult* result,
                   int32_t width, int32_t height, uint16_t startThreshold, uint16_t stopThreshold,
                   int32_t integrationMs, uint8_t mode, uint8_t correction);

// The same on the backend's open device and loaded library.
void Capture16(CaptureResult* result, int32_t width, int32_t height, uint16_t startThreshold,
               uint16_t stopThreshold, int32_t integrationMs, uint8_t mode, uint8_t correction);

// Frees the pixels and clears count and ok.
void FreeCaptureResult(CaptureResult* result);
