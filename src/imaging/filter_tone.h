// Tone and level filters (types 0..10): each maps every pixel through a value curve that
// ignores the neighbours. All work in place on `count` pixels; none reports an error: one that
// cannot get its table or histogram leaves the pixels unchanged.
#pragma once
#include <atomic>
#include <cstddef>
#include <cstdint>

// Low clip point of the unfiltered frame of the capture in progress, published on the host's
// thread; -1 when unset. No filter reads it: a worker whose capture was abandoned may still be
// filtering when the next capture starts, so every run is handed its own clip point instead.
extern std::atomic<int32_t> CaptureLowClip;

constexpr size_t kToneTableSize = 65536;

void InvertImage(uint16_t* pixels, size_t count);
void AdjustBrightness(uint16_t* pixels, size_t count, int32_t level);
void AdjustContrast(uint16_t* pixels, size_t count, int32_t level);
void DarkenDynamicRange(uint16_t* pixels, size_t count, int32_t level);
void LightenDynamicRange(uint16_t* pixels, size_t count);
void EqualizeImage(uint16_t* pixels, size_t count);
void GammaCorrect(uint16_t* pixels, size_t count, int32_t gammaX100);
// lowClip: the capture's low clip point, which widens the image's own (-1: none).
void LevelAdjust(uint16_t* pixels, size_t count, int32_t minimum, int32_t pivot, int32_t maximum,
                 int32_t lowClip = -1);
void LevelAdjustByPercentage(uint16_t* pixels, size_t count, int32_t minimum, int32_t pivot, int32_t maximum);
void NormalizeImage(uint16_t* pixels, size_t count);
void AdaptiveNormalize(uint16_t* pixels, size_t count, int32_t lowPercent, int32_t highPercent);

// Clip points at a tail fraction: low is the first value whose cumulative count exceeds
// trunc(count x fraction), high the same from the top; high > low always. Without memory for
// the histogram: 0 and 65535.
void HistogramClipPoints(const uint16_t* pixels, size_t count, double fraction, int32_t* low, int32_t* high);
// First value whose cumulative count reaches trunc(count x fraction); 0 for fraction <= 0 and
// 65535 for fraction >= 1.
int32_t HistogramPercentile(const uint16_t* pixels, size_t count, double fraction);
// Linear stretch of low..high to 0..65535 with a power curve; low and high may lie outside
// the pixel range.
void ApplyLevelCurve(uint16_t* pixels, size_t count, int32_t low, int32_t high, double gamma);

// --- table form, used by the chain to fuse consecutive tone entries into one pass ---
// Each Build* fills table[65536] with the curve the filter would apply, given the histogram
// of the pixels it would see (65536 counters, `count` pixels in all; only the filters whose
// curve depends on the image read it). Returns false when the filter would leave the image
// unchanged without building a curve (so the entry can be skipped).
// The passes over the pixels (histogram, mapping) run on the filter threads for large images.
bool HistogramOf(const uint16_t* pixels, size_t count, uint32_t* histogram);
// The histogram of the pixels as table would map them (table null: as they are).
bool HistogramThrough(const uint16_t* pixels, size_t count, const uint16_t* table, uint32_t* histogram);
void MapThroughTable(uint16_t* pixels, size_t count, const uint16_t* table);
bool IsToneFilter(int32_t type);
// The curve of a tone entry (type 0..10, parameters after the chain's substitutions), from the
// histogram of the pixels it would see. lowClip is the capture's low clip point (-1: none).
bool BuildToneTable(int32_t type, const int32_t params[3], const uint32_t* histogram, size_t count,
                    int32_t lowClip, uint16_t* table);
