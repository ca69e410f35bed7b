// The n x n medians of masks 3 to 11 by selection networks (sorting networks pruned to the
// comparators the middle output depends on), run on whole vectors of output pixels so that
// each exchange is a vector minimum and maximum. Internal to imaging/.
#pragma once
#include <cstddef>
#include <cstdint>

#include "imaging/filter_median_window.h"
#include "imaging/filter_support.h"

constexpr int32_t kMaxNetworkInputs = 32;  // 5 x 5 padded to a power of two
constexpr int32_t kMaxComparators = 256;
constexpr int32_t kChunk = 128;  // pixels per pass through the network

struct Comparator {
    uint8_t lo, hi;  // after the exchange lo holds the smaller value
    uint8_t keepLo, keepHi;
};

struct Network {
    int32_t inputs;  // real inputs; wires inputs..wires-1 hold 65535
    int32_t wires;
    int32_t output;  // wire holding the median
    int32_t count;
    Comparator c[kMaxComparators];
};

// Batcher's odd-even merge sort for `wires` (a power of two), pruned backwards from `output`.
void BuildMedianNetwork(int32_t inputs, Network* net);

// Pixels per vector of the median paths at a SIMD level.
int32_t MedianLanes(int32_t simd);

// One row of a 3 x 3 or 5 x 5 median from win.rows[0 .. n - 1], by whole vectors where the row
// holds one, else by net's table. wires: kMaxNetworkInputs * kChunk counters.
void NetworkRow(const Network& net, int32_t simd, const PaddedWindow& win, int32_t w, uint16_t* out,
                uint16_t* wires);

// Output columns per strip of the sorted-column medians, whose sorted and merged columns stay
// in the first-level cache.
constexpr int32_t kStrip = 256;

// The sorted padded columns and merged pairs of one strip: at most 10 + 20 rows (the 11 x 11
// pairs; 7 x 7 one row at a time takes 7 + 14), a fixed stride apart from one base, so that
// every row is a constant offset from one register. An array of row pointers had to be read
// again after every vector store (a byte copy, which may change any memory), and 32-bit code
// kept it on the stack (Median 7 with AVX-512: 4.49 -> 3.35 ms; eight registers 6.95 -> 5.30).
constexpr int32_t kLargestPairMask = 11;
constexpr int32_t kSortedRows = 3 * (kLargestPairMask - 1);
constexpr size_t kSortedRowBytes = Align64(((size_t)kStrip + kLargestPairMask - 1) * sizeof(uint16_t));

struct SortedRows {
    uint16_t* base;
    uint16_t* operator[](int32_t r) const { return base + (size_t)r * (kSortedRowBytes / sizeof(uint16_t)); }
    SortedRows operator+(int32_t r) const { return SortedRows{(*this)[r]}; }
};

// One 7 x 7 row from win.rows[0 .. 6] (w at least one vector wide). sorted: 7 rows of sorted
// columns, then 14 of merged pairs, each kStrip + 6 long.
void SortedRow7(int32_t simd, const PaddedWindow& win, int32_t w, uint16_t* out, SortedRows sorted);

// Two n x n rows (n = 3, 5, 7, 9 or 11) from win.rows[0 .. n] (w at least one vector wide). sorted:
// n - 1 rows of sorted columns, then 2 (n - 1) of merged pairs, each kStrip + n - 1 long.
void MedianPair(int32_t n, int32_t simd, const PaddedWindow& win, int32_t w, uint16_t* outTop,
                uint16_t* outBottom, SortedRows sorted);
