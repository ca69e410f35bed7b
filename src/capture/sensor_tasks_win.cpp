// Placeholder until the correction-file build is in.
#include <windows.h>

#include "capture/sensor_tasks.h"

void BuildCorrectionFile(void* owner)
{
    MessageBoxA((HWND)owner, "Correction files cannot be created in this build.", "Create a correction file",
                MB_OK | MB_ICONINFORMATION);
}
