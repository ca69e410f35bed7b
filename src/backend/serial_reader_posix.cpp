// The native build has no serial reader: the isolated path is never available, so sensors are
// opened and identified in this process.
#include "backend/backend_state.h"
#include "backend/sensor_select.h"

bool RunSerialReader(uint16_t, const char*, char* out, size_t size)
{
    if (out && size)
        out[0] = '\0';
    SetBackendError("SmsSerialReader.exe not found");
    return false;
}

bool IsolatedPathAvailable()
{
    return false;
}
