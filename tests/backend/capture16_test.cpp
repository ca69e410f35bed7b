// Capture16 against a fake vendor table: the parameter block and capacity each kind receives,
// which entry point the correction switch picks, the copy past the 14-byte header, statistics,
// and every failure text.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "backend/capture16.h"

namespace {

struct Seen {
    std::string entry;
    uint64_t capacity;
    int capacityBits;
    CaptureParams params;
    int32_t status;
    uint16_t flat;  // pixel value written when > 0, else a ramp
    int32_t width;  // frame the fake writes
    int32_t height;
};
Seen Last;

void Fill(void* buffer)
{
    uint8_t* bytes = static_cast<uint8_t*>(buffer);
    memset(bytes, 0xEE, kFrameHeaderBytes);  // header must never reach the pixels
    uint16_t* pixels = reinterpret_cast<uint16_t*>(bytes + kFrameHeaderBytes);
    for (int32_t i = 0; i < Last.width * Last.height; ++i)
        pixels[i] = Last.flat ? Last.flat : (uint16_t)(100 + i);
}

int32_t Record(const char* entry, void* buffer, uint64_t capacity, int bits, const CaptureParams* params)
{
    Last.entry = entry;
    Last.capacity = capacity;
    Last.capacityBits = bits;
    memcpy(&Last.params, params, sizeof *params);
    if (Last.status == 0)
        Fill(buffer);
    return Last.status;
}

int32_t NYRA_STDCALL SmsImage(VendorHandle, void* b, uint64_t* c, const CaptureParams* p)
{
    return Record("Image", b, *c, 64, p);
}
int32_t NYRA_STDCALL SmsCorrection(VendorHandle, void* b, uint64_t* c, const CaptureParams* p)
{
    return Record("CorrectionImage", b, *c, 64, p);
}
int32_t NYRA_STDCALL IoImage(VendorHandle, void* b, uint32_t* c, const CaptureParams* p)
{
    return Record("Image", b, *c, 32, p);
}
int32_t NYRA_STDCALL IoCorrection(VendorHandle, void* b, uint32_t* c, const CaptureParams* p)
{
    return Record("CorrectionImage", b, *c, 32, p);
}

VendorApi FakeApi()
{
    VendorApi api;
    memset(&api, 0, sizeof api);
    api.HPK_GetXrayImage_Sms = SmsImage;
    api.HPK_GetXrayCorrectionImage_Sms = SmsCorrection;
    api.HPK_GetXrayImage_Io = IoImage;
    api.HPK_GetXrayCorrectionImage_Io = IoCorrection;
    return api;
}

CaptureResult Read(BackendKind kind, int32_t w, int32_t h, uint8_t correction, int32_t status = 0,
                   uint16_t flat = 0, VendorHandle device = 0x1001)
{
    Last = Seen();
    Last.status = status;
    Last.flat = flat;
    Last.width = w;
    Last.height = h;
    CaptureResult r;
    Capture16With(FakeApi(), kind, device, &r, w, h, 100, 2000, 500, 2, correction);
    return r;
}

}  // namespace

TEST(Capture16, CapacityIsAtLeastTheFixedMinimum)
{
    EXPECT_EQ(8871220u, CaptureBufferCapacity(1300, 1706));  // 4,435,616 would do
    EXPECT_EQ(8871220u, CaptureBufferCapacity(2580, 1706));  // 8,802,976 needed
    EXPECT_EQ(8871220u, CaptureBufferCapacity(0, 0));
    EXPECT_EQ(2ull * 3000 * 2000 + 16, CaptureBufferCapacity(3000, 2000));
    EXPECT_EQ(8871220u, CaptureBufferCapacity(-5, 100));
}

TEST(Capture16, EachKindGetsItsCapacityWidthAndTheParameterBlock)
{
    CaptureResult r = Read(BackendSms, 1300, 1706, 1);
    EXPECT_EQ("CorrectionImage", Last.entry);
    EXPECT_EQ(64, Last.capacityBits);
    EXPECT_EQ(8871220u, Last.capacity);
    const CaptureParams p = Last.params;  // packed: copy the fields out before comparing
    const uint8_t mode = p.mode;
    const uint16_t start = p.startThreshold, stop = p.stopThreshold;
    const double integration = p.integrationMs;
    EXPECT_EQ(2, mode);
    EXPECT_EQ(100, start);
    EXPECT_EQ(2000, stop);
    EXPECT_EQ(500.0, integration);
    const uint8_t zero[7] = {0};
    EXPECT_EQ(0, memcmp(zero, Last.params.zero1, 7));
    EXPECT_EQ(0, memcmp(zero, Last.params.zero2, 4));
    EXPECT_TRUE(r.ok);
    FreeCaptureResult(&r);

    r = Read(BackendIo, 1300, 1706, 0);
    EXPECT_EQ("Image", Last.entry);
    EXPECT_EQ(32, Last.capacityBits);
    EXPECT_EQ(8871220u, Last.capacity);
    FreeCaptureResult(&r);

    r = Read(BackendIo, 1000, 1506, 1);
    EXPECT_EQ("CorrectionImage", Last.entry);
    EXPECT_EQ(32, Last.capacityBits);
    FreeCaptureResult(&r);
}

TEST(Capture16, PixelsFollowTheHeaderWithStatistics)
{
    CaptureResult r = Read(BackendSms, 4, 3, 0);
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(0, r.status);
    EXPECT_EQ(16, r.bits);
    EXPECT_EQ(12, r.count);
    for (int i = 0; i < 12; ++i)
        EXPECT_EQ(100 + i, r.pixels[i]);
    EXPECT_EQ(100u, r.minimum);
    EXPECT_EQ(111u, r.maximum);
    EXPECT_EQ(105u, r.mean);  // 1266 / 12 truncated
    FreeCaptureResult(&r);
    EXPECT_EQ(nullptr, r.pixels);
    EXPECT_EQ(0, r.count);

    r = Read(BackendSms, 1300, 1706, 0, 0, 4321);  // equal pixels
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(4321u, r.minimum);
    EXPECT_EQ(4321u, r.maximum);
    EXPECT_EQ(4321u, r.mean);
    FreeCaptureResult(&r);

    r = Read(BackendSms, 0, 1706, 0);  // empty frame: mean over a count of 1
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(0, r.count);
    EXPECT_EQ(65535u, r.minimum);
    EXPECT_EQ(0u, r.mean);
    FreeCaptureResult(&r);
}

TEST(Capture16, FailuresCarryTheirTextAndNoPixels)
{
    CaptureResult r = Read(BackendSms, 1300, 1706, 0, 0, 0, 0);
    EXPECT_FALSE(r.ok);
    EXPECT_STREQ("sensor not open", r.error);
    EXPECT_EQ("", Last.entry);
    EXPECT_EQ(1300, r.width);
    EXPECT_EQ(16, r.bits);

    r = Read(BackendSms, 1300, 1706, 0, (int32_t)0x80000001);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ((int32_t)0x80000001, r.status);
    EXPECT_STREQ("HPK_GetXrayImage failed, native status 0x80000001", r.error);
    EXPECT_EQ(nullptr, r.pixels);

    r = Read(BackendIo, 1300, 1706, 1, 0x2A);
    EXPECT_STREQ("HPK_GetXrayCorrectionImage failed, native status 0x2A", r.error);

    r = Read(BackendSms, -4, 3, 0);  // a negative size cannot be allocated
    EXPECT_FALSE(r.ok);
    EXPECT_STREQ("out of memory (pixels)", r.error);
    EXPECT_EQ(nullptr, r.pixels);
}
