// The filter list editor opened from the options dialog's Imaging page, driven by window
// messages: the list's columns, the popup menu from the button and from a right click, the
// commands, each kind of parameter dialog, the modality dialog, and Cancel against OK.
#include <windows.h>
#include <commctrl.h>
#include <gtest/gtest.h>

#include <cstring>

#include "exports/options_host_win.h"
#include "resources/resource.h"

namespace {

std::vector<std::string> Rows(HWND list)
{
    std::vector<std::string> rows;
    int count = (int)SendMessageA(list, LVM_GETITEMCOUNT, 0, 0);
    for (int i = 0; i < count; i++) {
        std::string row;
        for (int column = 0; column < 5; column++) {
            char text[200] = "";
            LVITEMA item = {};
            item.iSubItem = column;
            item.pszText = text;
            item.cchTextMax = sizeof text;
            SendMessageA(list, LVM_GETITEMTEXTA, i, (LPARAM)&item);
            row += (column ? " | " : "") + std::string(text);
        }
        rows.push_back(row);
    }
    return rows;
}

int Selected(HWND list)
{
    return (int)SendMessageA(list, LVM_GETNEXTITEM, (WPARAM)-1, LVNI_SELECTED);
}

bool Grayed(HMENU menu, int command)
{
    return (GetMenuState(menu, command, MF_BYCOMMAND) & MF_GRAYED) != 0;
}

UiScript::Step WaitForMenu(HWND* menu)
{
    return [=] { return (*menu = FindPopupMenu()) != nullptr; };
}

UiScript::Step MenuClosed()
{
    return [] { return FindPopupMenu() == nullptr; };
}

TEST(FilterEditor, MenuCommandsAndParameterDialogsThenCancelAndOk)
{
    OptionsHost o;
    HWND dialog = nullptr, img = nullptr, editor = nullptr, list = nullptr, menu = nullptr, param = nullptr;
    std::vector<std::string> initial;
    POINT click = {};
    UiScript script;
    auto openEditor = [&] {
        ClickTab(GetDlgItem(dialog, IDC_OPTIONS_TAB), 0);
        img = PageWith(dialog, IDC_IMG_MODIFY_FILTERS);
        Click(img, IDC_IMG_MODIFY_FILTERS);
    };
    script.then(WaitFor(&dialog, "Digital Xray Options"))
        .run(openEditor)
        .then(WaitFor(&editor, "Enhancement Options"))
        .run([&] {
            list = GetDlgItem(editor, IDC_FILTER_LIST);
            initial = Rows(list);
            ASSERT_EQ(initial.size(), 7u);
            EXPECT_EQ(initial[0], "Despeckle Noise Removal | None | Mask size = (5 x 5) | - | -");
            EXPECT_EQ(initial[4], "Gamma Correction | None | Factor = 0.75 | - | -");
            const int widths[5] = {150, 110, 180, 90, 50};
            for (int c = 0; c < 5; c++)
                EXPECT_EQ(SendMessageA(list, LVM_GETCOLUMNWIDTH, c, 0), widths[c]);
            Click(editor, IDC_FILTER_OPTIONS);
        })
        .then(WaitForMenu(&menu))
        .run([&] {
            HMENU items = (HMENU)SendMessageA(menu, MN_GETHMENU, 0, 0);
            EXPECT_EQ(GetMenuItemCount(items), 8);
            EXPECT_EQ(GetMenuItemCount(GetSubMenu(items, 0)), 24 + 4);  // four separators
            for (int command : {IDM_FILTER_EDIT, IDM_FILTER_MODALITY, IDM_FILTER_DELETE, IDM_FILTER_MOVE_UP,
                                IDM_FILTER_MOVE_DOWN})
                EXPECT_TRUE(Grayed(items, command)) << command;
            EXPECT_FALSE(Grayed(items, IDM_FILTER_DELETE_ALL));
            EXPECT_FALSE(Grayed(items, IDM_FILTER_RESET));
            RECT shown, button;
            GetWindowRect(menu, &shown);
            GetWindowRect(GetDlgItem(editor, IDC_FILTER_OPTIONS), &button);
            EXPECT_EQ(shown.bottom, button.top) << "the menu unfolds upwards from the button";
            EXPECT_EQ(shown.left, button.left);
            Screenshot(menu, "filter_menu");
            EndMenu();
        })
        .then(MenuClosed())
        .run([&] {
            RECT row = {LVIR_BOUNDS, 0, 0, 0};
            SendMessageA(list, LVM_GETITEMRECT, 2, (LPARAM)&row);
            click = {row.left + 40, (row.top + row.bottom) / 2};
            PostMessageA(list, WM_RBUTTONDOWN, MK_RBUTTON, MAKELPARAM(click.x, click.y));
            PostMessageA(list, WM_RBUTTONUP, 0, MAKELPARAM(click.x, click.y));
        })
        .then(WaitForMenu(&menu))
        .run([&] {
            EXPECT_EQ(Selected(list), 2) << "the clicked item is selected first";
            HMENU items = (HMENU)SendMessageA(menu, MN_GETHMENU, 0, 0);
            EXPECT_FALSE(Grayed(items, IDM_FILTER_EDIT));
            EXPECT_FALSE(Grayed(items, IDM_FILTER_MOVE_UP));
            RECT shown;
            GetWindowRect(menu, &shown);
            ClientToScreen(list, &click);
            EXPECT_EQ(shown.left, click.x);
            EXPECT_EQ(shown.top, click.y);
            EndMenu();
        })
        .then(MenuClosed())
        .run([&] { PostMessageA(editor, WM_CONTEXTMENU, (WPARAM)list, -1); })  // the context-menu key
        .then(WaitForMenu(&menu))
        .run([&] {
            RECT shown, label = {LVIR_LABEL, 0, 0, 0};
            GetWindowRect(menu, &shown);
            SendMessageA(list, LVM_GETITEMRECT, 2, (LPARAM)&label);
            POINT at = {label.left, label.bottom};
            ClientToScreen(list, &at);
            EXPECT_EQ(shown.left, at.x) << "the keyboard opens the menu at the selected item";
            EXPECT_EQ(shown.top, at.y);
            EndMenu();
        })
        .then(MenuClosed())
        .run([&] {
            while (Rows(list).size() < 32)
                SendMessageA(editor, WM_COMMAND, IDM_FILTER_ADD_BASE + FilterAdaptiveNormalization, 0);
            SendMessageA(editor, WM_COMMAND, IDM_FILTER_ADD_BASE + FilterGamma, 0);
            EXPECT_EQ(Rows(list).size(), 32u) << "a full list takes no more";
            EXPECT_EQ(FindDialog("Filter Options", true), nullptr) << "and says nothing";
            SelectRow(list, 1);
            SendMessageA(editor, WM_COMMAND, IDM_FILTER_MOVE_DOWN, 0);
            EXPECT_EQ(Selected(list), 2);
            SendMessageA(editor, WM_COMMAND, IDM_FILTER_DELETE, 0);  // Level Adjustment
            EXPECT_EQ(Rows(list).size(), 31u);
            EXPECT_EQ(Selected(list), 2);
            SelectRow(list, 3);
            Choose(editor, IDM_FILTER_EDIT);
        })
        .then(WaitFor(&param, "Gamma Correction"))
        .run([&] {
            EXPECT_EQ(SendDlgItemMessageA(param, IDC_PARAM_SLIDER, TBM_GETPOS, 0, 0), 75);
            EXPECT_EQ(TextOf(param, IDC_PARAM_VALUE), "75");
            EXPECT_EQ(TextOf(param, IDC_PARAM_RANGE), "1 to 1000 (x100: 50 = 0.50)");
            SetFocus(GetDlgItem(param, IDC_PARAM_VALUE));
            Type(param, IDC_PARAM_VALUE, "150");
            EXPECT_EQ(SendDlgItemMessageA(param, IDC_PARAM_SLIDER, TBM_GETPOS, 0, 0), 150);
            Type(param, IDC_PARAM_VALUE, "5000");
            Click(param, IDOK);
        })
        .then(Gone("Gamma Correction"))
        .run([&] {
            EXPECT_EQ(Rows(list)[3], "Gamma Correction | None | Factor = 10.00 | - | -");
            EXPECT_EQ(Selected(list), 3);
            SelectRow(list, 6);
            Choose(editor, IDM_FILTER_EDIT);
        })
        .then(WaitFor(&param, "Adaptive Normalization"))
        .run([&] {
            Type(param, IDC_PARAM_LEVEL1, "0");
            Type(param, IDC_PARAM_LEVEL2, "70");
            Click(param, IDOK);
        })
        .then(Gone("Adaptive Normalization"))
        .run([&] {
            EXPECT_EQ(
                Rows(list)[6],
                "Adaptive Normalization | None | Discard percentage low = 1.00%; Discard percentage high = "
                "50.00% | - | -");
            SelectRow(list, 0);
            Choose(editor, IDM_FILTER_EDIT);
        })
        .then(WaitFor(&param, "Despeckle Noise Removal"))
        .run([&] {
            EXPECT_EQ(SendDlgItemMessageA(param, IDC_PARAM_MASK, CB_GETCOUNT, 0, 0), 10);  // 3 x 3 .. 21 x 21
            EXPECT_EQ(TextOf(param, IDC_PARAM_MASK), "5 x 5");
            Click(param, IDCANCEL);
        })
        .then(Gone("Despeckle Noise Removal"))
        .run([&] {
            SelectRow(list, 4);
            Choose(editor, IDM_FILTER_EDIT);
        })
        .then(WaitFor(&param, "Sharpen"))
        .run([&] {
            EXPECT_EQ(TextOf(param, IDC_PARAM_MASK), "21 x 21");
            EXPECT_EQ(TextOf(param, IDC_PARAM_VALUE), "20");
            Click(param, IDCANCEL);
        })
        .then(Gone("Sharpen"))
        .run([&] {
            SendMessageA(editor, WM_COMMAND, IDM_FILTER_ADD_BASE + FilterLevelPercent, 0);
            EXPECT_EQ(Selected(list), 31) << "a new filter is selected";
            Choose(editor, IDM_FILTER_EDIT);
        })
        .then(WaitFor(&param, "Level Adjustment By Percentage"))
        .run([&] {
            EXPECT_EQ(TextOf(param, IDC_PARAM_LABEL1), "Minimum Level Percent");
            EXPECT_EQ(TextOf(param, IDC_PARAM_LEVEL3), "100");
            Click(param, IDCANCEL);
        })
        .then(Gone("Level Adjustment By Percentage"))
        .run([&] {
            SelectRow(list, 0);
            Choose(editor, IDM_FILTER_MODALITY);
        })
        .then(WaitFor(&param, "Apply To Modality"))
        .run([&] {
            EXPECT_EQ(TextOf(param, IDC_MODALITY_TEXT), "IO");
            Type(param, IDC_MODALITY_TEXT, "io");
            Click(param, IDOK);
        })
        .then(Gone("Apply To Modality"))
        .run([&] {
            EXPECT_EQ(Rows(list)[0].substr(0, 29), "Despeckle Noise Removal | IO ");
            Choose(editor, IDM_FILTER_MODALITY);
        })
        .then(WaitFor(&param, "Apply To Modality"))
        .run([&] {
            Type(param, IDC_MODALITY_TEXT, "CT");
            Click(param, IDOK);
        })
        .then(Gone("Apply To Modality"))
        .run([&] {
            EXPECT_EQ(Rows(list)[0].substr(0, 31), "Despeckle Noise Removal | None ");
            Choose(editor, IDM_FILTER_DELETE_ALL);
        })
        .then(WaitFor(&param, "Filter Options", true))
        .run([&] { PostMessageA(param, WM_COMMAND, IDNO, 0); })
        .then([&] { return FindDialog("Filter Options", true) == nullptr; })
        .run([&] {
            EXPECT_EQ(Rows(list).size(), 32u);
            Click(editor, IDCANCEL);
        })
        .then(Gone("Enhancement Options"))
        .run(openEditor)
        .then(WaitFor(&editor, "Enhancement Options"))
        .run([&] {
            list = GetDlgItem(editor, IDC_FILTER_LIST);
            EXPECT_EQ(Rows(list), initial) << "Cancel left the list as it was";
            SelectRow(list, 0);
            Choose(editor, IDM_FILTER_MODALITY);
        })
        .then(WaitFor(&param, "Apply To Modality"))
        .run([&] {
            Type(param, IDC_MODALITY_TEXT, "io");
            Click(param, IDOK);
        })
        .then(Gone("Apply To Modality"))
        .run([&] { Click(editor, IDOK); })
        .then(Gone("Enhancement Options"))
        .run([&] { Click(dialog, IDOK); });
    o.show(script);

    NyraSettings saved = o.savedFile();
    NyraSettings expected;
    memset(&expected, 0, sizeof expected);
    SettingsDefaults(&expected);
    memcpy(expected.filters[0].modality, "IO", 3);
    EXPECT_EQ(saved.filterCount, 7);
    EXPECT_EQ(memcmp(saved.filters, expected.filters, sizeof(FilterEntry) * 7), 0);
}

}  // namespace
