// The n x n median of masks above 7: a histogram of each window slid along the rows, the
// median tracked as it moves, which costs O(n) per pixel instead of sorting n*n values.
// Internal to imaging/.
#pragma once
#include <cstddef>
#include <cstdint>

#include "imaging/filter_median_window.h"
#include "imaging/filter_simd.h"

// The histograms of a band lie one stride apart. They are read at the same value together: a
// stride that is not a multiple of 4 KB keeps them from competing for one cache set and from
// looking like the same address to the store-to-load forwarding.
constexpr size_t kHistogramBytes = 65536 * sizeof(uint16_t);
constexpr size_t kHistogramStride = kHistogramBytes + 2112;
constexpr ptrdiff_t kHistogramCounts = kHistogramStride / sizeof(uint16_t);

// One output row from win.rows[0 .. n - 1]; fine: one zeroed histogram, zero again after.
void HistogramRow(const PaddedWindow& win, int32_t w, uint16_t* out, uint16_t* fine);

// Two output rows from win.rows[0 .. n]; shared, top, bottom: zeroed histograms, zero again after.
void HistogramRowPair(int32_t simd, const PaddedWindow& win, int32_t w, uint16_t* outA, uint16_t* outB,
                      uint16_t* shared, uint16_t* top, uint16_t* bottom);

#if NYRA_HAVE_AVX2_PATH
// kMaxSweepRows output rows from win.rows[0 .. n + kMaxSweepRows - 2] and the ring by column
// (AVX2 or AVX-512). hist: 2 kMaxSweepRows - 1 zeroed histograms kHistogramCounts apart, each
// with 32 zero counters beyond either end of the value range; zero again after.
void HistogramRows(int32_t simd, const PaddedWindow& win, int32_t w, uint16_t* const* out, uint16_t* hist);
#endif
