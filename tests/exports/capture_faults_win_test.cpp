// Faults inside the vendor library's read, through the exports: each one ends as a failed
// capture that frees what it owned (the 8.8 MB read buffer first of all) and leaves no thread
// behind, however many come in a row.
#include <windows.h>

#include <tlhelp32.h>

#include <gtest/gtest.h>

#include <string>

#include "exports/plugin_host.h"
#include "exports/sim_devices.h"

namespace {

// Committed private memory of this process, summed over its regions as the system keeps them
// (the resident-set figure Wine reports for the process would miss a buffer never touched).
uint64_t PrivateCommitted()
{
    uint64_t total = 0;
    MEMORY_BASIC_INFORMATION info;
    const char* at = nullptr;
    while (VirtualQuery(at, &info, sizeof info) == sizeof info) {
        if (info.State == MEM_COMMIT && info.Type == MEM_PRIVATE)
            total += info.RegionSize;
        const char* next = static_cast<const char*>(info.BaseAddress) + info.RegionSize;
        if (next <= at)
            break;
        at = next;
    }
    return total;
}

int ThreadCount()
{
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return -1;
    int count = 0;
    THREADENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
        count += entry.th32OwnerProcessID == GetCurrentProcessId();
    CloseHandle(snapshot);
    return count;
}

// Threads that end just after the capture returns (release threads) get a moment to go.
int SettledThreadCount(int atMost)
{
    int count = ThreadCount();
    for (int waited = 0; count > atMost && waited < 3000; waited += 50) {
        Sleep(50);
        count = ThreadCount();
    }
    return count;
}

int CountOf(const std::string& text, const std::string& what)
{
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

TEST(CaptureFaults, FaultedReadsInARowLeaveMemoryAndThreadsWhereTheyWere)
{
    const uint64_t kOneFrame = 8871220;  // the read buffer a faulted read used to leak
    PluginHost host;
    SimDevices sim(host, "exposure_ms=20\n");
    host.setDevicesDir(sim.devices());
    host.storeSettings(30, false);
    // A delivered capture first: its filter chain ran on band threads, which are idle now.
    HGLOBAL dib = host.capture16(1, 1);
    ASSERT_NE(dib, nullptr) << host.errorText();
    GlobalFree(dib);
    const int threads = SettledThreadCount(0);

    sim.configure("read=fault\n");
    ASSERT_EQ(host.capture16(2, 1), nullptr);
    EXPECT_EQ(SettledThreadCount(threads), threads) << "a fault in the read left a thread behind";
    const uint64_t before = PrivateCommitted();
    for (uint32_t i = 0; i < 20; i++)
        ASSERT_EQ(host.capture16(3, i), nullptr) << i;
    const uint64_t after = PrivateCommitted();
    EXPECT_LT(after, before + kOneFrame) << "before " << before << " after " << after;
    EXPECT_EQ(SettledThreadCount(threads), threads);

    std::string log = host.logText();
    EXPECT_EQ(CountOf(log, "!!! CAPTURE WORKER CRASHED: SEH exception 0xC0000005 inside the sensor SDK."), 21)
        << log;
    EXPECT_EQ(host.errorText(), "Capture failed: HPK_GetXrayCorrectionImage faulted (status 0xC0000005)");

    // The library is reloaded after the faults and captures again.
    sim.configure("exposure_ms=20\n");
    dib = host.capture16(4, 1);
    ASSERT_NE(dib, nullptr) << host.errorText();
    GlobalFree(dib);
}

}  // namespace
