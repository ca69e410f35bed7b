// Sensor selection's rules on a fake vendor table, without a library or real waits: at most
// three sensors, the preferred serial, the open retry, and every handle of a failing or
// unselected path closed. The stand-in library covers the same paths under Wine.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#endif

#include "backend/backend_state.h"
#include "backend/sensor_select.h"

namespace {

struct FakeUsb {
    int sensors;    // devices the bus offers
    int failOpens;  // the first opens that fail with openError
    uint32_t openError;
    int repeatAt;  // this open returns the first handle again (-1: never)
    int32_t pipeStatus;
    int opens, offered, setVid;
    std::vector<VendorHandle> closed, aborted;
    std::vector<uint32_t> sleeps;
};
FakeUsb Usb;

void SetSystemError(uint32_t error)
{
#if defined(_WIN32)
    SetLastError(error);
#else
    errno = (int)error;
#endif
}

// Handles are 0x100, 0x101... in the order the bus offers its devices; a failed open sets the
// system error openError + its number, so the first failure's error can be told apart.
VendorHandle NYRA_STDCALL Open(uint32_t)
{
    int n = Usb.opens++;
    if (Usb.failOpens > 0) {
        --Usb.failOpens;
        SetSystemError(Usb.openError + n);
        return n % 2 ? 0 : -1;
    }
    if (n == Usb.repeatAt)
        return 0x100;
    return Usb.offered < Usb.sensors ? 0x100 + Usb.offered++ : 0;
}

int32_t NYRA_STDCALL Pipe(VendorHandle)
{
    return Usb.pipeStatus;
}
int32_t NYRA_STDCALL Close(VendorHandle h)
{
    Usb.closed.push_back(h);
    return 0;
}
int32_t NYRA_STDCALL Abort(VendorHandle h)
{
    Usb.aborted.push_back(h);
    return 0;
}
int32_t NYRA_STDCALL SetVid(uint32_t, const char*)
{
    ++Usb.setVid;
    return 0;
}

// Sensor 0x100 + i answers type 0x81, lot 0xA000 + i: serial "81A00i".
int32_t NYRA_STDCALL Info(VendorHandle h, const void*, void* reply)
{
    uint8_t* out = static_cast<uint8_t*>(reply);
    uint16_t lot = (uint16_t)(0xA000 + (h - 0x100));
    out[16] = (uint8_t)lot;
    out[17] = (uint8_t)(lot >> 8);
    out[18] = 0x81;
    out[19] = 0x10;
    return 0;
}

void RecordSleep(uint32_t ms)
{
    Usb.sleeps.push_back(ms);
}

class SensorSelectRules : public ::testing::Test {
protected:
    void SetUp() override
    {
        Usb = FakeUsb{};
        Usb.repeatAt = -1;
        memset(&Vendor, 0, sizeof Vendor);
        Vendor.USB_OpenDevice = Open;
        Vendor.USB_OpenPipe = Pipe;
        Vendor.USB_CloseDevice = Close;
        Vendor.HPK_AbortBulkPipe = Abort;
        Vendor.USB_SetVid = SetVid;
        Vendor.HPK_GetSensorInformation = Info;
        BackendModule = &Usb;
        BackendResult = 1;
        BackendDevice.store(0);
        BackendSleep = RecordSleep;
        PreferredSerial[0] = '\0';
    }
    void TearDown() override
    {
        BackendDevice.store(0);
        ClearVendorState();
        BackendModule = nullptr;
        BackendResult = 0;
        BackendSleep = savedSleep;
        PreferredSerial[0] = '\0';
    }
    void (*savedSleep)(uint32_t) = BackendSleep;
};

}  // namespace

TEST_F(SensorSelectRules, ListsThreeOfFourAndKeepsThePreferredOneOpen)
{
    Usb.sensors = 4;
    strcpy(PreferredSerial, "81a001");
    SensorSlot list[kMaxSensors];
    int32_t index = -1;
    EXPECT_EQ(3, OpenAndSelect(false, 0, list, &index));
    EXPECT_EQ(3, Usb.offered);  // the fourth is never opened
    EXPECT_STREQ("81A000", list[0].serial);
    EXPECT_STREQ("81A002", list[2].serial);
    EXPECT_EQ(1, index);
    EXPECT_EQ(0x101, BackendDevice.load());
    EXPECT_EQ(std::vector<VendorHandle>({0x100, 0x102}), Usb.closed);
    EXPECT_EQ(std::vector<VendorHandle>({0x100, 0x102}), Usb.aborted);

    PreferredSerial[0] = '\0';  // no preference: the first; the open one is released first
    Usb.offered = 0;
    Usb.closed.clear();
    EXPECT_EQ(3, OpenAndSelect(false, 0, list, &index));
    EXPECT_EQ(0, index);
    EXPECT_EQ(std::vector<VendorHandle>({0x101, 0x101, 0x102}), Usb.closed);
}

TEST_F(SensorSelectRules, RetriesOnceWithTheVendorIdAndReportsTheFirstError)
{
    Usb.sensors = 1;
    Usb.failOpens = 1;
    strcpy(BackendLastError, "an earlier capture's reason");
    ASSERT_TRUE(OpenFirstSensor(false, 0));
    EXPECT_EQ(1, Usb.setVid);
    EXPECT_EQ(std::vector<uint32_t>({500}), Usb.sleeps);
    EXPECT_EQ(0x100, BackendDevice.exchange(0));
    EXPECT_STREQ("", BackendLastError);

    Usb.opens = 0;
    Usb.failOpens = 2;
    Usb.openError = 31;
    EXPECT_EQ(0, OpenAndSelect(false, 0, nullptr, nullptr));
    EXPECT_STREQ("USB_OpenDevice(0x4400) failed (first GetLastError=31)", BackendLastError);
}

TEST_F(SensorSelectRules, ARepeatedHandleOrAPipeNotReadyEndsTheListing)
{
    Usb.sensors = 3;
    Usb.repeatAt = 1;  // the bus hands out the first device again
    SensorSlot list[kMaxSensors];
    EXPECT_EQ(1, OpenAndSelect(false, 0, list, nullptr));
    EXPECT_TRUE(Usb.closed.empty());  // the repeat is the one we keep, closed nowhere
    EXPECT_EQ(0x100, BackendDevice.exchange(0));

    Usb = FakeUsb{};
    Usb.repeatAt = -1;
    Usb.sensors = 2;
    Usb.pipeStatus = 127;
    EXPECT_FALSE(OpenFirstSensor(false, 0));
    EXPECT_STREQ("USB_OpenPipe returned 127 (outside 0..126)", BackendLastError);
    EXPECT_EQ(std::vector<VendorHandle>({0x100}), Usb.closed);
    EXPECT_EQ(0, BackendDevice.load());
}

TEST_F(SensorSelectRules, ReopenSlotKeepsOnlyTheChosenSlot)
{
    Usb.sensors = 3;
    EXPECT_EQ(0x102, ReopenSlot(kProductId, 2));
    EXPECT_EQ(std::vector<VendorHandle>({0x100, 0x101}), Usb.closed);

    Usb.closed.clear();
    Usb.offered = 0;
    Usb.sensors = 1;  // slot 1 no longer there: nothing stays open
    EXPECT_EQ(0, ReopenSlot(kProductId, 1));
    EXPECT_EQ(std::vector<VendorHandle>({0x100}), Usb.closed);
}
