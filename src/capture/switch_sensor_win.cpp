// The switch-sensor window: a topmost drop-down of the sensors the last enumeration found, in
// the bottom-left corner just above the minimised status window. It lives on the host's thread
// and only records the request (PreferredSerial, then SwitchRequested) and aborts the pending
// read; the worker re-opens and re-arms, and the driver refills the list at the new arming.
// The close box hides the window; the driver destroys it when the capture ends.
#include <windows.h>

#include "backend/backend.h"
#include "backend/backend_state.h"
#include "base/host_context.h"
#include "base/log.h"
#include "capture/capture_plan.h"
#include "capture/capture_state.h"
#include "capture/switch_sensor.h"
#include "resources/resource.h"

void RequestSensorSwitch(const char* serial)
{
    if (serial != PreferredSerial)
        CopyText(PreferredSerial, sizeof PreferredSerial, serial);
    SwitchRequested.exchange(1);
    AbortPipeAsync();
    LogTrace("Switch Sensor: request -> serial=%s", PreferredSerial);
}

void FillSwitchSensorList(void* window)
{
    HWND list = GetDlgItem(static_cast<HWND>(window), IDC_SWITCH_LIST);
    SendMessageA(list, CB_RESETCONTENT, 0, 0);
    for (int32_t i = 0; i < CaptureSensorCount && i < kMaxSensors; i++) {
        char entry[65];
        FormatSwitchEntry(entry, sizeof entry, CaptureSensorList[i]);
        SendMessageA(list, CB_ADDSTRING, 0, (LPARAM)entry);
    }
    SendMessageA(list, CB_SETCURSEL, (WPARAM)CaptureActiveSlot, 0);
}

static bool IsListedSlot(int32_t index)
{
    return index >= 0 && index < CaptureSensorCount && index < kMaxSensors;
}

static INT_PTR CALLBACK SwitchSensorProc(HWND window, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG: FillSwitchSensorList(window); return TRUE;
    case WM_CLOSE: ShowWindow(window, SW_HIDE); return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDC_SWITCH_LIST && HIWORD(wParam) == CBN_SELCHANGE) {
            int32_t index = (int32_t)SendDlgItemMessageA(window, IDC_SWITCH_LIST, CB_GETCURSEL, 0, 0);
            if (IsListedSlot(index) && index != CaptureActiveSlot)
                RequestSensorSwitch(CaptureSensorList[index].serial);
            return TRUE;
        }
        if (LOWORD(wParam) == IDC_SWITCH_REFRESH) {
            // The next open enumerates afresh instead of trusting the list read before.
            CachedSensorList.count = 0;
            if (IsListedSlot(CaptureActiveSlot))
                RequestSensorSwitch(CaptureSensorList[CaptureActiveSlot].serial);
            return TRUE;
        }
        return FALSE;
    }
    return FALSE;
}

static void PlaceAboveMinimisedStatus(HWND window)
{
    RECT work, rect;
    if (!SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0) || !GetWindowRect(window, &rect))
        return;
    int height = rect.bottom - rect.top;
    int y = work.bottom - GetSystemMetrics(SM_CYMINIMIZED) - 8 - height - 12;
    if (y < work.top)
        y = work.top;
    SetWindowPos(window, HWND_TOPMOST, work.left + 12, y, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE);
}

void* ShowSwitchSensorWindow(void* existing)
{
    HWND window = static_cast<HWND>(existing);
    if (window) {
        FillSwitchSensorList(window);
    } else {
        window =
            CreateDialogParamA(static_cast<HINSTANCE>(ModuleInstance), MAKEINTRESOURCEA(IDD_SWITCH_SENSOR),
                               static_cast<HWND>(HostMainWindow), SwitchSensorProc, 0);
        if (window) {
            PlaceAboveMinimisedStatus(window);
            ShowWindow(window, SW_SHOWNA);
            FillSwitchSensorList(window);
        }
    }
    LogTrace("   Switch Sensor window: %d sensors, active=slot%d", (int)CaptureSensorCount,
             (int)CaptureActiveSlot);
    return window;
}

void DestroySwitchSensorWindow(void* window)
{
    if (window)
        DestroyWindow(static_cast<HWND>(window));
}
