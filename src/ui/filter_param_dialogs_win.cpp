// Parameter dialogs per kind (mask size, mask size and factor, one value, three levels, two
// percentages) and the modality dialog. Start values, ranges and read-back rules come from
// the filter catalogue and the editor's model; each dialog fills its controls when it opens
// and writes the entry only on OK. A slider's number box follows the slider, and a number typed
// into the box moves the slider (which clamps it to its range).
#include "ui/filter_param_dialogs_win.h"

#include <commctrl.h>

#include "base/host_context.h"
#include "base/text.h"
#include "imaging/filter_catalogue.h"
#include "resources/resource.h"
#include "ui/filter_list_model.h"

namespace {

struct ParamDialog {
    FilterEntry* entry;
    FilterParamKind kind;
    const FilterCatalogueRow* row;
};

int TemplateFor(FilterParamKind kind)
{
    switch (kind) {
    case FilterParamKind::MaskSize: return IDD_FILTER_MASK;
    case FilterParamKind::MaskSizeAndFactor: return IDD_FILTER_MASK_FACTOR;
    case FilterParamKind::OneValue: return IDD_FILTER_ONE_VALUE;
    case FilterParamKind::ThreeLevels: return IDD_FILTER_LEVELS;
    case FilterParamKind::TwoPercentages: return IDD_FILTER_PERCENTAGES;
    default: return 0;
    }
}

void FillMaskSizes(HWND dialog, int32_t type, int32_t maximum, int32_t stored)
{
    HWND combo = GetDlgItem(dialog, IDC_PARAM_MASK);
    const int32_t select = MaskSizeToSelect(type, stored);
    for (int32_t size = kMinMask; size <= maximum; size += 2) {
        char text[16];
        FormatText(text, sizeof text, "%d x %d", (int)size, (int)size);
        LRESULT at = SendMessageA(combo, CB_ADDSTRING, 0, (LPARAM)text);
        SendMessageA(combo, CB_SETITEMDATA, at, size);
        if (size == select)
            SendMessageA(combo, CB_SETCURSEL, at, 0);
    }
}

int32_t SelectedMaskSize(HWND dialog)
{
    HWND combo = GetDlgItem(dialog, IDC_PARAM_MASK);
    LRESULT at = SendMessageA(combo, CB_GETCURSEL, 0, 0);
    return MaskSizeReadBack(at == CB_ERR ? 0 : (int32_t)SendMessageA(combo, CB_GETITEMDATA, at, 0));
}

void SetUpSlider(HWND dialog, int32_t minimum, int32_t maximum, int32_t position)
{
    HWND slider = GetDlgItem(dialog, IDC_PARAM_SLIDER);
    SendMessageA(slider, TBM_SETRANGEMIN, FALSE, minimum);
    SendMessageA(slider, TBM_SETRANGEMAX, FALSE, maximum);
    SendMessageA(slider, TBM_SETPAGESIZE, 0, SliderPageSize(minimum, maximum));
    SendMessageA(slider, TBM_SETPOS, TRUE, position);
    SetDlgItemInt(dialog, IDC_PARAM_VALUE, (UINT)position, TRUE);
}

int32_t SliderPosition(HWND dialog)
{
    return (int32_t)SendDlgItemMessageA(dialog, IDC_PARAM_SLIDER, TBM_GETPOS, 0, 0);
}

void SetUpSpin(HWND dialog, int spin, int32_t minimum, int32_t maximum)
{
    SendDlgItemMessageA(dialog, spin, UDM_SETRANGE32, minimum, maximum);
}

int32_t ReadUnsigned(HWND dialog, int id)
{
    BOOL ok = FALSE;
    UINT value = GetDlgItemInt(dialog, id, &ok, FALSE);
    return ok ? (int32_t)value : 0;
}

void InitParamDialog(HWND dialog, const ParamDialog& p)
{
    const FilterEntry& e = *p.entry;
    SetWindowTextA(dialog, FilterCaption(e.type));
    switch (p.kind) {
    case FilterParamKind::MaskSize: FillMaskSizes(dialog, e.type, MaskSizeMaximum(e.type), e.param1); break;
    case FilterParamKind::MaskSizeAndFactor:
        FillMaskSizes(dialog, e.type, MaskSizeMaximum(e.type), e.param1);
        SetUpSlider(dialog, p.row->editorMin[1], p.row->editorMax[1],
                    SliderStart(e.param2, p.row->editorIfZero[1], p.row->editorMin[1], p.row->editorMax[1]));
        break;
    case FilterParamKind::OneValue:
        SetDlgItemTextA(dialog, IDC_PARAM_LABEL, OneValueLabel(e.type));
        SetDlgItemTextA(dialog, IDC_PARAM_RANGE, OneValueRangeText(e.type));
        SetUpSlider(dialog, p.row->editorMin[0], p.row->editorMax[0],
                    SliderStart(e.param1, p.row->editorIfZero[0], p.row->editorMin[0], p.row->editorMax[0]));
        break;
    case FilterParamKind::ThreeLevels: {
        const bool percent = e.type == FilterLevelPercent;
        SetDlgItemTextA(dialog, IDC_PARAM_LABEL1, percent ? "Minimum Level Percent" : "Minimum Level");
        SetDlgItemTextA(dialog, IDC_PARAM_LABEL2, percent ? "Pivot Percent" : "Pivot");
        SetDlgItemTextA(dialog, IDC_PARAM_LABEL3, percent ? "High Level Percent" : "High Level");
        SetDlgItemTextA(dialog, IDC_PARAM_RANGE,
                        percent ? "Level percentage ranges from 0 to 100" : "Level ranges from 0 to 255");
        const int spins[3] = {IDC_PARAM_SPIN1, IDC_PARAM_SPIN2, IDC_PARAM_SPIN3};
        const int boxes[3] = {IDC_PARAM_LEVEL1, IDC_PARAM_LEVEL2, IDC_PARAM_LEVEL3};
        const int32_t values[3] = {e.param1, e.param2, e.param3};
        for (int i = 0; i < 3; i++) {
            SetUpSpin(dialog, spins[i], p.row->editorMin[i], p.row->editorMax[i]);
            SetDlgItemInt(dialog, boxes[i], (UINT)values[i], TRUE);
        }
        break;
    }
    case FilterParamKind::TwoPercentages:
        SetUpSpin(dialog, IDC_PARAM_SPIN1, 0, 50);
        SetUpSpin(dialog, IDC_PARAM_SPIN2, 0, 50);
        SetDlgItemInt(dialog, IDC_PARAM_LEVEL1, (UINT)(e.param1 ? e.param1 : 2), TRUE);
        SetDlgItemInt(dialog, IDC_PARAM_LEVEL2, (UINT)(e.param2 ? e.param2 : 2), TRUE);
        break;
    case FilterParamKind::None: break;
    }
}

void StoreParamDialog(HWND dialog, const ParamDialog& p)
{
    FilterEntry& e = *p.entry;
    switch (p.kind) {
    case FilterParamKind::MaskSize: e.param1 = SelectedMaskSize(dialog); break;
    case FilterParamKind::MaskSizeAndFactor:
        e.param1 = SelectedMaskSize(dialog);
        e.param2 = SliderPosition(dialog);
        break;
    case FilterParamKind::OneValue: e.param1 = SliderPosition(dialog); break;
    case FilterParamKind::ThreeLevels:
        e.param1 = ReadUnsigned(dialog, IDC_PARAM_LEVEL1);
        e.param2 = ReadUnsigned(dialog, IDC_PARAM_LEVEL2);
        e.param3 = ReadUnsigned(dialog, IDC_PARAM_LEVEL3);
        break;
    case FilterParamKind::TwoPercentages:
        e.param1 = PercentageReadBack(ReadUnsigned(dialog, IDC_PARAM_LEVEL1));
        e.param2 = PercentageReadBack(ReadUnsigned(dialog, IDC_PARAM_LEVEL2));
        break;
    case FilterParamKind::None: break;
    }
}

INT_PTR CALLBACK ParamProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    const ParamDialog* p = reinterpret_cast<const ParamDialog*>(GetWindowLongPtrA(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG:
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        InitParamDialog(dialog, *reinterpret_cast<const ParamDialog*>(lParam));
        return TRUE;
    case WM_HSCROLL:
        if ((HWND)lParam == GetDlgItem(dialog, IDC_PARAM_SLIDER))
            SetDlgItemInt(dialog, IDC_PARAM_VALUE, (UINT)SliderPosition(dialog), TRUE);
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_PARAM_VALUE:
            // Only what the user types moves the slider; the box's own updates do not.
            if (HIWORD(wParam) == EN_CHANGE && GetFocus() == (HWND)lParam) {
                BOOL ok = FALSE;
                int value = (int)GetDlgItemInt(dialog, IDC_PARAM_VALUE, &ok, TRUE);
                if (ok)
                    SendDlgItemMessageA(dialog, IDC_PARAM_SLIDER, TBM_SETPOS, TRUE, value);
            }
            return TRUE;
        case IDOK:
            if (p)
                StoreParamDialog(dialog, *p);
            EndDialog(dialog, 1);
            return TRUE;
        case IDCANCEL: EndDialog(dialog, 0); return TRUE;
        }
        return FALSE;
    default: return FALSE;
    }
}

struct ModalityDialog {
    FilterEntry* entry;
};

INT_PTR CALLBACK ModalityProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        const FilterEntry& e = *reinterpret_cast<const ModalityDialog*>(lParam)->entry;
        char prompt[200];
        FormatText(prompt, sizeof prompt,
                   "Please select the Modality that should be associated with the '%s' filter.",
                   FilterDisplayName(e.type));
        SetDlgItemTextA(dialog, IDC_MODALITY_PROMPT, prompt);
        HWND box = GetDlgItem(dialog, IDC_MODALITY_TEXT);
        SendMessageA(box, EM_LIMITTEXT, 31, 0);
        char current[8];
        CopyText(current, sizeof current, e.modality);
        SetWindowTextA(box, current[0] ? current : "IO");
        SetFocus(box);
        SendMessageA(box, EM_SETSEL, 0, -1);
        return FALSE;
    }
    if (message != WM_COMMAND)
        return FALSE;
    if (LOWORD(wParam) == IDOK) {
        auto* m = reinterpret_cast<ModalityDialog*>(GetWindowLongPtrA(dialog, DWLP_USER));
        char typed[32] = "";
        GetDlgItemTextA(dialog, IDC_MODALITY_TEXT, typed, sizeof typed);
        ModalityFromTyped(typed, m->entry->modality);
        EndDialog(dialog, 1);
        return TRUE;
    }
    if (LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, 0);
        return TRUE;
    }
    return FALSE;
}

}  // namespace

bool EditFilterParams(HWND owner, FilterEntry* entry)
{
    ParamDialog p = {entry, FilterKind(entry->type), FindFilterRow(entry->type)};
    const int resource = TemplateFor(p.kind);
    if (!resource || !p.row)
        return false;
    return DialogBoxParamA((HINSTANCE)ModuleInstance, MAKEINTRESOURCEA(resource), owner, ParamProc,
                           (LPARAM)&p)
           == 1;
}

bool EditFilterModality(HWND owner, FilterEntry* entry)
{
    ModalityDialog m = {entry};
    return DialogBoxParamA((HINSTANCE)ModuleInstance, MAKEINTRESOURCEA(IDD_FILTER_MODALITY), owner,
                           ModalityProc, (LPARAM)&m)
           == 1;
}
