// The native build has no vendor library: every open fails as with nothing loaded.
#include "backend/backend_state.h"
#include "backend/sensor_identify.h"
#include "backend/sensor_select.h"

int32_t OpenAndSelect(bool, uint32_t, SensorSlot*, int32_t*)
{
    SetBackendError("no backend loaded");
    return 0;
}

bool OpenFirstSensor(bool, uint32_t)
{
    SetBackendError("no backend loaded");
    return false;
}

SensorSlot DetectVariantSafe()
{
    return DetectVariant();
}

bool RunSerialReader(uint16_t, const char*, char* out, size_t size)
{
    if (out && size)
        out[0] = '\0';
    SetBackendError("SmsSerialReader.exe not found");
    return false;
}

int32_t ReadAllSmsSlots(SensorSlot*)
{
    return 0;
}

VendorHandle ReopenSlot(uint16_t, int32_t)
{
    return 0;
}

bool IsolatedPathAvailable()
{
    return false;
}
