// Captures through the exports against the stand-in vendor library: a delivered frame, the
// timeout, cancels dispatched from inside the capture's message loop, re-entrancy, a read that
// ignores abort and close, a fault inside the read, and a library with no sensor connected.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <regex>
#include <thread>
#include <vector>

#include "base/text.h"
#include "capture/correction_file.h"
#include "exports/plugin_host.h"
#include "exports/sim_devices.h"
#include "exports/ui_script_win.h"

namespace {

typedef uint32_t(__stdcall* NoArgFn)();

// Runs action once from the capture's message loop, delayMs after it is scheduled.
struct Dispatched {
    static std::map<UINT_PTR, std::function<void()>> Actions;
    static void CALLBACK Fire(HWND, UINT, UINT_PTR id, DWORD)
    {
        KillTimer(nullptr, id);
        auto action = Actions.find(id);
        if (action != Actions.end() && action->second)
            action->second();
    }
    UINT_PTR id;
    Dispatched(UINT delayMs, std::function<void()> action)
    {
        id = SetTimer(nullptr, 0, delayMs, Fire);
        Actions[id] = std::move(action);
    }
    ~Dispatched()
    {
        KillTimer(nullptr, id);
        Actions.erase(id);
    }
};
std::map<UINT_PTR, std::function<void()>> Dispatched::Actions;

struct DibSize {
    int32_t width = 0, height = 0;
};

DibSize SizeOf(HGLOBAL dib)
{
    DibSize s;
    const uint8_t* b = static_cast<const uint8_t*>(GlobalLock(dib));
    memcpy(&s.width, b + 4, 4);
    memcpy(&s.height, b + 8, 4);
    GlobalUnlock(dib);
    return s;
}

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

TEST(CaptureWithSimulator, DeliversTheSensorFrame)
{
    PluginHost host;
    SimDevices sim(host, "sensors=1\nexposure_ms=50\n");
    host.setDevicesDir(sim.devices());
    host.setStatusCallback();
    host.storeSettings(30, true);
    HGLOBAL dib = host.capture16(3, 4);
    ASSERT_NE(dib, nullptr) << host.errorText() << host.logText();
    DibSize size = SizeOf(dib);
    EXPECT_EQ(size.width, 1300);
    EXPECT_EQ(size.height, 1706);
    GlobalFree(dib);
    ASSERT_EQ(PluginHost::Callbacks.size(), 3u);
    EXPECT_EQ(PluginHost::Callbacks[0], "5:Nyra Pro");
    EXPECT_EQ(PluginHost::Callbacks[1], "6:Nyra Sensor '811234' Size 2");
    EXPECT_EQ(PluginHost::Callbacks[2], "0:(null)");
    char info[256];
    uint32_t length = host.fn<uint32_t(__stdcall*)(char*, int32_t)>("SEDGetImageInfo")(info, sizeof info);
    EXPECT_STREQ(info, "Nyra Sensor '811234' Size 2  1300x1706  16-bit");
    EXPECT_EQ(length, strlen(info));
    std::string log = host.logText();
    EXPECT_TRUE(Contains(log, "   REAL CAPTURE OK: 2217800 px (1300x1706) -> DIB HGLOBAL=")) << log;
    EXPECT_TRUE(Contains(log, "   -> returning REAL image handle ")) << log;
    EXPECT_TRUE(Contains(log, "   applied 7 post-capture filter(s) -> 1300x1706")) << log;
    // Texts reach the log as the host's 8-bit code page: the dash is the single byte 0x97.
    EXPECT_TRUE(Contains(log, "<< returned too fast \x97 likely NOT X-ray-triggered")) << log;
    EXPECT_FALSE(Contains(log, "\xE2\x80\x94"));

    // The default settings close the sensor after each capture; the next one opens it again.
    HGLOBAL again = host.capture16(3, 5);
    ASSERT_NE(again, nullptr);
    GlobalFree(again);
}

// Runs the offline pipeline tool on the frame the stand-in last delivered, with the settings
// the capture used and the correction file, if any; returns the DIB it writes.
std::vector<uint8_t> ToolDib(const PluginHost& host, const SimDevices& sim, const NyraSettings& settings,
                             int width, int height, int variant, const std::string& cal)
{
    HostConfigBlob blob = PluginHost::MakeBlob(settings);
    std::string blobPath = host.dir().file("blob.bin"), dibPath = host.dir().file("tool.dib");
    const uint8_t* b = reinterpret_cast<const uint8_t*>(&blob);
    WriteFileBytes(blobPath, std::vector<uint8_t>(b, b + sizeof blob));
    std::string command = "\"" + OutputFolder() + "nyra-pipeline.exe\" --frame \"" + sim.smsDir()
                          + "\\sim_frame.raw\" --width " + std::to_string(width) + " --height "
                          + std::to_string(height) + " --variant " + std::to_string(variant) + " --blob \""
                          + blobPath + "\" --dib \"" + dibPath + "\""
                          + (cal.empty() ? "" : " --cal \"" + cal + "\"");
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                        &startup, &process))
        return {};
    WaitForSingleObject(process.hProcess, 60000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return ReadFileBytes(dibPath);
}

// Each size variant the stand-in can report, fully corrected images requested: the frame size
// and parameter block the capture asks the library for, the correction file applied where one
// exists and the fallback elsewhere, the description, and a DIB equal byte for byte to the
// offline tool's for the same frame and settings (mark and indicator included).
TEST(CaptureWithSimulator, EachVariantIsReadAndFinishedAsTheOfflineToolFinishesIt)
{
    struct Case {
        const char* ini;
        int variant, block, width, height;
        bool calibrated;
        const char* info;
    } cases[] = {
        {"", 1, 0, 1300, 1706, true, "Nyra Sensor '811234' Size 2  1300x1706  16-bit"},
        {"sensor0=20,25,0042\n", 3, 2, 2580, 1706, false, "Nyra Sensor '200042' Size 3  2580x1706  16-bit"},
        {"sensor0=10,05,0777\n", 4, 0, 1000, 1506, false, "Nyra Sensor '100777' Size 1  1000x1506  16-bit"},
        {"info_fail=always\n", 2, 1, 1300, 1706, false, "Nyra Sensor 'PID4400' Size 2  1300x1706  16-bit"},
    };
    for (const Case& c : cases) {
        PluginHost host;
        SimDevices sim(host, std::string("exposure_ms=20\ndump=1\n") + c.ini);
        host.setDevicesDir(sim.devices());
        std::string calDir = host.dir().file("cal");
        CreateDirectoryA(calDir.c_str(), nullptr);
        NyraSettings settings = PluginHost::DefaultSettings();
        settings.imageReturnType = 0;
        for (int i = 0; i < 3; i++) {
            settings.models[i].integrationMode = i;
            settings.models[i].startThreshold = 100 + i;
            settings.models[i].stopThreshold = 200 + i;
            settings.models[i].integrationTimeMs = 300 + i;
            CopyText(settings.models[i].correctionDir, kPathChars, calDir.c_str());
        }
        std::string calPath = calDir + "\\SN811234.CAL";
        if (c.calibrated) {
            std::vector<uint16_t> gains((size_t)c.width * c.height);
            for (size_t i = 0; i < gains.size(); i++)
                gains[i] = (uint16_t)(700 + (i * 37 % 11) * 60);
            ASSERT_TRUE(
                WriteCorrectionFile(calPath.c_str(), "811234", 1, c.width, c.height, 3, gains.data()));
        }
        host.storeSettings(settings);
        std::vector<uint8_t> dib = PluginHost::TakeDib(host.capture16(1, 1));
        ASSERT_GT(dib.size(), 40u) << c.ini << host.errorText();
        int32_t width = 0, height = 0;
        memcpy(&width, &dib[4], 4);
        memcpy(&height, &dib[8], 4);
        EXPECT_EQ(width, c.width) << c.ini;
        EXPECT_EQ(height, c.height) << c.ini;
        char read[160];
        snprintf(read, sizeof read,
                 "HPK_GetXrayCorrectionImage h=0x1001 capbits=64 capacity=8871220 mode=%d start=%d stop=%d "
                 "integ=%d\r\n",
                 c.block + 1, 100 + c.block, 200 + c.block, 300 + c.block);
        EXPECT_TRUE(Contains(sim.calls(), read)) << c.ini << sim.calls();
        EXPECT_EQ(host.imageInfo(), c.info);
        std::string log = host.logText();
        if (c.calibrated)
            EXPECT_TRUE(Contains(log, "   applied flat-field correction: " + calPath)) << log;
        else
            EXPECT_TRUE(
                Contains(log, "   fully-corrected requested but no matching .CAL (" + calDir + "\\SN"))
                << log;

        std::vector<uint8_t> tool =
            ToolDib(host, sim, settings, c.width, c.height, c.variant, c.calibrated ? calPath : "");
        ASSERT_FALSE(tool.empty()) << c.ini;
        ASSERT_LE(tool.size(), dib.size());
        auto differ = std::mismatch(tool.begin(), tool.end(), dib.begin());
        EXPECT_TRUE(differ.first == tool.end())
            << c.ini << " first differing byte " << (differ.first - tool.begin()) << " of " << tool.size();
    }
}

TEST(CaptureWithSimulator, TimeoutEndsWithoutImage)
{
    PluginHost host;
    SimDevices sim(host, "read=hang\n");
    host.setDevicesDir(sim.devices());
    host.setStatusCallback();
    host.storeSettings(5, false);
    DWORD start = GetTickCount();
    HGLOBAL dib = host.capture16(1, 1);
    DWORD elapsed = GetTickCount() - start;
    EXPECT_EQ(dib, nullptr);
    EXPECT_GE(elapsed, 5000u);
    EXPECT_LT(elapsed, 8000u);
    EXPECT_EQ(host.fn<NoArgFn>("SEDTimedOut")(), 1u);
    ASSERT_EQ(PluginHost::Callbacks.size(), 3u);
    EXPECT_EQ(PluginHost::Callbacks[1].substr(0, 2), "6:");
    EXPECT_EQ(PluginHost::Callbacks[2], "2:(null)");
    EXPECT_EQ(host.errorText(),
              "The sensor timed out waiting for an X-ray exposure.  Please arm the sensor and expose again.");
}

TEST(CaptureWithSimulator, UserTerminatedDuringTheCapture)
{
    PluginHost host;
    SimDevices sim(host, "read=hang\n");
    host.setDevicesDir(sim.devices());
    host.storeSettings(60, false);
    auto terminate = host.fn<NoArgFn>("SEDUserTerminated");
    Dispatched cancel(300, [&] { terminate(); });
    DWORD start = GetTickCount();
    EXPECT_EQ(host.capture16(1, 1), nullptr);
    EXPECT_LT(GetTickCount() - start, 3000u);
    EXPECT_EQ(host.errorText(), "The user cancelled the operation.");
    EXPECT_EQ(host.fn<NoArgFn>("SEDTimedOut")(), 0u);
}

TEST(CaptureWithSimulator, CancelButtonOfTheStatusWindow)
{
    PluginHost host;
    SimDevices sim(host, "read=hang\n");
    host.setDevicesDir(sim.devices());
    host.storeSettings(60, false);
    bool found = false;
    Dispatched click(400, [&] {
        HWND status = FindOwnWindow("Capture Digital X-ray");
        found = status != nullptr;
        if (status)
            SendMessageA(status, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                         (LPARAM)GetDlgItem(status, IDCANCEL));
    });
    EXPECT_EQ(host.capture16(1, 1), nullptr);
    EXPECT_TRUE(found) << "the status window exists while the capture waits";
    EXPECT_EQ(host.errorText(), "The user cancelled the operation.");
}

TEST(CaptureWithSimulator, ReentrantCaptureIsRejectedWhileTheFirstGoesOn)
{
    PluginHost host;
    SimDevices sim(host, "exposure_ms=800\n");
    host.setDevicesDir(sim.devices());
    host.storeSettings(30, false);
    HGLOBAL second = reinterpret_cast<HGLOBAL>(1);
    DWORD secondTook = 0;
    Dispatched reenter(200, [&] {
        DWORD t = GetTickCount();
        second = host.capture16(5, 5);
        secondTook = GetTickCount() - t;
    });
    HGLOBAL first = host.capture16(1, 1);
    EXPECT_EQ(second, nullptr);
    EXPECT_LT(secondTook, 100u);
    ASSERT_NE(first, nullptr);
    GlobalFree(first);
}

TEST(CaptureWithSimulator, NoSensorConnectedIsAFailureNotATestPattern)
{
    PluginHost host;
    SimDevices sim(host, "sensors=0\n");
    host.setDevicesDir(sim.devices());
    host.setStatusCallback();
    EXPECT_EQ(host.capture16(1, 1), nullptr);
    EXPECT_EQ(PluginHost::Callbacks.back(), "2:(null)");
    EXPECT_TRUE(Contains(host.errorText(), "No sensor could be opened")) << host.errorText();
}

TEST(CaptureWithSimulator, FaultInsideTheReadIsContainedAndTheLibraryReloaded)
{
    PluginHost host;
    SimDevices sim(host, "read=fault\n");
    host.setDevicesDir(sim.devices());
    host.storeSettings(30, false);
    EXPECT_EQ(host.capture16(1, 1), nullptr);
    EXPECT_TRUE(Contains(host.logText(),
                         "!!! CAPTURE WORKER CRASHED: SEH exception 0xC0000005 inside the sensor SDK."))
        << host.logText();

    sim.configure("exposure_ms=20\n");
    host.storeSettings(30, true);
    HGLOBAL dib = host.capture16(1, 2);
    ASSERT_NE(dib, nullptr) << host.errorText();
    GlobalFree(dib);
    EXPECT_TRUE(Contains(host.logText(),
                         "   previous capture was abandoned -> reloading the vendor SDK to clear its state"));
}

TEST(CaptureWithSimulator, ReadIgnoringAbortAndCloseIsAbandonedThenReloaded)
{
    PluginHost host;
    SimDevices sim(host, "read=stuck\n");
    host.setDevicesDir(sim.devices());
    host.storeSettings(5, false);  // logging off: the abandonment is written all the same
    std::vector<std::string> lines;
    Dispatched look(10500, [&] {  // after the forced close, before the abandonment
        HWND status = FindOwnWindow("Capture Digital X-ray");
        int count = status ? (int)SendDlgItemMessageA(status, 1492, LB_GETCOUNT, 0, 0) : 0;
        for (int i = 0; i < count; i++) {
            char line[128] = "";
            SendDlgItemMessageA(status, 1492, LB_GETTEXT, i, (LPARAM)line);
            lines.push_back(line);
        }
    });
    DWORD start = GetTickCount();
    EXPECT_EQ(host.capture16(1, 1), nullptr);
    DWORD elapsed = GetTickCount() - start;
    EXPECT_EQ(lines, (std::vector<std::string>{"Initializing hardware ...", "System ready",
                                               "Timed out waiting for X-ray.", "Releasing sensor ..."}));
    EXPECT_GE(elapsed, 11000u);
    EXPECT_LT(elapsed, 15000u);
    EXPECT_EQ(host.errorText(), "The sensor stopped responding and was released.  Re-arm to try again (if it "
                                "still fails, unplug the sensor and reconnect it).");
    std::string log = host.logText();
    EXPECT_TRUE(
        Contains(log, "   worker STILL blocked 6s after abort -> abandoning it so the host is not frozen"));

    // While that worker is still inside the library the reload waits.
    sim.configure("exposure_ms=20\n");
    host.storeSettings(30, true);
    HGLOBAL dib = host.capture16(2, 2);
    EXPECT_TRUE(Contains(host.logText(),
                         "   SDK reload deferred: 1 capture thread(s) still stuck inside the vendor DLL"));
    if (dib)
        GlobalFree(dib);

    // Once it returns, its job is released and the next capture reloads the library.
    sim.release();
    for (int i = 0; i < 100 && !Contains(host.logText(), "abandoned capture worker finally exited"); i++)
        Sleep(50);
    EXPECT_TRUE(Contains(host.logText(), "   abandoned capture worker finally exited -> releasing its job"));
    dib = host.capture16(3, 3);
    EXPECT_TRUE(Contains(host.logText(),
                         "   previous capture was abandoned -> reloading the vendor SDK to clear its state"));
    ASSERT_NE(dib, nullptr) << host.errorText();
    GlobalFree(dib);
}

// A worker abandoned in a read that then delivers a frame (another sensor's, larger) in the
// middle of a later capture changes nothing the host sees: not the texts while that capture
// runs, nor its image, error text and image text, which equal those of the same capture alone.
TEST(CaptureWithSimulator, AbandonedWorkerWakingDuringALaterCaptureChangesNothing)
{
    PluginHost host;
    SimDevices sim(host, "read=stuck\nstuck_then=frame\nsensor0=20,25,0042\nseed=7\n");
    host.setDevicesDir(sim.devices());
    host.storeSettings(5, true);
    EXPECT_EQ(host.capture16(1, 1), nullptr);
    std::string infoBefore = host.imageInfo();

    sim.configure("exposure_ms=3000\nseed=3\n");
    std::string infoDuring = "(not read)";
    Dispatched wake(300, [&] { sim.release(); });
    Dispatched look(2500, [&] { infoDuring = host.imageInfo(); });
    HGLOBAL during = host.capture16(2, 2);
    std::string errorDuring = host.errorText(), infoAfter = host.imageInfo();
    std::string log = host.logText();
    size_t woke = log.find("   abandoned capture worker finally exited -> releasing its job");
    EXPECT_LT(woke, log.rfind("   -> returning REAL image handle ")) << "the old worker returned mid-capture";
    EXPECT_EQ(infoDuring, infoBefore);

    HGLOBAL alone = host.capture16(3, 3);
    ASSERT_NE(during, nullptr);
    ASSERT_NE(alone, nullptr);
    EXPECT_TRUE(PluginHost::TakeDib(during) == PluginHost::TakeDib(alone));
    EXPECT_EQ(errorDuring, host.errorText());
    EXPECT_EQ(infoAfter, host.imageInfo());
    EXPECT_EQ(infoAfter, "Nyra Sensor '811234' Size 2  1300x1706  16-bit");
}

// Two sensors: the switch-sensor window lists both at the first arming; "Refresh" re-arms the
// same sensor, and choosing the second aborts the read and the capture re-arms, and delivers
// from, the chosen sensor.
TEST(CaptureWithSimulator, SwitchingSensorDuringTheCaptureReArmsTheChosenOne)
{
    PluginHost host;
    SimDevices sim(host, "sensors=2\nexposure_ms=6000\n");
    host.setDevicesDir(sim.devices());
    host.setStatusCallback();
    host.storeSettings(30, true);
    std::vector<std::string> entries;
    int selected = -2;
    Dispatched refresh(2000, [&] {
        HWND window = FindOwnWindow("Switch Sensor");
        if (!window)
            return;
        HWND list = GetDlgItem(window, 1495);
        for (int i = 0; i < (int)SendMessageA(list, CB_GETCOUNT, 0, 0); i++) {
            char entry[80] = "";
            SendMessageA(list, CB_GETLBTEXT, i, (LPARAM)entry);
            entries.push_back(entry);
        }
        selected = (int)SendMessageA(list, CB_GETCURSEL, 0, 0);
        SendMessageA(window, WM_COMMAND, MAKEWPARAM(1496, BN_CLICKED), (LPARAM)GetDlgItem(window, 1496));
    });
    Dispatched choose(5000, [&] {
        HWND window = FindOwnWindow("Switch Sensor");
        HWND list = GetDlgItem(window, 1495);
        SendMessageA(list, CB_SETCURSEL, 1, 0);
        SendMessageA(window, WM_COMMAND, MAKEWPARAM(1495, CBN_SELCHANGE), (LPARAM)list);
    });
    HGLOBAL dib = host.capture16(1, 1);
    EXPECT_EQ(entries, (std::vector<std::string>{"Size 2  (811234)", "Size 3  (200042)"}));
    EXPECT_EQ(selected, 0);
    ASSERT_NE(dib, nullptr) << host.errorText() << host.logText();
    DibSize size = SizeOf(dib);
    GlobalFree(dib);
    EXPECT_EQ(size.width, 2580);
    EXPECT_EQ(size.height, 1706);
    EXPECT_EQ(PluginHost::Callbacks, (std::vector<std::string>{"5:Nyra Pro", "6:Nyra Sensor '811234' Size 2",
                                                               "6:Nyra Sensor '811234' Size 2",
                                                               "6:Nyra Sensor '200042' Size 3", "0:(null)"}));
    std::string log = host.logText();
    EXPECT_TRUE(Contains(log, "   Switch Sensor window: 2 sensors, active=slot0")) << log;
    EXPECT_TRUE(Contains(log, "Switch Sensor: request -> serial=811234"));
    EXPECT_TRUE(Contains(log, "Switch Sensor: request -> serial=200042"));
    EXPECT_TRUE(Contains(log, "   switch/refresh -> re-arming (prefer=200042)"));
    EXPECT_TRUE(Contains(log, "   Switch Sensor window: 2 sensors, active=slot1"));
    EXPECT_EQ(host.imageInfo(), "Nyra Sensor '200042' Size 3  2580x1706  16-bit");
}

TEST(CaptureWithSimulator, HostUnloadsWhileAnAbandonedWorkerIsStillBlocked)
{
    PluginHost host;
    SimDevices sim(host, "read=stuck\n");
    host.setDevicesDir(sim.devices());
    host.storeSettings(5, false);
    EXPECT_EQ(host.capture16(1, 1), nullptr);
    host.unload();
    // The worker still sits in the library's read; when it returns it must find its code (and
    // the library's) still mapped.
    sim.release();
    std::regex returned("HPK_GetXrayCorrectionImage h=0x[0-9A-F]+ -> ");
    for (int i = 0; i < 100 && !std::regex_search(sim.calls(), returned); i++)
        Sleep(50);
    EXPECT_TRUE(std::regex_search(sim.calls(), returned)) << sim.calls();
    Sleep(300);  // the worker's own ending runs after the read returned; the process survives it
}

}  // namespace
