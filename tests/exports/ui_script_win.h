// Drives the plug-in's modal windows as a user would, from inside their own message loops: a
// thread timer runs the script's steps one after another; a step that returns false is tried
// again on the next tick (waiting for a window, say). A script that stalls for 10 s cancels
// every open window and menu so the export under test returns, and records the failure.
// Also: finding the thread's windows, clicking, choosing combo items, reading texts, and
// screenshots (in-process BitBlt of the screen into a PNG).
#pragma once
#include <windows.h>

#include <functional>
#include <string>
#include <vector>

class UiScript {
public:
    using Step = std::function<bool()>;
    UiScript& then(Step step);
    // Same as then(), for a step that always completes at once.
    UiScript& run(std::function<void()> action);
    // Starts ticking; the steps run inside whatever modal loop the caller enters next.
    void start();
    // True when every step ran; otherwise failure() says which step stalled. (A stall cuts the
    // steps short to unwind, so the count alone would read as finished.)
    bool finished() const { return next_ == steps_.size() && failure_.empty(); }
    std::string failure() const { return failure_; }
    ~UiScript();

private:
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD);
    void tick();
    std::vector<Step> steps_;
    size_t next_ = 0;
    UINT_PTR timer_ = 0;
    DWORD stepStarted_ = 0;
    bool busy_ = false;
    std::string failure_;
};

// A visible dialog of this thread with the given caption; message boxes (which carry their
// text in a static control 0xFFFF) only when messageBox is true.
HWND FindDialog(const char* caption, bool messageBox = false);
// A top-level window of this process (any thread) with the given title.
HWND FindOwnWindow(const char* title);
// The open popup menu's window, or null.
HWND FindPopupMenu();

// A click as the control reports it to its dialog (the dialog's loop carries it out).
void Click(HWND dialog, int id);
// Clicks a check box (toggles it and notifies the dialog).
void Toggle(HWND dialog, int id);
// Selects the combo item with the given index and notifies the dialog as a user's choice would.
void ChooseItem(HWND dialog, int id, int index);
// Replaces an edit control's text as typing would (EN_CHANGE follows).
void Type(HWND dialog, int id, const char* text);
std::string TextOf(HWND dialog, int id);
// Clicks a tab of a tab control with the mouse.
void ClickTab(HWND tab, int index);

// Controls of a dialog (and of the child dialogs it holds) that stick out of their parent or
// whose text does not fit them, and controls that overlap, one per line; empty when the layout
// is clean. Group boxes, tab controls and up-down controls on their buddy may overlap by design.
// dpi: the DPI the layout stands for; check boxes and scroll bars are taken at their size there.
std::string LayoutProblems(HWND dialog, int dpi = 96);

// Saves a window as it is on the screen into <test program folder>\screenshots\<name>.png.
bool Screenshot(HWND window, const std::string& name);
