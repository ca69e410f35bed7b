// Figures of the X-ray saturation report, from one raw frame of the bare sensor in the beam.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr uint16_t kSaturatedValue = 16000;  // a pixel at or above this is saturated

// Writes the report text for a read frame: serial and size number, the read's maximum and
// mean, the peak as a percentage of full scale (truncated), and the saturated pixels with their
// share of count (truncated).
void FormatSaturationReport(char* out, size_t size, const char* serial, int32_t sizeNumber,
                            const uint16_t* pixels, int32_t count, uint32_t maximum, uint32_t mean);
