// Every process-wide variable of the plug-in, in one place. All start zero, empty or null
// unless noted. Flags shared between the host's thread, the capture worker and the release
// threads are std::atomic (interlocked operations). The vendor library state lives with the
// backend (backend/backend_state.h); the log's lock lives with the log writer because its type
// is the platform's.
#pragma once
#include <atomic>
#include <cstdint>

#include "backend/sensor_slot.h"
#include "settings/host_blob.h"
#include "settings/settings_record.h"

#if defined(_WIN32)
#define NYRA_STDCALL __stdcall
#else
#define NYRA_STDCALL
#endif

// The host's status callback: (HostSensorId, status code, text or null).
typedef void(NYRA_STDCALL* StatusCallbackFn)(uint32_t sensorId, uint32_t status, const char* text);

constexpr int kTextPath = 260;

// --- entry and log ---
extern void* ModuleInstance;                 // HINSTANCE of NyraPro.SED
extern char LogPath[kTextPath];              // "<library folder>\NyraSED.log"
extern std::atomic<uint8_t> LogReady;        // set once at attach
extern std::atomic<uint8_t> LogGate;         // "Enable logging", sampled at each capture start

// --- set by the host's configuration exports; kept for the life of the process ---
extern void* HostMainWindow;                 // owner of every dialog and message box
extern char SedDir[kTextPath];
extern char DevicesDir[kTextPath];
extern char PluginDataDir[kTextPath];        // DevicesDir\Nyra, or the default folder
extern StatusCallbackFn StatusCallback;
extern uint32_t HostSensorId;                // first argument of every status callback

// --- settings ---
extern HostConfigBlob HostBlob;              // the host's stored blob (HostConfigBlob)
extern NyraSettings ActiveSettings;          // reloaded at each capture, build, read, group end

// --- texts the host reads ---
extern char SensorName[80];                  // "Nyra Pro" until a sensor has been opened
extern char ImageInfoText[256];
extern char CaptureErrorText[512];
extern uint32_t CaptureContext[2];           // ctx1, ctx2 of the last accepted capture

// --- capture coordination ---
extern std::atomic<int32_t> CaptureInProgress;  // CAS 0 -> 1 by capture, build, saturation read
extern std::atomic<int32_t> CancelRequested;
extern std::atomic<int32_t> UserTerminated;
extern std::atomic<int32_t> TimedOut;
extern std::atomic<int32_t> GroupActive;
extern std::atomic<int32_t> SdkReloadPending;   // reload the vendor library at the next start
extern std::atomic<int32_t> StuckWorkerCount;   // abandoned workers still inside the library
extern std::atomic<int32_t> SwitchRequested;
extern char PreferredSerial[16];

// --- sensors seen by the last capture ---
extern int32_t CaptureSensorCount;           // starts at 1
extern int32_t CaptureActiveSlot;
extern SensorSlot CaptureSensorList[kMaxSensors];
