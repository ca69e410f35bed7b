#include "exports/ui_script_win.h"

#include <commctrl.h>

#include <cstring>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb_image_write.h>

#include "support/win_module.h"

namespace {

UiScript* Running = nullptr;
constexpr DWORD kTickMs = 40;
constexpr DWORD kStallMs = 10000;

BOOL CALLBACK CancelWindow(HWND window, LPARAM)
{
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    return TRUE;
}

struct Search {
    const char* caption;
    bool messageBox;
    HWND found;
};

BOOL CALLBACK MatchDialog(HWND window, LPARAM param)
{
    Search* s = reinterpret_cast<Search*>(param);
    char text[128] = "", cls[32] = "";
    GetWindowTextA(window, text, sizeof text);
    GetClassNameA(window, cls, sizeof cls);
    bool isMessageBox = GetDlgItem(window, 0xFFFF) != nullptr;
    if (IsWindowVisible(window) && strcmp(cls, "#32770") == 0 && strcmp(text, s->caption) == 0
        && isMessageBox == s->messageBox) {
        s->found = window;
        return FALSE;
    }
    return TRUE;
}

// Test programs run side by side on one display; each looks only at its own windows.
bool OwnWindow(HWND window)
{
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    return process == GetCurrentProcessId();
}

BOOL CALLBACK MatchMenu(HWND window, LPARAM param)
{
    char cls[32] = "";
    GetClassNameA(window, cls, sizeof cls);
    if (IsWindowVisible(window) && strcmp(cls, "#32768") == 0 && OwnWindow(window)) {
        *reinterpret_cast<HWND*>(param) = window;
        return FALSE;
    }
    return TRUE;
}

}  // namespace

UiScript& UiScript::then(Step step)
{
    steps_.push_back(std::move(step));
    return *this;
}

UiScript& UiScript::run(std::function<void()> action)
{
    return then([action] {
        action();
        return true;
    });
}

void UiScript::start()
{
    Running = this;
    stepStarted_ = GetTickCount();
    timer_ = SetTimer(nullptr, 0, kTickMs, Tick);
}

UiScript::~UiScript()
{
    if (timer_)
        KillTimer(nullptr, timer_);
    if (Running == this)
        Running = nullptr;
}

void CALLBACK UiScript::Tick(HWND, UINT, UINT_PTR, DWORD)
{
    if (Running)
        Running->tick();
}

void UiScript::tick()
{
    // A step may open a window whose loop ticks again before the step returns.
    if (busy_)
        return;
    busy_ = true;
    if (next_ < steps_.size()) {
        if (steps_[next_]()) {
            next_++;
            stepStarted_ = GetTickCount();
        } else if (GetTickCount() - stepStarted_ > kStallMs) {
            failure_ = "step " + std::to_string(next_) + " stalled";
            steps_.resize(next_);
        }
    }
    if (next_ == steps_.size() && !failure_.empty()) {
        // Unwind whatever is still open so the export returns and the test can report.
        EndMenu();
        EnumThreadWindows(GetCurrentThreadId(), CancelWindow, 0);
    }
    busy_ = false;
}

HWND FindDialog(const char* caption, bool messageBox)
{
    Search s = {caption, messageBox, nullptr};
    EnumThreadWindows(GetCurrentThreadId(), MatchDialog, (LPARAM)&s);
    return s.found;
}

HWND FindOwnWindow(const char* title)
{
    HWND window = nullptr;
    while ((window = FindWindowExA(nullptr, window, nullptr, title)) && !OwnWindow(window)) {
    }
    return window;
}

HWND FindPopupMenu()
{
    HWND found = nullptr;
    EnumWindows(MatchMenu, (LPARAM)&found);
    return found;
}

void Click(HWND dialog, int id)
{
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)GetDlgItem(dialog, id));
}

void Toggle(HWND dialog, int id)
{
    SendMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
}

void ChooseItem(HWND dialog, int id, int index)
{
    HWND combo = GetDlgItem(dialog, id);
    SendMessageA(combo, CB_SETCURSEL, index, 0);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), (LPARAM)combo);
}

void Type(HWND dialog, int id, const char* text)
{
    SetDlgItemTextA(dialog, id, text);
}

std::string TextOf(HWND dialog, int id)
{
    char text[512] = "";
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

void ClickTab(HWND tab, int index)
{
    RECT item;
    SendMessageA(tab, TCM_GETITEMRECT, index, (LPARAM)&item);
    LPARAM at = MAKELPARAM((item.left + item.right) / 2, (item.top + item.bottom) / 2);
    SendMessageA(tab, WM_LBUTTONDOWN, MK_LBUTTON, at);
    SendMessageA(tab, WM_LBUTTONUP, 0, at);
}

namespace {

struct Control {
    HWND window;
    std::string cls, text;
    LONG style;
    RECT rect;  // in the dialog's client coordinates
};

std::string Without(const std::string& text, char mark)
{
    std::string out;
    for (char c : text)
        if (c != mark)
            out += c;
    return out;
}

// A system metric as it is at the given DPI (check boxes and scroll bars grow with it).
int MetricAt(int metric, int dpi)
{
    HDC screen = GetDC(nullptr);
    const int screenDpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    return MulDiv(GetSystemMetrics(metric), dpi, screenDpi);
}

// How much of a control's width its own text needs, beyond the text itself.
int TextOverhead(const Control& c, int dpi)
{
    const LONG type = c.style & BS_TYPEMASK;
    if (c.cls == "Button" && (type == BS_AUTOCHECKBOX || type == BS_CHECKBOX || type == BS_AUTORADIOBUTTON))
        return MetricAt(SM_CXMENUCHECK, dpi) + 4;
    if (c.cls == "Button")
        return type == BS_GROUPBOX ? 16 : 8;
    return 0;
}

std::string Fits(const Control& c, int dpi)
{
    HDC dc = GetDC(c.window);
    HGDIOBJ old = SelectObject(dc, (HFONT)SendMessageA(c.window, WM_GETFONT, 0, 0));
    const int width = c.rect.right - c.rect.left, height = c.rect.bottom - c.rect.top;
    std::string problem;
    if (c.cls == "Static" && !(c.style & (SS_BITMAP | SS_ICON)) && !c.text.empty()) {
        RECT need = {0, 0, width, 0};
        DrawTextA(dc, c.text.c_str(), -1, &need, DT_CALCRECT | DT_WORDBREAK);
        if (need.right > width || need.bottom > height)
            problem = "text clipped";
    } else if (c.cls == "Button" && !c.text.empty()) {
        SIZE size;
        std::string shown = Without(c.text, '&');
        GetTextExtentPoint32A(dc, shown.c_str(), (int)shown.size(), &size);
        if (size.cx + TextOverhead(c, dpi) > width)
            problem = "text clipped";
    } else if (c.cls == "ComboBox") {
        int count = (int)SendMessageA(c.window, CB_GETCOUNT, 0, 0);
        for (int i = 0; i < count && problem.empty(); i++) {
            char item[200] = "";
            SendMessageA(c.window, CB_GETLBTEXT, i, (LPARAM)item);
            SIZE size;
            GetTextExtentPoint32A(dc, item, (int)strlen(item), &size);
            if (size.cx + MetricAt(SM_CXVSCROLL, dpi) + 8 > width)
                problem = std::string("item clipped: ") + item;
        }
    }
    SelectObject(dc, old);
    ReleaseDC(c.window, dc);
    return problem;
}

std::string Name(const Control& c)
{
    return "'" + c.text + "' (" + c.cls + ")";
}

void Collect(HWND dialog, int dpi, std::string* problems)
{
    RECT inside;
    GetClientRect(dialog, &inside);
    std::vector<Control> mine;
    for (HWND w = GetWindow(dialog, GW_CHILD); w; w = GetWindow(w, GW_HWNDNEXT)) {
        Control c;
        c.window = w;
        char cls[64] = "", text[300] = "";
        GetClassNameA(w, cls, sizeof cls);
        GetWindowTextA(w, text, sizeof text);
        c.cls = cls, c.text = text;
        c.style = GetWindowLongA(w, GWL_STYLE);
        GetWindowRect(w, &c.rect);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&c.rect), 2);
        // A page (a child dialog) is checked inside, and as a whole against its neighbours.
        if (c.cls == "#32770")
            Collect(w, dpi, problems);
        if (!(c.style & WS_VISIBLE))
            continue;
        RECT within;
        IntersectRect(&within, &c.rect, &inside);
        std::string fit = EqualRect(&within, &c.rect) ? Fits(c, dpi) : "clipped by its parent";
        if (!fit.empty())
            *problems += Name(c) + ": " + fit + "\n";
        mine.push_back(c);
    }
    auto exempt = [](const Control& c) {
        return c.cls == "SysTabControl32" || c.cls == "msctls_updown32"
               || (c.cls == "Button" && (c.style & BS_TYPEMASK) == BS_GROUPBOX);
    };
    for (size_t i = 0; i < mine.size(); i++) {
        for (size_t j = i + 1; j < mine.size(); j++) {
            RECT both;
            if (!exempt(mine[i]) && !exempt(mine[j]) && IntersectRect(&both, &mine[i].rect, &mine[j].rect))
                *problems += Name(mine[i]) + " overlaps " + Name(mine[j]) + "\n";
        }
    }
}

}  // namespace

std::string LayoutProblems(HWND dialog, int dpi)
{
    std::string problems;
    Collect(dialog, dpi, &problems);
    return problems;
}

namespace {

// Runs the thread's messages for at least this long, ending on an empty queue.
void PumpMessages(DWORD ms)
{
    for (const DWORD start = GetTickCount();; Sleep(10)) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        if (GetTickCount() - start >= ms)
            return;
    }
}

}  // namespace

bool Screenshot(HWND window, const std::string& name)
{
    // A window that has just opened may not have painted every control yet: let it finish, and
    // paint it all once more.
    PumpMessages(150);
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    // Under Wine a window paints into its own copy in memory, which reaches the screen in
    // batches: during a long repaint, and in full once the thread's queue is empty. Right after
    // a synchronous repaint the screen still lacks whatever was painted after the last batch
    // (the last control in the z-order, Cancel, or half of it), so the capture waits for an
    // empty queue first.
    PumpMessages(30);
    RECT r;
    GetWindowRect(window, &r);
    const int w = r.right - r.left, h = r.bottom - r.top;
    if (w <= 0 || h <= 0)
        return false;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = -h;  // top-down rows, as the PNG wants them
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    bool ok = false;
    if (dib) {
        HGDIOBJ old = SelectObject(memory, dib);
        BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
        GdiFlush();
        std::vector<unsigned char> rgb((size_t)w * h * 3);
        const unsigned char* bgra = static_cast<const unsigned char*>(bits);
        for (size_t i = 0; i < (size_t)w * h; i++) {
            rgb[3 * i] = bgra[4 * i + 2];
            rgb[3 * i + 1] = bgra[4 * i + 1];
            rgb[3 * i + 2] = bgra[4 * i];
        }
        std::string folder = OutputFolder() + "screenshots";
        CreateDirectoryA(folder.c_str(), nullptr);
        ok = stbi_write_png((folder + "\\" + name + ".png").c_str(), w, h, 3, rgb.data(), w * 3) != 0;
        SelectObject(memory, old);
        DeleteObject(dib);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return ok;
}
