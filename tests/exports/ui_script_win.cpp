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
    if (IsWindowVisible(window) && strcmp(cls, "#32770") == 0 && strcmp(text, s->caption) == 0 &&
        isMessageBox == s->messageBox) {
        s->found = window;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK MatchMenu(HWND window, LPARAM param)
{
    char cls[32] = "";
    GetClassNameA(window, cls, sizeof cls);
    if (IsWindowVisible(window) && strcmp(cls, "#32768") == 0) {
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

bool Screenshot(HWND window, const std::string& name)
{
    RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
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
