// Finding, loading and binding the vendor library (SMS or IO kind), once per process unless the
// capture engine throws it away with UnloadBackend. Failures return false and leave the reason
// in BackendLastError.
#pragma once
#include "backend/vendor_api.h"

constexpr int kSdkDirChars = 260;
// The fixed SDK folder searched last (built in; tests may point it elsewhere).
extern wchar_t FixedSdkDir[kSdkDirChars];

// Searches, in order: DevicesDir\Nyra\SMS (SMS kind), DevicesDir\Nyra\Hamamatsu (IO kind),
// SedDir and FixedSdkDir (either kind). The outcome is cached until UnloadBackend.
bool EnsureBackend();
bool LoadBackendDir(const wchar_t* dir, BackendKind kind);
bool LoadBackendAnyKind(const wchar_t* dir);
bool BindVendorApi();
// Releases the sensor, frees the library and forgets the cached outcome and sensor list.
void UnloadBackend();
