// The vendor library loader: EnsureBackend's search, LoadBackendDir/LoadBackendAnyKind, the
// binding of every entry point from the list in vendor_api.h, and UnloadBackend.
// Inputs: DevicesDir and SedDir (8-bit, converted with the ANSI code page), FixedSdkDir.
// Effects that outlive the call, as the vendor library needs them: the process's default library
// search becomes system + user folders, the library's folder is added to it and made the DLL
// folder and the current directory. The cookie of the added folder is kept and the folder
// removed again when its library is freed, so failed candidates do not pile up in the search.
// Failure: false with BackendLastError set (a missing file set leaves the text alone).
#include "backend/backend_loader.h"

#include <windows.h>

#include <cstring>

#include "backend/backend_state.h"
#include "backend/vendor_release.h"
#include "backend/wide_text.h"
#include "base/host_context.h"
#include "base/log.h"

#ifndef NYRA_FIXED_SDK_DIR
#define NYRA_FIXED_SDK_DIR L"C:\\Program Files (x86)\\Nyra\\SDK"
#endif
wchar_t FixedSdkDir[kSdkDirChars] = NYRA_FIXED_SDK_DIR;

namespace {

DLL_DIRECTORY_COOKIE AddedDirCookie;  // folder added for the library now loaded (or tried)

bool IsPlainFile(const wchar_t* path)
{
    DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool HasFile(const wchar_t* dir, const char* name)
{
    wchar_t path[MAX_PATH + 64];
    return JoinWide(path, sizeof path / sizeof path[0], dir, name) && IsPlainFile(path);
}

bool HasMatchingFile(const wchar_t* dir, const char* pattern)
{
    wchar_t path[MAX_PATH + 64];
    if (!JoinWide(path, sizeof path / sizeof path[0], dir, pattern))
        return false;
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(path, &found);
    if (search == INVALID_HANDLE_VALUE)
        return false;
    bool any = false;
    do {
        any = !(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
    } while (!any && FindNextFileW(search, &found));
    FindClose(search);
    return any;
}

void ToWide(wchar_t* out, size_t size, const char* text)
{
    out[0] = L'\0';
    if (text && text[0] && MultiByteToWideChar(CP_ACP, 0, text, -1, out, (int)size) == 0)
        out[0] = L'\0';
    out[size - 1] = L'\0';
}

// Frees whatever library a failed attempt left loaded and forgets its entry points.
void DropModule()
{
    if (BackendModule)
        FreeLibrary(static_cast<HMODULE>(BackendModule));
    if (AddedDirCookie) {
        RemoveDllDirectory(AddedDirCookie);
        AddedDirCookie = nullptr;
    }
    ClearVendorState();
}

const char* KindName(BackendKind kind)
{
    return kind == BackendSms ? "SMS" : kind == BackendIo ? "IO" : "None";
}

template <typename Fn>
Fn ResolveAs(HMODULE module, const char* name)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

}  // namespace

bool BindVendorApi()
{
    HMODULE module = static_cast<HMODULE>(BackendModule);
    if (!module) {
        SetBackendError("no backend loaded");
        return false;
    }
#define NYRA_BIND_REQUIRED(name, result, params)       \
    Vendor.name = ResolveAs<name##_fn>(module, #name); \
    if (!Vendor.name) {                                \
        SetBackendError("missing export %s", #name);   \
        return false;                                  \
    }
    NYRA_VENDOR_REQUIRED(NYRA_BIND_REQUIRED)
#undef NYRA_BIND_REQUIRED
#define NYRA_BIND_OPTIONAL(name, result, params) Vendor.name = ResolveAs<name##_fn>(module, #name);
    NYRA_VENDOR_OPTIONAL(NYRA_BIND_OPTIONAL)
#undef NYRA_BIND_OPTIONAL
    bool pair = true;
#define NYRA_BIND_IMAGE(name)                                     \
    Vendor.name##_Sms = ResolveAs<XrayReadSms_fn>(module, #name); \
    Vendor.name##_Io = ResolveAs<XrayReadIo_fn>(module, #name);   \
    pair = pair && Vendor.name##_Sms;
    NYRA_VENDOR_IMAGE(NYRA_BIND_IMAGE)
#undef NYRA_BIND_IMAGE
    if (!pair) {
        SetBackendError("missing HPK_GetXrayImage / HPK_GetXrayCorrectionImage");
        return false;
    }
    return true;
}

bool LoadBackendDir(const wchar_t* dir, BackendKind kind)
{
    if (!dir || !dir[0])
        return false;
    const char* library = kind == BackendSms ? "SMS_API.dll" : "IO_API.dll";
    bool present = kind == BackendSms ? HasFile(dir, "SMS_API.dll") && HasFile(dir, "CMOS_OPTION.dll")
                                            && HasMatchingFile(dir, "CMOSMemory_*.bin")
                                      : HasFile(dir, "IO_API.dll") && HasFile(dir, "CMOS_USB.dll");
    if (!present)
        return false;

    SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_DEFAULT_DIRS | LOAD_LIBRARY_SEARCH_USER_DIRS);
    SetDllDirectoryW(nullptr);
    if (AddedDirCookie)
        RemoveDllDirectory(AddedDirCookie);
    AddedDirCookie = AddDllDirectory(dir);

    wchar_t path[MAX_PATH + 64];
    JoinWide(path, sizeof path / sizeof path[0], dir, library);
    HMODULE module = LoadLibraryExW(path, nullptr, LOAD_LIBRARY_SEARCH_USER_DIRS);
    if (!module) {
        DWORD error = GetLastError();
        SetBackendError("LoadLibraryEx(%s) failed, GetLastError=%lu", library, (unsigned long)error);
        if (AddedDirCookie) {
            RemoveDllDirectory(AddedDirCookie);
            AddedDirCookie = nullptr;
        }
        return false;
    }
    SetDllDirectoryW(dir);
    SetCurrentDirectoryW(dir);
    BackendModule = module;
    BackendKindLoaded = kind;
    if (!BindVendorApi())
        return false;  // the caller drops the module before its next candidate

    lstrcpynW(BackendDir, dir, kBackendDirChars);
    if (HasFile(BackendDir, kSuspendKillSwitchName)) {
        SuspendDisabled.store(1);
        LogTrace("   suspend timer permanently disabled for this install (suspend_unsupported.flag "
                 "present)");
    }
    return true;
}

bool LoadBackendAnyKind(const wchar_t* dir)
{
    if (LoadBackendDir(dir, BackendSms))
        return true;
    DropModule();
    if (LoadBackendDir(dir, BackendIo))
        return true;
    if (!BackendLastError[0]) {
        char narrow[kSdkDirChars];
        NarrowForLog(narrow, sizeof narrow, dir);
        SetBackendError("no SMS or IO backend files found in %s", narrow);
    }
    return false;
}

bool EnsureBackend()
{
    if (BackendAttempted)
        return BackendResult != 0;
    BackendAttempted = 1;
    BackendLastError[0] = '\0';  // the reason reported is this search's own

    wchar_t smsDir[kSdkDirChars] = L"";
    wchar_t ioDir[kSdkDirChars] = L"";
    if (DevicesDir[0]) {
        wchar_t devices[kSdkDirChars];
        ToWide(devices, kSdkDirChars, DevicesDir);
        JoinWide(smsDir, kSdkDirChars, devices, "Nyra\\SMS");
        JoinWide(ioDir, kSdkDirChars, devices, "Nyra\\Hamamatsu");
    }
    wchar_t sedDir[kSdkDirChars];
    ToWide(sedDir, kSdkDirChars, SedDir);

    bool ok = smsDir[0] && LoadBackendDir(smsDir, BackendSms);
    if (!ok) {
        DropModule();
        ok = ioDir[0] && LoadBackendDir(ioDir, BackendIo);
    }
    // An empty plug-in folder would make the candidate paths relative to the drive's root.
    if (!ok) {
        DropModule();
        ok = sedDir[0] && LoadBackendAnyKind(sedDir);
    }
    if (!ok) {
        DropModule();
        ok = LoadBackendAnyKind(FixedSdkDir);
    }
    BackendResult = ok ? 1 : 0;

    char smsNarrow[kSdkDirChars], ioNarrow[kSdkDirChars];
    NarrowForLog(smsNarrow, sizeof smsNarrow, smsDir);
    NarrowForLog(ioNarrow, sizeof ioNarrow, ioDir);
    LogTrace("EnsureBackend -> %s (backend=%s) [dedicated: %s | %s]", ok ? "loaded" : "NOT loaded",
             KindName(BackendKindLoaded), smsNarrow, ioNarrow);
    if (!ok) {
        LogTrace("   (deploy vendor DLLs into %s\\Nyra\\{SMS,Hamamatsu}; last error: %s)", DevicesDir,
                 BackendLastError);
        // A library whose binding failed at the last candidate is not kept half-bound.
        DropModule();
    }
    return ok;
}

void UnloadBackend()
{
    ReleaseSensor();
    DropModule();
    memset(&CachedSensorList, 0, sizeof CachedSensorList);
    LogTrace("   backend UNLOADED (FreeLibrary) -> next capture reloads the SDK from scratch");
    BackendAttempted = 0;
    BackendResult = 0;
}
