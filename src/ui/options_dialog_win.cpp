// The options dialog: the main window with its tab control and the three pages, which share
// one dialog procedure and the OptionsContext. The working copy is loaded when the dialog
// opens; OK stores every page into it, writes it into the host's blob and saves settings.dat;
// Cancel leaves both as they were. A dialog that cannot be opened is logged and counts as
// cancelled.
#include <windows.h>
#include <commctrl.h>

#include <cstring>

#include "base/host_context.h"
#include "base/log.h"
#include "resources/resource.h"
#include "settings/settings.h"
#include "ui/comctl_context_win.h"
#include "ui/filter_editor.h"
#include "ui/options_model.h"
#include "ui/options_pages_win.h"

namespace {

const int kPageTemplates[3] = {IDD_OPTIONS_IMAGING, IDD_OPTIONS_HARDWARE, IDD_OPTIONS_CALIBRATION};
const char* const kTabNames[3] = {"Imaging", "Hardware", "Default Calibration"};

OptionsContext* ContextOf(HWND window)
{
    return reinterpret_cast<OptionsContext*>(GetWindowLongPtrA(window, DWLP_USER));
}

HWND Page(const OptionsContext* context, int page)
{
    return static_cast<HWND>(context->pages[page]);
}

bool Checked(HWND page, int id)
{
    return IsDlgButtonChecked(page, id) == BST_CHECKED;
}

void LoadImagingPage(HWND page, const NyraSettings& s)
{
    CheckDlgButton(page, IDC_IMG_APPLY_FILTERING, s.applyImageFiltering ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(page, IDC_IMG_SAVE_RAW, s.saveRawImage ? BST_CHECKED : BST_UNCHECKED);
    CheckDlgButton(page, IDC_IMG_SHOW_INDICATOR, s.hideExposureIndicator ? BST_UNCHECKED : BST_CHECKED);
}

void StoreImagingPage(HWND page, NyraSettings* s)
{
    s->applyImageFiltering = Checked(page, IDC_IMG_APPLY_FILTERING) ? 1 : 0;
    s->saveRawImage = Checked(page, IDC_IMG_SAVE_RAW) ? 1 : 0;
    s->hideExposureIndicator = Checked(page, IDC_IMG_SHOW_INDICATOR) ? 0 : 1;
}

void LoadCalibrationPage(HWND page, const NyraSettings& s)
{
    char text[64];
    FormatCalibrationFactor(s.imageCalibration, text, sizeof text);
    SetDlgItemTextA(page, IDC_CAL_FACTOR, text);
}

void StoreCalibrationPage(HWND page, NyraSettings* s)
{
    char text[32] = "";
    GetDlgItemTextA(page, IDC_CAL_FACTOR, text, sizeof text);
    s->imageCalibration = ParseCalibrationFactor(text);
}

void ShowPage(HWND dialog, OptionsContext* context)
{
    int selected = TabCtrl_GetCurSel(GetDlgItem(dialog, IDC_OPTIONS_TAB));
    for (int i = 0; i < 3; i++)
        ShowWindow(Page(context, i), i == selected ? SW_SHOW : SW_HIDE);
}

INT_PTR CALLBACK PageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrA(page, DWLP_USER, lParam);
        return FALSE;
    }
    OptionsContext* context = ContextOf(page);
    if (message != WM_COMMAND || !context)
        return FALSE;
    const int id = LOWORD(wParam), code = HIWORD(wParam);
    if (id == IDC_IMG_MODIFY_FILTERS && code == BN_CLICKED) {
        ShowFilterEditor(page, &context->settings);
        return TRUE;
    }
    return HardwarePageCommand(page, context, id, code) ? TRUE : FALSE;
}

void PlacePages(HWND dialog, OptionsContext* context)
{
    HWND tab = GetDlgItem(dialog, IDC_OPTIONS_TAB);
    RECT area;
    GetWindowRect(tab, &area);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&area), 2);
    TabCtrl_AdjustRect(tab, FALSE, &area);
    // Each page goes right after the tab control in the z-order, so Tab moves from the tabs
    // into the shown page and on to OK and Cancel, as the window reads.
    for (int i = 0; i < 3; i++)
        SetWindowPos(Page(context, i), tab, area.left, area.top, area.right - area.left,
                     area.bottom - area.top, SWP_NOACTIVATE);
}

void InitOptionsDialog(HWND dialog, OptionsContext* context)
{
    NyraLoadSettings(context->blob, &context->settings);
    SetDlgItemTextA(dialog, IDC_OPTIONS_VERSION, kOptionsVersionText);
    if (HICON icon = LoadIconA((HINSTANCE)ModuleInstance, MAKEINTRESOURCEA(IDI_NYRA)))
        SendMessageA(dialog, WM_SETICON, ICON_BIG, (LPARAM)icon);

    HWND tab = GetDlgItem(dialog, IDC_OPTIONS_TAB);
    for (int i = 0; i < 3; i++) {
        TCITEMA item = {};
        item.mask = TCIF_TEXT;
        item.pszText = const_cast<char*>(kTabNames[i]);
        SendMessageA(tab, TCM_INSERTITEMA, i, (LPARAM)&item);
    }
    for (int i = 0; i < 3; i++)
        context->pages[i] = CreateDialogParamA((HINSTANCE)ModuleInstance, MAKEINTRESOURCEA(kPageTemplates[i]),
                                               dialog, PageProc, (LPARAM)context);

    LoadImagingPage(Page(context, OptionsPageImaging), context->settings);
    LoadHardwarePage(Page(context, OptionsPageHardware), context);
    LoadCalibrationPage(Page(context, OptionsPageCalibration), context->settings);
    PlacePages(dialog, context);
    TabCtrl_SetCurSel(tab, OptionsPageHardware);
    ShowPage(dialog, context);
}

void OnOk(HWND dialog, OptionsContext* context)
{
    NyraSettings& s = context->settings;
    StoreImagingPage(Page(context, OptionsPageImaging), &s);
    StoreHardwarePage(Page(context, OptionsPageHardware), context);
    StoreCalibrationPage(Page(context, OptionsPageCalibration), &s);
    SaveOptions(dialog, context);
    const int model = s.sensorModel >= 0 && s.sensorModel < kModelCount ? s.sensorModel : 0;
    const SensorModelParams& m = s.models[model];
    LogTrace("Options saved: model=%d mode=%d start=%d stop=%d integ=%dms retType=%d corners=%d timeout=%ds",
             (int)s.sensorModel, (int)m.integrationMode, (int)m.startThreshold, (int)m.stopThreshold,
             (int)m.integrationTimeMs, (int)s.imageReturnType, (int)s.makeCornersBlack,
             (int)s.captureTimeoutSeconds);
    EndDialog(dialog, 1);
}

INT_PTR CALLBACK OptionsProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_INITDIALOG: {
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        InitOptionsDialog(dialog, reinterpret_cast<OptionsContext*>(lParam));
        return TRUE;
    }
    case WM_NOTIFY: {
        const NMHDR* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header->idFrom == IDC_OPTIONS_TAB && header->code == TCN_SELCHANGE && ContextOf(dialog))
            ShowPage(dialog, ContextOf(dialog));
        return TRUE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDOK && ContextOf(dialog)) {
            OnOk(dialog, ContextOf(dialog));
            return TRUE;
        }
        if (LOWORD(wParam) == IDCANCEL) {
            EndDialog(dialog, 0);
            return TRUE;
        }
        return FALSE;
    default: return FALSE;
    }
}

}  // namespace

bool SaveOptions(HWND owner, OptionsContext* context)
{
    if (context->blob)
        WriteSettingsIntoBlob(context->blob, context->settings);
    if (NyraPersistSave(&context->settings))
        return true;
    char path[kPathChars] = "settings.dat";
    SettingsFilePath(path);
    char text[kPathChars + 96];
    FormatText(text, sizeof text,
               "The options could not be saved to\r\n%s\r\n\r\nThe previous settings file is unchanged.",
               path);
    MessageBoxA(owner, text, "Digital Xray Options", MB_OK | MB_ICONWARNING);
    return false;
}

int32_t ShowOptionsDialog(OptionsContext* context, void* owner)
{
    ComCtlV6Scope v6;
    INITCOMMONCONTROLSEX classes = {sizeof classes, ICC_LISTVIEW_CLASSES | ICC_BAR_CLASSES | ICC_TAB_CLASSES
                                                        | ICC_UPDOWN_CLASS | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&classes);
    INT_PTR result = DialogBoxParamA((HINSTANCE)ModuleInstance, MAKEINTRESOURCEA(IDD_OPTIONS), (HWND)owner,
                                     OptionsProc, (LPARAM)context);
    if (result == -1) {
        LogTrace("ShowOptionsDialog: DialogBoxParam failed (GetLastError=%lu)",
                 (unsigned long)GetLastError());
        return -1;
    }
    return result == 1 ? 1 : 0;
}
