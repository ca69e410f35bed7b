// One entry of the post-capture filter list, stored byte for byte in settings.dat and in the
// host's configuration blob (little-endian, 28 bytes).
#pragma once
#include <cstddef>
#include <cstdint>

// Filter type codes 0..23; a stored code outside that range is skipped by the chain.
enum FilterType : int32_t {
    FilterInvert = 0,
    FilterAdaptiveNormalization = 1,
    FilterBrightness = 2,
    FilterContrast = 3,
    FilterDynamicDarken = 4,
    FilterDynamicLighten = 5,
    FilterEqualize = 6,
    FilterGamma = 7,
    FilterLevel = 8,
    FilterLevelPercent = 9,
    FilterNormalize = 10,
    FilterFastNoiseRemoval = 11,
    FilterNoiseRemoval = 12,
    FilterDespeckle = 13,
    FilterFlipHorizontal = 14,
    FilterFlipVertical = 15,
    FilterRotate90 = 16,
    FilterRotate90Ccw = 17,
    FilterRotate180 = 18,
    FilterGaussianBlur = 19,
    FilterUnsharpMask = 20,
    FilterLaplace = 21,
    FilterSharpen = 22,
    FilterSmooth = 23,
};
constexpr int32_t kFilterTypeCount = 24;
constexpr int32_t kMaxFilters = 32;

struct FilterEntry {
    int32_t type;     // FilterType code
    int32_t enabled;  // non-zero: the entry runs
    int32_t param1;   // meaning per type (filter catalogue)
    int32_t param2;
    int32_t param3;
    char modality[8];  // "" (every image) or "IO"; byte 7 always 0
};
static_assert(sizeof(FilterEntry) == 28, "FilterEntry is stored byte for byte");
static_assert(offsetof(FilterEntry, enabled) == 4, "");
static_assert(offsetof(FilterEntry, param1) == 8, "");
static_assert(offsetof(FilterEntry, param2) == 12, "");
static_assert(offsetof(FilterEntry, param3) == 16, "");
static_assert(offsetof(FilterEntry, modality) == 20, "");
