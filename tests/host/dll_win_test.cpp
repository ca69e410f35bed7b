// The built plug-in as a host sees it: loads, exports by undecorated name and ordinal, writes
// no log line before the first capture opens the gate.
#include <windows.h>

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "support/test_support.h"
#include "support/win_module.h"

namespace {

struct Export {
    std::string name;
    int ordinal;
};

// The export list is written once, in the module definition file the DLL is linked with.
std::vector<Export> ExportsOfDefFile()
{
    std::istringstream def(ReadFileText(SourceFile("src/host/NyraPro.def")));
    std::vector<Export> exports;
    std::string line;
    while (std::getline(def, line)) {
        std::istringstream fields(line);
        Export e{"", 0};
        char at = 0;
        if (fields >> e.name >> at >> e.ordinal && at == '@')
            exports.push_back(e);
    }
    return exports;
}

TEST(PluginDll, ExportsByNameAndOrdinal)
{
    HMODULE dll = LoadLibraryA((OutputFolder() + "NyraPro.SED").c_str());
    ASSERT_NE(dll, nullptr) << GetLastError();
    std::vector<Export> exports = ExportsOfDefFile();
    ASSERT_FALSE(exports.empty()) << "no export read from the definition file";
    for (const Export& e : exports) {
        FARPROC byName = GetProcAddress(dll, e.name.c_str());
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
