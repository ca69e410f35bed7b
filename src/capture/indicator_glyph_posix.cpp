// The native build has no graphics system to draw the indicator's letter with, so it builds no
// mask and images are delivered without the indicator (the offline tool says so).
#include "capture/exposure.h"

uint8_t* BuildIndicatorGlyph(ExposureLevel, int32_t)
{
    return nullptr;
}
