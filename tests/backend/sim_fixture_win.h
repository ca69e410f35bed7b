// Test fixture for the backend under Wine: a temporary tree laid out as the host's devices
// folder, the plug-in folder and the fixed SDK folder, filled with the stand-in vendor libraries
// from the output folder, with the backend state reset around each test and the log captured.
#pragma once
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "backend/backend.h"
#include "backend/backend_state.h"
#include "backend/vendor_release.h"
#include "base/host_context.h"
#include "base/log.h"
#include "support/test_support.h"
#include "support/win_module.h"

inline std::wstring Wide(const std::string& s)
{
    return std::wstring(s.begin(), s.end());
}

inline std::string Narrow(const wchar_t* s)
{
    std::string out;
    for (; *s; ++s)
        out += (char)*s;
    return out;
}

inline int CountOf(const std::string& text, const std::string& what)
{
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

class SimBackend : public ::testing::Test {
protected:
    TempDir root;
    std::string devices, smsDir, ioDir, pluginDir, sdkDir, logFile;

    void SetUp() override
    {
        devices = root.file("devices");
        smsDir = devices + "\\Nyra\\SMS";
        ioDir = devices + "\\Nyra\\Hamamatsu";
        pluginDir = root.file("plugin");
        sdkDir = root.file("sdk");
        for (const std::string& d : {devices, devices + "\\Nyra", smsDir, ioDir, pluginDir, sdkDir})
            CreateDirectoryA(d.c_str(), nullptr);
        CopyText(DevicesDir, sizeof DevicesDir, devices.c_str());
        CopyText(SedDir, sizeof SedDir, pluginDir.c_str());
        lstrcpynW(FixedSdkDir, Wide(sdkDir).c_str(), kSdkDirChars);
        LogInit(root.file("NyraPro.SED").c_str());
        logFile = root.file("NyraSED.log");
        LogGate.store(1);
        BackendLastError[0] = '\0';
        SuspendDisabled.store(0);
        PreferredSerial[0] = '\0';
        ActiveSlot = 0;
        memset(&CachedSensorList, 0, sizeof CachedSensorList);
        SerialReaderTimeoutMs.store(kSerialReaderDefaultTimeoutMs);
    }

    void TearDown() override
    {
        // Let every stuck stand-in call return before its library goes away.
        for (const std::string& d : {smsDir, ioDir, pluginDir, sdkDir})
            WriteFileBytes(d + "\\sim_release.flag", {});
        UnloadBackend();
        SetThreadVendorFault(0);
        BackendProductId = 0;
        SetCurrentDirectoryA(OutputFolder().c_str());
        LogGate.store(0);
        Sleep(50);
    }

    static bool Copy(const std::string& from, const std::string& dir, const std::string& as)
    {
        return CopyFileA((OutputFolder() + from).c_str(), (dir + "\\" + as).c_str(), FALSE) != 0;
    }

    // An SMS install: library (or a build lacking an export), companion, memory file, and
    // optionally the serial reader.
    void MakeSms(const std::string& dir, bool reader = false, const std::string& library = "SMS_API.dll",
                 bool memoryFile = true)
    {
        ASSERT_TRUE(Copy(library, dir, "SMS_API.dll"));
        ASSERT_TRUE(Copy("CMOS_OPTION.dll", dir, "CMOS_OPTION.dll"));
        if (memoryFile) {
            ASSERT_TRUE(WriteFileBytes(dir + "\\CMOSMemory_0001.bin", {1, 2, 3}));
        }
        if (reader) {
            ASSERT_TRUE(Copy("SmsSerialReader.exe", dir, "SmsSerialReader.exe"));
        }
    }

    void MakeIo(const std::string& dir)
    {
        ASSERT_TRUE(Copy("IO_API.dll", dir, "IO_API.dll"));
        ASSERT_TRUE(Copy("CMOS_USB.dll", dir, "CMOS_USB.dll"));
    }

    static void Config(const std::string& dir, const std::string& text)
    {
        ASSERT_TRUE(WriteFileBytes(dir + "\\simsdk.ini", std::vector<uint8_t>(text.begin(), text.end())));
    }

    static void Release(const std::string& dir) { WriteFileBytes(dir + "\\sim_release.flag", {}); }

    static std::string Calls(const std::string& dir) { return ReadFileText(dir + "\\simsdk_calls.log"); }

    std::string Log() const { return ReadFileText(logFile); }

    std::string LoadedDir() const { return Narrow(BackendDir); }

    // Waits until the stand-in's call log holds what (a call has started), at most ms.
    static bool WaitForCall(const std::string& dir, const std::string& what, int ms = 3000)
    {
        for (int waited = 0; waited < ms; waited += 20) {
            if (Calls(dir).find(what) != std::string::npos)
                return true;
            Sleep(20);
        }
        return false;
    }
};
