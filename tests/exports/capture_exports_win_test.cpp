// Capture exports through the built DLL with no vendor library installed: the synthetic image,
// the callbacks, the DICOM record of the capture context, and the re-entrancy guard.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "exports/plugin_host.h"

namespace {

uint16_t PixelAt(const uint8_t* dib, int width, int height, int row, int column)
{
    size_t stride = ((size_t)(width + 1) & ~(size_t)1) * 2;
    const uint8_t* p = dib + 40 + (size_t)(height - 1 - row) * stride + 2 * (size_t)column;
    return (uint16_t)(p[0] | p[1] << 8);
}

TEST(CaptureExports, SyntheticImageWithoutVendorLibrary)
{
    PluginHost host;
    ASSERT_TRUE(host.loaded());
    host.setDevicesDir(host.dir().path());
    host.setStatusCallback();
    HGLOBAL dib = host.capture16(7, 9);
    ASSERT_NE(dib, nullptr);
    EXPECT_EQ(PluginHost::Callbacks, (std::vector<std::string>{"5:Nyra Pro", "0:(null)"}));
    const uint8_t* bytes = static_cast<const uint8_t*>(GlobalLock(dib));
    ASSERT_NE(bytes, nullptr);
    int32_t width, height;
    memcpy(&width, bytes + 4, 4);
    memcpy(&height, bytes + 8, 4);
    EXPECT_EQ(width, 1024);
    EXPECT_EQ(height, 1280);
    EXPECT_EQ(bytes[14], 16);
    EXPECT_EQ(PixelAt(bytes, 1024, 1280, 0, 0), 0);
    EXPECT_EQ(PixelAt(bytes, 1024, 1280, 0, 1023), 32735);
    EXPECT_EQ(PixelAt(bytes, 1024, 1280, 64, 0), 1638);
    EXPECT_EQ(PixelAt(bytes, 1024, 1280, 65, 0), 60000);
    EXPECT_EQ(PixelAt(bytes, 1024, 1280, 128, 0), 3276);
    EXPECT_EQ(PixelAt(bytes, 1024, 1280, 1279, 1023), 65476);
    GlobalUnlock(dib);
    GlobalFree(dib);
    EXPECT_EQ(host.errorText(), "");
    EXPECT_EQ(host.fn<uint32_t(__stdcall*)()>("SEDTimedOut")(), 0u);

    // The DICOM record describes that capture.
    std::vector<uint8_t> record(1584, 0xCC);
    uint32_t capacity = 100;
    memcpy(record.data(), &capacity, 4);
    EXPECT_EQ(host.fn<uint32_t(__stdcall*)(void*)>("SEDGetDICOMInfo")(record.data()), 1u);
    EXPECT_EQ(record[0] | record[1] << 8, 1584);
    EXPECT_EQ(record[99], 0);
    EXPECT_EQ(record[100], 0xCC) << "a capacity of 100 fills exactly 100 bytes";
    memset(record.data(), 0, 4);
    host.fn<uint32_t(__stdcall*)(void*)>("SEDGetDICOMInfo")(record.data());
    EXPECT_STREQ((const char*)&record[420], "1.2.826.0.1.3680043.9.7000.7");
    EXPECT_STREQ((const char*)&record[1216], "1.2.826.0.1.3680043.9.7001.7");
    EXPECT_STREQ((const char*)&record[1280], "1.9.7.9");
    EXPECT_EQ(record[1572], 7);
    EXPECT_EQ(record[1576], 9);
    EXPECT_EQ(host.fn<uint32_t(__stdcall*)(void*)>("SEDGetDICOMInfo")(nullptr), 1u);
}

TEST(CaptureExports, LoggingFollowsTheSettingFromTheFirstCapture)
{
    PluginHost host;
    ASSERT_TRUE(host.loaded());
    host.setDevicesDir(host.dir().path());
    host.storeSettings(300, true);
    EXPECT_EQ(host.logText(), "") << "nothing is traced before the first capture";
    HGLOBAL dib = host.capture16(1, 2);
    ASSERT_NE(dib, nullptr);
    GlobalFree(dib);
    std::string log = host.logText();
    EXPECT_EQ(log.find("SEDCaptureImage16("), std::string::npos)
        << "its first line precedes the settings load";
    EXPECT_NE(log.find("   SYNTHETIC 16-bit DIB 1024x1280 -> HGLOBAL="), std::string::npos) << log;
}

TEST(CaptureExports, GroupCallsAndUserTerminatedOutsideACapture)
{
    PluginHost host;
    ASSERT_TRUE(host.loaded());
    auto groupStarted = host.fn<uint32_t(__stdcall*)()>("SEDGroupStarted");
    EXPECT_EQ(groupStarted(), 0u);
    EXPECT_EQ(groupStarted(), 1u);
    host.fn<void(__stdcall*)()>("SEDGroupEnded")();
    EXPECT_EQ(groupStarted(), 0u);
    EXPECT_EQ(host.fn<uint32_t(__stdcall*)()>("SEDUserTerminated")(), 1u);
    // The flags are cleared again by the next capture.
    HGLOBAL dib = host.capture16(1, 1);
    ASSERT_NE(dib, nullptr);
    GlobalFree(dib);
    EXPECT_EQ(host.errorText(), "");
}

}  // namespace
