// Frame reads and the bounded release calls under Wine against the stand-in library: the
// capacity each kind receives, a phantom frame, an abort from another thread ending a pending
// read, a read that ignores abort and close, faults inside guarded vendor calls, and the
// release at unload.
#include "backend/backend_unload.h"
#include "sim_fixture_win.h"

using CaptureRelease = SimBackend;

namespace {

struct ReadJob {
    CaptureResult result;
    int32_t width, height;
    uint8_t correction;
};

void RunCapture(void* arg)
{
    ReadJob* job = static_cast<ReadJob*>(arg);
    Capture16(&job->result, job->width, job->height, 100, 200, 500, 2, job->correction);
}

DWORD WINAPI CaptureThread(void* arg)
{
    RunCapture(arg);
    return 0;
}

// A read that faults, then a second read on the same thread.
struct FaultedReads {
    ReadJob job;
    CaptureResult again;
    uint32_t threadFault;
};

DWORD WINAPI FaultedReadsThread(void* arg)
{
    FaultedReads* reads = static_cast<FaultedReads*>(arg);
    RunCapture(&reads->job);
    Capture16(&reads->again, reads->job.width, reads->job.height, 100, 200, 500, 2, 1);
    reads->threadFault = ThreadVendorFault();
    return 0;
}

DWORD WINAPI UnloadThread(void*)
{
    ReleaseBackendAtUnload();
    return 0;
}

int32_t NYRA_STDCALL FaultingEntry(VendorHandle)
{
    volatile int* nowhere = nullptr;
    return *nowhere;
}

int32_t NYRA_STDCALL FaultingTimer(VendorHandle, uint32_t)
{
    volatile int* nowhere = nullptr;
    return *nowhere;
}

}  // namespace

TEST_F(CaptureRelease, IoKindPassesA32BitCapacityAndGetsAPhantomFrame)
{
    MakeIo(ioDir);
    Config(ioDir, "sensors=1\nexposure_ms=20\n");
    ASSERT_TRUE(EnsureBackend());
    ASSERT_EQ(1, OpenAndSelect(false, 0, nullptr, nullptr));
    CaptureResult r;
    Capture16(&r, 1300, 1706, 100, 200, 500, 2, 1);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_NE(std::string::npos, Calls(ioDir).find("HPK_GetXrayCorrectionImage h=0x1001 capbits=32 "
                                                   "capacity=8871220 mode=2 start=100 stop=200 integ=500"));
    EXPECT_EQ(1300 * 1706, r.count);
    EXPECT_LT(r.minimum, 1500u);   // enamel
    EXPECT_GT(r.maximum, 60000u);  // unexposed margin
    // The block the exposure classification reads lies on a molar root in bone.
    uint64_t sum = 0;
    for (int y = 700; y < 800; ++y)
        for (int x = 600; x < 700; ++x)
            sum += r.pixels[y * 1300 + x];
    EXPECT_NEAR(2000.0, sum / 10000.0, 500.0);
    FreeCaptureResult(&r);
}

TEST_F(CaptureRelease, SmsKindPassesA64BitCapacityAndFailingStatusesAreReported)
{
    MakeSms(smsDir);
    Config(smsDir, "sensors=2\nsensor0=20,25,0042\nexposure_ms=20\n");
    ASSERT_TRUE(EnsureBackend());
    ASSERT_EQ(2, OpenAndSelect(false, 0, nullptr, nullptr));
    CaptureResult r;
    Capture16(&r, 2580, 1706, 100, 200, 500, 2, 0);
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_NE(std::string::npos, Calls(smsDir).find("HPK_GetXrayImage h=0x1001 capbits=64 capacity=8871220"));
    FreeCaptureResult(&r);

    Config(smsDir, "sensors=2\nread=status\nread_status=8000ABCD\nexposure_ms=0\n");
    Capture16(&r, 2580, 1706, 100, 200, 500, 2, 0);
    EXPECT_FALSE(r.ok);
    EXPECT_STREQ("HPK_GetXrayImage failed, native status 0x8000ABCD", r.error);
    EXPECT_EQ(nullptr, r.pixels);

    ReleaseSensor();
    Capture16(&r, 2580, 1706, 100, 200, 500, 2, 0);
    EXPECT_STREQ("sensor not open", r.error);
}

TEST_F(CaptureRelease, AbortFromAnotherThreadEndsAPendingRead)
{
    MakeIo(ioDir);
    Config(ioDir, "sensors=1\nread=hang\n");
    ASSERT_TRUE(EnsureBackend());
    ASSERT_EQ(1, OpenAndSelect(false, 0, nullptr, nullptr));
    ReadJob job = {};
    job.width = 1300;
    job.height = 1706;
    HANDLE thread = CreateThread(nullptr, 0, CaptureThread, &job, 0, nullptr);
    ASSERT_TRUE(WaitForCall(ioDir, "HPK_GetXrayImage h=0x1001 capbits"));
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(thread, 200));
    AbortPipeAsync();
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 2000));
    CloseHandle(thread);
    EXPECT_FALSE(job.result.ok);
    EXPECT_STREQ("HPK_GetXrayImage failed, native status 0x80000001", job.result.error);
    EXPECT_EQ(0x1001, BackendDevice.load());  // the reader still owns the device
}

TEST_F(CaptureRelease, ReadIgnoringAbortAndCloseLeavesTheCallerWithinItsBounds)
{
    MakeIo(ioDir);
    Config(ioDir, "sensors=1\nread=stuck\nabort=hang\nclose=hang\n");
    ASSERT_TRUE(EnsureBackend());
    ASSERT_EQ(1, OpenAndSelect(false, 0, nullptr, nullptr));
    ReadJob job = {};
    job.width = 1300;
    job.height = 1706;
    HANDLE thread = CreateThread(nullptr, 0, CaptureThread, &job, 0, nullptr);
    ASSERT_TRUE(WaitForCall(ioDir, "HPK_GetXrayImage h=0x1001 capbits"));

    DWORD start = GetTickCount();
    AbortPipeAsync();
    DWORD abortWait = GetTickCount() - start;
    EXPECT_GE(abortWait, 1400u);
    EXPECT_LT(abortWait, 2500u);
    start = GetTickCount();
    ReleaseSensor();
    DWORD releaseWait = GetTickCount() - start;
    EXPECT_GE(releaseWait, 1900u);
    EXPECT_LT(releaseWait, 3000u);
    EXPECT_EQ(0, BackendDevice.load());  // taken before the release thread ran
    EXPECT_EQ(WAIT_TIMEOUT, WaitForSingleObject(thread, 0));

    Release(ioDir);  // the library lets go at last
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 3000));
    CloseHandle(thread);
    EXPECT_FALSE(job.result.ok);
    EXPECT_TRUE(WaitForCall(ioDir, "USB_CloseDevice h=0x1001"));
}

TEST_F(CaptureRelease, AccessViolationInsideTheReadFailsThatThreadsReadsOnly)
{
    MakeSms(smsDir);
    Config(smsDir, "sensors=1\nread=fault\n");
    ASSERT_TRUE(EnsureBackend());
    ASSERT_EQ(1, OpenAndSelect(false, 0, nullptr, nullptr));
    FaultedReads reads = {};
    reads.job.width = 1300;
    reads.job.height = 1706;
    reads.job.correction = 1;
    HANDLE thread = CreateThread(nullptr, 0, FaultedReadsThread, &reads, 0, nullptr);
    ASSERT_EQ(WAIT_OBJECT_0, WaitForSingleObject(thread, 5000));
    CloseHandle(thread);
    EXPECT_FALSE(reads.job.result.ok);
    EXPECT_EQ(nullptr, reads.job.result.pixels);
    EXPECT_STREQ("HPK_GetXrayCorrectionImage faulted", reads.job.result.error);
    EXPECT_EQ(kFaultAccessViolation, (uint32_t)reads.job.result.status);
    EXPECT_STREQ("HPK_GetXrayCorrectionImage faulted (exception 0xC0000005)", BackendLastError);
    EXPECT_EQ(kFaultAccessViolation, reads.threadFault);
    // The faulting thread does not call the library again; the read is refused before it.
    EXPECT_FALSE(reads.again.ok);
    EXPECT_EQ(1, CountOf(Calls(smsDir), "HPK_GetXrayCorrectionImage h=0x1001 capbits"));

    // Other threads (this one) go on using the library.
    EXPECT_EQ(0u, ThreadVendorFault());
    Config(smsDir, "sensors=1\nexposure_ms=10\n");
    CaptureResult r;
    Capture16(&r, 1300, 1706, 100, 200, 500, 2, 1);
    EXPECT_TRUE(r.ok) << r.error;
    FreeCaptureResult(&r);
}

TEST_F(CaptureRelease, FaultsInReleaseAndTimerCallsNeverReachTheCaller)
{
    EXPECT_TRUE(SafeCloseDevice(0x1234, FaultingEntry, FaultingEntry, 2000));
    EXPECT_TRUE(SafeCloseDevice(0, FaultingEntry, nullptr, 2000));  // nothing to do
    EXPECT_TRUE(SafeCloseDevice(0x1234, nullptr, nullptr, 2000));
    EXPECT_EQ(0, SuspendDisabled.load());
    EXPECT_EQ(-1, GuardedVendorCall(FaultingTimer, 0x1234, 60000));
    EXPECT_EQ(1, SuspendDisabled.load());
}

TEST_F(CaptureRelease, ReleaseAtUnloadCallsAbortAndCloseDirectlyAndFreesTheLibrary)
{
    MakeIo(ioDir);
    Config(ioDir, "sensors=1\n");
    ASSERT_TRUE(EnsureBackend());
    ASSERT_EQ(1, OpenAndSelect(false, 0, nullptr, nullptr));
    const std::wstring library = Wide(ioDir + "\\IO_API.dll");
    ReleaseBackendAtUnload();
    EXPECT_EQ(0, BackendDevice.load());
    EXPECT_EQ(nullptr, BackendModule);
    EXPECT_EQ(nullptr, GetModuleHandleW(library.c_str()));
    std::string calls = Calls(ioDir);
    size_t abort = calls.find("HPK_AbortBulkPipe h=0x1001");
    size_t close = calls.find("USB_CloseDevice h=0x1001");
    ASSERT_NE(std::string::npos, abort);
    ASSERT_NE(std::string::npos, close);
    EXPECT_LT(abort, close);
    BackendAttempted = 0;
    BackendResult = 0;
}

// A release thread still inside the library when its caller gave up keeps the library mapped:
// unloading the backend meanwhile must not pull the code out from under it.
TEST_F(CaptureRelease, UnloadWhileAReleaseThreadIsStuckKeepsTheLibraryUntilItReturns)
{
    MakeIo(ioDir);
    Config(ioDir, "sensors=1\nabort=hang\n");
    ASSERT_TRUE(EnsureBackend());
    ASSERT_EQ(1, OpenAndSelect(false, 0, nullptr, nullptr));
    const std::wstring library = Wide(ioDir + "\\IO_API.dll");
    ReleaseSensor();  // gives up after 2000 ms; the thread stays inside HPK_AbortBulkPipe
    UnloadBackend();
    EXPECT_EQ(nullptr, BackendModule);
    EXPECT_NE(nullptr, GetModuleHandleW(library.c_str()));
    Release(ioDir);
    bool unmapped = false;
    for (int i = 0; i < 150 && !unmapped; ++i) {
        Sleep(20);
        unmapped = GetModuleHandleW(library.c_str()) == nullptr;
    }
    EXPECT_TRUE(unmapped);
    EXPECT_TRUE(WaitForCall(ioDir, "USB_CloseDevice h=0x1001"));
}

// A library that a worker is stuck in (or that faulted and awaits its reload) is not called at
// unload: its close may hang as its read did, and the host's exit would hang with it.
TEST_F(CaptureRelease, UnloadDoesNotCallALibraryAWorkerIsStuckIn)
{
    MakeIo(ioDir);
    Config(ioDir, "sensors=1\nabort=hang\nclose=hang\n");
    ASSERT_TRUE(EnsureBackend());
    ASSERT_EQ(1, OpenAndSelect(false, 0, nullptr, nullptr));
    for (int reloadPending = 0; reloadPending < 2; ++reloadPending) {
        StuckWorkerCount.store(1 - reloadPending);
        SdkReloadPending.store(reloadPending);
        HANDLE thread = CreateThread(nullptr, 0, UnloadThread, nullptr, 0, nullptr);
        bool returned = WaitForSingleObject(thread, 1000) == WAIT_OBJECT_0;
        StuckWorkerCount.store(0);
        SdkReloadPending.store(0);
        if (!returned)
            Release(ioDir);
        WaitForSingleObject(thread, 5000);
        CloseHandle(thread);
        EXPECT_TRUE(returned) << reloadPending;
        EXPECT_EQ(std::string::npos, Calls(ioDir).find("USB_CloseDevice")) << reloadPending;
        EXPECT_NE(0, BackendDevice.load());
        EXPECT_NE(nullptr, BackendModule);
    }
    Release(ioDir);
}
