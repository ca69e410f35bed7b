// Identification rules shared by both enumeration paths: the variant rule, the reader's record
// protocol and error texts, slots filled from a serial, and the retry loop of the in-process
// identification against a scripted fake vendor table.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "backend/sensor_identify.h"

TEST(SensorVariant, FirmwareSelectsSize3ElseTypeSelectsTheStandardSize)
{
    struct {
        uint8_t type, firmware;
        int32_t variant;
    } const cases[] = {
        {0x81, 0x10, VariantStandard2}, {0x80, 0x1F, VariantStandard2}, {0x7F, 0x10, VariantStandard1},
        {0x00, 0x00, VariantStandard1}, {0x10, 0x20, VariantSize3},     {0x90, 0x3F, VariantSize3},
        {0x90, 0x40, VariantStandard2},
    };
    for (const auto& c : cases)
        EXPECT_EQ(c.variant, VariantFor(c.type, c.firmware)) << (int)c.type << " " << (int)c.firmware;
}

TEST(SerialProtocol, RecordsAcrossLinesWithCutsAndStops)
{
    SerialRecord r[8];
    const char* text =
        "noise\r\nRESULT|811234|10\r\nRESULT||1F\r\nRESULT|0123456789ABCDEFGH|2z\r\nRESULT|tail";
    ASSERT_EQ(3, ParseSerialRecords(text, r, 8));
    EXPECT_STREQ("811234", r[0].serial);
    EXPECT_EQ(0x10, r[0].firmware);
    EXPECT_STREQ("", r[1].serial);
    EXPECT_EQ(0x1F, r[1].firmware);
    EXPECT_STREQ("0123456789ABCDE", r[2].serial);  // 15 characters kept
    EXPECT_EQ(0x2, r[2].firmware);                 // stops at the first non-hex character
    EXPECT_EQ(1, ParseSerialRecords(text, r, 1));
    EXPECT_EQ(0, ParseSerialRecords("", r, 8));
    EXPECT_EQ(0, ParseSerialRecords(nullptr, r, 8));
}

TEST(SerialProtocol, FailedRunsNameTheReason)
{
    char error[256];
    EXPECT_TRUE(JudgeReaderOutput("x RESULT|811234|10", error, sizeof error));
    EXPECT_FALSE(JudgeReaderOutput("", error, sizeof error));
    EXPECT_STREQ("SmsSerialReader: (no output)", error);
    EXPECT_FALSE(JudgeReaderOutput("opening...\r\nERROR|USB busy\r\n", error, sizeof error));
    EXPECT_STREQ("SmsSerialReader: ERROR|USB busy\r\n", error);
    EXPECT_FALSE(JudgeReaderOutput("garbage", error, sizeof error));
    EXPECT_STREQ("SmsSerialReader: garbage", error);
    EXPECT_EQ(20000u, kSerialReaderDefaultTimeoutMs);
    EXPECT_EQ(20000u, SerialReaderTimeoutMs.load());
}

TEST(SerialProtocol, SlotFromSerial)
{
    SensorSlot slot;
    memset(&slot, 0x55, sizeof slot);
    FillSlotFromSerial(&slot, "811234", 0x10, 1);
    EXPECT_EQ(1, slot.valid);
    EXPECT_EQ(0x81, slot.type);
    EXPECT_EQ(0x1234, slot.lot);
    EXPECT_EQ(VariantStandard2, slot.variant);
    EXPECT_EQ(0, slot.status);
    EXPECT_STREQ("isolated slot1 OK serial=811234 fw=0x10", slot.description);

    FillSlotFromSerial(&slot, "2A00BC", 0x25, 0);
    EXPECT_EQ(VariantSize3, slot.variant);
    EXPECT_EQ(0x2A, slot.type);
    EXPECT_EQ(0xBC, slot.lot);

    FillSlotFromSerial(&slot, "ABC", 0x10, 2);  // too short: type and lot stay 0
    EXPECT_EQ(0, slot.type);
    EXPECT_EQ(0, slot.lot);
    EXPECT_EQ(VariantStandard1, slot.variant);
    FillSlotFromSerial(&slot, "ABC", 0x30, 2);
    EXPECT_EQ(VariantSize3, slot.variant);

    FillSlotFromSerial(&slot, "FF123456", 0x01, 0);  // lot keeps the low 16 bits
    EXPECT_EQ(0xFF, slot.type);
    EXPECT_EQ(0x3456, slot.lot);
}

namespace {

struct FakeSensor {
    int failuresLeft;  // -1: always fails
    uint8_t type, firmware;
    uint16_t lot;
    int calls;
    bool requestOk;
};
FakeSensor Fake;
std::vector<uint32_t> Sleeps;

int32_t NYRA_STDCALL FakeInfo(VendorHandle, const void* request, void* reply)
{
    ++Fake.calls;
    uint32_t code;
    double one;
    memcpy(&code, request, 4);
    memcpy(&one, static_cast<const uint8_t*>(request) + 8, 8);
    const uint8_t* r = static_cast<const uint8_t*>(reply);
    bool zeroed = true;
    for (size_t i = 0; i < kSensorInfoReplySize; ++i)
        zeroed = zeroed && r[i] == 0;
    Fake.requestOk = Fake.requestOk && code == kSensorInfoRequestCode && one == 1.0 && zeroed;
    if (Fake.failuresLeft < 0 || Fake.failuresLeft-- > 0)
        return 0x80000003;
    uint8_t* out = static_cast<uint8_t*>(reply);
    out[16] = (uint8_t)Fake.lot;
    out[17] = (uint8_t)(Fake.lot >> 8);
    out[18] = Fake.type;
    out[19] = Fake.firmware;
    return 0;
}

void RecordSleep(uint32_t ms)
{
    Sleeps.push_back(ms);
}

SensorSlot Identify(int failures, uint8_t type, uint8_t firmware, uint16_t lot, VendorHandle device = 0x1001)
{
    Fake = {failures, type, firmware, lot, 0, true};
    Sleeps.clear();
    VendorApi api;
    memset(&api, 0, sizeof api);
    api.HPK_GetSensorInformation = FakeInfo;
    return DetectVariantOn(api, device, 0x4400, RecordSleep);
}

}  // namespace

TEST(DetectVariant, IdentifiesOnTheFirstPlausibleReading)
{
    SensorSlot slot = Identify(2, 0x81, 0x10, 0x1234);
    EXPECT_EQ(3, Fake.calls);
    EXPECT_EQ(std::vector<uint32_t>({250, 250}), Sleeps);
    EXPECT_TRUE(Fake.requestOk);
    EXPECT_EQ(1, slot.valid);
    EXPECT_STREQ("811234", slot.serial);
    EXPECT_EQ(VariantStandard2, slot.variant);
    EXPECT_STREQ("hpk_st=0x0 type=0x81 fw=0x10 lot=0x1234 att=3 valid=1", slot.description);
}

TEST(DetectVariant, EndlessFailureCostsEightCallsAndEightWaits)
{
    SensorSlot slot = Identify(-1, 0, 0, 0);
    EXPECT_EQ(8, Fake.calls);
    EXPECT_EQ(std::vector<uint32_t>(8, 250), Sleeps);
    EXPECT_EQ(0, slot.valid);
    EXPECT_STREQ("PID4400", slot.serial);
    EXPECT_EQ(VariantSms, slot.variant);
    EXPECT_EQ((int32_t)0x80000003, slot.status);
    EXPECT_STREQ("hpk_st=0x80000003 type=0x00 fw=0x00 lot=0x0000 att=8 valid=0", slot.description);
}

TEST(DetectVariant, ImplausibleReadingsAreRetriedAndNoDeviceGivesAnEmptySlot)
{
    // Status 0 but neither a lot nor a firmware of 1..0x5F: not an identification.
    SensorSlot slot = Identify(0, 0x81, 0x60, 0);
    EXPECT_EQ(8, Fake.calls);
    EXPECT_EQ(0, slot.valid);
    EXPECT_EQ(VariantSms, slot.variant);
    slot = Identify(0, 0x10, 0x05, 0);  // firmware alone is enough
    EXPECT_EQ(1, Fake.calls);
    EXPECT_EQ(VariantStandard1, slot.variant);

    slot = Identify(0, 0x81, 0x10, 0x1234, 0);
    EXPECT_EQ(0, Fake.calls);
    SensorSlot zero;
    memset(&zero, 0, sizeof zero);
    EXPECT_EQ(0, memcmp(&zero, &slot, sizeof slot));
}
