// Synthetic test image: a deterministic pattern whose every pixel is known, so a host (or a
// test) can check orientation and value range of the delivered DIB.
#include "capture/synthetic_image.h"

#include <cstddef>

void FillSyntheticTestImage(uint16_t* pixels)
{
    for (int32_t r = 0; r < kSyntheticHeight; r++) {
        uint16_t* row = pixels + (size_t)r * kSyntheticWidth;
        for (int32_t c = 0; c < kSyntheticWidth; c++) {
            if (c >= 52 && c <= 80)
                row[c] = 32000;
            else if (r >= 65 && r <= 127)
                row[c] = 60000;
            else
                row[c] = (uint16_t)(r * 32767 / kSyntheticHeight + c * 32767 / kSyntheticWidth);
        }
    }
}
