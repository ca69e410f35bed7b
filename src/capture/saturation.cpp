// The saturation report's figures and text. Percentages are signed 64-bit integer divisions,
// truncated, so a single saturated pixel in a large frame shows as 0 %.
#include "capture/saturation.h"

#include "base/text.h"

void FormatSaturationReport(char* out, size_t size, const char* serial, int32_t sizeNumber,
                            const uint16_t* pixels, int32_t count, uint32_t maximum, uint32_t mean)
{
    int64_t saturated = 0;
    for (int32_t i = 0; i < count; i++)
        saturated += pixels[i] >= kSaturatedValue;
    int64_t peak = (int64_t)maximum * 100 / 65535;
    int64_t share = count > 0 ? saturated * 100 / count : 0;
    FormatText(out, size,
               "Nyra Sensor '%s'  Size %d\r\n\r\nMax pixel value : %u  (of 65535)\r\nMean value      : %u\r\n"
               "Peak level      : %d%% of full scale\r\nSaturated pixels: %d  (%d%%)",
               serial, (int)sizeNumber, (unsigned)maximum, (unsigned)mean, (int)peak, (int)saturated,
               (int)share);
}
