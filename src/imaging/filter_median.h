// Median filters: Fast Noise Removal (type 11, a five-point cross inside the border) and the
// n x n median of Noise Removal and Despeckle Noise Removal (types 12 and 13). In place, computed
// from the unchanged input; without memory the image is left unchanged.
#pragma once
#include <cstdint>

void FastNoiseRemoval(uint16_t* pixels, int32_t width, int32_t height);
// Mask below 3 acts as 3, an even mask as the next odd one; above 255 is refused.
void MedianFilter(uint16_t* pixels, int32_t width, int32_t height, int32_t mask);
