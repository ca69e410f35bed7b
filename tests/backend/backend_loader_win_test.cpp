// The vendor library loader under Wine against the stand-ins: search order and what each
// candidate needs, the cached outcome, binding failures with their texts, unloading, and what
// the host's own later library loads see after a backend has been loaded.
#include "sim_fixture_win.h"

using BackendLoader = SimBackend;

TEST_F(BackendLoader, SearchOrderAndWhatEachCandidateNeeds)
{
    MakeSms(smsDir);
    MakeIo(ioDir);
    MakeIo(pluginDir);
    MakeSms(pluginDir, false, "SMS_API.dll", false);  // SMS files without CMOSMemory_*.bin
    MakeSms(sdkDir);

    ASSERT_TRUE(EnsureBackend());
    EXPECT_EQ(BackendSms, BackendKindLoaded);
    EXPECT_EQ(smsDir, LoadedDir());
    EXPECT_NE(std::string::npos, Log().find("EnsureBackend -> loaded (backend=SMS) [dedicated: " + smsDir
                                            + " | " + ioDir + "]"));

    // Without its memory file the dedicated SMS folder is given up for the IO folder.
    UnloadBackend();
    ASSERT_TRUE(DeleteFileA((smsDir + "\\CMOSMemory_0001.bin").c_str()));
    ASSERT_TRUE(EnsureBackend());
    EXPECT_EQ(BackendIo, BackendKindLoaded);
    EXPECT_EQ(ioDir, LoadedDir());

    // The plug-in folder's SMS files lack the memory file too; it goes on to the IO kind there.
    UnloadBackend();
    ASSERT_TRUE(DeleteFileA((ioDir + "\\CMOS_USB.dll").c_str()));
    ASSERT_TRUE(EnsureBackend());
    EXPECT_EQ(BackendIo, BackendKindLoaded);
    EXPECT_EQ(pluginDir, LoadedDir());

    UnloadBackend();
    ASSERT_TRUE(DeleteFileA((pluginDir + "\\IO_API.dll").c_str()));
    ASSERT_TRUE(EnsureBackend());
    EXPECT_EQ(BackendSms, BackendKindLoaded);
    EXPECT_EQ(sdkDir, LoadedDir());

    UnloadBackend();
    ASSERT_TRUE(DeleteFileA((sdkDir + "\\SMS_API.dll").c_str()));
    EXPECT_FALSE(EnsureBackend());
    EXPECT_EQ(nullptr, BackendModule);
    EXPECT_EQ(BackendNone, BackendKindLoaded);
    // The text stays with the first candidate that found nothing: it is only set while empty.
    EXPECT_STREQ(("no SMS or IO backend files found in " + pluginDir).c_str(), BackendLastError);
    std::string log = Log();
    EXPECT_NE(std::string::npos, log.find("EnsureBackend -> NOT loaded (backend=None) [dedicated: " + smsDir
                                          + " | " + ioDir + "]"));
    EXPECT_NE(std::string::npos, log.find("   (deploy vendor DLLs into " + devices
                                          + "\\Nyra\\{SMS,Hamamatsu}; last error: no SMS or IO backend "
                                            "files found in "
                                          + pluginDir + ")"));
}

TEST_F(BackendLoader, WithoutDevicesDirTheDedicatedFoldersAreEmpty)
{
    DevicesDir[0] = '\0';
    MakeIo(pluginDir);
    ASSERT_TRUE(EnsureBackend());
    EXPECT_EQ(pluginDir, LoadedDir());
    EXPECT_NE(std::string::npos, Log().find("EnsureBackend -> loaded (backend=IO) [dedicated:  | ]"));
}

TEST_F(BackendLoader, OutcomeIsCachedUntilUnload)
{
    EXPECT_FALSE(EnsureBackend());
    MakeIo(ioDir);
    EXPECT_FALSE(EnsureBackend());  // cached failure
    EXPECT_EQ(1, CountOf(Log(), "EnsureBackend -> "));
    UnloadBackend();
    EXPECT_NE(std::string::npos,
              Log().find("   backend UNLOADED (FreeLibrary) -> next capture reloads the SDK from scratch"));
    EXPECT_TRUE(EnsureBackend());
    EXPECT_TRUE(EnsureBackend());
    EXPECT_EQ(2, CountOf(Log(), "EnsureBackend -> "));  // a cached answer is not logged again
}

TEST_F(BackendLoader, LibraryLackingAnEntryFailsWithItsName)
{
    MakeSms(smsDir, false, "SMS_API_noresume.dll");
    EXPECT_FALSE(LoadBackendDir(Wide(smsDir).c_str(), BackendSms));
    EXPECT_STREQ("missing export USB_ResumeDevice", BackendLastError);
    UnloadBackend();

    MakeSms(ioDir, false, "SMS_API_nocorrection.dll");
    EXPECT_FALSE(LoadBackendDir(Wide(ioDir).c_str(), BackendSms));
    EXPECT_STREQ("missing HPK_GetXrayImage / HPK_GetXrayCorrectionImage", BackendLastError);
    UnloadBackend();

    // Only the optional suspend timer missing: it loads, the entry stays null.
    MakeSms(pluginDir, false, "SMS_API_nosuspend.dll");
    ASSERT_TRUE(LoadBackendDir(Wide(pluginDir).c_str(), BackendSms));
    EXPECT_EQ(nullptr, Vendor.USB_SetDefaultSystemSuspendTime);
    EXPECT_NE(nullptr, Vendor.USB_SuspendDevice);
    EXPECT_NE(nullptr, Vendor.HPK_GetXrayImage_Sms);
}

TEST_F(BackendLoader, FailedBindAtTheLastCandidateLeavesNothingLoaded)
{
    // An IO library that lacks an entry, in the last folder searched.
    ASSERT_TRUE(Copy("SMS_API_noresume.dll", sdkDir, "IO_API.dll"));
    ASSERT_TRUE(Copy("CMOS_OPTION.dll", sdkDir, "CMOS_OPTION.dll"));
    ASSERT_TRUE(Copy("CMOS_USB.dll", sdkDir, "CMOS_USB.dll"));
    const std::wstring library = Wide(sdkDir + "\\IO_API.dll");
    EXPECT_FALSE(EnsureBackend());
    EXPECT_STREQ("missing export USB_ResumeDevice", BackendLastError);
    EXPECT_NE(std::string::npos, Log().find("EnsureBackend -> NOT loaded (backend=IO)"));
    EXPECT_EQ(nullptr, GetModuleHandleW(library.c_str()));
    EXPECT_EQ(nullptr, BackendModule);
    EXPECT_EQ(nullptr, Vendor.USB_OpenDevice);
}

TEST_F(BackendLoader, UnloadFreesTheLibraryAndForgetsTheState)
{
    MakeIo(ioDir);
    ASSERT_TRUE(EnsureBackend());
    const std::wstring library = Wide(ioDir + "\\IO_API.dll");
    EXPECT_NE(nullptr, GetModuleHandleW(library.c_str()));
    CachedSensorList.count = 2;
    UnloadBackend();
    EXPECT_EQ(nullptr, GetModuleHandleW(library.c_str()));
    EXPECT_EQ(nullptr, BackendModule);
    EXPECT_EQ(BackendNone, BackendKindLoaded);
    EXPECT_EQ(nullptr, Vendor.HPK_AbortBulkPipe);
    EXPECT_EQ(L'\0', BackendDir[0]);
    EXPECT_EQ(0, CachedSensorList.count);
    EXPECT_EQ(0, BackendAttempted);
}

// What a host sees after the plug-in loaded a vendor library: the process's current directory
// is the library's folder, plain-name loads find DLLs in that folder, and (because the default
// search became system + user folders) no longer those found only through PATH.
TEST_F(BackendLoader, HostLoadsAfterwardsSeeTheBackendFolderNotPath)
{
    TempDir onPath;
    ASSERT_TRUE(CopyFileA((OutputFolder() + "CMOS_USB.dll").c_str(), onPath.file("probe_on_path.dll").c_str(),
                          FALSE));
    char oldPath[8192] = "";
    GetEnvironmentVariableA("PATH", oldPath, sizeof oldPath);
    SetEnvironmentVariableA("PATH", (onPath.path() + ";" + oldPath).c_str());

    MakeIo(ioDir);
    ASSERT_TRUE(CopyFileA((OutputFolder() + "CMOS_USB.dll").c_str(),
                          (ioDir + "\\probe_in_backend.dll").c_str(), FALSE));
    ASSERT_TRUE(EnsureBackend());

    char current[MAX_PATH] = "";
    GetCurrentDirectoryA(MAX_PATH, current);
    EXPECT_EQ(ioDir, std::string(current));
    HMODULE inBackend = LoadLibraryW(L"probe_in_backend.dll");
    EXPECT_NE(nullptr, inBackend);
    HMODULE viaPath = LoadLibraryW(L"probe_on_path.dll");
    EXPECT_EQ(nullptr, viaPath);
    if (inBackend)
        FreeLibrary(inBackend);
    if (viaPath)
        FreeLibrary(viaPath);
    SetEnvironmentVariableA("PATH", oldPath);
}
