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
    {"SEDGetSEDVersion", 23},
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
