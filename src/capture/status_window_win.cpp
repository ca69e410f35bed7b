// The capture status window (dialog 111): status lines, the running timer and the "Cancel
// Capture" button, shown minimised in the bottom-left corner of the work area while the
// worker waits for the exposure. The close box cancels like the button.
#include <windows.h>

#include "backend/backend.h"
#include "base/host_context.h"
#include "capture/capture_plan.h"
#include "capture/capture_state.h"
#include "capture/status_window.h"
#include "resources/resource.h"

static HWND StatusWindow;

static void CancelFromWindow(HWND window)
{
    UserTerminated.exchange(1);
    CancelRequested.exchange(1);
    AbortPipeAsync();
    EnableWindow(GetDlgItem(window, IDCANCEL), FALSE);
    AddStatusLine("Cancelling ...");
}

static INT_PTR CALLBACK StatusProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: {
        StatusWindow = window;
        SetWindowLongPtrA(window, GWLP_USERDATA, lParam);
        HANDLE strip = LoadImageA(static_cast<HINSTANCE>(ModuleInstance), MAKEINTRESOURCEA(IDB_STATUS_STRIP),
                                  IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR);
        SendDlgItemMessageA(window, IDC_STATUS_PICTURE, STM_SETIMAGE, IMAGE_BITMAP, (LPARAM)strip);
        return TRUE;
    }
    case WM_CLOSE: CancelFromWindow(window); return TRUE;
    case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL) {
            CancelFromWindow(window);
            return TRUE;
        }
        return FALSE;
    case WM_DESTROY: {
        // The picture control does not own a bitmap set with STM_SETIMAGE.
        HGDIOBJ strip =
            (HGDIOBJ)SendDlgItemMessageA(window, IDC_STATUS_PICTURE, STM_GETIMAGE, IMAGE_BITMAP, 0);
        if (strip)
            DeleteObject(strip);
        if (StatusWindow == window)
            StatusWindow = nullptr;
        return TRUE;
    }
    }
    return FALSE;
}

void* CreateStatusWindow(void* job)
{
    HWND window =
        CreateDialogParamA(static_cast<HINSTANCE>(ModuleInstance), MAKEINTRESOURCEA(IDD_CAPTURE_STATUS),
                           static_cast<HWND>(HostMainWindow), StatusProc, (LPARAM)job);
    if (!window)
        return nullptr;
    RECT work, rect;
    if (SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0) && GetWindowRect(window, &rect)) {
        int height = rect.bottom - rect.top;
        SetWindowPos(window, nullptr, work.left + 12, work.bottom - 12 - height, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    AddStatusLine("Initializing hardware ...");
    ShowWindow(window, SW_SHOWMINIMIZED);
    return window;
}

void DestroyStatusWindow(void* window)
{
    if (window)
        DestroyWindow(static_cast<HWND>(window));
}

void AddStatusLine(const char* text)
{
    if (!StatusWindow)
        return;
    LRESULT index = SendDlgItemMessageA(StatusWindow, IDC_STATUS_LIST, LB_ADDSTRING, 0, (LPARAM)text);
    if (index >= 0)
        SendDlgItemMessageA(StatusWindow, IDC_STATUS_LIST, LB_SETTOPINDEX, (WPARAM)index, 0);
}

void SetStatusTimer(void* window, uint32_t seconds)
{
    char text[64];
    FormatTimerText(text, sizeof text, seconds);
    SetDlgItemTextA(static_cast<HWND>(window), IDC_STATUS_TIMER, text);
}
