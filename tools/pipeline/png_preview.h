// An 8-bit PNG preview of a 16-bit image, for a person to look at.
#pragma once
#include <cstdint>

// Stretches the image's own minimum..maximum to 0..255 and writes a grey PNG, top row first.
bool WritePngPreview(const char* path, const uint16_t* pixels, int32_t width, int32_t height);
