// The filter list editor, "Enhancement Options": a list view of the working copy, a popup
// menu rebuilt each time it opens (from the "Filter Options" button, unfolding upwards from
// its top-left corner, from a right click at the mouse with the clicked item selected first,
// or from the keyboard's context-menu key at the selected item) whose command runs at once,
// and double clicks that edit an item's parameters. The settings record is written only on OK.
#include "ui/filter_editor.h"

#include <windows.h>
#include <commctrl.h>

#include "base/host_context.h"
#include "resources/resource.h"
#include "ui/filter_list_model.h"
#include "ui/filter_param_dialogs_win.h"

namespace {

struct Editor {
    NyraSettings* settings;
    FilterListModel list;
};

struct Column {
    const char* title;
    int width;  // pixels
};
const Column kColumns[] = {
    {"Macro", 150},  {"Modality Restriction", 110}, {"Parameters", 180}, {"Apply To Hardware", 90},
    {"Exclude", 50},
};

Editor* EditorOf(HWND dialog)
{
    return reinterpret_cast<Editor*>(GetWindowLongPtrA(dialog, DWLP_USER));
}

HWND ListOf(HWND dialog)
{
    return GetDlgItem(dialog, IDC_FILTER_LIST);
}

void SetCell(HWND list, int item, int column, const char* text)
{
    LVITEMA cell = {};
    cell.iSubItem = column;
    cell.pszText = const_cast<char*>(text);
    SendMessageA(list, LVM_SETITEMTEXTA, item, (LPARAM)&cell);
}

void FillList(HWND dialog, const FilterListModel& model)
{
    HWND list = ListOf(dialog);
    SendMessageA(list, LVM_DELETEALLITEMS, 0, 0);
    for (int32_t i = 0; i < model.count; i++) {
        const FilterEntry& e = model.entries[i];
        LVITEMA item = {};
        item.mask = LVIF_TEXT;
        item.iItem = i;
        item.pszText = const_cast<char*>(FilterDisplayName(e.type));
        SendMessageA(list, LVM_INSERTITEMA, 0, (LPARAM)&item);
        char params[kParamTextSize];
        FormatFilterParams(e, params, sizeof params);
        SetCell(list, i, 1, FilterModalityColumn(e));
        SetCell(list, i, 2, params);
        SetCell(list, i, 3, "-");
        SetCell(list, i, 4, "-");
    }
}

int32_t SelectedItem(HWND dialog)
{
    return (int32_t)SendMessageA(ListOf(dialog), LVM_GETNEXTITEM, (WPARAM)-1, LVNI_SELECTED);
}

void SelectItem(HWND dialog, int32_t index)
{
    HWND list = ListOf(dialog);
    LVITEMA state = {};
    state.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(list, LVM_SETITEMSTATE, (WPARAM)-1, (LPARAM)&state);
    if (index < 0)
        return;
    state.state = LVIS_SELECTED | LVIS_FOCUSED;
    SendMessageA(list, LVM_SETITEMSTATE, index, (LPARAM)&state);
    SendMessageA(list, LVM_ENSUREVISIBLE, index, FALSE);
}

void Refresh(HWND dialog, Editor* editor, int32_t select)
{
    FillList(dialog, editor->list);
    SelectItem(dialog, select);
}

HMENU BuildMenu(const FilterListModel& model, int32_t selected)
{
    HMENU add = CreatePopupMenu();
    for (int32_t type = 0; type < kFilterTypeCount; type++) {
        AppendMenuA(add, MF_STRING, IDM_FILTER_ADD_BASE + type, FilterMenuName(type));
        if (FilterMenuSeparatorAfter(type))
            AppendMenuA(add, MF_SEPARATOR, 0, nullptr);
    }
    const FilterMenuState state = FilterMenuStateFor(model.count, selected);
    auto flags = [](bool enabled) { return MF_STRING | (enabled ? MF_ENABLED : MF_GRAYED); };
    HMENU menu = CreatePopupMenu();
    AppendMenuA(menu, MF_POPUP, (UINT_PTR)add, "Add New Filter");
    AppendMenuA(menu, flags(state.edit), IDM_FILTER_EDIT, "Edit Selected Filter");
    AppendMenuA(menu, flags(state.modality), IDM_FILTER_MODALITY, "Edit Selected Filter's Affected Modality");
    AppendMenuA(menu, flags(state.remove), IDM_FILTER_DELETE, "Delete Selected Filter");
    AppendMenuA(menu, MF_STRING, IDM_FILTER_DELETE_ALL, "Delete All Filters");
    AppendMenuA(menu, flags(state.moveUp), IDM_FILTER_MOVE_UP, "Move Up");
    AppendMenuA(menu, flags(state.moveDown), IDM_FILTER_MOVE_DOWN, "Move Down");
    AppendMenuA(menu, MF_STRING, IDM_FILTER_RESET, "Reset To Defaults");
    return menu;
}

void RunCommand(HWND dialog, Editor* editor, int command)
{
    FilterListModel& model = editor->list;
    const int32_t selected = SelectedItem(dialog);
    if (command >= IDM_FILTER_ADD_BASE && command < IDM_FILTER_ADD_BASE + kFilterTypeCount) {
        int32_t added = FilterListAdd(&model, command - IDM_FILTER_ADD_BASE);
        if (added >= 0)
            Refresh(dialog, editor, added);
        return;
    }
    const bool valid = selected >= 0 && selected < model.count;
    switch (command) {
    case IDM_FILTER_EDIT:
        if (valid && EditFilterParams(dialog, &model.entries[selected]))
            Refresh(dialog, editor, selected);
        break;
    case IDM_FILTER_MODALITY:
        if (valid && EditFilterModality(dialog, &model.entries[selected]))
            Refresh(dialog, editor, selected);
        break;
    case IDM_FILTER_DELETE:
        if (valid)
            Refresh(dialog, editor, FilterListDelete(&model, selected));
        break;
    case IDM_FILTER_DELETE_ALL:
        if (MessageBoxA(dialog, "Delete all filters?", "Filter Options", MB_YESNO | MB_ICONQUESTION)
            == IDYES) {
            FilterListDeleteAll(&model);
            Refresh(dialog, editor, -1);
        }
        break;
    case IDM_FILTER_MOVE_UP:
    case IDM_FILTER_MOVE_DOWN: {
        int32_t moved = FilterListMove(&model, selected, command == IDM_FILTER_MOVE_UP ? -1 : 1);
        if (moved >= 0)
            Refresh(dialog, editor, moved);
        break;
    }
    case IDM_FILTER_RESET:
        FilterListReset(&model);
        Refresh(dialog, editor, -1);
        break;
    }
}

void OpenMenu(HWND dialog, Editor* editor, int x, int y, UINT align)
{
    HMENU menu = BuildMenu(editor->list, SelectedItem(dialog));
    int command = TrackPopupMenu(menu, align | TPM_LEFTALIGN | TPM_RIGHTBUTTON | TPM_RETURNCMD, x, y, 0,
                                 dialog, nullptr);
    DestroyMenu(menu);
    if (command)
        RunCommand(dialog, editor, command);
}

void OpenMenuFromButton(HWND dialog, Editor* editor)
{
    RECT button;
    GetWindowRect(GetDlgItem(dialog, IDC_FILTER_OPTIONS), &button);
    OpenMenu(dialog, editor, button.left, button.top, TPM_BOTTOMALIGN);
}

void OpenMenuFromRightClick(HWND dialog, Editor* editor, const NMITEMACTIVATE& click)
{
    if (click.iItem >= 0)
        SelectItem(dialog, click.iItem);
    POINT at = click.ptAction;
    ClientToScreen(ListOf(dialog), &at);
    OpenMenu(dialog, editor, at.x, at.y, TPM_TOPALIGN);
}

// The context-menu key or Shift+F10: the menu opens at the selected item, or at the list's
// top-left corner when nothing is selected.
void OpenMenuFromKeyboard(HWND dialog, Editor* editor)
{
    HWND list = ListOf(dialog);
    POINT at = {0, 0};
    int32_t selected = SelectedItem(dialog);
    RECT item = {};
    item.left = LVIR_LABEL;
    if (selected >= 0 && SendMessageA(list, LVM_GETITEMRECT, selected, (LPARAM)&item))
        at = {item.left, item.bottom};
    ClientToScreen(list, &at);
    OpenMenu(dialog, editor, at.x, at.y, TPM_TOPALIGN);
}

void InitEditor(HWND dialog, Editor* editor)
{
    HWND list = ListOf(dialog);
    SendMessageA(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES,
                 LVS_EX_FULLROWSELECT | LVS_EX_GRIDLINES);
    for (int i = 0; i < (int)(sizeof kColumns / sizeof kColumns[0]); i++) {
        LVCOLUMNA column = {};
        column.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_SUBITEM;
        column.pszText = const_cast<char*>(kColumns[i].title);
        column.cx = kColumns[i].width;
        column.iSubItem = i;
        SendMessageA(list, LVM_INSERTCOLUMNA, i, (LPARAM)&column);
    }
    FillList(dialog, editor->list);
}

INT_PTR OnNotify(HWND dialog, Editor* editor, const NMHDR& header)
{
    if (header.idFrom != IDC_FILTER_LIST)
        return FALSE;
    const NMITEMACTIVATE& click = reinterpret_cast<const NMITEMACTIVATE&>(header);
    if (header.code == NM_RCLICK) {
        OpenMenuFromRightClick(dialog, editor, click);
        SetWindowLongPtrA(dialog, DWLP_MSGRESULT, TRUE);  // handled: no WM_CONTEXTMENU after it
        return TRUE;
    }
    if (header.code == NM_DBLCLK && click.iItem >= 0) {
        SelectItem(dialog, click.iItem);
        RunCommand(dialog, editor, IDM_FILTER_EDIT);
        return TRUE;
    }
    return FALSE;
}

INT_PTR CALLBACK EditorProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    Editor* editor = EditorOf(dialog);
    switch (message) {
    case WM_INITDIALOG:
        SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        InitEditor(dialog, reinterpret_cast<Editor*>(lParam));
        return TRUE;
    case WM_NOTIFY: return editor ? OnNotify(dialog, editor, *reinterpret_cast<const NMHDR*>(lParam)) : FALSE;
    case WM_CONTEXTMENU:
        if (editor && (HWND)wParam == ListOf(dialog)) {
            if (lParam == -1)
                OpenMenuFromKeyboard(dialog, editor);
            else
                OpenMenu(dialog, editor, (short)LOWORD(lParam), (short)HIWORD(lParam), TPM_TOPALIGN);
            return TRUE;
        }
        return FALSE;
    case WM_COMMAND: {
        const int id = LOWORD(wParam);
        if (!editor)
            return FALSE;
        if (id == IDC_FILTER_OPTIONS && HIWORD(wParam) == BN_CLICKED)
            OpenMenuFromButton(dialog, editor);
        else if (id == IDOK) {
            FilterListToSettings(editor->list, editor->settings);
            EndDialog(dialog, 1);
        } else if (id == IDCANCEL)
            EndDialog(dialog, 0);
        else if (id >= IDM_FILTER_ADD_BASE && id <= IDM_FILTER_RESET)
            RunCommand(dialog, editor, id);  // menu commands sent as messages, like a chosen item
        else
            return FALSE;
        return TRUE;
    }
    default: return FALSE;
    }
}

}  // namespace

int32_t ShowFilterEditor(void* owner, NyraSettings* settings)
{
    Editor editor;
    editor.settings = settings;
    FilterListFromSettings(&editor.list, *settings);
    INT_PTR result = DialogBoxParamA((HINSTANCE)ModuleInstance, MAKEINTRESOURCEA(IDD_FILTER_EDITOR),
                                     (HWND)owner, EditorProc, (LPARAM)&editor);
    return result == 1 ? 1 : 0;
}
