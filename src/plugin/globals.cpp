// Definitions of the process-wide variables declared in globals.h.
#include "plugin/globals.h"

void* ModuleInstance;
char LogPath[kTextPath];
std::atomic<uint8_t> LogReady{0};
std::atomic<uint8_t> LogGate{0};

void* HostMainWindow;
char SedDir[kTextPath];
char DevicesDir[kTextPath];
char PluginDataDir[kTextPath];
StatusCallbackFn StatusCallback;
uint32_t HostSensorId;

HostConfigBlob HostBlob;
NyraSettings ActiveSettings;

char SensorName[80] = "Nyra Pro";
char ImageInfoText[256];
char CaptureErrorText[512];
uint32_t CaptureContext[2];

std::atomic<int32_t> CaptureInProgress{0};
std::atomic<int32_t> CancelRequested{0};
std::atomic<int32_t> UserTerminated{0};
std::atomic<int32_t> TimedOut{0};
std::atomic<int32_t> GroupActive{0};
std::atomic<int32_t> SdkReloadPending{0};
std::atomic<int32_t> StuckWorkerCount{0};
std::atomic<int32_t> SwitchRequested{0};
char PreferredSerial[16];

int32_t CaptureSensorCount = 1;
int32_t CaptureActiveSlot;
SensorSlot CaptureSensorList[kMaxSensors];
