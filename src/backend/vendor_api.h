// The vendor sensor library's entry points as the plug-in uses them, declared once. The list
// generates the function types, the VendorApi table and the binding loop (backend_loader_win.cpp),
// so a name, its type and its "missing export" message cannot drift apart. Code that reads frames
// or enumerates sensors takes a VendorApi, so tests can hand it a fake table.
#pragma once
#include <cstddef>
#include <cstdint>

#include "base/platform.h"

// A device handle of the vendor library; 0 and -1 mean no device. Pointer-sized, as the
// platform's handles (32 bits in the product).
typedef intptr_t VendorHandle;

enum BackendKind : int32_t {
    BackendNone = 0,
    BackendSms = 1,  // SMS_API.dll: the image read takes the capacity as a 64-bit value
    BackendIo = 2,   // IO_API.dll: the image read takes the capacity as a 32-bit value
};

// The 24-byte parameter block of the image reads (little-endian).
#pragma pack(push, 1)
struct CaptureParams {
    uint8_t mode;  // integration mode code (the model's mode index + 1)
    uint8_t zero1[7];
    uint16_t startThreshold;
    uint16_t stopThreshold;
    uint8_t zero2[4];
    double integrationMs;  // whole milliseconds given by the caller
};
#pragma pack(pop)
static_assert(sizeof(CaptureParams) == 24, "CaptureParams is passed to the vendor library");
static_assert(offsetof(CaptureParams, startThreshold) == 8, "");
static_assert(offsetof(CaptureParams, stopThreshold) == 10, "");
static_assert(offsetof(CaptureParams, integrationMs) == 16, "");

constexpr size_t kSensorInfoRequestSize = 16;
constexpr size_t kSensorInfoReplySize = 24;
constexpr uint32_t kSensorInfoRequestCode = 0x01B301C2u;
constexpr uint32_t kVendorId = 0x0661;
constexpr uint16_t kProductId = 0x4400;
constexpr char kDeviceInterfaceGuid[] = "{08C2213B-121E-4318-A77F-ED6FAB38F426}";

// Entry points in binding order: X(name, result, parameters). Required ones first, then the
// optional ones (absent = null), then the image reads, which must come as a pair.
#define NYRA_VENDOR_REQUIRED(X)                                                                   \
    X(USB_SetVid, int32_t, (uint32_t vendorId, const char* interfaceGuid))                        \
    X(USB_OpenDevice, VendorHandle, (uint32_t productId))                                         \
    X(USB_OpenPipe, int32_t, (VendorHandle device))                                               \
    X(USB_CloseDevice, int32_t, (VendorHandle device))                                            \
    X(USB_ResumeDevice, int32_t, (VendorHandle device))                                           \
    X(HPK_GetSensorInformation, int32_t, (VendorHandle device, const void* request, void* reply)) \
    X(HPK_AbortBulkPipe, int32_t, (VendorHandle device))

#define NYRA_VENDOR_OPTIONAL(X)                          \
    X(USB_SuspendDevice, int32_t, (VendorHandle device)) \
    X(USB_SetDefaultSystemSuspendTime, int32_t, (VendorHandle device, uint32_t idleMs))

// The image reads exist in two calling forms that differ only in the width of the capacity
// passed by reference; each is stored once per form.
#define NYRA_VENDOR_IMAGE(X) \
    X(HPK_GetXrayImage)      \
    X(HPK_GetXrayCorrectionImage)

#define NYRA_VENDOR_TYPEDEF(name, result, params) typedef result(NYRA_STDCALL* name##_fn) params;
NYRA_VENDOR_REQUIRED(NYRA_VENDOR_TYPEDEF)
NYRA_VENDOR_OPTIONAL(NYRA_VENDOR_TYPEDEF)
#undef NYRA_VENDOR_TYPEDEF

typedef int32_t(NYRA_STDCALL* XrayReadSms_fn)(VendorHandle device, void* buffer, uint64_t* capacity,
                                              const CaptureParams* params);
typedef int32_t(NYRA_STDCALL* XrayReadIo_fn)(VendorHandle device, void* buffer, uint32_t* capacity,
                                             const CaptureParams* params);
// Abort and close share this shape, which is what the release thread calls.
typedef int32_t(NYRA_STDCALL* VendorHandleCall_fn)(VendorHandle device);
typedef int32_t(NYRA_STDCALL* VendorTimerCall_fn)(VendorHandle device, uint32_t ms);

struct VendorApi {
#define NYRA_VENDOR_FIELD(name, result, params) name##_fn name;
    NYRA_VENDOR_REQUIRED(NYRA_VENDOR_FIELD)
    NYRA_VENDOR_OPTIONAL(NYRA_VENDOR_FIELD)
#undef NYRA_VENDOR_FIELD
#define NYRA_VENDOR_IMAGE_FIELD(name) \
    XrayReadSms_fn name##_Sms;        \
    XrayReadIo_fn name##_Io;
    NYRA_VENDOR_IMAGE(NYRA_VENDOR_IMAGE_FIELD)
#undef NYRA_VENDOR_IMAGE_FIELD
};
