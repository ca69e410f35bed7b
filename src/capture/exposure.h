// Exposure classification and the exposure indicator: the dose that reached the sensor,
// estimated from the mean raw value of a fixed block of the corrected frame, sorted into LOW,
// PERFECT or HIGH; and the sun-shaped symbol with the level's letter stamped into a corner.
#pragma once
#include <cstddef>
#include <cstdint>

enum ExposureLevel : int32_t {
    ExposureLow = 0,
    ExposurePerfect = 1,
    ExposureHigh = 2,
};

constexpr double kRawCountsPerMicroGray = 13.6;
constexpr double kLowDoseBound = 100.0;   // uGy: below is LOW
constexpr double kHighDoseBound = 200.0;  // uGy: above is HIGH

// "LOW (L)", "PERFECT (P)", "HIGH (H)"
const char* ExposureLogName(ExposureLevel level);
// "L", "P", "H"
const char* ExposureLetter(ExposureLevel level);

// Mean of the classification block (100 x 100 at column 600 below width 2000, else 200 x 200
// centred, row 700; moved inwards or clipped for smaller frames); 0 for a frame without pixels
// or narrower or shorter than 8.
double ExposureRawMean(const uint16_t* pixels, int32_t width, int32_t height);
ExposureLevel LevelForRawMean(double rawMean);
// Both of the above, and the "exposure:" log line.
ExposureLevel ClassifyExposure(const uint16_t* pixels, int32_t width, int32_t height);

// The symbol for a level as a side x side mask (row 0 at the top of the symbol, 1 = white),
// from malloc; null when side < 8 or drawing fails. Drawn with the platform's graphics where
// there are any (indicator_glyph_win.cpp); the native build has none and returns null.
uint8_t* BuildIndicatorGlyph(ExposureLevel level, int32_t side);

// Who builds masks for the cache: BuildIndicatorGlyph unless a test puts in another (null
// restores it). Returns the builder in use before. Empties the cache.
typedef uint8_t* (*IndicatorGlyphBuilder)(ExposureLevel level, int32_t side);
IndicatorGlyphBuilder SetIndicatorGlyphBuilder(IndicatorGlyphBuilder builder);

// Stamps the level's symbol into the image before it is turned upside down: side 72 and
// margin 10 below width 2000, else 120 and 20; skipped when the image is smaller than side +
// margin either way or no mask can be had. Masks are cached per level and rebuilt only when
// the side changes. True when the symbol was stamped.
bool StampExposureIndicator(uint16_t* pixels, int32_t width, int32_t height, ExposureLevel level);
