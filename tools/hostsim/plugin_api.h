// The plug-in's exports as a host binds them by name.
#pragma once
#include <windows.h>

#include <cstdint>

typedef void(__stdcall* StatusCallbackFn)(uint32_t sensorId, uint32_t status, const char* text);

struct PluginApi {
    HMODULE module;
    void(__stdcall* SetMainWindow)(HWND);
    void(__stdcall* SetSEDDir)(const char*);
    void(__stdcall* SetDevicesDir)(const char*);
    void(__stdcall* SetStatusCallback)(StatusCallbackFn);
    void(__stdcall* SetSensorID)(uint32_t);
    uint32_t(__stdcall* GetConfigurationAndOptionsSize)();
    uint32_t(__stdcall* GetConfigurationAndOptions)(void*);
    uint32_t(__stdcall* SetConfigurationAndOptions)(const void*, uint32_t);
    HGLOBAL(__stdcall* CaptureImage16)(uint32_t, uint32_t);
    uint32_t(__stdcall* GetImageInfo)(char*, int32_t);
    uint32_t(__stdcall* GetDICOMInfo)(void*);
    uint32_t(__stdcall* GetErrorMessage)(char*, int32_t);
    uint32_t(__stdcall* TimedOut)();
    uint32_t(__stdcall* UserTerminated)();
    uint32_t(__stdcall* GroupStarted)();
    void(__stdcall* GroupEnded)();
    uint32_t(__stdcall* GetCurrentSensorID)(char*, int32_t);
};

// Loads the plug-in and binds every entry the simulator uses; false with a message otherwise.
bool LoadPlugin(const wchar_t* path, PluginApi* api);

// Actions scheduled to run from inside a capture's message loop ("terminate@1500", "cancel@800",
// "capture@300", "group-start@0", "group-end@0", "restore@500").
bool ScheduleAction(HWND window, const char* actionText);
void RunScheduledAction(HWND window, UINT_PTR id);
extern PluginApi Plugin;

// Writes the DIB's pixels as a 16-bit PGM and an 8-bit PNG preview stretched between the
// image's minimum and maximum. Returns false when the block is not a 16-bit DIB.
bool SaveDibImages(HGLOBAL dib, const char* basePath, int32_t* width, int32_t* height);
