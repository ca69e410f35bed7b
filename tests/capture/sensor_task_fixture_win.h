// Fixture for the sensor tasks under Wine: the stand-in SMS library in a devices folder, the
// host's blob with chosen settings, and message boxes answered in order through a CBT hook (the
// caption of each box is recorded; its text is not readable under Wine, so the log is checked).
#pragma once
#include <windows.h>

#include <deque>
#include <string>
#include <vector>

#include "backend/sim_fixture_win.h"
#include "capture/capture_state.h"
#include "settings/active_settings.h"
#include "settings/settings.h"

class SensorTask : public SimBackend {
protected:
    static std::deque<int> Answers;            // button to press in each box, in order
    static std::vector<std::string> Captions;  // caption of each box shown
    HHOOK hook = nullptr;

    static LRESULT CALLBACK AnswerBoxes(int code, WPARAM wParam, LPARAM lParam)
    {
        if (code == HCBT_ACTIVATE) {
            HWND box = reinterpret_cast<HWND>(wParam);
            char caption[128] = "";
            GetWindowTextA(box, caption, sizeof caption);
            char cls[32] = "";
            GetClassNameA(box, cls, sizeof cls);
            // Wine reports other processes' dialogs activating too (test programs run side
            // by side); only this thread's boxes are the task's.
            if (!strcmp(cls, "#32770") && GetWindowThreadProcessId(box, nullptr) == GetCurrentThreadId()) {
                Captions.push_back(caption);
                int answer = IDCANCEL;
                if (!Answers.empty()) {
                    answer = Answers.front();
                    Answers.pop_front();
                }
                PostMessageA(box, WM_COMMAND, MAKEWPARAM(answer, BN_CLICKED), 0);
            }
        }
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }

    void SetUp() override
    {
        SimBackend::SetUp();
        MakeSms(smsDir);
        Answers.clear();
        Captions.clear();
        hook = SetWindowsHookExA(WH_CBT, AnswerBoxes, nullptr, GetCurrentThreadId());
        UseSettings([](NyraSettings*) {});
    }

    void TearDown() override
    {
        UnhookWindowsHookEx(hook);
        CaptureInProgress.store(0);
        SimBackend::TearDown();
    }

    static inline int served = 0;
    static void CALLBACK CountTick(HWND, UINT, UINT_PTR, DWORD) { served++; }

    // Runs task on this (the host's) thread with a 200 ms timer; returns the elapsed ms and in
    // *ticks how many timer messages were served meanwhile.
    static DWORD RunServed(void (*task)(void*), int* ticks)
    {
        served = 0;
        UINT_PTR timer = SetTimer(nullptr, 0, 200, CountTick);
        DWORD start = GetTickCount();
        task(nullptr);
        DWORD elapsed = GetTickCount() - start;
        KillTimer(nullptr, timer);
        *ticks = served;
        return elapsed;
    }

    // Stores the defaults, changed by edit, as the host's blob that the tasks load.
    template <typename Edit>
    static void UseSettings(Edit edit)
    {
        memset(&HostBlob, 0, sizeof HostBlob);
        HostBlob.version = kHostBlobVersion;
        memcpy(HostBlob.magic, "NYRS", 4);
        SettingsDefaults(&HostBlob.settings);
        HostBlob.settings.enableLogging = 1;
        edit(&HostBlob.settings);
    }
};
