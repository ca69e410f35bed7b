// The padded input rows of a median band, which the selection networks and the sliding
// histogram both read. Internal to imaging/.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "imaging/filter_bands.h"
#include "imaging/filter_support.h"

// 16 and 32 pixels as one AVX2 or AVX-512 vector.
typedef uint16_t Lanes16 __attribute__((vector_size(32)));
typedef uint16_t Lanes32 __attribute__((vector_size(64)));

constexpr int32_t kColumnLanes = 32;
// Output rows per sweep of the AVX2 and AVX-512 histogram median (at most; see SweepRows).
constexpr int32_t kMaxSweepRows = 5;

// The padded input rows of a band: a ring of `slots` rows (n + 1, or n + T - 1 where T rows
// are finished per sweep), each w + 2h wide with the edge columns repeated, refilled one row
// at a time. Rows y - h .. y + h make the window of output row y; the spare slots let the
// histogram median read the rows below too and finish several rows at once.
struct PaddedWindow {
    uint16_t* ring;
    int32_t n, h, pw, base;
    int32_t slots;
    const uint16_t* rows[kLargestFilterMask + kMaxSweepRows];
    // Optional (masks up to 31, the AVX2 and AVX-512 histogram): the ring again by padded
    // column, 32 values per column in the order of the ring's slots, so that the values
    // entering and leaving a window as it moves one column are one or two vectors.
    // windowLanes[t]: the slots of the window of output row y + t (Point).
    uint16_t* columns = nullptr;
    uint32_t windowLanes[kMaxSweepRows] = {};
    uint64_t windowBytes[kMaxSweepRows] = {};  // the same lanes, two bits each (AVX2 masks)
    // The input rows the next two Fills copy, for the networks to ask for while they run: a
    // row first read by its Fill waits for memory there.
    const uint16_t* next[2] = {};

    int32_t Slot(int32_t r) const { return (r - base) % slots; }
    void Fill(const FilterBand& band, int32_t r)
    {
        uint16_t* slot = ring + (size_t)Slot(r) * pw;
        const uint16_t* src = band.Row(r);
        const int32_t w = band.width;
        memcpy(slot + h, src, (size_t)w * sizeof(uint16_t));
        for (int32_t x = 0; x < h; x++) {
            slot[x] = src[0];
            slot[h + w + x] = src[w - 1];
        }
        if (columns) {
            uint16_t* lane = columns + Slot(r);
            for (int32_t x = 0; x < pw; x++)
                lane[(size_t)x * kColumnLanes] = slot[x];
        }
    }
    void Start(const FilterBand& band)
    {
        base = band.y0 - h;
        for (int32_t r = band.y0 - h; r <= band.y0 + h; r++)
            Fill(band, r);
    }
    // rows[i] = input row y - h + i, for i below count (n, or n + T - 1 for T rows at once).
    void Point(int32_t y, int32_t count)
    {
        for (int32_t i = 0; i < count; i++)
            rows[i] = ring + (size_t)Slot(y - h + i) * pw;
        for (int32_t t = 0; t < kMaxSweepRows; t++) {
            windowLanes[t] = 0;
            windowBytes[t] = 0;
            for (int32_t i = 0; columns && i < n && t + n <= slots; i++) {
                windowLanes[t] |= 1u << Slot(y - h + t + i);
                windowBytes[t] |= 3ull << 2 * Slot(y - h + t + i);
            }
        }
    }
};
