// The switch-sensor window (dialog 113), shown by the capture driver while two or more sensors
// are plugged in: choosing another sensor, or "Refresh", aborts the pending read so the worker
// re-opens the chosen sensor and arms it again. Windows only; handles are passed as void*.
#pragma once

// At an arming: refills the window when it exists, else creates it above the minimised status
// window and shows it without activation. Returns the window (null when it cannot be created,
// which the capture ignores).
void* ShowSwitchSensorWindow(void* existing);
void DestroySwitchSensorWindow(void* window);
// Lists CaptureSensorList[0..CaptureSensorCount-1] in the drop-down and selects the active slot.
void FillSwitchSensorList(void* window);
// Records the serial as preferred, raises SwitchRequested and aborts the pending read.
void RequestSensorSwitch(const char* serial);
