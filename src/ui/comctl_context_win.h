// Common controls v6 for the plug-in's own windows. The host may have no manifest of its own,
// so the plug-in activates the activation context of its manifest (resource 2) around each
// dialog it runs; inside it, the dialog's controls come from comctl32 version 6.
#pragma once
#include <windows.h>

class ComCtlV6Scope {
public:
    ComCtlV6Scope();
    ~ComCtlV6Scope();
    ComCtlV6Scope(const ComCtlV6Scope&) = delete;
    ComCtlV6Scope& operator=(const ComCtlV6Scope&) = delete;
    bool active() const { return active_; }

private:
    ULONG_PTR cookie_ = 0;
    bool active_ = false;
};
