// The options dialog's Hardware page: sensor flags, suspend, timeout, image return type, the
// per-model integration controls with the model switch that keeps each model's edits, the
// correction-file folder with its .CAL count and picker, and the two sensor tasks, which save
// the working copy first so that they run with what the user sees.
// Number fields accept digits only and read back 0 when empty; ValidateSettings applies the
// limits when the copy is written. A combo without a selection reads back 0.
#include <windows.h>
#include <shlobj.h>

#include <initializer_list>

#include "base/text.h"
#include "capture/sensor_tasks.h"
#include "resources/resource.h"
#include "ui/options_model.h"
#include "ui/options_pages_win.h"

namespace {

const char kSaturationNotice[] = "NOTE: To display x-ray saturation data, position the sensor directly in "
                                 "front of the x-ray tubehead, with no "
                                 "object in between. You will have five (5) seconds to expose the sensor "
                                 "after you start the capture. Please do "
                                 "NOT unplug the sensor during this process. Also, any changes made to these "
                                 "options will be saved as if you "
                                 "pressed the 'OK' button. Do you want to continue?";

struct FlagControl {
    int id;
    int32_t NyraSettings::*field;
};
const FlagControl kFlags[] = {
    {IDC_HW_SHOW_SWITCH, &NyraSettings::showSwitchSensorButton},
    {IDC_HW_CLOSE_EACH, &NyraSettings::closeHardwareEachCapture},
    {IDC_HW_CLOSE_LAYOUT, &NyraSettings::closeHardwareAfterLayout},
    {IDC_HW_CORNERS_BLACK, &NyraSettings::makeCornersBlack},
    {IDC_HW_LOGGING, &NyraSettings::enableLogging},
    {IDC_HW_ALLOW_SUSPEND, &NyraSettings::allowSuspend},
};

// Five digits hold every threshold and time the sensor takes, and cannot overflow on read.
constexpr int kNumberDigits = 5;

void FillCombo(HWND page, int id, const ComboTable& table, int32_t value)
{
    HWND combo = GetDlgItem(page, id);
    SendMessageA(combo, CB_RESETCONTENT, 0, 0);
    for (int32_t i = 0; i < table.count; i++) {
        LRESULT at = SendMessageA(combo, CB_ADDSTRING, 0, (LPARAM)table.items[i].text);
        SendMessageA(combo, CB_SETITEMDATA, at, table.items[i].value);
    }
    SendMessageA(combo, CB_SETCURSEL, ComboIndexForValue(table, value), 0);
}

// The value of the selected item; 0 when nothing is selected.
int32_t ComboValue(HWND page, int id)
{
    HWND combo = GetDlgItem(page, id);
    LRESULT at = SendMessageA(combo, CB_GETCURSEL, 0, 0);
    return at == CB_ERR ? 0 : (int32_t)SendMessageA(combo, CB_GETITEMDATA, at, 0);
}

int32_t ReadNumber(HWND page, int id)
{
    BOOL ok = FALSE;
    UINT value = GetDlgItemInt(page, id, &ok, FALSE);
    return ok ? (int32_t)value : 0;
}

SensorModelParams& StoredModel(OptionsContext* context)
{
    int32_t model = context->settings.sensorModel;
    return context->settings.models[model >= 0 && model < kModelCount ? model : 0];
}

void UpdateModeControls(HWND page)
{
    HWND combo = GetDlgItem(page, IDC_HW_MODE);
    ModeControls state = ModeControlsFor(
        SendMessageA(combo, CB_GETCURSEL, 0, 0) == CB_ERR ? -1 : ComboValue(page, IDC_HW_MODE));
    const int start[] = {IDC_HW_START, IDC_HW_START_LABEL}, stop[] = {IDC_HW_STOP, IDC_HW_STOP_LABEL},
              time[] = {IDC_HW_TIME, IDC_HW_TIME_LABEL};
    for (int id : start)
        EnableWindow(GetDlgItem(page, id), state.startEnabled);
    for (int id : stop)
        EnableWindow(GetDlgItem(page, id), state.stopEnabled);
    for (int id : time)
        EnableWindow(GetDlgItem(page, id), state.timeEnabled);
    SetDlgItemTextA(page, IDC_HW_MODE_TEXT, state.description);
}

// Counts the files (not folders) named *.CAL in folder ("." when empty).
void CountCorrectionFiles(HWND page, const char* folder)
{
    char pattern[kPathChars + 8];
    FormatText(pattern, sizeof pattern, "%s\\*.CAL", folder && folder[0] ? folder : ".");
    int32_t count = 0;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                count++;
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    char text[48];
    FormatCorrectionFileCount(count, text, sizeof text);
    SetDlgItemTextA(page, IDC_HW_CAL_COUNT, text);
}

void LoadModelControls(HWND page, const SensorModelParams& m)
{
    SendDlgItemMessageA(page, IDC_HW_MODE, CB_SETCURSEL,
                        ComboIndexForValue(kIntegrationModeCombo, m.integrationMode), 0);
    SetDlgItemInt(page, IDC_HW_START, (UINT)m.startThreshold, FALSE);
    SetDlgItemInt(page, IDC_HW_STOP, (UINT)m.stopThreshold, FALSE);
    SetDlgItemInt(page, IDC_HW_TIME, (UINT)m.integrationTimeMs, FALSE);
    SetDlgItemTextA(page, IDC_HW_CAL_FOLDER, m.correctionDir);
    UpdateModeControls(page);
    CountCorrectionFiles(page, m.correctionDir);
}

void StoreModelControls(HWND page, SensorModelParams* m)
{
    m->integrationMode = ComboValue(page, IDC_HW_MODE);
    m->startThreshold = ReadNumber(page, IDC_HW_START);
    m->stopThreshold = ReadNumber(page, IDC_HW_STOP);
    m->integrationTimeMs = ReadNumber(page, IDC_HW_TIME);
    GetDlgItemTextA(page, IDC_HW_CAL_FOLDER, m->correctionDir, kPathChars);
}

void OnModelChange(HWND page, OptionsContext* context)
{
    StoreModelControls(page, &StoredModel(context));
    context->settings.sensorModel = ComboValue(page, IDC_HW_MODEL);
    LoadModelControls(page, StoredModel(context));
}

int CALLBACK BrowseCallback(HWND window, UINT message, LPARAM, LPARAM start)
{
    if (message == BFFM_INITIALIZED && start)
        SendMessageA(window, BFFM_SETSELECTIONA, TRUE, start);
    return 0;
}

void OnBrowse(HWND page)
{
    char current[kPathChars] = "";
    GetDlgItemTextA(page, IDC_HW_CAL_FOLDER, current, sizeof current);
    BROWSEINFOA request = {};
    request.hwndOwner = page;
    request.lpszTitle = "Select correction file folder";
    request.ulFlags = BIF_RETURNONLYFSDIRS;
    request.lpfn = BrowseCallback;
    request.lParam = (LPARAM)current;
    LPITEMIDLIST chosen = SHBrowseForFolderA(&request);
    if (!chosen)
        return;
    char path[MAX_PATH];
    if (SHGetPathFromIDListA(chosen, path)) {
        SetDlgItemTextA(page, IDC_HW_CAL_FOLDER, path);
        CountCorrectionFiles(page, path);
    }
    CoTaskMemFree(chosen);
}

void OnCreateCorrectionFile(HWND page, OptionsContext* context)
{
    StoreHardwarePage(page, context);
    SaveOptions(page, context);
    BuildCorrectionFile(page);
    CountCorrectionFiles(page, StoredModel(context).correctionDir);
}

void OnSaturation(HWND page, OptionsContext* context)
{
    if (MessageBoxA(page, kSaturationNotice, "Display X-ray Saturation Information",
                    MB_YESNO | MB_ICONQUESTION)
        != IDYES)
        return;
    StoreHardwarePage(page, context);
    SaveOptions(page, context);
    NyraShowSaturation(page);
}

}  // namespace

void LoadHardwarePage(HWND page, OptionsContext* context)
{
    const NyraSettings& s = context->settings;
    for (const FlagControl& flag : kFlags)
        CheckDlgButton(page, flag.id, s.*flag.field ? BST_CHECKED : BST_UNCHECKED);
    for (int id : {IDC_HW_TIMEOUT, IDC_HW_START, IDC_HW_STOP, IDC_HW_TIME})
        SendDlgItemMessageA(page, id, EM_LIMITTEXT, kNumberDigits, 0);
    SendDlgItemMessageA(page, IDC_HW_CAL_FOLDER, EM_LIMITTEXT, kPathChars - 1, 0);
    SetDlgItemInt(page, IDC_HW_TIMEOUT, (UINT)s.captureTimeoutSeconds, FALSE);
    FillCombo(page, IDC_HW_SUSPEND, kSuspendCombo, s.suspendDelayMinutes);
    FillCombo(page, IDC_HW_MODEL, kModelCombo, s.sensorModel);
    FillCombo(page, IDC_HW_MODE, kIntegrationModeCombo, StoredModel(context).integrationMode);
    FillCombo(page, IDC_HW_RETURN_TYPE, kReturnTypeCombo, s.imageReturnType);
    FillCombo(page, IDC_HW_CAL_IMAGES, kCorrectionImagesCombo, (int32_t)s.correctionImageCount);
    LoadModelControls(page, StoredModel(context));
}

void StoreHardwarePage(HWND page, OptionsContext* context)
{
    NyraSettings& s = context->settings;
    for (const FlagControl& flag : kFlags)
        s.*flag.field = IsDlgButtonChecked(page, flag.id) == BST_CHECKED ? 1 : 0;
    s.captureTimeoutSeconds = ReadNumber(page, IDC_HW_TIMEOUT);
    s.suspendDelayMinutes = ComboValue(page, IDC_HW_SUSPEND);
    s.imageReturnType = ComboValue(page, IDC_HW_RETURN_TYPE);
    s.correctionImageCount = (uint32_t)ComboValue(page, IDC_HW_CAL_IMAGES);
    StoreModelControls(page, &StoredModel(context));
}

bool HardwarePageCommand(HWND page, OptionsContext* context, int id, int code)
{
    switch (id) {
    case IDC_HW_MODEL:
        if (code == CBN_SELCHANGE)
            OnModelChange(page, context);
        return true;
    case IDC_HW_MODE:
        if (code == CBN_SELCHANGE)
            UpdateModeControls(page);
        return true;
    case IDC_HW_BROWSE:
        if (code == BN_CLICKED)
            OnBrowse(page);
        return true;
    case IDC_HW_CREATE_CAL:
        if (code == BN_CLICKED)
            OnCreateCorrectionFile(page, context);
        return true;
    case IDC_HW_SATURATION:
        if (code == BN_CLICKED)
            OnSaturation(page, context);
        return true;
    default: return false;
    }
}
