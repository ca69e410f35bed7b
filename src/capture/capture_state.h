// State of the sensor operations shared by the host's thread, the capture worker and the
// dialogs: the texts the host reads, the one-operation-at-a-time flag, the outcome flags and
// the sensors the last capture saw. Flags that cross threads are std::atomic.
#pragma once
#include <atomic>
#include <cstdint>

#include "backend/sensor_slot.h"

// --- texts the host reads ---
extern char SensorName[80];  // "Nyra Pro" until a sensor has been opened
extern char ImageInfoText[256];
extern char CaptureErrorText[512];
extern uint32_t CaptureContext[2];  // ctx1, ctx2 of the last accepted capture

// --- capture coordination ---
extern std::atomic<int32_t> CaptureInProgress;  // CAS 0 -> 1 by capture, build, saturation read
extern std::atomic<int32_t> CancelRequested;
extern std::atomic<int32_t> UserTerminated;
extern std::atomic<int32_t> TimedOut;
extern std::atomic<int32_t> GroupActive;
extern std::atomic<int32_t> SwitchRequested;

// --- sensors seen by the last capture ---
extern int32_t CaptureSensorCount;  // starts at 1
extern int32_t CaptureActiveSlot;
extern SensorSlot CaptureSensorList[kMaxSensors];
