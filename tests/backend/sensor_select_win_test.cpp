// Sensor enumeration and selection under Wine against the stand-in library and serial reader:
// both paths list at most three sensors, identification failures, the reader's failures and its
// timeout, the preferred serial, the isolated re-identification, and the suspend timer with its
// kill switch.
#include "sim_fixture_win.h"

#include <tlhelp32.h>

#include <thread>

using SensorSelect = SimBackend;

namespace {

// Reader processes started from folder that are still alive.
int RunningReaders(const std::string& folder)
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return -1;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
        if (lstrcmpiA(entry.szExeFile, "SmsSerialReader.exe") != 0)
            continue;
        HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID);
        if (!process)
            continue;
        char image[MAX_PATH] = "";
        DWORD size = MAX_PATH;
        if (QueryFullProcessImageNameA(process, 0, image, &size)
            && CompareNoCase(std::string(image).substr(0, folder.size()).c_str(), folder.c_str()) == 0)
            ++count;
        CloseHandle(process);
    }
    CloseHandle(snapshot);
    return count;
}

const char kFourSensors[] = "sensors=4\nsensor0=81,10,1234\nsensor1=2A,25,00BC\nsensor2=10,05,0777\nsensor3="
                            "82,11,0999\nexposure_ms=50\n";
}  // namespace

TEST_F(SensorSelect, FourSensorsAreListedAsThreeOnTheDirectPath)
{
    MakeIo(ioDir);
    Config(ioDir, kFourSensors);
    ASSERT_TRUE(EnsureBackend());
    SensorSlot list[3];
    int32_t index = -1;
    ASSERT_EQ(3, OpenAndSelect(false, 0, list, &index));
    EXPECT_EQ(0, index);
    EXPECT_STREQ("811234", list[0].serial);
    EXPECT_EQ(VariantStandard2, list[0].variant);
    EXPECT_STREQ("2A00BC", list[1].serial);
    EXPECT_EQ(VariantSize3, list[1].variant);
    EXPECT_STREQ("100777", list[2].serial);
    EXPECT_EQ(VariantStandard1, list[2].variant);
    EXPECT_EQ(0x1001, BackendDevice.load());
    std::string calls = Calls(ioDir);
    EXPECT_EQ(3, CountOf(calls, "USB_OpenDevice"));
    EXPECT_EQ(1, CountOf(calls, "USB_CloseDevice h=0x1002"));
    EXPECT_EQ(1, CountOf(calls, "USB_CloseDevice h=0x1003"));
    EXPECT_EQ(0, CountOf(calls, "USB_CloseDevice h=0x1001"));
    EXPECT_NE(std::string::npos, Log().find("   [trace] OpenAndSelect done: count=3 active=0 handle="));
}

TEST_F(SensorSelect, FourSensorsAreListedAsThreeOnTheIsolatedPathAndCached)
{
    MakeSms(smsDir, true);
    Config(smsDir, kFourSensors);
    ASSERT_TRUE(EnsureBackend());
    SensorSlot list[3];
    ASSERT_EQ(3, OpenAndSelect(false, 0, list, nullptr));
    EXPECT_STREQ("2A00BC", list[1].serial);
    EXPECT_EQ(VariantSize3, list[1].variant);
    EXPECT_STREQ("isolated slot1 OK serial=2A00BC fw=0x25", list[1].description);
    EXPECT_EQ(3, CachedSensorList.count);
    EXPECT_EQ(0x1001, BackendDevice.load());
    EXPECT_EQ(0, CountOf(Calls(smsDir), "HPK_GetSensorInformation"));
    std::string readerCalls = ReadFileText(smsDir + "\\serialreader_calls.log");
    EXPECT_NE(std::string::npos, readerCalls.find("\"" + smsDir
                                                  + "\\SmsSerialReader.exe\" 0661 4400 "
                                                    "\"{08C2213B-121E-4318-A77F-ED6FAB38F426}\" all"));
    EXPECT_NE(std::string::npos, Log().find("   [trace] ReadAllSmsSlots -> 3 sensor(s) in one helper run"));

    // The second open reuses the list and only reopens the chosen slot.
    ReleaseSensor();
    ASSERT_EQ(3, OpenAndSelect(false, 0, list, nullptr));
    EXPECT_EQ(1, CountOf(ReadFileText(smsDir + "\\serialreader_calls.log"), "SmsSerialReader.exe"));
    EXPECT_NE(std::string::npos, Log().find("   [trace] using cached sensor list (3) -- no re-enumeration"));
}

TEST_F(SensorSelect, PreferredSerialInLowerCaseSelectsItsSlot)
{
    MakeIo(ioDir);
    Config(ioDir, kFourSensors);
    ASSERT_TRUE(EnsureBackend());
    CopyText(PreferredSerial, sizeof PreferredSerial, "2a00bc");
    int32_t index = -1;
    ASSERT_EQ(3, OpenAndSelect(false, 0, nullptr, &index));
    EXPECT_EQ(1, index);
    EXPECT_EQ(1, ActiveSlot);
    EXPECT_EQ(0x1002, BackendDevice.load());

    CopyText(PreferredSerial, sizeof PreferredSerial, "ABCDEF");  // not present: slot 0
    ASSERT_EQ(3, OpenAndSelect(false, 0, nullptr, &index));
    EXPECT_EQ(0, index);
    EXPECT_EQ(0x1001, BackendDevice.load());
}

TEST_F(SensorSelect, PreferredSerialOnTheIsolatedPathReopensThatSlot)
{
    MakeSms(smsDir, true);
    Config(smsDir, kFourSensors);
    ASSERT_TRUE(EnsureBackend());
    CopyText(PreferredSerial, sizeof PreferredSerial, "100777");
    int32_t index = -1;
    ASSERT_EQ(3, OpenAndSelect(false, 0, nullptr, &index));
    EXPECT_EQ(2, index);
    EXPECT_EQ(0x1003, BackendDevice.load());  // the third device opened, the first two closed
    std::string calls = Calls(smsDir);
    EXPECT_EQ(1, CountOf(calls, "USB_CloseDevice h=0x1001"));
    EXPECT_EQ(1, CountOf(calls, "USB_CloseDevice h=0x1002"));
    EXPECT_EQ(1, CountOf(calls, "USB_OpenPipe h=0x1003"));

    // Re-identification through the reader closes, asks for slot 2 and reopens it.
    SensorSlot slot = DetectVariantSafe();
    EXPECT_STREQ("100777", slot.serial);
    EXPECT_EQ(VariantStandard1, slot.variant);
    EXPECT_EQ(0x1003, BackendDevice.load());
    EXPECT_NE(std::string::npos, ReadFileText(smsDir + "\\serialreader_calls.log").find("\" 2"));
}

TEST_F(SensorSelect, IdentificationFailingEveryTimeCostsEightAttempts)
{
    MakeIo(ioDir);
    Config(ioDir, "sensors=1\ninfo_fail=always\n");
    ASSERT_TRUE(EnsureBackend());
    SensorSlot list[3];
    DWORD start = GetTickCount();
    ASSERT_EQ(1, OpenAndSelect(false, 0, list, nullptr));
    DWORD elapsed = GetTickCount() - start;
    EXPECT_GE(elapsed, 1900u);
    EXPECT_EQ(8, CountOf(Calls(ioDir), "HPK_GetSensorInformation"));
    EXPECT_EQ(0, list[0].valid);
    EXPECT_STREQ("PID4400", list[0].serial);
    EXPECT_EQ(VariantSms, list[0].variant);
    EXPECT_EQ(0x1001, BackendDevice.load());  // identification failure is not an open failure
}

// A fault in the library ends the open as a failure naming the call: no retries, no further
// sensor, and the handles already opened are closed (on a release thread).
TEST_F(SensorSelect, FaultDuringIdentificationFailsTheOpenAndClosesItsHandles)
{
    MakeIo(ioDir);
    Config(ioDir, "sensors=2\ninfo_fail=fault\n");
    ASSERT_TRUE(EnsureBackend());
    EXPECT_EQ(0, OpenAndSelect(false, 0, nullptr, nullptr));
    EXPECT_EQ(kFaultAccessViolation, ThreadVendorFault());
    EXPECT_STREQ("HPK_GetSensorInformation faulted (exception 0xC0000005)", BackendLastError);
    std::string calls = Calls(ioDir);
    EXPECT_EQ(1, CountOf(calls, "HPK_GetSensorInformation"));
    EXPECT_EQ(1, CountOf(calls, "USB_OpenDevice"));
    EXPECT_NE(std::string::npos, calls.find("USB_CloseDevice h=0x1001"));
    EXPECT_EQ(0, BackendDevice.load());
    EXPECT_EQ(std::string::npos, Log().find("[trace] slot1"));  // the faulting call stays the last traced
    // Opening again on this thread calls nothing and keeps the fault as the reason.
    EXPECT_EQ(0, OpenAndSelect(false, 0, nullptr, nullptr));
    EXPECT_STREQ("HPK_GetSensorInformation faulted (exception 0xC0000005)", BackendLastError);
    EXPECT_EQ(1, CountOf(Calls(ioDir), "USB_OpenDevice"));
}

TEST_F(SensorSelect, AFailedOpenReportsItsOwnReasonNotAnEarlierOne)
{
    MakeIo(ioDir);
    Config(ioDir, "sensors=0\n");
    ASSERT_TRUE(EnsureBackend());
    EXPECT_EQ(0, OpenAndSelect(false, 0, nullptr, nullptr));
    EXPECT_EQ(0, strncmp(BackendLastError, "USB_OpenDevice(0x4400) failed", 29)) << BackendLastError;
    Config(ioDir, "sensors=1\npipe=200\n");  // opens, but the pipe never gets ready
    EXPECT_EQ(0, OpenAndSelect(false, 0, nullptr, nullptr));
    EXPECT_STREQ("no Nyra sensor opened", BackendLastError);
}

TEST_F(SensorSelect, ReaderFailuresAndTimeout)
{
    MakeSms(smsDir, true);
    Config(smsDir, "sensors=2\nreader=none\n");
    ASSERT_TRUE(EnsureBackend());
    EXPECT_EQ(0, OpenAndSelect(false, 0, nullptr, nullptr));
    EXPECT_STREQ("SmsSerialReader: (no output)", BackendLastError);
    EXPECT_EQ(0, BackendDevice.load());

    Config(smsDir, "sensors=2\nreader=error\n");
    EXPECT_EQ(0, OpenAndSelect(false, 0, nullptr, nullptr));
    EXPECT_STREQ("SmsSerialReader: ERROR|USB open failed (simulated)\r\n", BackendLastError);

    Config(smsDir, "sensors=2\nreader=emptyserial\n");  // the empty record takes no slot
    SensorSlot list[3];
    EXPECT_EQ(2, OpenAndSelect(false, 0, list, nullptr));
    EXPECT_STREQ("811234", list[0].serial);

    char out[512];
    Config(smsDir, "reader=hang\n");
    SerialReaderTimeoutMs.store(1500);
    DWORD start = GetTickCount();
    bool ran = true;
    std::thread run([&] { ran = RunSerialReader(0x4400, "0", out, sizeof out); });
    Sleep(700);
    EXPECT_EQ(1, RunningReaders(smsDir));
    run.join();
    EXPECT_FALSE(ran);
    DWORD elapsed = GetTickCount() - start;
    EXPECT_GE(elapsed, 1400u);
    EXPECT_LT(elapsed, 5000u);
    EXPECT_STREQ("SmsSerialReader timed out", BackendLastError);
    Sleep(100);
    EXPECT_EQ(0, RunningReaders(smsDir));  // the hanging reader was terminated
}

TEST_F(SensorSelect, ReaderThatPrintsMuchDoesNotStall)
{
    MakeSms(smsDir, true);
    Config(smsDir, "sensors=1\nreader=flood\n");
    ASSERT_TRUE(EnsureBackend());
    char out[1024];
    DWORD start = GetTickCount();
    RunSerialReader(0x4400, "all", out, sizeof out);  // ~260 KB of progress lines first
    EXPECT_LT(GetTickCount() - start, 8000u);
    EXPECT_EQ(1023u, strlen(out));
    EXPECT_EQ(0, strncmp(out, "progress line 0000", 18));
}

TEST_F(SensorSelect, OpenFirstSensorRetriesWithTheVendorIdAndReportsFailures)
{
    MakeIo(ioDir);
    Config(ioDir, "sensors=1\nopen_fail=1\n");
    ASSERT_TRUE(EnsureBackend());
    ASSERT_TRUE(OpenFirstSensor(false, 0));
    EXPECT_NE(std::string::npos,
              Calls(ioDir).find("USB_SetVid vid=0x0661 guid={08C2213B-121E-4318-A77F-ED6FAB38F426}"));
    EXPECT_EQ(0x1001, BackendDevice.load());
    ReleaseSensor();

    Config(ioDir, "sensors=0\n");
    EXPECT_FALSE(OpenFirstSensor(false, 0));
    EXPECT_EQ(0, strncmp(BackendLastError, "USB_OpenDevice(0x4400) failed (first GetLastError=", 50))
        << BackendLastError;

    Config(ioDir, "sensors=1\npipe=200\n");
    EXPECT_FALSE(OpenFirstSensor(false, 0));
    EXPECT_STREQ("USB_OpenPipe returned 200 (outside 0..126)", BackendLastError);
    EXPECT_EQ(0, BackendDevice.load());
    EXPECT_NE(std::string::npos, Calls(ioDir).find("USB_CloseDevice h=0x1001"));
}

TEST_F(SensorSelect, NoBackendAndNoSensor)
{
    EXPECT_EQ(0, OpenAndSelect(false, 0, nullptr, nullptr));
    EXPECT_STREQ("no backend loaded", BackendLastError);
    EXPECT_FALSE(OpenFirstSensor(false, 0));
    SensorSlot slot = DetectVariant();
    EXPECT_EQ(0, slot.valid);
    EXPECT_EQ(0, slot.variant);
    EXPECT_STREQ("", slot.serial);
}

TEST_F(SensorSelect, FaultingSuspendTimerIsSwitchedOffForGood)
{
    MakeSms(smsDir);
    Config(smsDir, "sensors=1\nsuspend=fault\n");
    ASSERT_TRUE(EnsureBackend());
    ASSERT_EQ(1, OpenAndSelect(true, 5 * 60000, nullptr, nullptr));
    EXPECT_NE(0, BackendDevice.load());  // the open still succeeds
    EXPECT_EQ(1, SuspendDisabled.load());
    EXPECT_EQ("USB_SetDefaultSystemSuspendTime faulted on this machine; NyraPro no longer calls it.\r\n"
              "Delete this file to re-enable the sensor suspend timer.\r\n",
              ReadFileText(smsDir + "\\suspend_unsupported.flag"));
    std::string log = Log();
    EXPECT_NE(std::string::npos, log.find("   [trace] USB_SetDefaultSystemSuspendTime(h="));
    EXPECT_NE(std::string::npos, log.find(", 300000ms)"));
    EXPECT_NE(std::string::npos, log.find("   [trace] suspend-timer call FAULTED -> ignored and DISABLED"));
    EXPECT_NE(
        std::string::npos,
        log.find("   wrote suspend_unsupported.flag -> the suspend timer stays off on every future run"));

    ASSERT_EQ(1, OpenAndSelect(true, 60000, nullptr, nullptr));
    EXPECT_EQ(1, CountOf(Calls(smsDir), "USB_SetDefaultSystemSuspendTime"));

    // A later process finds the file and never calls it, whatever the settings say.
    UnloadBackend();
    SuspendDisabled.store(0);
    Config(smsDir, "sensors=1\n");
    ASSERT_TRUE(EnsureBackend());
    EXPECT_EQ(1, SuspendDisabled.load());
    EXPECT_NE(std::string::npos, Log().find("   suspend timer permanently disabled for this install"));
    ASSERT_EQ(1, OpenAndSelect(true, 60000, nullptr, nullptr));
    EXPECT_EQ(1, CountOf(Calls(smsDir), "USB_SetDefaultSystemSuspendTime"));
}

TEST_F(SensorSelect, SuspendTimerOnlyForSmsWithTheSwitchOnAndTheEntryBound)
{
    MakeSms(smsDir);
    Config(smsDir, "sensors=1\n");
    ASSERT_TRUE(EnsureBackend());
    ASSERT_EQ(1, OpenAndSelect(false, 60000, nullptr, nullptr));
    EXPECT_EQ(0, CountOf(Calls(smsDir), "USB_SetDefaultSystemSuspendTime"));
    ASSERT_EQ(1, OpenAndSelect(true, 60000, nullptr, nullptr));
    EXPECT_NE(std::string::npos, Calls(smsDir).find("USB_SetDefaultSystemSuspendTime h=0x1001 ms=60000"));
    UnloadBackend();

    MakeSms(pluginDir, false, "SMS_API_nosuspend.dll");
    Config(pluginDir, "sensors=1\n");
    DevicesDir[0] = '\0';
    ASSERT_TRUE(EnsureBackend());
    EXPECT_EQ(pluginDir, LoadedDir());
    ASSERT_EQ(1, OpenAndSelect(true, 60000, nullptr, nullptr));
    EXPECT_EQ(1, CountOf(Log(), "[trace] USB_SetDefaultSystemSuspendTime(h="));  // the first library's
    UnloadBackend();
    ASSERT_TRUE(DeleteFileA((smsDir + "\\CMOSMemory_0001.bin").c_str()));

    MakeIo(ioDir);
    Config(ioDir, "sensors=1\n");
    CopyText(DevicesDir, sizeof DevicesDir, devices.c_str());
    ASSERT_TRUE(EnsureBackend());
    EXPECT_EQ(BackendIo, BackendKindLoaded);
    ASSERT_EQ(1, OpenAndSelect(true, 60000, nullptr, nullptr));
    EXPECT_EQ(0, CountOf(Calls(ioDir), "USB_SetDefaultSystemSuspendTime"));
}

// A library that hands out a handle already held when no further device exists: the reopen
// gives up and closes every device once, the repeated one included.
TEST_F(SensorSelect, ReopenSlotClosesARepeatedHandleOnce)
{
    MakeIo(ioDir);
    Config(ioDir, "sensors=2\nduplicate=1\n");
    ASSERT_TRUE(EnsureBackend());
    EXPECT_EQ(0, ReopenSlot(0x4400, 2));
    std::string calls = Calls(ioDir);
    EXPECT_EQ(3, CountOf(calls, "USB_OpenDevice"));
    EXPECT_EQ(1, CountOf(calls, "USB_CloseDevice h=0x1001"));
    EXPECT_EQ(1, CountOf(calls, "USB_CloseDevice h=0x1002"));

    VendorHandle handle = ReopenSlot(0x4400, 1);  // both present: the second is kept, piped
    EXPECT_EQ(0x1002, handle);
    EXPECT_EQ(2, CountOf(Calls(ioDir), "USB_CloseDevice h=0x1001"));
    EXPECT_EQ(1, CountOf(Calls(ioDir), "USB_OpenPipe h=0x1002"));
    EXPECT_EQ(0, ReopenSlot(0x4400, 3));  // beyond the third slot
}
