// The built plug-in as a host sees it: loads, exports by undecorated name and ordinal, writes
// no log line before the first capture opens the gate.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "support/test_support.h"
#include "support/win_module.h"

namespace {

struct Export {
    const char* name;
    int ordinal;
};
// Kept in step with tests/plugin/expected_exports.txt, which checks the shipped i686 file.
const Export kExports[] = {
    {"SEDAddNewSensor", 1},
    {"SEDBGCStart", 2},
    {"SEDBGCTerminate", 3},
    {"SEDCaptureImage16", 4},
    {"SEDCaptureImage", 5},
    {"SEDCaptureImageNoPrompt16", 6},
    {"SEDCaptureImageNoPrompt", 7},
    {"SEDDisplayConfiguration", 8},
    {"SEDDisplayOptions", 9},
    {"SEDGetBGCDiagnosticMessage", 10},
    {"SEDGetConfigurationAndOptions", 11},
    {"SEDGetConfigurationAndOptionsSize", 12},
    {"SEDGetCurrentPort", 13},
    {"SEDGetCurrentSensorDefinition", 14},
    {"SEDGetCurrentSensorID", 15},
    {"SEDGetCurrentStatus", 16},
    {"SEDGetDICOMInfo", 17},
    {"SEDGetDiagnosticMessage", 18},
    {"SEDGetErrorMessage", 19},
    {"SEDGetImageInfo", 20},
    {"SEDGetNumberOfBGCDiagnosticMessages", 21},
    {"SEDGetNumberOfDiagnosticMessages", 22},
    {"SEDGetSEDVersion", 23},
    {"SEDGetVersionInfo", 24},
    {"SEDGroupEnded", 25},
    {"SEDGroupStarted", 26},
    {"SEDImportNativeImage", 27},
    {"SEDIsBGCActive", 28},
    {"SEDPostMount", 29},
    {"SEDPreUnmount", 30},
    {"SEDQuickCaptureImage16", 31},
    {"SEDQuickCaptureImage", 32},
    {"SEDReorientImage16", 33},
    {"SEDReorientImage16Ex", 34},
    {"SEDReorientImage", 35},
    {"SEDReorientImageEx", 36},
    {"SEDResetBGCDiagnosticMessages", 37},
    {"SEDResetDiagnosticMessages", 38},
    {"SEDSetConfigurationAndOptions", 39},
    {"SEDSetDevicesDir", 40},
    {"SEDSetImageCallback", 41},
    {"SEDSetMainWindow", 42},
    {"SEDSetSEDDir", 43},
    {"SEDSetSensorID", 44},
    {"SEDSetStatusCallback", 45},
    {"SEDSetTranslateCallback", 46},
    {"SEDSwitchSensor", 47},
    {"SEDTimedOut", 48},
    {"SEDUserTerminated", 49},
};

TEST(PluginDll, ExportsByNameAndOrdinal)
{
    HMODULE dll = LoadLibraryA((OutputFolder() + "NyraPro.SED").c_str());
    ASSERT_NE(dll, nullptr) << GetLastError();
    for (const Export& e : kExports) {
        FARPROC byName = GetProcAddress(dll, e.name);
        FARPROC byOrdinal = GetProcAddress(dll, MAKEINTRESOURCEA(e.ordinal));
        EXPECT_NE(byName, nullptr) << e.name;
        EXPECT_EQ(byName, byOrdinal) << e.name;
    }
    EXPECT_EQ(GetProcAddress(dll, "_SEDGetSEDVersion@0"), nullptr);
    EXPECT_EQ(GetProcAddress(dll, "SEDGetSEDVersion@0"), nullptr);

    typedef uint32_t(__stdcall * VersionFn)();
    VersionFn version = ProcAs<VersionFn>(dll, "SEDGetSEDVersion");
    ASSERT_NE(version, nullptr);
    EXPECT_EQ(version(), 0x20000u);
    EXPECT_TRUE(FreeLibrary(dll));
}

TEST(PluginDll, NoLogBeforeTheFirstCapture)
{
    TempDir dir;
    std::string copy = dir.file("NyraPro.SED");
    ASSERT_TRUE(CopyFileA((OutputFolder() + "NyraPro.SED").c_str(), copy.c_str(), FALSE));
    HMODULE dll = LoadLibraryA(copy.c_str());
    ASSERT_NE(dll, nullptr);
    typedef uint32_t(__stdcall * VersionFn)();
    ProcAs<VersionFn>(dll, "SEDGetSEDVersion")();
    FreeLibrary(dll);
    EXPECT_FALSE(FileExists(dir.file("NyraSED.log"))) << "the gate is closed until a capture opens it";
}

}  // namespace
