// Host calls that the simulator schedules to arrive while a capture runs: each is a window
// timer on the host's main window, so the plug-in's own message loop dispatches it, exactly as
// a real host's button or menu would reach the plug-in in the middle of a capture.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "plugin_api.h"

namespace {

enum Action { kTerminate, kCancelClick, kCapture, kGroupStart, kGroupEnd, kRestore };

struct Scheduled {
    Action action;
    UINT_PTR id;
};
std::vector<Scheduled> Pending;

bool ParseAction(const std::string& name, Action* action)
{
    static const struct {
        const char* name;
        Action action;
    } kNames[] = {{"terminate", kTerminate},    {"cancel", kCancelClick}, {"capture", kCapture},
                  {"group-start", kGroupStart}, {"group-end", kGroupEnd}, {"restore", kRestore}};
    for (const auto& n : kNames)
        if (name == n.name) {
            *action = n.action;
            return true;
        }
    return false;
}

}  // namespace

bool ScheduleAction(HWND window, const char* actionText)
{
    std::string text(actionText);
    size_t at = text.find('@');
    Action action;
    if (at == std::string::npos || !ParseAction(text.substr(0, at), &action))
        return false;
    UINT delay = (UINT)atoi(text.c_str() + at + 1);
    UINT_PTR id = 100 + Pending.size();
    Pending.push_back({action, id});
    return SetTimer(window, id, delay ? delay : 1, nullptr) != 0;
}

void RunScheduledAction(HWND window, UINT_PTR id)
{
    KillTimer(window, id);
    for (const Scheduled& s : Pending) {
        if (s.id != id)
            continue;
        switch (s.action) {
        case kTerminate: printf("host: SEDUserTerminated() -> %u\n", Plugin.UserTerminated()); break;
        case kCancelClick: {
            HWND status = FindWindowA(nullptr, "Capture Digital X-ray");
            printf("host: click \"Cancel Capture\" (%s)\n",
                   status ? "status window found" : "no status window");
            if (status)
                PostMessageA(status, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                             (LPARAM)GetDlgItem(status, IDCANCEL));
            break;
        }
        case kCapture: {
            HGLOBAL second = Plugin.CaptureImage16(99, 99);
            printf("host: second SEDCaptureImage16 during the capture -> %p\n", (void*)second);
            if (second)
                GlobalFree(second);
            break;
        }
        case kGroupStart: printf("host: SEDGroupStarted() -> %u\n", Plugin.GroupStarted()); break;
        case kRestore:  // bring the minimised status window up, e.g. for a screenshot
            if (HWND status = FindWindowA(nullptr, "Capture Digital X-ray"))
                ShowWindow(status, SW_RESTORE);
            break;
        case kGroupEnd:
            Plugin.GroupEnded();
            printf("host: SEDGroupEnded()\n");
            break;
        }
        fflush(stdout);
    }
}
