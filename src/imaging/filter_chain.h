// The post-capture filter chain: runs a filter list over an image, owning the image's display
// polarity (one implicit inversion unless the list inverts by itself).
#pragma once
#include <cstdint>

#include "imaging/filter_entry.h"
#include "imaging/image16.h"

// Enabled, and without a modality restriction or restricted to "IO" (any case).
bool IsFilterEntryActive(const FilterEntry& entry);

// Runs the active entries of entries[0..count-1] in order, in place. Rotations replace the
// image's pixel block (malloc / free) and swap width and height, so the caller must own the
// block through malloc and read pixels, width and height again afterwards. Never fails: a
// filter without memory leaves the image as it found it and the chain goes on. lowClip is the
// low clip point of the unfiltered frame, which Level Adjustment takes into account (-1: none).
void ApplyFilterChain(Image16* image, const FilterEntry* entries, int32_t count, int32_t lowClip = -1);
