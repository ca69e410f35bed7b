// The capture status window (Windows only). Handles are passed as void* so portable headers
// stay free of windows.h.
#pragma once
#include <cstdint>

// Creates dialog 111 modeless, places it 12 pixels in from the bottom-left of the work area,
// adds "Initializing hardware ..." and shows it minimised. Null when it cannot be created,
// which is not an error: the capture runs without it.
void* CreateStatusWindow(void* job);
void DestroyStatusWindow(void* window);
// Appends a line and scrolls it into view; nothing while no status window exists.
void AddStatusLine(const char* text);
void SetStatusTimer(void* window, uint32_t seconds);
