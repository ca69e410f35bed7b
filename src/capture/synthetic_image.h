// The test pattern returned when no vendor library is installed: proves the DIB hand-off to
// the host without a sensor.
#pragma once
#include <cstdint>

constexpr int32_t kSyntheticWidth = 1024;
constexpr int32_t kSyntheticHeight = 1280;

// Fills pixels[1024 * 1280]: a vertical bar at columns 52..80 (32000), a bright band at rows
// 65..127 (60000), elsewhere two ramps adding up to at most 65476.
void FillSyntheticTestImage(uint16_t* pixels);
