#include "capture/capture_state.h"

char SensorName[80] = "Nyra Pro";
char ImageInfoText[256];
char CaptureErrorText[512];
uint32_t CaptureContext[2];

std::atomic<int32_t> CaptureInProgress{0};
std::atomic<int32_t> CancelRequested{0};
std::atomic<int32_t> UserTerminated{0};
std::atomic<int32_t> TimedOut{0};
std::atomic<int32_t> GroupActive{0};
std::atomic<int32_t> SwitchRequested{0};

int32_t CaptureSensorCount = 1;
int32_t CaptureActiveSlot;
SensorSlot CaptureSensorList[kMaxSensors];
