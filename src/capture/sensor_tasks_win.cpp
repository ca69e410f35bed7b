// Placeholders until the correction-file build and the saturation report are in.
#include <windows.h>

#include "capture/sensor_tasks.h"

void BuildCorrectionFile(void* owner)
{
    MessageBoxA((HWND)owner, "Correction files cannot be created in this build.", "Create a correction file",
                MB_OK | MB_ICONINFORMATION);
}

void NyraShowSaturation(void* owner)
{
    MessageBoxA((HWND)owner, "The saturation report is not available in this build.", "X-ray Saturation Information",
                MB_OK | MB_ICONINFORMATION);
}
