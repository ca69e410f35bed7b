// hostsim: a stand-in for the imaging application. It loads NyraPro.SED, hands it a main
// window, the plug-in and devices folders, a status callback and (optionally) a stored blob,
// runs captures through the export, and reports what a host would see: status callbacks, the
// DIB (saved as .pgm and .png), image information, DICOM attributes (also saved as the record
// itself, .dicominfo), error text and timeout.
//
//   hostsim --dll PATH [--devices DIR] [--sed DIR] [--out BASE] [--captures N]
//           [--ctx A B] [--at ACTION@MS]... [--blob-in FILE] [--blob-out FILE]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "plugin_api.h"

PluginApi Plugin;

template <typename Fn>
static bool Bind(HMODULE module, const char* name, Fn* out)
{
    *out = reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
    if (!*out)
        fprintf(stderr, "hostsim: the plug-in has no export %s\n", name);
    return *out != nullptr;
}

bool LoadPlugin(const wchar_t* path, PluginApi* api)
{
    api->module = LoadLibraryW(path);
    if (!api->module) {
        fprintf(stderr, "hostsim: cannot load %ls (error %lu)\n", path, GetLastError());
        return false;
    }
    HMODULE m = api->module;
    return Bind(m, "SEDSetMainWindow", &api->SetMainWindow) && Bind(m, "SEDSetSEDDir", &api->SetSEDDir)
           && Bind(m, "SEDSetDevicesDir", &api->SetDevicesDir)
           && Bind(m, "SEDSetStatusCallback", &api->SetStatusCallback)
           && Bind(m, "SEDSetSensorID", &api->SetSensorID)
           && Bind(m, "SEDGetConfigurationAndOptionsSize", &api->GetConfigurationAndOptionsSize)
           && Bind(m, "SEDGetConfigurationAndOptions", &api->GetConfigurationAndOptions)
           && Bind(m, "SEDSetConfigurationAndOptions", &api->SetConfigurationAndOptions)
           && Bind(m, "SEDCaptureImage16", &api->CaptureImage16)
           && Bind(m, "SEDGetImageInfo", &api->GetImageInfo) && Bind(m, "SEDGetDICOMInfo", &api->GetDICOMInfo)
           && Bind(m, "SEDGetErrorMessage", &api->GetErrorMessage) && Bind(m, "SEDTimedOut", &api->TimedOut)
           && Bind(m, "SEDUserTerminated", &api->UserTerminated)
           && Bind(m, "SEDGroupStarted", &api->GroupStarted) && Bind(m, "SEDGroupEnded", &api->GroupEnded)
           && Bind(m, "SEDGetCurrentSensorID", &api->GetCurrentSensorID);
}

static void __stdcall OnStatus(uint32_t sensorId, uint32_t status, const char* text)
{
    printf("status: sensor=%u code=%u text=%s\n", sensorId, status, text ? text : "(null)");
    fflush(stdout);
}

static LRESULT CALLBACK MainProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_TIMER) {
        RunScheduledAction(window, wParam);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

static HWND CreateMainWindow()
{
    WNDCLASSA wc = {};
    wc.lpfnWndProc = MainProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "HostSimMain";
    RegisterClassA(&wc);
    return CreateWindowA("HostSimMain", "Host simulator", WS_OVERLAPPEDWINDOW, 0, 0, 640, 480, nullptr,
                         nullptr, wc.hInstance, nullptr);
}

static std::vector<uint8_t> ReadAll(const char* path)
{
    std::vector<uint8_t> bytes;
    if (FILE* f = fopen(path, "rb")) {
        uint8_t buffer[4096];
        size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, f)) > 0)
            bytes.insert(bytes.end(), buffer, buffer + n);
        fclose(f);
    }
    return bytes;
}

// Prints the DICOM record and keeps it as BASE.dicominfo, byte for byte, for a DICOM file to
// be made from it (scripts/make-dicom.sh).
static void PrintDicom(const std::string& base)
{
    std::vector<uint8_t> record(1584, 0);
    Plugin.GetDICOMInfo(record.data());
    if (FILE* f = fopen((base + ".dicominfo").c_str(), "wb")) {
        fwrite(record.data(), 1, record.size(), f);
        fclose(f);
    }
    auto text = [&](size_t offset) { return (const char*)&record[offset]; };
    printf("dicom: sopClass=%s modality=%s manufacturer=%s station=%s bodyPart=%s\n", text(4), text(68),
           text(100), text(484), text(1152));
    printf("dicom: study=%s series=%s instance=%s region=%s (%s)\n", text(420), text(1216), text(1280),
           text(1312), text(1376));
}

int wmain(int argc, wchar_t** argv)
{
    std::wstring dll;
    std::string devices, sed, out = "capture", blobIn, blobOut;
    std::vector<std::string> actions;
    int captures = 1;
    uint32_t ctx1 = 1, ctx2 = 1;
    auto narrow = [](const wchar_t* w) {
        char buffer[1024];
        WideCharToMultiByte(CP_ACP, 0, w, -1, buffer, sizeof buffer, nullptr, nullptr);
        return std::string(buffer);
    };
    for (int i = 1; i < argc; i++) {
        std::wstring a = argv[i];
        bool more = i + 1 < argc;
        if (a == L"--dll" && more)
            dll = argv[++i];
        else if (a == L"--devices" && more)
            devices = narrow(argv[++i]);
        else if (a == L"--sed" && more)
            sed = narrow(argv[++i]);
        else if (a == L"--out" && more)
            out = narrow(argv[++i]);
        else if (a == L"--captures" && more)
            captures = _wtoi(argv[++i]);
        else if (a == L"--ctx" && i + 2 < argc) {
            ctx1 = (uint32_t)_wtoi(argv[++i]);
            ctx2 = (uint32_t)_wtoi(argv[++i]);
        } else if (a == L"--at" && more)
            actions.push_back(narrow(argv[++i]));
        else if (a == L"--blob-in" && more)
            blobIn = narrow(argv[++i]);
        else if (a == L"--blob-out" && more)
            blobOut = narrow(argv[++i]);
        else {
            fprintf(stderr,
                    "usage: hostsim --dll PATH [--devices DIR] [--sed DIR] [--out BASE] [--captures N] "
                    "[--ctx A B] [--at ACTION@MS]... [--blob-in FILE] [--blob-out FILE]\n");
            return 2;
        }
    }
    if (dll.empty() || !LoadPlugin(dll.c_str(), &Plugin))
        return 2;

    HWND main = CreateMainWindow();
    Plugin.SetMainWindow(main);
    if (!sed.empty())
        Plugin.SetSEDDir(sed.c_str());
    Plugin.SetDevicesDir(devices.empty() ? nullptr : devices.c_str());
    Plugin.SetStatusCallback(OnStatus);
    Plugin.SetSensorID(1);
    std::vector<uint8_t> blob = blobIn.empty() ? std::vector<uint8_t>() : ReadAll(blobIn.c_str());
    Plugin.SetConfigurationAndOptions(blob.empty() ? nullptr : blob.data(), (uint32_t)blob.size());

    int failures = 0;
    for (int n = 0; n < captures; n++) {
        for (const std::string& a : actions)
            if (!ScheduleAction(main, a.c_str()))
                fprintf(stderr, "hostsim: cannot schedule %s\n", a.c_str());
        DWORD start = GetTickCount();
        HGLOBAL dib = Plugin.CaptureImage16(ctx1, ctx2 + n);
        printf("capture %d: handle=%s after %lu ms\n", n + 1, dib ? "DIB" : "null", GetTickCount() - start);
        char text[512];
        Plugin.GetErrorMessage(text, sizeof text);
        printf("error text: \"%s\"\n", text);
        printf("timed out: %u\n", Plugin.TimedOut());
        if (!dib) {
            failures++;
            continue;
        }
        Plugin.GetImageInfo(text, sizeof text);
        printf("image info: \"%s\"\n", text);
        std::string base = captures > 1 ? out + "-" + std::to_string(n + 1) : out;
        PrintDicom(base);
        int32_t w = 0, h = 0;
        if (SaveDibImages(dib, base.c_str(), &w, &h))
            printf("picture: %dx%d -> %s.png (preview) and %s.pgm (16-bit)\n", w, h, base.c_str(),
                   base.c_str());
        GlobalFree(dib);
    }
    if (!blobOut.empty()) {
        std::vector<uint8_t> current(Plugin.GetConfigurationAndOptionsSize());
        Plugin.GetConfigurationAndOptions(current.data());
        if (FILE* f = fopen(blobOut.c_str(), "wb")) {
            fwrite(current.data(), 1, current.size(), f);
            fclose(f);
        }
    }
    fflush(stdout);
    FreeLibrary(Plugin.module);
    DestroyWindow(main);
    return failures ? 1 : 0;
}
