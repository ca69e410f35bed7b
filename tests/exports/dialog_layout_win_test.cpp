// Every window of the options dialog and the filter editor, at 96 and at 120 DPI: no control
// sticks out of its parent or lies over another, no text is cut. Each is also saved as a
// screenshot in the test program's folder (screenshots\*.png, "_120dpi" for the larger ones).
//
// The dialog manager sizes a dialog from its font alone (a dialog unit is a fraction of the
// font's average character), so a copy of the plug-in whose templates ask for 10 pt gets, at
// 96 DPI, the 13-pixel font and so the very layout that 8 pt gives at 120 DPI, contents set at
// run time included. Check boxes and scroll bars keep their 96-DPI size on the screen; the
// check takes them at their 120-DPI size. The process's DPI stays as it is: the prefix is
// shared with the test programs running beside this one.
#include <windows.h>
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "exports/options_host_win.h"
#include "resources/resource.h"

namespace {

struct DialogTemplate {
    LPSTR id;
    WORD language;
    std::vector<BYTE> bytes;
};

BOOL CALLBACK AddLanguage(HMODULE module, LPCSTR type, LPCSTR id, WORD language, LONG_PTR param)
{
    HRSRC found = FindResourceExA(module, type, id, language);
    HGLOBAL data = found ? LoadResource(module, found) : nullptr;
    if (!data || !IS_INTRESOURCE(id))
        return TRUE;
    const BYTE* bytes = static_cast<const BYTE*>(LockResource(data));
    reinterpret_cast<std::vector<DialogTemplate>*>(param)->push_back(
        {const_cast<LPSTR>(id), language, std::vector<BYTE>(bytes, bytes + SizeofResource(module, found))});
    return TRUE;
}

BOOL CALLBACK AddDialog(HMODULE module, LPCSTR type, LPSTR id, LONG_PTR param)
{
    EnumResourceLanguagesA(module, type, id, AddLanguage, param);
    return TRUE;
}

// Where a DIALOGEX template with a font keeps its point size; 0 for any other template.
size_t PointSizeOffset(const std::vector<BYTE>& t)
{
    auto word = [&](size_t at) {
        WORD w = 0;
        if (at + 2 <= t.size())
            memcpy(&w, &t[at], 2);
        return w;
    };
    DWORD style = 0;
    if (t.size() < 26 || word(2) != 0xFFFF)
        return 0;
    memcpy(&style, &t[12], 4);
    if (!(style & DS_SETFONT))
        return 0;
    size_t at = 26;  // after version, signature, help id, styles, item count and rectangle
    for (int field = 0; field < 3; field++) {  // menu, class (each maybe a number), caption
        if (field < 2 && word(at) == 0xFFFF) {
            at += 4;
            continue;
        }
        while (at < t.size() && word(at) != 0)
            at += 2;
        at += 2;
    }
    return at + 2 <= t.size() ? at : 0;
}

// Sets the point size of every dialog template in a binary.
bool SetDialogPointSize(const std::string& path, WORD points)
{
    std::vector<DialogTemplate> templates;
    HMODULE data = LoadLibraryExA(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    if (!data)
        return false;
    EnumResourceNamesA(data, MAKEINTRESOURCEA(5) /* RT_DIALOG */, AddDialog, (LONG_PTR)&templates);
    FreeLibrary(data);
    HANDLE update = BeginUpdateResourceA(path.c_str(), FALSE);
    if (!update || templates.empty())
        return false;
    bool ok = true;
    for (DialogTemplate& t : templates) {
        const size_t at = PointSizeOffset(t.bytes);
        ok = ok && at != 0;
        if (at)
            memcpy(&t.bytes[at], &points, 2);
        ok = ok
             && UpdateResourceA(update, MAKEINTRESOURCEA(5), t.id, t.language, t.bytes.data(),
                                (DWORD)t.bytes.size());
    }
    return EndUpdateResourceA(update, !ok) && ok;
}

// The built plug-in, copied into a folder of its own with its dialogs' point size set, loaded.
struct PluginCopy {
    TempDir dir;
    HMODULE module = nullptr;
    explicit PluginCopy(WORD points)
    {
        std::string copy = dir.file("NyraPro.SED");
        if (CopyFileA((OutputFolder() + "NyraPro.SED").c_str(), copy.c_str(), FALSE)
            && SetDialogPointSize(copy, points))
            module = LoadLibraryA(copy.c_str());
    }
    ~PluginCopy()
    {
        if (module)
            FreeLibrary(module);
    }
};

// Opens every window of the options dialog and the filter editor in turn and checks each.
void LayoutTour(int dpi, WORD points)
{
    PluginCopy plugin(points);
    ASSERT_NE(plugin.module, nullptr) << "a copy of the plug-in with " << points << " pt dialogs";
    ProcAs<void(__stdcall*)(const char*)>(plugin.module, "SEDSetDevicesDir")(plugin.dir.path().c_str());
    const std::string suffix = dpi == 96 ? "" : "_" + std::to_string(dpi) + "dpi";
    auto check = [dpi, suffix](HWND window, const std::string& name) {
        EXPECT_EQ(LayoutProblems(window, dpi), "") << name << " at " << dpi << " DPI";
        EXPECT_TRUE(Screenshot(window, name + suffix)) << name;
    };

    HWND dialog = nullptr, editor = nullptr, list = nullptr, param = nullptr;
    UiScript script;
    script.then(WaitFor(&dialog, "Digital Xray Options"))
        .run([&] {
            HWND tab = GetDlgItem(dialog, IDC_OPTIONS_TAB), hw = PageWith(dialog, IDC_HW_MODE);
            const int stored = (int)SendDlgItemMessageA(hw, IDC_HW_MODE, CB_GETCURSEL, 0, 0);
            for (int mode : {0, 1, 2, stored}) {  // each description in its box
                ChooseItem(hw, IDC_HW_MODE, mode);
                EXPECT_EQ(LayoutProblems(hw, dpi), "") << "mode " << mode << " at " << dpi << " DPI";
            }
            check(dialog, "options_hardware");
            ClickTab(tab, 2);
            check(dialog, "options_calibration");
            ClickTab(tab, 0);
            check(dialog, "options_imaging");
            Click(PageWith(dialog, IDC_IMG_MODIFY_FILTERS), IDC_IMG_MODIFY_FILTERS);
        })
        .then(WaitFor(&editor, "Enhancement Options"))
        .run([&] {
            list = GetDlgItem(editor, IDC_FILTER_LIST);
            check(editor, "filter_editor");
            // Rows 7 to 9 after the seven defaults: the longest texts of their kinds.
            for (int type : {FilterAdaptiveNormalization, FilterLevelPercent, FilterRotate90Ccw})
                SendMessageA(editor, WM_COMMAND, IDM_FILTER_ADD_BASE + type, 0);
        });
    const struct {
        int row, command;
        const char *caption, *name;
    } windows[] = {
        {0, IDM_FILTER_EDIT, "Despeckle Noise Removal", "filter_param_mask"},
        {4, IDM_FILTER_EDIT, "Gamma Correction", "filter_param_one_value"},
        {5, IDM_FILTER_EDIT, "Sharpen", "filter_param_mask_factor"},
        {7, IDM_FILTER_EDIT, "Adaptive Normalization", "filter_param_percentages"},
        {8, IDM_FILTER_EDIT, "Level Adjustment By Percentage", "filter_param_levels"},
        {9, IDM_FILTER_MODALITY, "Apply To Modality", "filter_modality"},
    };
    for (const auto& w : windows) {
        script
            .run([&list, &editor, w] {
                SelectRow(list, w.row);
                Choose(editor, w.command);
            })
            .then(WaitFor(&param, w.caption))
            .run([&param, check, w] {
                check(param, w.name);
                Click(param, IDCANCEL);
            })
            .then(Gone(w.caption));
    }
    script.run([&] { Click(editor, IDCANCEL); }).then(Gone("Enhancement Options")).run([&] {
        Click(dialog, IDCANCEL);
    });
    script.start();
    ProcAs<void(__stdcall*)()>(plugin.module, "SEDDisplayOptions")();
    EXPECT_TRUE(script.finished()) << script.failure();
}

TEST(DialogLayout, NothingClippedOrOverlappingAt96Dpi)
{
    LayoutTour(96, 8);
}

TEST(DialogLayout, NothingClippedOrOverlappingAt120Dpi)
{
    LayoutTour(120, 10);
}

}  // namespace
