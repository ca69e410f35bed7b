// The n x n median (types 12, 13) and the five-point cross median (type 11).
// Inputs: a W x H block and a mask size; borders repeat the edge pixel (the cross median
// instead leaves its one-pixel border as it is). Output: the element at index n*n / 2 of the
// sorted window, written back in place through row bands (filter_bands.h), which equals
// computing into a second block from the unchanged input.
// Method: masks 3, 5 and 7 run selection networks (sorting networks pruned to the comparators
// the middle output depends on) on whole vectors of output pixels, so each exchange is a
// vector min and max: on columns sorted and merged in pairs once per row, two rows at a time,
// whose shared n - 1 rows narrow the median to n + 1 candidates (a band's odd row and rows
// narrower than a vector take other forms); larger masks slide a histogram along each row and
// track the median as it moves, which costs O(n) per pixel instead of sorting n*n values.
// The cross median runs its five-value network on vectors too, in place, row by row.
// Failure: without a band's working memory the image is left unchanged; the cross median
// without its two saved rows likewise.
#include "imaging/filter_median.h"

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstring>
#include <type_traits>
#include <utility>

#include "imaging/filter_bands.h"
#include "imaging/filter_simd.h"
#include "imaging/filter_support.h"

#if NYRA_HAVE_AVX2_PATH
#include <immintrin.h>
#endif

NYRA_VECTORIZE_LOOPS

namespace {

// ---- selection network ------------------------------------------------------------------

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
void BuildMedianNetwork(int32_t inputs, Network* net)
{
    int32_t wires = 1;
    while (wires < inputs)
        wires *= 2;
    Comparator all[kMaxComparators * 2];
    int32_t total = 0;
    for (int32_t p = 1; p < wires; p *= 2) {
        for (int32_t k = p; k >= 1; k /= 2) {
            for (int32_t j = k % p; j + k < wires; j += 2 * k) {
                for (int32_t i = 0; i < k && i + j + k < wires; i++) {
                    if ((i + j) / (2 * p) == (i + j + k) / (2 * p))
                        all[total++] = Comparator{(uint8_t)(i + j), (uint8_t)(i + j + k), 1, 1};
                }
            }
        }
    }
    bool needed[kMaxNetworkInputs] = {};
    net->output = inputs / 2;
    needed[net->output] = true;
    Comparator kept[kMaxComparators * 2];
    int32_t count = 0;
    for (int32_t i = total - 1; i >= 0; i--) {
        Comparator c = all[i];
        c.keepLo = needed[c.lo];
        c.keepHi = needed[c.hi];
        if (!c.keepLo && !c.keepHi)
            continue;
        // A comparator against a padding wire that no earlier comparator touched would
        // change nothing; the simple form below keeps it (harmless).
        needed[c.lo] = needed[c.hi] = true;
        kept[count++] = c;
    }
    net->inputs = inputs;
    net->wires = wires;
    net->count = count;
    for (int32_t i = 0; i < count; i++)
        net->c[i] = kept[count - 1 - i];
}

struct MedianJob {
    int32_t n;
    int32_t simd;
    Network net;  // masks 3 and 5: the table form for rows narrower than one vector
};

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

// ---- selection network, table form ------------------------------------------------------

NYRA_ALWAYS_INLINE void NetworkRowBody(const Network& net, const PaddedWindow& win, int32_t w, uint16_t* out,
                                       uint16_t* wires)
{
    const int32_t n = win.n;
    for (int32_t i = net.inputs; i < net.wires; i++)
        std::fill(wires + (size_t)i * kChunk, wires + (size_t)(i + 1) * kChunk, (uint16_t)65535);
    for (int32_t x0 = 0; x0 < w; x0 += kChunk) {
        const int32_t len = std::min(kChunk, w - x0);
        for (int32_t i = 0; i < n; i++) {
            const uint16_t* row = win.rows[i] + x0;
            for (int32_t j = 0; j < n; j++)
                memcpy(wires + (size_t)(i * n + j) * kChunk, row + j, len * sizeof(uint16_t));
        }
        for (int32_t k = 0; k < net.count; k++) {
            const Comparator c = net.c[k];
            uint16_t* __restrict a = wires + (size_t)c.lo * kChunk;
            uint16_t* __restrict b = wires + (size_t)c.hi * kChunk;
            if (c.keepLo && c.keepHi) {
                for (int32_t x = 0; x < kChunk; x++) {
                    uint16_t lo = std::min(a[x], b[x]), hi = std::max(a[x], b[x]);
                    a[x] = lo;
                    b[x] = hi;
                }
            } else if (c.keepLo) {
                for (int32_t x = 0; x < kChunk; x++)
                    a[x] = std::min(a[x], b[x]);
            } else {
                for (int32_t x = 0; x < kChunk; x++)
                    b[x] = std::max(a[x], b[x]);
            }
        }
        memcpy(out + x0, wires + (size_t)net.output * kChunk, len * sizeof(uint16_t));
    }
}

// ---- fixed networks in vector registers -------------------------------------------------
// The same pruned Batcher networks for 9 and 25 inputs, written out as constants so that every
// exchange is two register instructions; used for a band's odd row where a whole vector of
// output pixels fits in the row. (Generated by pruning the comparators the middle output does
// not depend on and those that only meet a padding wire.) kind: 1 keep the minimum, 2 the
// maximum, 3 both.

struct Exchange {
    uint8_t lo, hi, kind;
};

// Before each loop over a network's wires: unrolled, the wires stay in registers. GCC leaves
// some of these loops rolled in the AVX2 copies, which then keep the wires in memory and copy
// each in two halves (median 3 x 3 there: 5.7 ms instead of 1.5).
#define UNROLL_WIRES _Pragma("GCC unroll 16")

constexpr int32_t kMedian9Output = 4;
constexpr Exchange kMedian9[] = {{0, 1, 3}, {2, 3, 3}, {4, 5, 3}, {6, 7, 3}, {0, 2, 3}, {1, 3, 3},
                                 {4, 6, 3}, {5, 7, 3}, {1, 2, 3}, {5, 6, 3}, {0, 4, 3}, {1, 5, 3},
                                 {2, 6, 3}, {3, 7, 1}, {2, 4, 3}, {3, 5, 3}, {1, 2, 2}, {3, 4, 3},
                                 {5, 6, 1}, {0, 8, 2}, {4, 8, 1}, {2, 4, 2}, {3, 5, 1}, {3, 4, 2}};
constexpr int32_t kMedian25Output = 12;
constexpr Exchange kMedian25[] = {
    {0, 1, 3},   {2, 3, 3},   {4, 5, 3},   {6, 7, 3},   {8, 9, 3},   {10, 11, 3}, {12, 13, 3}, {14, 15, 3},
    {16, 17, 3}, {18, 19, 3}, {20, 21, 3}, {22, 23, 3}, {0, 2, 3},   {1, 3, 3},   {4, 6, 3},   {5, 7, 3},
    {8, 10, 3},  {9, 11, 3},  {12, 14, 3}, {13, 15, 3}, {16, 18, 3}, {17, 19, 3}, {20, 22, 3}, {21, 23, 3},
    {1, 2, 3},   {5, 6, 3},   {9, 10, 3},  {13, 14, 3}, {17, 18, 3}, {21, 22, 3}, {0, 4, 3},   {1, 5, 3},
    {2, 6, 3},   {3, 7, 3},   {8, 12, 3},  {9, 13, 3},  {10, 14, 3}, {11, 15, 3}, {16, 20, 3}, {17, 21, 3},
    {18, 22, 3}, {19, 23, 3}, {2, 4, 3},   {3, 5, 3},   {10, 12, 3}, {11, 13, 3}, {18, 20, 3}, {19, 21, 3},
    {1, 2, 3},   {3, 4, 3},   {5, 6, 3},   {9, 10, 3},  {11, 12, 3}, {13, 14, 3}, {17, 18, 3}, {19, 20, 3},
    {21, 22, 3}, {0, 8, 3},   {1, 9, 3},   {2, 10, 3},  {3, 11, 3},  {4, 12, 3},  {5, 13, 3},  {6, 14, 3},
    {7, 15, 1},  {16, 24, 3}, {4, 8, 3},   {5, 9, 3},   {6, 10, 3},  {7, 11, 3},  {20, 24, 3}, {2, 4, 3},
    {3, 5, 3},   {6, 8, 3},   {7, 9, 3},   {10, 12, 3}, {11, 13, 3}, {18, 20, 3}, {19, 21, 3}, {22, 24, 3},
    {1, 2, 3},   {3, 4, 3},   {5, 6, 3},   {7, 8, 3},   {9, 10, 3},  {11, 12, 3}, {13, 14, 1}, {17, 18, 3},
    {19, 20, 3}, {21, 22, 3}, {23, 24, 3}, {0, 16, 2},  {1, 17, 2},  {2, 18, 2},  {3, 19, 2},  {4, 20, 2},
    {5, 21, 2},  {6, 22, 1},  {7, 23, 1},  {8, 24, 1},  {8, 16, 2},  {9, 17, 2},  {10, 18, 1}, {11, 19, 1},
    {12, 20, 1}, {13, 21, 1}, {6, 10, 2},  {7, 11, 2},  {12, 16, 1}, {13, 17, 1}, {10, 12, 2}, {11, 13, 1},
    {11, 12, 2}};

// The same for 3 x 3: two shared rows, a window's six shared values narrowed to their ranks
// 1 .. 4, and a row's own three values added to those (kFinal7).
// clang-format off
constexpr Exchange kSort2[] = {{0, 1, 3}};
constexpr Exchange kMerge2[] = {{0, 2, 3}, {1, 3, 3}, {1, 2, 3}};
constexpr uint8_t kMerge2Rank[4] = {0, 1, 2, 3};
constexpr Exchange kShared6[] = {{0, 4, 2}, {2, 4, 3}, {1, 5, 3}, {3, 5, 1}, {1, 2, 3}, {3, 4, 3}};
constexpr uint8_t kShared6Rank[4] = {1, 2, 3, 4};
constexpr Exchange kFinal7[] = {{4, 5, 3}, {5, 6, 3}, {4, 5, 3}, {0, 4, 2}, {2, 6, 1}, {2, 4, 2}, {1, 5, 2}, {3, 5, 1}, {3, 4, 1}};
constexpr int32_t kFinal7Output = 3;
// clang-format on

// Two 5 x 5 rows at once share four input rows, the 7 x 7 pair's scheme below on a smaller
// window: kSort4 and kMerge4 do the shared columns, kShared20 narrows a window's 20 shared
// values to the six that can still be the median (ranks 7 .. 12, on wires kShared20Rank), and
// kFinal11 adds a row's own five values (wires 6 .. 10) to them. Fewer exchanges per pixel
// than the network on 25 single values, and fewer values alive at once, which is what the
// eight registers of a 32-bit build need. (tools/networks/median_networks.py prints and
// proves them.)
// clang-format off
constexpr Exchange kSort4[] = {{0, 1, 3}, {2, 3, 3}, {0, 2, 3}, {1, 3, 3}, {1, 2, 3}};
constexpr Exchange kMerge4[] = {
    {0, 4, 3}, {2, 6, 3}, {2, 4, 3}, {1, 5, 3}, {3, 7, 3}, {3, 5, 3}, {1, 2, 3}, {3, 4, 3},
    {5, 6, 3}};
constexpr uint8_t kMerge4Rank[8] = {0, 1, 2, 3, 4, 5, 6, 7};
constexpr Exchange kShared20[] = {
    {0, 8, 3}, {4, 12, 3}, {4, 8, 3}, {2, 10, 3}, {6, 14, 3}, {6, 10, 3}, {2, 4, 3}, {6, 8, 3},
    {10, 12, 3}, {1, 9, 3}, {5, 13, 3}, {5, 9, 3}, {3, 11, 3}, {7, 15, 1}, {7, 11, 3}, {3, 5, 3},
    {7, 9, 3}, {11, 13, 3}, {1, 2, 3}, {3, 4, 3}, {5, 6, 3}, {7, 8, 3}, {9, 10, 3}, {11, 12, 3},
    {13, 14, 1}, {0, 16, 2}, {8, 16, 3}, {4, 8, 2}, {12, 16, 1}, {2, 18, 2}, {10, 18, 1}, {6, 10, 3},
    {6, 8, 2}, {10, 12, 3}, {1, 17, 2}, {9, 17, 3}, {5, 9, 2}, {13, 17, 1}, {3, 19, 2}, {11, 19, 1},
    {7, 11, 3}, {7, 9, 3}, {11, 13, 1}, {7, 8, 3}, {9, 10, 3}, {11, 12, 3}};
constexpr uint8_t kShared20Rank[6] = {7, 8, 9, 10, 11, 12};
constexpr Exchange kFinal11[] = {
    {6, 7, 3}, {9, 10, 3}, {8, 10, 3}, {8, 9, 3}, {7, 10, 3}, {6, 9, 3}, {6, 8, 3}, {7, 9, 3},
    {7, 8, 3}, {0, 6, 2}, {4, 10, 1}, {4, 6, 2}, {2, 8, 2}, {8, 6, 1}, {1, 7, 2}, {5, 7, 1},
    {3, 9, 1}, {3, 5, 2}, {5, 8, 1}};
constexpr int32_t kFinal11Output = 5;
// clang-format on

// 7 x 7 from sorted columns, with the work shared between neighbouring output pixels: each
// padded column's seven values are sorted once per row (kSort7), each pair of neighbouring
// sorted columns is merged once (kMerge7; rank k lands on wire kMerge7Rank[k]), and a window
// then takes three merged pairs and one sorted column through the pruned Batcher merges down
// to its median (kMedian49: wire 14 b + r is rank r of pair b, wires 42.. the last column;
// the merges were padded to powers of two with +infinity, whose comparators fall away).
constexpr Exchange kSort7[] = {{0, 6, 3}, {2, 3, 3}, {4, 5, 3}, {0, 2, 3}, {1, 4, 3}, {3, 6, 3},
                               {0, 1, 3}, {2, 5, 3}, {3, 4, 3}, {1, 2, 3}, {4, 6, 3}, {2, 3, 3},
                               {4, 5, 3}, {1, 2, 3}, {3, 4, 3}, {5, 6, 3}};
constexpr Exchange kMerge7[] = {{0, 7, 3},  {1, 8, 3},  {2, 9, 3},  {3, 10, 3}, {4, 11, 3}, {5, 12, 3},
                                {6, 13, 3}, {4, 7, 3},  {5, 8, 3},  {6, 9, 3},  {2, 4, 3},  {3, 5, 3},
                                {6, 7, 3},  {10, 8, 3}, {9, 11, 3}, {1, 2, 3},  {3, 4, 3},  {5, 6, 3},
                                {10, 7, 3}, {8, 9, 3},  {12, 11, 3}};
constexpr uint8_t kMerge7Rank[14] = {0, 1, 2, 3, 4, 5, 6, 10, 7, 8, 9, 12, 11, 13};
constexpr int32_t kMedian49Output = 22;
constexpr Exchange kMedian49[] = {
    {0, 14, 3},  {1, 15, 3},  {2, 16, 3},  {3, 17, 3},  {4, 18, 3},  {5, 19, 3},  {6, 20, 3},  {7, 21, 3},
    {8, 22, 3},  {9, 23, 3},  {10, 24, 3}, {11, 25, 3}, {12, 26, 3}, {13, 27, 3}, {28, 42, 3}, {29, 43, 3},
    {30, 44, 3}, {31, 45, 3}, {32, 46, 3}, {33, 47, 3}, {34, 48, 3}, {8, 14, 3},  {9, 15, 3},  {10, 16, 3},
    {11, 17, 3}, {12, 18, 3}, {13, 19, 3}, {36, 42, 3}, {37, 43, 3}, {38, 44, 3}, {39, 45, 3}, {40, 46, 3},
    {41, 47, 3}, {4, 8, 3},   {5, 9, 3},   {6, 10, 3},  {7, 11, 3},  {12, 14, 3}, {13, 15, 3}, {20, 16, 3},
    {21, 17, 3}, {18, 22, 3}, {19, 23, 3}, {32, 36, 3}, {33, 37, 3}, {34, 38, 3}, {35, 39, 3}, {40, 42, 3},
    {41, 43, 3}, {48, 44, 3}, {2, 4, 3},   {3, 5, 3},   {6, 8, 3},   {7, 9, 3},   {10, 12, 3}, {11, 13, 3},
    {20, 14, 3}, {21, 15, 3}, {16, 18, 3}, {17, 19, 3}, {24, 22, 3}, {25, 23, 3}, {30, 32, 3}, {31, 33, 3},
    {34, 36, 3}, {35, 37, 3}, {38, 40, 3}, {39, 41, 3}, {48, 42, 3}, {45, 43, 3}, {44, 46, 3}, {1, 2, 3},
    {3, 4, 3},   {5, 6, 3},   {7, 8, 3},   {9, 10, 3},  {11, 12, 3}, {13, 20, 3}, {21, 14, 3}, {15, 16, 3},
    {17, 18, 3}, {19, 24, 3}, {25, 22, 3}, {23, 26, 3}, {29, 30, 3}, {31, 32, 3}, {33, 34, 3}, {35, 36, 3},
    {37, 38, 3}, {39, 40, 3}, {41, 48, 3}, {45, 42, 3}, {43, 44, 3}, {47, 46, 3}, {0, 28, 2},  {1, 29, 2},
    {2, 30, 2},  {3, 31, 2},  {4, 32, 2},  {5, 33, 2},  {6, 34, 2},  {7, 35, 2},  {8, 36, 2},  {9, 37, 2},
    {10, 38, 2}, {11, 39, 2}, {12, 40, 1}, {13, 41, 1}, {20, 48, 1}, {21, 45, 1}, {14, 42, 1}, {15, 43, 1},
    {16, 44, 1}, {17, 47, 1}, {18, 46, 1}, {14, 28, 2}, {15, 29, 2}, {16, 30, 2}, {17, 31, 2}, {18, 32, 1},
    {19, 33, 1}, {24, 34, 1}, {25, 35, 1}, {22, 36, 1}, {23, 37, 1}, {26, 38, 1}, {27, 39, 1}, {12, 18, 2},
    {13, 19, 2}, {20, 24, 2}, {21, 25, 2}, {22, 28, 1}, {23, 29, 1}, {26, 30, 1}, {27, 31, 1}, {18, 22, 2},
    {19, 23, 2}, {24, 26, 1}, {25, 27, 1}, {24, 22, 2}, {25, 23, 1}, {25, 22, 2}};

// Two output rows at once: their windows share six input rows. Each padded column of those
// six is sorted (kSort6) and neighbouring sorted columns are merged (kMerge6; rank k on wire
// kMerge6Rank[k]). Of the 42 shared values of a window (three merged pairs, wires 0..35, and
// one sorted column, 36..41) only ranks 17 .. 24 can be the median of a 49-value window that
// adds seven more, so kShared42 computes just those (rank 17 + i on wire kShared42Rank[i]).
// Each row then sorts its own seven values (wires 8..14) and merges them with the eight
// candidates (wires 0..7) as far as rank 7, its median (kFinal15). kShared42's exchanges run
// in an order that keeps few wires alive at once: each wire meets its exchanges in the same
// order as in the plain merges, so every exchange sees the same two values, but fewer of the
// wires wait in memory (7 x 7 with AVX-512 on one machine: 4.54 -> 4.31 ms; AVX2 6.06 -> 5.84).
// tools/networks/median_networks.py prints and proves these tables and finds that order.
constexpr Exchange kSort6[] = {{1, 2, 3}, {0, 2, 3}, {0, 1, 3}, {4, 5, 3}, {3, 5, 3}, {3, 4, 3},
                               {0, 3, 3}, {1, 4, 3}, {2, 5, 3}, {2, 4, 3}, {1, 3, 3}, {2, 3, 3}};
constexpr Exchange kMerge6[] = {{0, 6, 3}, {4, 10, 3}, {4, 6, 3}, {2, 8, 3}, {2, 4, 3}, {8, 6, 3},
                                {1, 7, 3}, {5, 11, 3}, {5, 7, 3}, {3, 9, 3}, {3, 5, 3}, {9, 7, 3},
                                {1, 2, 3}, {3, 4, 3},  {5, 8, 3}, {9, 6, 3}, {7, 10, 3}};
constexpr uint8_t kMerge6Rank[12] = {0, 1, 2, 3, 4, 5, 8, 9, 6, 7, 10, 11};
constexpr Exchange kShared42[] = {
    {0, 12, 3},  {8, 20, 3},  {8, 12, 3},  {4, 16, 3},  {4, 8, 3},   {16, 12, 3}, {2, 14, 3},  {2, 4, 3},
    {10, 22, 3}, {10, 14, 3}, {6, 18, 3},  {6, 10, 3},  {18, 14, 3}, {18, 12, 3}, {10, 16, 3}, {6, 8, 3},
    {14, 20, 3}, {1, 13, 3},  {1, 2, 3},   {9, 21, 3},  {9, 13, 3},  {5, 17, 3},  {5, 9, 3},   {17, 13, 3},
    {3, 15, 3},  {3, 5, 3},   {5, 6, 3},   {3, 4, 3},   {11, 23, 3}, {11, 15, 3}, {7, 19, 3},  {7, 11, 3},
    {19, 15, 3}, {19, 13, 3}, {11, 17, 3}, {7, 9, 3},   {15, 21, 3}, {15, 20, 3}, {7, 8, 3},   {9, 10, 3},
    {11, 16, 3}, {21, 22, 3}, {13, 14, 3}, {17, 18, 3}, {19, 12, 3}, {24, 36, 3}, {0, 24, 2},  {32, 36, 3},
    {28, 40, 3}, {28, 32, 3}, {40, 36, 3}, {26, 38, 3}, {26, 28, 3}, {34, 38, 3}, {38, 36, 3}, {30, 34, 3},
    {34, 40, 3}, {30, 32, 3}, {25, 37, 3}, {25, 26, 3}, {2, 26, 2},  {14, 26, 3}, {1, 25, 2},  {33, 37, 3},
    {29, 41, 3}, {29, 33, 3}, {41, 37, 3}, {27, 39, 3}, {27, 29, 3}, {29, 30, 3}, {27, 28, 3}, {4, 28, 2},
    {20, 28, 1}, {3, 27, 2},  {15, 27, 3}, {6, 30, 2},  {22, 30, 1}, {5, 29, 2},  {21, 29, 1}, {35, 39, 3},
    {39, 37, 3}, {39, 36, 3}, {12, 36, 1}, {12, 24, 2}, {19, 39, 1}, {13, 37, 1}, {13, 25, 3}, {31, 35, 3},
    {35, 41, 3}, {31, 33, 3}, {31, 32, 3}, {33, 34, 3}, {35, 40, 3}, {41, 38, 3}, {18, 38, 1}, {18, 22, 3},
    {17, 41, 1}, {17, 21, 3}, {16, 40, 1}, {16, 20, 2}, {11, 35, 3}, {11, 15, 2}, {35, 27, 1}, {10, 34, 3},
    {10, 14, 2}, {18, 14, 2}, {34, 26, 1}, {22, 34, 1}, {9, 33, 3},  {9, 13, 2},  {17, 13, 2}, {33, 25, 1},
    {21, 33, 3}, {8, 32, 2},  {32, 24, 1}, {20, 32, 3}, {22, 32, 3}, {14, 20, 3}, {7, 31, 2},  {23, 31, 1},
    {19, 23, 3}, {23, 35, 1}, {23, 33, 1}, {23, 32, 3}, {19, 15, 3}, {15, 21, 3}, {15, 20, 3}, {21, 22, 3},
    {19, 13, 2}, {13, 14, 3}};
constexpr uint8_t kShared42Rank[8] = {13, 14, 15, 20, 21, 22, 23, 32};
constexpr Exchange kFinal15[] = {{8, 14, 3},  {10, 11, 3}, {12, 13, 3}, {8, 10, 3},  {9, 12, 3},  {11, 14, 3},
                                 {8, 9, 3},   {10, 13, 3}, {11, 12, 3}, {9, 10, 3},  {12, 14, 3}, {10, 11, 3},
                                 {12, 13, 3}, {9, 10, 3},  {11, 12, 3}, {13, 14, 3}, {0, 8, 2},   {4, 12, 1},
                                 {4, 8, 2},   {2, 10, 2},  {6, 14, 1},  {6, 10, 1},  {6, 8, 2},   {1, 9, 2},
                                 {5, 13, 1},  {5, 9, 2},   {3, 11, 2},  {7, 11, 1},  {7, 9, 1},   {7, 8, 1}};
constexpr int32_t kFinal15Output = 7;

template <typename V>
NYRA_ALWAYS_INLINE void Exchange3(V& a, V& b)
{
    V lo = a < b ? a : b;
    V hi = a < b ? b : a;
    a = lo;
    b = hi;
}

// A function rather than a lambda: GCC gives a lambda no target attribute of its caller and
// may leave it out of line, where the wide vectors would run in pieces.
template <typename V>
NYRA_ALWAYS_INLINE void Step(V* w, const Exchange& e)
{
    V& a = w[e.lo];
    V& b = w[e.hi];
    if (e.kind == 3) {
        Exchange3(a, b);
    } else if (e.kind == 1) {
        a = a < b ? a : b;
    } else {
        b = a < b ? b : a;
    }
}

template <typename V, const Exchange* Net, size_t... K>
NYRA_ALWAYS_INLINE void RunNetwork(V* w, std::index_sequence<K...>)
{
    (Step<V>(w, Net[K]), ...);
}

typedef uint16_t Lanes16 __attribute__((vector_size(32)));
typedef uint16_t Lanes32 __attribute__((vector_size(64)));
// The baseline (SSE2) has minimum and maximum instructions for signed 16-bit lanes only; the
// unsigned ones cost five instructions each there. So its networks run on signed lanes: a
// pixel loaded from the image has its top bit flipped, which maps the unsigned order onto the
// signed one, and flipped back when a median is stored. Sorted columns stay flipped between.
typedef int16_t Lanes8 __attribute__((vector_size(16)));

template <typename V>
constexpr bool kFlipped = std::is_same<V, Lanes8>::value;

template <typename V>
NYRA_ALWAYS_INLINE void LoadPixels(V& v, const uint16_t* p)
{
    memcpy(&v, p, sizeof(V));
    if constexpr (kFlipped<V>)
        v ^= (int16_t)INT16_MIN;
}

template <typename V>
NYRA_ALWAYS_INLINE void StorePixels(uint16_t* p, const V& v)
{
    V out = v;
    if constexpr (kFlipped<V>)
        out ^= (int16_t)INT16_MIN;
    memcpy(p, &out, sizeof(V));
}

// Medians of the n x n windows of output pixels x0 .. x0 + lanes - 1 of one row.
template <typename V, int32_t N>
NYRA_ALWAYS_INLINE void MedianVector(const uint16_t* const* rows, int32_t x0, uint16_t* out)
{
    V w[N * N];
    UNROLL_WIRES
    for (int32_t i = 0; i < N; i++) {
        UNROLL_WIRES
        for (int32_t j = 0; j < N; j++)
            LoadPixels(w[i * N + j], rows[i] + x0 + j);
    }
    if (N == 3) {
        RunNetwork<V, kMedian9>(w, std::make_index_sequence<sizeof(kMedian9) / sizeof(Exchange)>());
        StorePixels(out, w[kMedian9Output]);
    } else {
        RunNetwork<V, kMedian25>(w, std::make_index_sequence<sizeof(kMedian25) / sizeof(Exchange)>());
        StorePixels(out, w[kMedian25Output]);
    }
}

// One row by whole vectors; the last vector of a row overlaps the one before it. False when
// the row is narrower than one vector (the table form runs instead).
template <typename V, int32_t N>
NYRA_ALWAYS_INLINE bool VectorRowBody(const PaddedWindow& win, int32_t w, uint16_t* out)
{
    constexpr int32_t lanes = (int32_t)(sizeof(V) / sizeof(uint16_t));
    if (w < lanes)
        return false;
    int32_t x0 = 0;
    for (; x0 + lanes <= w; x0 += lanes)
        MedianVector<V, N>(win.rows, x0, out + x0);
    if (x0 < w)
        MedianVector<V, N>(win.rows, w - lanes, out + (w - lanes));
    return true;
}

bool VectorRowBase(const PaddedWindow& win, int32_t w, uint16_t* out)
{
    return win.n == 3 ? VectorRowBody<Lanes8, 3>(win, w, out) : VectorRowBody<Lanes8, 5>(win, w, out);
}

NYRA_TARGET_AVX2 bool VectorRowAvx2(const PaddedWindow& win, int32_t w, uint16_t* out)
{
    return win.n == 3 ? VectorRowBody<Lanes16, 3>(win, w, out) : VectorRowBody<Lanes16, 5>(win, w, out);
}

NYRA_TARGET_AVX512 bool VectorRowAvx512(const PaddedWindow& win, int32_t w, uint16_t* out)
{
    return win.n == 3 ? VectorRowBody<Lanes32, 3>(win, w, out) : VectorRowBody<Lanes32, 5>(win, w, out);
}

// Every padded column of rows[0..R-1] sorted by the network Sort: sorted[r][x] is the r-th
// smallest of the R values at column x (pw columns; the last vector overlaps the one before it).
template <typename V, int32_t R, const Exchange* Sort, size_t SortSize>
NYRA_ALWAYS_INLINE void SortColumns(const uint16_t* const* rows, int32_t pw, uint16_t* const* sorted)
{
    constexpr int32_t lanes = (int32_t)(sizeof(V) / sizeof(uint16_t));
    for (int32_t x0 = 0; x0 < pw; x0 += lanes) {
        const int32_t x = std::min(x0, pw - lanes);
        V v[R];
        UNROLL_WIRES
        for (int32_t r = 0; r < R; r++)
            LoadPixels(v[r], rows[r] + x);
        RunNetwork<V, Sort>(v, std::make_index_sequence<SortSize / sizeof(Exchange)>());
        UNROLL_WIRES
        for (int32_t r = 0; r < R; r++)
            memcpy(sorted[r] + x, &v[r], sizeof(V));
    }
}

// pairs[k][x] = rank k of the 2R values of sorted columns x and x + 1 (the network Merge leaves
// rank k on wire Rank[k]), for x below pw - 1.
template <typename V, int32_t R, const Exchange* Merge, size_t MergeSize, const uint8_t* Rank>
NYRA_ALWAYS_INLINE void MergeColumnPairs(uint16_t* const* sorted, int32_t pw, uint16_t* const* pairs)
{
    constexpr int32_t lanes = (int32_t)(sizeof(V) / sizeof(uint16_t));
    for (int32_t x0 = 0; x0 < pw - 1; x0 += lanes) {
        const int32_t x = std::min(x0, pw - 1 - lanes);
        V v[2 * R];
        UNROLL_WIRES
        for (int32_t r = 0; r < R; r++) {
            memcpy(&v[r], sorted[r] + x, sizeof(V));
            memcpy(&v[R + r], sorted[r] + x + 1, sizeof(V));
        }
        RunNetwork<V, Merge>(v, std::make_index_sequence<MergeSize / sizeof(Exchange)>());
        UNROLL_WIRES
        for (int32_t k = 0; k < 2 * R; k++)
            memcpy(pairs[k] + x, &v[Rank[k]], sizeof(V));
    }
}

// The N R values of window columns x0 .. x0 + N - 1 of R sorted rows: the merged pairs at x0,
// x0 + 2, .. (2 R values each), then the sorted column x0 + N - 1.
template <typename V, int32_t R, int32_t N = 7>
NYRA_ALWAYS_INLINE void GatherWindowColumns(uint16_t* const* sorted, uint16_t* const* pairs, int32_t x0, V* w)
{
    UNROLL_WIRES
    for (int32_t b = 0; b < N / 2; b++) {
        UNROLL_WIRES
        for (int32_t r = 0; r < 2 * R; r++)
            memcpy(&w[b * 2 * R + r], pairs[r] + x0 + 2 * b, sizeof(V));
    }
    UNROLL_WIRES
    for (int32_t r = 0; r < R; r++)
        memcpy(&w[(N - 1) * R + r], sorted[r] + x0 + N - 1, sizeof(V));
}

// The networks of the one-row medians from sorted columns, by mask size.
template <int32_t N>
struct SortedNets;

template <>
struct SortedNets<7> {
    static constexpr const Exchange* kSort = kSort7;
    static constexpr size_t kSortSize = sizeof kSort7;
    static constexpr const Exchange* kMerge = kMerge7;
    static constexpr size_t kMergeSize = sizeof kMerge7;
    static constexpr const uint8_t* kRank = kMerge7Rank;
    static constexpr const Exchange* kWindow = kMedian49;
    static constexpr size_t kWindowSize = sizeof kMedian49;
    static constexpr int32_t kOutput = kMedian49Output;
};

// The median of window columns x0 .. x0 + N - 1: the pairs at x0, x0 + 2, .. and the sorted
// column x0 + N - 1.
template <typename V, int32_t N>
NYRA_ALWAYS_INLINE void SortedWindowMedian(uint16_t* const* sorted, uint16_t* const* pairs, int32_t x0,
                                           uint16_t* out)
{
    using Nets = SortedNets<N>;
    V w[N * N];
    GatherWindowColumns<V, N, N>(sorted, pairs, x0, w);
    RunNetwork<V, Nets::kWindow>(w, std::make_index_sequence<Nets::kWindowSize / sizeof(Exchange)>());
    StorePixels(out, w[Nets::kOutput]);
}

// One N x N row (w at least one vector wide), in strips of output columns whose sorted and
// merged columns stay in the first-level cache (the pairs of rows below use the same strips).
// sorted: N rows, then 2 N rows of pairs, each kStrip + N - 1 long.
constexpr int32_t kStrip = 256;

template <typename V, int32_t N>
NYRA_ALWAYS_INLINE void SortedRowBody(const PaddedWindow& win, int32_t w, uint16_t* out,
                                      uint16_t* const* sorted)
{
    using Nets = SortedNets<N>;
    constexpr int32_t lanes = (int32_t)(sizeof(V) / sizeof(uint16_t));
    for (int32_t s0 = 0; s0 < w; s0 += kStrip) {
        int32_t len = std::min(kStrip, w - s0);
        if (len < lanes) {  // a short last strip overlaps the one before it
            s0 = w - lanes;
            len = lanes;
        }
        const uint16_t* rows[N];
        for (int32_t r = 0; r < N; r++)
            rows[r] = win.rows[r] + s0;
        SortColumns<V, N, Nets::kSort, Nets::kSortSize>(rows, len + N - 1, sorted);
        MergeColumnPairs<V, N, Nets::kMerge, Nets::kMergeSize, Nets::kRank>(sorted, len + N - 1, sorted + N);
        int32_t x0 = 0;
        for (; x0 + lanes <= len; x0 += lanes)
            SortedWindowMedian<V, N>(sorted, sorted + N, x0, out + s0 + x0);
        if (x0 < len)
            SortedWindowMedian<V, N>(sorted, sorted + N, len - lanes, out + s0 + (len - lanes));
    }
}

template <int32_t N>
void SortedRowBase(const PaddedWindow& win, int32_t w, uint16_t* out, uint16_t* const* sorted)
{
    SortedRowBody<Lanes8, N>(win, w, out, sorted);
}

template <int32_t N>
NYRA_TARGET_AVX2 void SortedRowAvx2(const PaddedWindow& win, int32_t w, uint16_t* out,
                                    uint16_t* const* sorted)
{
    SortedRowBody<Lanes16, N>(win, w, out, sorted);
}

template <int32_t N>
NYRA_TARGET_AVX512 void SortedRowAvx512(const PaddedWindow& win, int32_t w, uint16_t* out,
                                        uint16_t* const* sorted)
{
    SortedRowBody<Lanes32, N>(win, w, out, sorted);
}

template <int32_t N>
void SortedRow(int32_t simd, const PaddedWindow& win, int32_t w, uint16_t* out, uint16_t* const* sorted)
{
    if (simd == 2)
        SortedRowAvx512<N>(win, w, out, sorted);
    else if (simd == 1)
        SortedRowAvx2<N>(win, w, out, sorted);
    else
        SortedRowBase<N>(win, w, out, sorted);
}

// The networks of the two-row medians, by mask size: the N - 1 shared rows' columns sorted
// (kSort) and merged in pairs (kMerge, kRank), a window's shared values narrowed to the N + 1
// that can be the median (kShared; rank order on wires kCandidates), and those merged with a
// row's own N values (kFinal, wires N + 1 ..) as far as its median.
template <const Exchange* Sort, size_t SortSize, const Exchange* Merge, size_t MergeSize, const uint8_t* Rank,
          const Exchange* Shared, size_t SharedSize, const uint8_t* Candidates, const Exchange* Final,
          size_t FinalSize, int32_t Output>
struct PairTables {
    static constexpr const Exchange* kSort = Sort;
    static constexpr size_t kSortSize = SortSize;
    static constexpr const Exchange* kMerge = Merge;
    static constexpr size_t kMergeSize = MergeSize;
    static constexpr const uint8_t* kRank = Rank;
    static constexpr const Exchange* kShared = Shared;
    static constexpr size_t kSharedSize = SharedSize;
    static constexpr const uint8_t* kCandidates = Candidates;
    static constexpr const Exchange* kFinal = Final;
    static constexpr size_t kFinalSize = FinalSize;
    static constexpr int32_t kOutput = Output;
};

template <int32_t N>
struct PairNets;
template <>
struct PairNets<3> : PairTables<kSort2, sizeof kSort2, kMerge2, sizeof kMerge2, kMerge2Rank, kShared6,
                                sizeof kShared6, kShared6Rank, kFinal7, sizeof kFinal7, kFinal7Output> {};
template <>
struct PairNets<5> : PairTables<kSort4, sizeof kSort4, kMerge4, sizeof kMerge4, kMerge4Rank, kShared20,
                                sizeof kShared20, kShared20Rank, kFinal11, sizeof kFinal11, kFinal11Output> {
};
template <>
struct PairNets<7> : PairTables<kSort6, sizeof kSort6, kMerge6, sizeof kMerge6, kMerge6Rank, kShared42,
                                sizeof kShared42, kShared42Rank, kFinal15, sizeof kFinal15, kFinal15Output> {
};

// One row's median from the shared candidates and the row's own N values at x0.
template <typename V, int32_t N>
NYRA_ALWAYS_INLINE void PairRowMedian(const V* shared, const uint16_t* own, int32_t x0, uint16_t* out)
{
    using Nets = PairNets<N>;
    V f[2 * N + 1];
    UNROLL_WIRES
    for (int32_t i = 0; i <= N; i++)
        f[i] = shared[Nets::kCandidates[i]];
    UNROLL_WIRES
    for (int32_t j = 0; j < N; j++)
        LoadPixels(f[N + 1 + j], own + x0 + j);
    RunNetwork<V, Nets::kFinal>(f, std::make_index_sequence<Nets::kFinalSize / sizeof(Exchange)>());
    StorePixels(out, f[Nets::kOutput]);
}

// The medians of two vertically neighbouring windows whose columns start at x0: top adds the
// row above the shared N - 1, bottom the row below.
template <typename V, int32_t N>
NYRA_ALWAYS_INLINE void MedianPairVector(uint16_t* const* sorted, uint16_t* const* pairs, const uint16_t* top,
                                         const uint16_t* bottom, int32_t x0, uint16_t* outTop,
                                         uint16_t* outBottom)
{
    using Nets = PairNets<N>;
    V w[N * (N - 1)];
    GatherWindowColumns<V, N - 1, N>(sorted, pairs, x0, w);
    RunNetwork<V, Nets::kShared>(w, std::make_index_sequence<Nets::kSharedSize / sizeof(Exchange)>());
    PairRowMedian<V, N>(w, top, x0, outTop);
    PairRowMedian<V, N>(w, bottom, x0, outBottom);
}

// Two N x N rows from win.rows[0 .. N] (w at least one vector wide), in strips as
// SortedRowBody. sorted: N - 1 rows of sorted columns, then 2 (N - 1) of merged pairs.
template <typename V, int32_t N>
NYRA_ALWAYS_INLINE void MedianPairBody(const PaddedWindow& win, int32_t w, uint16_t* outTop,
                                       uint16_t* outBottom, uint16_t* const* sorted)
{
    using Nets = PairNets<N>;
    constexpr int32_t R = N - 1;
    constexpr int32_t lanes = (int32_t)(sizeof(V) / sizeof(uint16_t));
    for (int32_t s0 = 0; s0 < w; s0 += kStrip) {
        int32_t len = std::min(kStrip, w - s0);
        if (len < lanes) {
            s0 = w - lanes;
            len = lanes;
        }
        const uint16_t* rows[R];
        for (int32_t r = 0; r < R; r++)
            rows[r] = win.rows[1 + r] + s0;
        const uint16_t* top = win.rows[0] + s0;
        const uint16_t* bottom = win.rows[N] + s0;
        SortColumns<V, R, Nets::kSort, Nets::kSortSize>(rows, len + R, sorted);
        MergeColumnPairs<V, R, Nets::kMerge, Nets::kMergeSize, Nets::kRank>(sorted, len + R, sorted + R);
        int32_t x0 = 0;
        for (; x0 + lanes <= len; x0 += lanes) {
            PrefetchRowLines(win.next[0], s0 + x0, s0 + x0 + lanes);
            PrefetchRowLines(win.next[1], s0 + x0, s0 + x0 + lanes);
            MedianPairVector<V, N>(sorted, sorted + R, top, bottom, x0, outTop + s0 + x0,
                                   outBottom + s0 + x0);
        }
        if (x0 < len)
            MedianPairVector<V, N>(sorted, sorted + R, top, bottom, len - lanes, outTop + s0 + (len - lanes),
                                   outBottom + s0 + (len - lanes));
    }
}

template <int32_t N>
void MedianPairBase(const PaddedWindow& win, int32_t w, uint16_t* outTop, uint16_t* outBottom,
                    uint16_t* const* sorted)
{
    MedianPairBody<Lanes8, N>(win, w, outTop, outBottom, sorted);
}

template <int32_t N>
NYRA_TARGET_AVX2 void MedianPairAvx2(const PaddedWindow& win, int32_t w, uint16_t* outTop,
                                     uint16_t* outBottom, uint16_t* const* sorted)
{
    MedianPairBody<Lanes16, N>(win, w, outTop, outBottom, sorted);
}

template <int32_t N>
NYRA_TARGET_AVX512 void MedianPairAvx512(const PaddedWindow& win, int32_t w, uint16_t* outTop,
                                         uint16_t* outBottom, uint16_t* const* sorted)
{
    MedianPairBody<Lanes32, N>(win, w, outTop, outBottom, sorted);
}

template <int32_t N>
void MedianPair(int32_t simd, const PaddedWindow& win, int32_t w, uint16_t* outTop, uint16_t* outBottom,
                uint16_t* const* sorted)
{
    if (simd == 2)
        MedianPairAvx512<N>(win, w, outTop, outBottom, sorted);
    else if (simd == 1)
        MedianPairAvx2<N>(win, w, outTop, outBottom, sorted);
    else
        MedianPairBase<N>(win, w, outTop, outBottom, sorted);
}

// Pixels per vector of the median paths at a SIMD level.
int32_t MedianLanes(int32_t simd)
{
    return simd == 2 ? 32 : simd == 1 ? 16 : 8;
}

void NetworkRow(const MedianJob& job, const PaddedWindow& win, int32_t w, uint16_t* out, uint16_t* wires)
{
    bool done = job.simd == 2   ? VectorRowAvx512(win, w, out)
                : job.simd == 1 ? VectorRowAvx2(win, w, out)
                                : VectorRowBase(win, w, out);
    if (!done)
        NetworkRowBody(job.net, win, w, out, wires);
}

// ---- sliding histogram ------------------------------------------------------------------
// Window counts fit 16 bits (n*n <= 255*255). The counters start at zero and each row takes
// its last window out again, so they are zero between rows. There is no second, coarse
// histogram to keep up to date: neighbouring pixels fall into the same coarse bin so often
// that its counters became a chain of dependent memory updates, the slowest part of the
// filter. The walk instead adds up a block of 256 fine counters when it meets a run of empty
// ones at a block boundary, which is rare except across large gaps, where it saves the most.

// Number of values from 256 * block to 256 * block + 255 in a histogram.
inline int32_t BlockCount(const uint16_t* fine, int32_t block)
{
    const uint16_t* f = fine + (size_t)block * 256;
    uint32_t sum = 0;
    for (int32_t i = 0; i < 256; i++)
        sum += f[i];
    return (int32_t)sum;
}

// Moves med to the window's element k, given less = the number of window values below med;
// count(v) is the number of window values equal to v, block(b) those in block b. Runs of four
// values at aligned positions, whole blocks when four empty values meet a block boundary,
// single values otherwise.
template <typename Count, typename Block>
NYRA_ALWAYS_INLINE int32_t WalkToMedian(int32_t med, int32_t& less, int32_t k, Count count, Block block)
{
    while (less > k) {
        if ((med & 3) == 0 && med >= 4) {
            const int32_t four = count(med - 1) + count(med - 2) + count(med - 3) + count(med - 4);
            if (four == 0 && (med & 255) == 0) {
                const int32_t inBlock = block((med >> 8) - 1);
                if (less - inBlock > k) {
                    less -= inBlock;
                    med -= 256;
                    continue;
                }
            }
            if (less - four > k) {
                less -= four;
                med -= 4;
                continue;
            }
        }
        med--;
        less -= count(med);
    }
    while (less + count(med) <= k) {
        if ((med & 3) == 0) {
            const int32_t four = count(med) + count(med + 1) + count(med + 2) + count(med + 3);
            if (four == 0 && (med & 255) == 0) {
                const int32_t inBlock = block(med >> 8);
                if (less + inBlock <= k) {
                    less += inBlock;
                    med += 256;
                    continue;
                }
            }
            if (less + four <= k) {
                less += four;
                med += 4;
                continue;
            }
        }
        less += count(med);
        med++;
    }
    return med;
}

// Moves the window of one input row (rows[i] of win) one column right in `fine`, counting
// the values that cross med (two counts, so the additions do not form one chain).
NYRA_ALWAYS_INLINE void SlideRow(const uint16_t* r, int32_t n, uint16_t* fine, int32_t medA, int32_t medB,
                                 int32_t* leftA, int32_t* enteredA, int32_t* leftB, int32_t* enteredB)
{
    const uint16_t gone = r[-1], come = r[n - 1];
    if (gone == come)
        return;  // flat areas: no counter changes at all
    fine[gone]--;
    fine[come]++;
    *leftA += gone < medA;
    *enteredA += come < medA;
    *leftB += gone < medB;
    *enteredB += come < medB;
}

// SlideCounts without the test, where the values differ.
NYRA_ALWAYS_INLINE void MoveCount(const uint16_t* r, int32_t n, uint16_t* fine)
{
    fine[r[-1]]--;
    fine[r[n - 1]]++;
}

// The counters of SlideRow alone, where the crossings are counted by whole columns.
NYRA_ALWAYS_INLINE void SlideCounts(const uint16_t* r, int32_t n, uint16_t* fine)
{
    const uint16_t gone = r[-1], come = r[n - 1];
    if (gone == come)
        return;
    fine[gone]--;
    fine[come]++;
}

void AddRows(const PaddedWindow& win, int32_t first, int32_t last, int32_t x, uint16_t* fine, int32_t sign)
{
    for (int32_t i = first; i < last; i++) {
        for (int32_t j = 0; j < win.n; j++)
            fine[win.rows[i][x + j]] += (uint16_t)sign;
    }
}

// Where a row's walk starts: the centre value of its first window, with the number of window
// values below it (rows first .. first + n - 1 of win, padded columns 0 .. n - 1). Starting
// from 0 instead costs a walk across the whole range of values at every row.
NYRA_ALWAYS_INLINE int32_t FirstMedianGuess(const PaddedWindow& win, int32_t first, int32_t& less)
{
    const int32_t n = win.n;
    const uint16_t guess = win.rows[first + n / 2][n / 2];
    less = 0;
    for (int32_t i = first; i < first + n; i++) {
        for (int32_t j = 0; j < n; j++)
            less += win.rows[i][j] < guess;
    }
    return guess;
}

// One output row: win.rows[0 .. n - 1].
void HistogramRow(const PaddedWindow& win, int32_t w, uint16_t* out, uint16_t* fine)
{
    const int32_t n = win.n;
    const int32_t k = n * n / 2;  // index of the median in the sorted window
    AddRows(win, 0, n, 0, fine, 1);
    int32_t less = 0;
    int32_t med = FirstMedianGuess(win, 0, less);
    for (int32_t x = 0; x < w; x++) {
        if (x > 0) {
            int32_t left = 0, entered = 0, unused = 0;
            for (int32_t i = 0; i < n; i++)
                SlideRow(win.rows[i] + x, n, fine, med, med, &left, &entered, &unused, &unused);
            less += entered - left;
        }
        med = WalkToMedian(
            med, less, k, [fine](int32_t v) { return (int32_t)fine[v]; },
            [fine](int32_t b) { return BlockCount(fine, b); });
        out[x] = (uint16_t)med;
    }
    AddRows(win, 0, n, w - 1, fine, -1);
}

// The median moves little from one pixel to the next. With AVX-512 the 32 counts around the
// last median (histograms a + b) are added up in one register, and the new median is read off
// their running sums without a walk; false (the walk runs instead) when it lies further away.
#if NYRA_HAVE_AVX2_PATH
// upTo[j] = counts of lanes 0 .. j, for 16 lanes.
NYRA_ALWAYS_INLINE NYRA_TARGET_AVX2 __m256i RunningSums16(__m256i counts)
{
    __m256i upTo = _mm256_add_epi16(counts, _mm256_slli_si256(counts, 2));
    upTo = _mm256_add_epi16(upTo, _mm256_slli_si256(upTo, 4));
    upTo = _mm256_add_epi16(upTo, _mm256_slli_si256(upTo, 8));
    const __m256i total = _mm256_shuffle_epi8(upTo, _mm256_set1_epi16(0x0f0e));
    return _mm256_add_epi16(upTo, _mm256_permute2x128_si256(total, total, 0x08));
}

// Not always_inline: the pair template has no target of its own; the AVX-512 pair function
// flattens it in.
inline NYRA_TARGET_AVX512 bool NearMedian(const uint16_t* a, const uint16_t* b, int32_t k, int32_t& med,
                                          int32_t& less)
{
    if (med < 16 || med > 65536 - 16)
        return false;
    const __m512i counts =
        _mm512_add_epi16(_mm512_loadu_si512(a + med - 16), _mm512_loadu_si512(b + med - 16));
    alignas(64) static const uint16_t kLane[32] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  10,
                                                   11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21,
                                                   22, 23, 24, 25, 26, 27, 28, 29, 30, 31};
    const __m512i lane = _mm512_load_si512(kLane);
    __m512i upTo = counts;  // upTo[j]: the counts of lanes 0 .. j
    for (int32_t step = 1; step < 32; step *= 2) {
        const __m512i from = _mm512_sub_epi16(lane, _mm512_set1_epi16((short)step));
        upTo = _mm512_add_epi16(upTo, _mm512_maskz_permutexvar_epi16((__mmask32)(~0u << step), from, upTo));
    }
    const __m512i before = _mm512_sub_epi16(upTo, counts);  // lanes 0 .. j - 1
    alignas(64) uint16_t sums[64];
    _mm512_store_si512(sums, upTo);
    _mm512_store_si512(sums + 32, before);
    const int32_t lessLow = less - sums[15];  // window values below med - 16
    if (lessLow > k || lessLow + sums[31] <= k)
        return false;
    // Lane j is value med - 16 + j, with lessLow + before[j] values below it.
    const __mmask32 atMost = _mm512_cmple_epu16_mask(before, _mm512_set1_epi16((short)(k - lessLow)));
    const int32_t j = __builtin_popcount(atMost) - 1;
    med = med - 16 + j;
    less = lessLow + sums[32 + j];
    return true;
}

// Among the lanes `in` of a window's column step, the values entering (come) below m less
// those leaving (gone) below m: how far the number of window values below m moves.
NYRA_ALWAYS_INLINE NYRA_TARGET_AVX512 int32_t NetBelow(__mmask32 in, __m512i gone, __m512i come, int32_t m)
{
    const __m512i limit = _mm512_set1_epi16((short)(uint16_t)m);
    return __builtin_popcount(_mm512_mask_cmplt_epu16_mask(in, come, limit))
           - __builtin_popcount(_mm512_mask_cmplt_epu16_mask(in, gone, limit));
}

// The crossings of a row pair's step to column x, from the ring's columns (win.columns): the
// values leaving (padded column x - 1) and entering (x + n - 1) each window that lie below
// its median, as two vector comparisons per window instead of 2n scalar ones.
inline NYRA_TARGET_AVX512 void CountCrossings(const PaddedWindow& win, int32_t x, int32_t medA, int32_t medB,
                                              int32_t& lessA, int32_t& lessB)
{
    const __m512i gone = _mm512_load_si512(win.columns + (size_t)(x - 1) * kColumnLanes);
    const __m512i come = _mm512_load_si512(win.columns + (size_t)(x + win.n - 1) * kColumnLanes);
    lessA += NetBelow(win.windowLanes[0], gone, come, medA);
    lessB += NetBelow(win.windowLanes[1], gone, come, medB);
}

// The last of 16 lanes whose before[j] is at most limit (those lanes are a prefix, as before
// only grows): the unsigned comparison as a maximum and an equality, two mask bits per lane.
NYRA_ALWAYS_INLINE NYRA_TARGET_AVX2 int32_t LastLaneAtMost16(__m256i before, int32_t limit)
{
    const __m256i l = _mm256_set1_epi16((short)limit);
    const uint32_t atMost =
        (uint32_t)_mm256_movemask_epi8(_mm256_cmpeq_epi16(_mm256_max_epu16(before, l), l));
    return __builtin_popcount(atMost) / 2 - 1;
}

// The same with AVX2: 16 counts around the median, and lane masks as two bits per lane.
inline NYRA_TARGET_AVX2 bool NearMedianAvx2(const uint16_t* a, const uint16_t* b, int32_t k, int32_t& med,
                                            int32_t& less)
{
    if (med < 8 || med > 65536 - 8)
        return false;
    const __m256i counts =
        _mm256_add_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(a + med - 8)),
                         _mm256_loadu_si256(reinterpret_cast<const __m256i*>(b + med - 8)));
    const __m256i upTo = RunningSums16(counts);
    const __m256i before = _mm256_sub_epi16(upTo, counts);
    alignas(32) uint16_t sums[32];
    _mm256_store_si256(reinterpret_cast<__m256i*>(sums), upTo);
    _mm256_store_si256(reinterpret_cast<__m256i*>(sums + 16), before);
    const int32_t lessLow = less - sums[7];  // window values below med - 8
    if (lessLow > k || lessLow + sums[15] <= k)
        return false;
    const int32_t j = LastLaneAtMost16(before, k - lessLow);
    med = med - 8 + j;
    less = lessLow + sums[16 + j];
    return true;
}

// The values of a 32-lane column below m among the selected lanes (two mask bits per lane):
// the top bits flipped, a signed comparison orders them as unsigned values.
inline NYRA_TARGET_AVX2 int32_t BelowInColumn(const uint16_t* column, int32_t m, uint64_t lanes)
{
    const __m256i flip = _mm256_set1_epi16((short)0x8000);
    const __m256i limit = _mm256_set1_epi16((short)(uint16_t)(m ^ 0x8000));
    const __m256i lo = _mm256_xor_si256(_mm256_load_si256(reinterpret_cast<const __m256i*>(column)), flip);
    const __m256i hi =
        _mm256_xor_si256(_mm256_load_si256(reinterpret_cast<const __m256i*>(column + 16)), flip);
    const uint64_t below = (uint64_t)(uint32_t)_mm256_movemask_epi8(_mm256_cmpgt_epi16(limit, lo))
                           | (uint64_t)(uint32_t)_mm256_movemask_epi8(_mm256_cmpgt_epi16(limit, hi)) << 32;
    return __builtin_popcountll(below & lanes) / 2;
}

inline NYRA_TARGET_AVX2 void CountCrossingsAvx2(const PaddedWindow& win, int32_t x, int32_t medA,
                                                int32_t medB, int32_t& lessA, int32_t& lessB)
{
    const uint16_t* gone = win.columns + (size_t)(x - 1) * kColumnLanes;
    const uint16_t* come = win.columns + (size_t)(x + win.n - 1) * kColumnLanes;
    lessA += BelowInColumn(come, medA, win.windowBytes[0]) - BelowInColumn(gone, medA, win.windowBytes[0]);
    lessB += BelowInColumn(come, medB, win.windowBytes[1]) - BelowInColumn(gone, medB, win.windowBytes[1]);
}
#else
// The pair body asks only on the AVX2 and AVX-512 paths, which this build has not.
inline bool NearMedian(const uint16_t*, const uint16_t*, int32_t, int32_t&, int32_t&)
{
    return false;
}
inline bool NearMedianAvx2(const uint16_t*, const uint16_t*, int32_t, int32_t&, int32_t&)
{
    return false;
}
inline void CountCrossings(const PaddedWindow&, int32_t, int32_t, int32_t, int32_t&, int32_t&) {}
inline void CountCrossingsAvx2(const PaddedWindow&, int32_t, int32_t, int32_t, int32_t&, int32_t&) {}
#endif

// Two output rows y and y + 1 (win.rows[0 .. n]): their windows share n - 1 input rows, kept
// in one histogram, so a column step costs n + 1 counter pairs for two pixels instead of 2n.
// The rows only one window holds have small histograms of their own. kWide: the AVX-512
// forms of the vector steps, else the AVX2 ones.
template <bool kNear, bool kColumns, bool kWide>
NYRA_ALWAYS_INLINE void HistogramRowPairBody(const PaddedWindow& win, int32_t w, uint16_t* outA,
                                             uint16_t* outB, uint16_t* shared, uint16_t* top,
                                             uint16_t* bottom)
{
    const int32_t n = win.n;
    const int32_t k = n * n / 2;
    AddRows(win, 1, n, 0, shared, 1);
    AddRows(win, 0, 1, 0, top, 1);
    AddRows(win, n, n + 1, 0, bottom, 1);
    int32_t lessA = 0, lessB = 0;
    int32_t medA = FirstMedianGuess(win, 0, lessA), medB = FirstMedianGuess(win, 1, lessB);
    for (int32_t x = 0; x < w; x++) {
        if (kColumns && x > 0) {
            for (int32_t i = 1; i < n; i++)
                SlideCounts(win.rows[i] + x, n, shared);
            SlideCounts(win.rows[0] + x, n, top);
            SlideCounts(win.rows[n] + x, n, bottom);
            if constexpr (kWide)
                CountCrossings(win, x, medA, medB, lessA, lessB);
            else
                CountCrossingsAvx2(win, x, medA, medB, lessA, lessB);
        } else if (x > 0) {
            int32_t leftA = 0, enteredA = 0, leftB = 0, enteredB = 0, unused = 0;
            for (int32_t i = 1; i < n; i++)
                SlideRow(win.rows[i] + x, n, shared, medA, medB, &leftA, &enteredA, &leftB, &enteredB);
            SlideRow(win.rows[0] + x, n, top, medA, medA, &leftA, &enteredA, &unused, &unused);
            SlideRow(win.rows[n] + x, n, bottom, medB, medB, &leftB, &enteredB, &unused, &unused);
            lessA += enteredA - leftA;
            lessB += enteredB - leftB;
        }
        bool nearA = false, nearB = false;
        if constexpr (kNear && kWide) {
            nearA = NearMedian(shared, top, k, medA, lessA);
            nearB = NearMedian(shared, bottom, k, medB, lessB);
        } else if constexpr (kNear) {
            nearA = NearMedianAvx2(shared, top, k, medA, lessA);
            nearB = NearMedianAvx2(shared, bottom, k, medB, lessB);
        }
        if (!nearA) {
            medA = WalkToMedian(
                medA, lessA, k, [=](int32_t v) { return (int32_t)shared[v] + top[v]; },
                [=](int32_t b) { return BlockCount(shared, b) + BlockCount(top, b); });
        }
        if (!nearB) {
            medB = WalkToMedian(
                medB, lessB, k, [=](int32_t v) { return (int32_t)shared[v] + bottom[v]; },
                [=](int32_t b) { return BlockCount(shared, b) + BlockCount(bottom, b); });
        }
        outA[x] = (uint16_t)medA;
        outB[x] = (uint16_t)medB;
    }
    AddRows(win, 1, n, w - 1, shared, -1);
    AddRows(win, 0, 1, w - 1, top, -1);
    AddRows(win, n, n + 1, w - 1, bottom, -1);
}

void HistogramRowPair(const PaddedWindow& win, int32_t w, uint16_t* outA, uint16_t* outB, uint16_t* shared,
                      uint16_t* top, uint16_t* bottom)
{
    HistogramRowPairBody<false, false, false>(win, w, outA, outB, shared, top, bottom);
}

#if NYRA_HAVE_AVX2_PATH
__attribute__((flatten)) NYRA_TARGET_AVX512 void HistogramRowPairAvx512(const PaddedWindow& win, int32_t w,
                                                                        uint16_t* outA, uint16_t* outB,
                                                                        uint16_t* shared, uint16_t* top,
                                                                        uint16_t* bottom)
{
    if (win.columns)
        HistogramRowPairBody<true, true, true>(win, w, outA, outB, shared, top, bottom);
    else
        HistogramRowPairBody<true, false, true>(win, w, outA, outB, shared, top, bottom);
}

__attribute__((flatten)) NYRA_TARGET_AVX2 void HistogramRowPairAvx2(const PaddedWindow& win, int32_t w,
                                                                    uint16_t* outA, uint16_t* outB,
                                                                    uint16_t* shared, uint16_t* top,
                                                                    uint16_t* bottom)
{
    if (win.columns)
        HistogramRowPairBody<true, true, false>(win, w, outA, outB, shared, top, bottom);
    else
        HistogramRowPairBody<true, false, false>(win, w, outA, outB, shared, top, bottom);
}
#endif

// The histograms of a band lie one stride apart. They are read at the same value together: a
// stride that is not a multiple of 4 KB keeps them from competing for one cache set and from
// looking like the same address to the store-to-load forwarding.
constexpr size_t kHistogramBytes = 65536 * sizeof(uint16_t);
constexpr size_t kHistogramStride = kHistogramBytes + 2112;
constexpr ptrdiff_t kHistogramCounts = kHistogramStride / sizeof(uint16_t);

// ---- several rows per sweep (AVX2, AVX-512) ---------------------------------------------
// T output rows y .. y + T - 1 (win.rows[0 .. n + T - 2]) share the n - T + 1 input rows
// T - 1 .. n - 1, kept in one histogram; each of the other 2 (T - 1) rows has its own, so
// a column step costs n + T - 1 counter pairs for T pixels. Output row t's window is the
// shared histogram plus own[t .. t + T - 2] (rows t .. T - 2 and n .. n + t - 1). The T
// medians are tracked independently, so their dependency chains run side by side.
#if NYRA_HAVE_AVX2_PATH

// Histogram i of the window of sweep row Row: the shared one (0), then own[Row + i - 1],
// which is histogram Row + i of the band. As a constant offset from the first, every window
// needs one pointer.
template <int32_t Row>
constexpr ptrdiff_t WindowHistogram(int32_t i)
{
    return i == 0 ? 0 : (Row + i) * kHistogramCounts;
}

// The counts of values v .. v + 31 in a window: the sum of its histograms.
template <int32_t T, int32_t Row>
NYRA_ALWAYS_INLINE NYRA_TARGET_AVX512 __m512i WindowCounts(const uint16_t* hist, int32_t v)
{
    __m512i sum = _mm512_loadu_si512(hist + v);
    for (int32_t i = 1; i < T; i++)
        sum = _mm512_add_epi16(sum, _mm512_loadu_si512(hist + WindowHistogram<Row>(i) + v));
    return sum;
}

// The total of 32 counts.
NYRA_ALWAYS_INLINE NYRA_TARGET_AVX512 int32_t SumLanes(__m512i counts)
{
    // (The unmasked shuffles and _mm512_reduce_add_epi32 trip GCC 12's -Wmaybe-uninitialized
    // in its own header.)
    __m512i sum = _mm512_madd_epi16(counts, _mm512_set1_epi16(1));
    sum = _mm512_add_epi32(sum, _mm512_maskz_shuffle_i64x2(0xff, sum, sum, 0x4e));
    sum = _mm512_add_epi32(sum, _mm512_maskz_shuffle_i64x2(0xff, sum, sum, 0xb1));
    sum = _mm512_add_epi32(sum, _mm512_maskz_shuffle_epi32(0xffff, sum, (_MM_PERM_ENUM)0x4e));
    sum = _mm512_add_epi32(sum, _mm512_maskz_shuffle_epi32(0xffff, sum, (_MM_PERM_ENUM)0xb1));
    typedef int32_t Lanes16x32 __attribute__((vector_size(64)));
    return ((Lanes16x32)sum)[0];
}

// upTo[j] = counts of lanes 0 .. j: running sums within each 128-bit lane by byte shifts
// (short latency), then each lane adds the totals of the lanes below it.
NYRA_ALWAYS_INLINE NYRA_TARGET_AVX512 __m512i RunningSums(__m512i counts)
{
    __m512i upTo = _mm512_add_epi16(counts, _mm512_bslli_epi128(counts, 2));
    upTo = _mm512_add_epi16(upTo, _mm512_bslli_epi128(upTo, 4));
    upTo = _mm512_add_epi16(upTo, _mm512_bslli_epi128(upTo, 8));
    const __m512i total = _mm512_maskz_shuffle_epi8(~0ull, upTo, _mm512_set1_epi16(0x0f0e));
    const __m512i zero = _mm512_setzero_si512();
    const __m512i carry = _mm512_add_epi16(_mm512_maskz_alignr_epi64(0xff, total, zero, 6),
                                           _mm512_add_epi16(_mm512_maskz_alignr_epi64(0xff, total, zero, 4),
                                                            _mm512_maskz_alignr_epi64(0xff, total, zero, 2)));
    return _mm512_add_epi16(upTo, carry);
}

NYRA_ALWAYS_INLINE NYRA_TARGET_AVX512 int32_t Lane(__m512i v, int32_t j)
{
    return ((Lanes32)v)[j];
}

// The counts of values v .. v + 15 in a window.
template <int32_t T, int32_t Row>
NYRA_ALWAYS_INLINE NYRA_TARGET_AVX2 __m256i WindowCounts16(const uint16_t* hist, int32_t v)
{
    __m256i sum = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(hist + v));
    for (int32_t i = 1; i < T; i++)
        sum = _mm256_add_epi16(
            sum, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(hist + WindowHistogram<Row>(i) + v)));
    return sum;
}

// The window's element k, given med and less = the number of window values below med. The
// 16 values from med up (or below med, when the median went down) are read at once; further
// away the search moves by blocks of 32 values. hist: T histograms with 32 zero counters
// beyond either end of the value range, so no read leaves them.
template <int32_t T, int32_t Row>
NYRA_ALWAYS_INLINE NYRA_TARGET_AVX512 int32_t SeekMedian(const uint16_t* hist, int32_t k, int32_t med,
                                                         int32_t& less)
{
    const bool down = less > k;
    int32_t base = down ? med - 16 : med;
    const __m256i near = WindowCounts16<T, Row>(hist, base);
    const __m256i nearUpTo = RunningSums16(near);
    const int32_t nearTotal = ((Lanes16)nearUpTo)[15];
    int32_t below = down ? less - nearTotal : less;  // window values below base
    if (below <= k && below + nearTotal > k) {
        const __m256i before = _mm256_sub_epi16(nearUpTo, near);
        const __mmask16 atMost = _mm256_cmple_epu16_mask(before, _mm256_set1_epi16((short)(k - below)));
        const int32_t j = __builtin_popcount(atMost) - 1;
        less = below + ((Lanes16)before)[j];
        return base + j;
    }
    // Further away, by blocks of 32 values up from base + 16 or down from base. rem: how
    // many window values the walk may still pass before the median (up: those below the
    // block it reads; down: those below its end, less one).
    const bool up = below <= k;
    const int32_t step = up ? 32 : -32;
    base = up ? base + 16 : base - 32;
    int32_t rem = up ? k - below - nearTotal : below - k - 1;
    __m512i counts;
    int32_t inBlock;
    for (;;) {
        // Up, the median is at least base; down, some value lies below base + 32: so base
        // stays within 32 values of the range and the reads within the margins.
        counts = WindowCounts<T, Row>(hist, base);
        inBlock = SumLanes(counts);
        if (inBlock > rem)
            break;
        rem -= inBlock;
        base += step;
    }
    const __m512i upTo = RunningSums(counts);
    below = up ? k - rem : k + 1 + rem - inBlock;
    // Lane j is value base + j, with below + before[j] window values below it.
    const __m512i before = _mm512_sub_epi16(upTo, counts);
    const __mmask32 atMost = _mm512_cmple_epu16_mask(before, _mm512_set1_epi16((short)(k - below)));
    const int32_t j = __builtin_popcount(atMost) - 1;
    less = below + Lane(before, j);
    return base + j;
}

// The median of sweep row Row at column x, from the last one (see SeekMedian).
template <int32_t T, int32_t Row>
NYRA_ALWAYS_INLINE NYRA_TARGET_AVX512 void NextMedian(const uint16_t* hist, int32_t k, int32_t* med,
                                                      int32_t* less, uint16_t* const* out, int32_t x)
{
    med[Row] = SeekMedian<T, Row>(hist, k, med[Row], less[Row]);
    out[Row][x] = (uint16_t)med[Row];
}

template <int32_t T, size_t... Row>
inline NYRA_TARGET_AVX512 void NextMedians(const uint16_t* hist, int32_t k, int32_t* med, int32_t* less,
                                           uint16_t* const* out, int32_t x, std::index_sequence<Row...>)
{
    (NextMedian<T, (int32_t)Row>(hist, k, med, less, out, x), ...);
}

// The same with AVX2: blocks of 16 values, lane masks as two bits per lane.
template <int32_t T, int32_t Row>
NYRA_ALWAYS_INLINE NYRA_TARGET_AVX2 int32_t SeekMedianAvx2(const uint16_t* hist, int32_t k, int32_t med,
                                                           int32_t& less)
{
    const bool down = less > k;
    int32_t base = down ? med - 16 : med;
    __m256i counts = WindowCounts16<T, Row>(hist, base);
    __m256i upTo = RunningSums16(counts);
    int32_t inBlock = ((Lanes16)upTo)[15];
    int32_t below = down ? less - inBlock : less;  // window values below base
    if (below > k || below + inBlock <= k) {
        // Further away, as SeekMedian, by blocks of 16.
        const bool up = below <= k;
        const int32_t step = up ? 16 : -16;
        int32_t rem = up ? k - below - inBlock : below - k - 1;
        for (;;) {
            base += step;
            counts = WindowCounts16<T, Row>(hist, base);
            upTo = RunningSums16(counts);
            inBlock = ((Lanes16)upTo)[15];
            if (inBlock > rem)
                break;
            rem -= inBlock;
        }
        below = up ? k - rem : k + 1 + rem - inBlock;
    }
    const __m256i before = _mm256_sub_epi16(upTo, counts);
    const int32_t j = LastLaneAtMost16(before, k - below);
    less = below + ((Lanes16)before)[j];
    return base + j;
}

template <int32_t T, size_t... Row>
inline NYRA_TARGET_AVX2 void NextMediansAvx2(const uint16_t* hist, int32_t k, int32_t* med, int32_t* less,
                                             uint16_t* const* out, int32_t x, std::index_sequence<Row...>)
{
    ((med[Row] = SeekMedianAvx2<T, (int32_t)Row>(hist, k, med[Row], less[Row]),
      out[Row][x] = (uint16_t)med[Row]),
     ...);
}

// A sweep's step to column x from the ring's columns (win.columns), the values leaving (gone,
// padded column x - 1) and entering (come, x + n - 1) the windows: less[t] += those of window
// t entering less those leaving below med[t], two vector comparisons per window instead of 2n
// scalar ones. True when a row of the sweep keeps its value (flat stretches).
template <int32_t T>
inline NYRA_TARGET_AVX512 bool StepCrossings(const PaddedWindow& win, const uint16_t* gone,
                                             const uint16_t* come, const int32_t* med, int32_t* less)
{
    const __m512i g = _mm512_load_si512(gone), c = _mm512_load_si512(come);
#pragma GCC unroll 8
    for (int32_t t = 0; t < T; t++)
        less[t] += NetBelow(win.windowLanes[t], g, c, med[t]);
    return _mm512_mask_cmpeq_epi16_mask(win.windowLanes[0] | win.windowLanes[T - 1], g, c) != 0;
}

template <int32_t T>
inline NYRA_TARGET_AVX2 bool StepCrossingsAvx2(const PaddedWindow& win, const uint16_t* gone,
                                               const uint16_t* come, const int32_t* med, int32_t* less)
{
#pragma GCC unroll 8
    for (int32_t t = 0; t < T; t++)
        less[t] +=
            BelowInColumn(come, med[t], win.windowBytes[t]) - BelowInColumn(gone, med[t], win.windowBytes[t]);
    const __m256i* g = reinterpret_cast<const __m256i*>(gone);
    const __m256i* c = reinterpret_cast<const __m256i*>(come);
    const uint64_t same = (uint64_t)(uint32_t)_mm256_movemask_epi8(
                              _mm256_cmpeq_epi16(_mm256_load_si256(g), _mm256_load_si256(c)))
                          | (uint64_t)(uint32_t)_mm256_movemask_epi8(
                                _mm256_cmpeq_epi16(_mm256_load_si256(g + 1), _mm256_load_si256(c + 1)))
                                << 32;
    return (same & (win.windowBytes[0] | win.windowBytes[T - 1])) != 0;
}

// hist: the shared histogram, followed at kHistogramCounts intervals by the 2 (T - 1) of the
// rows only some windows hold (own[0 .. T - 2] rows 0 .. T - 2, own[T - 1 ..] rows n ..).
template <int32_t T, bool kWide>
NYRA_ALWAYS_INLINE void HistogramRowsBody(const PaddedWindow& win, int32_t w, uint16_t* const* out,
                                          uint16_t* hist)
{
    const int32_t n = win.n;
    const int32_t k = n * n / 2;
    uint16_t* const shared = hist;
    uint16_t* own[2 * (T - 1)];
    for (int32_t i = 0; i < 2 * (T - 1); i++)
        own[i] = hist + (i + 1) * kHistogramCounts;
    AddRows(win, T - 1, n, 0, shared, 1);
    for (int32_t i = 0; i < T - 1; i++) {
        AddRows(win, i, i + 1, 0, own[i], 1);
        AddRows(win, n + i, n + i + 1, 0, own[T - 1 + i], 1);
    }
    int32_t med[T], less[T];
    for (int32_t t = 0; t < T; t++)
        med[t] = FirstMedianGuess(win, t, less[t]);
    for (int32_t x = 0; x < w; x++) {
        if (x > 0) {
            const uint16_t* gone = win.columns + (size_t)(x - 1) * kColumnLanes;
            const uint16_t* come = win.columns + (size_t)(x + n - 1) * kColumnLanes;
            // Where no row keeps its value (noise), every row moves without a test; flat
            // stretches skip the rows whose counters would only go down and up again.
            bool same;
            if constexpr (kWide)
                same = StepCrossings<T>(win, gone, come, med, less);
            else
                same = StepCrossingsAvx2<T>(win, gone, come, med, less);
            if (!same) {
                for (int32_t i = T - 1; i < n; i++)
                    MoveCount(win.rows[i] + x, n, shared);
                for (int32_t i = 0; i < T - 1; i++) {
                    MoveCount(win.rows[i] + x, n, shared + (i + 1) * kHistogramCounts);
                    MoveCount(win.rows[n + i] + x, n, shared + (T + i) * kHistogramCounts);
                }
            } else {
                for (int32_t i = T - 1; i < n; i++)
                    SlideCounts(win.rows[i] + x, n, shared);
                for (int32_t i = 0; i < T - 1; i++) {
                    SlideCounts(win.rows[i] + x, n, shared + (i + 1) * kHistogramCounts);
                    SlideCounts(win.rows[n + i] + x, n, shared + (T + i) * kHistogramCounts);
                }
            }
        }
        if constexpr (kWide)
            NextMedians<T>(hist, k, med, less, out, x, std::make_index_sequence<T>());
        else
            NextMediansAvx2<T>(hist, k, med, less, out, x, std::make_index_sequence<T>());
    }
    AddRows(win, T - 1, n, w - 1, shared, -1);
    for (int32_t i = 0; i < T - 1; i++) {
        AddRows(win, i, i + 1, w - 1, own[i], -1);
        AddRows(win, n + i, n + i + 1, w - 1, own[T - 1 + i], -1);
    }
}

template <int32_t T>
__attribute__((flatten)) NYRA_TARGET_AVX512 void HistogramRowsAvx512(const PaddedWindow& win, int32_t w,
                                                                     uint16_t* const* out, uint16_t* hist)
{
    HistogramRowsBody<T, true>(win, w, out, hist);
}

template <int32_t T>
__attribute__((flatten)) NYRA_TARGET_AVX2 void HistogramRowsAvx2(const PaddedWindow& win, int32_t w,
                                                                 uint16_t* const* out, uint16_t* hist)
{
    HistogramRowsBody<T, false>(win, w, out, hist);
}
#endif

// ---- bands ------------------------------------------------------------------------------

// Output rows per sweep of the histogram median: kMaxSweepRows where the AVX2 and AVX-512
// paths hold the ring's n + T - 1 rows in the lanes of one column, else a row pair.
int32_t SweepRows(int32_t n, int32_t simd)
{
    return NYRA_HAVE_AVX2_PATH && simd >= 1 && n > 7 && n + kMaxSweepRows - 1 <= kColumnLanes ? kMaxSweepRows
                                                                                              : 2;
}

size_t RingBytes(int32_t n, int32_t simd, int32_t width)
{
    return Align64((size_t)(n + SweepRows(n, simd) - 1) * ((size_t)width + 2 * (n / 2)) * sizeof(uint16_t));
}

// The sorted padded columns and merged pairs of one strip: at most 7 + 14 rows (7 x 7 one row
// at a time; its pairs take 6 + 12, the 5 x 5 pairs 4 + 8).
constexpr int32_t kSortedRows = 21;
constexpr size_t kSortedRowBytes = Align64(((size_t)kStrip + 6) * sizeof(uint16_t));
size_t SortedBytes()
{
    return kSortedRows * kSortedRowBytes;
}

// The ring by column, for the masks whose ring fits one vector per column (n + 1 slots).
bool UsesColumns(int32_t n, int32_t simd)
{
    return n > 7 && n + 1 <= kColumnLanes && simd >= 1;
}

size_t ColumnBytes(int32_t n, int32_t width)
{
    return UsesColumns(n, 2) ? (size_t)(width + 2 * (n / 2)) * kColumnLanes * sizeof(uint16_t) : 0;
}

// The histograms of a sweep of T rows: one shared, 2 (T - 1) of single rows (at least three).
int32_t HistogramCount(int32_t n, int32_t simd)
{
    return std::max(3, 2 * SweepRows(n, simd) - 1);
}

// The ring of padded rows, then the chunk wires and the sorted columns (masks 3, 5), or the
// histograms and then (7 x 7) the sorted columns or (larger masks) the ring by column.
size_t MedianScratchBytes(int32_t n, int32_t simd, int32_t width)
{
    if (n <= 5)
        return RingBytes(n, simd, width) + Align64(kMaxNetworkInputs * kChunk * sizeof(uint16_t))
               + SortedBytes();
    return RingBytes(n, simd, width) + HistogramCount(n, simd) * kHistogramStride
           + (n == 7 ? SortedBytes() : ColumnBytes(n, width));
}

void MedianBand(void* context, FilterBand& band, uint8_t* scratch)
{
    const MedianJob& job = *static_cast<const MedianJob*>(context);
    const int32_t n = job.n, w = band.width;
    PaddedWindow win;
    win.n = n;
    win.h = n / 2;
    win.pw = w + 2 * win.h;
    win.ring = reinterpret_cast<uint16_t*>(scratch);
    const int32_t sweep = SweepRows(n, job.simd);
    win.slots = n + sweep - 1;
    uint8_t* rest = scratch + RingBytes(n, job.simd, w);
    const int32_t histograms = HistogramCount(n, job.simd);
    uint16_t* wires = reinterpret_cast<uint16_t*>(rest);
    // Each histogram starts 32 counters into its stride: the sweep's searches read 32 values
    // beyond either end of the range, which stay zero.
    uint16_t* hist[2 * kMaxSweepRows] = {};
    for (int32_t i = 0; i < histograms; i++)
        hist[i] = reinterpret_cast<uint16_t*>(rest + 64 + i * kHistogramStride);
    uint16_t* fine = hist[0];
    uint16_t* top = hist[1];
    uint16_t* bottom = hist[2];
    uint16_t* const after = reinterpret_cast<uint16_t*>(rest + histograms * kHistogramStride);
    if (n > 5)
        memset(rest, 0, histograms * kHistogramStride);
    // 7 x 7 runs its network wherever a row holds a whole vector, else the histogram.
    const bool network7 = n == 7 && w >= MedianLanes(job.simd);
    uint16_t* sorted[kSortedRows] = {};
    for (int32_t r = 0; network7 && r < kSortedRows; r++)
        sorted[r] = after + r * kSortedRowBytes / 2;
    // 3 x 3 and 5 x 5 two rows at a time from sorted columns wherever a row holds a whole
    // vector; the sorted columns follow the network's wires.
    const bool pairSmall = n <= 5 && w >= MedianLanes(job.simd);
    uint8_t* const sortedSmall = rest + Align64(kMaxNetworkInputs * kChunk * sizeof(uint16_t));
    for (int32_t r = 0; pairSmall && r < 3 * (n - 1); r++)
        sorted[r] = reinterpret_cast<uint16_t*>(sortedSmall + r * kSortedRowBytes);
    if (UsesColumns(n, job.simd))
        win.columns = after;
    win.Start(band);
    for (int32_t y = band.y0; y < band.y1;) {
#if NYRA_HAVE_AVX2_PATH
        if (sweep > 2 && y + sweep <= band.y1) {
            for (int32_t i = 1; i < sweep; i++)
                win.Fill(band, y + i + win.h);  // the spare slots
            win.Point(y, n + sweep - 1);
            uint16_t* out[kMaxSweepRows];
            for (int32_t t = 0; t < sweep; t++)
                out[t] = band.OutRow(y + t);
            if (job.simd == 2)
                HistogramRowsAvx512<kMaxSweepRows>(win, w, out, hist[0]);
            else
                HistogramRowsAvx2<kMaxSweepRows>(win, w, out, hist[0]);
            for (int32_t t = 0; t < sweep; t++)
                band.RowDone(y + t);
            if (y + sweep < band.y1)
                win.Fill(band, y + sweep + win.h);  // replaces row y - h
            y += sweep;
            continue;
        }
#endif
        if ((network7 || pairSmall) && y + 1 < band.y1) {
            win.Fill(band, y + 1 + win.h);  // the spare slot
            win.Point(y, n + 1);
            win.next[0] = band.RowAhead(y + 2 + win.h);
            win.next[1] = band.RowAhead(y + 3 + win.h);
            uint16_t* const outTop = band.OutRow(y);
            uint16_t* const outBottom = band.OutRow(y + 1);
            if (n == 7)
                MedianPair<7>(job.simd, win, w, outTop, outBottom, sorted);
            else if (n == 5)
                MedianPair<5>(job.simd, win, w, outTop, outBottom, sorted);
            else
                MedianPair<3>(job.simd, win, w, outTop, outBottom, sorted);
            band.RowDone(y);
            band.RowDone(y + 1);
            if (y + 2 < band.y1)
                win.Fill(band, y + 2 + win.h);  // replaces row y - h
            y += 2;
            continue;
        }
        if (network7) {
            win.Point(y, n);
            uint16_t* out = band.OutRow(y);
            SortedRow<7>(job.simd, win, w, out, sorted);
            band.RowDone(y);
            if (y + 1 < band.y1)
                win.Fill(band, y + 1 + win.h);
            y++;
            continue;
        }
        if (n > 5 && y + 1 < band.y1) {
            win.Fill(band, y + 1 + win.h);  // the spare slot
            win.Point(y, n + 1);
#if NYRA_HAVE_AVX2_PATH
            if (job.simd == 2)
                HistogramRowPairAvx512(win, w, band.OutRow(y), band.OutRow(y + 1), fine, top, bottom);
            else if (job.simd == 1)
                HistogramRowPairAvx2(win, w, band.OutRow(y), band.OutRow(y + 1), fine, top, bottom);
            else
#endif
                HistogramRowPair(win, w, band.OutRow(y), band.OutRow(y + 1), fine, top, bottom);
            band.RowDone(y);
            band.RowDone(y + 1);
            if (y + 2 < band.y1)
                win.Fill(band, y + 2 + win.h);  // replaces row y - h
            y += 2;
            continue;
        }
        win.Point(y, n);
        uint16_t* out = band.OutRow(y);
        if (n <= 5) {
            NetworkRow(job, win, w, out, wires);
        } else
            HistogramRow(win, w, out, fine);
        band.RowDone(y);
        if (y + 1 < band.y1)
            win.Fill(band, y + 1 + win.h);  // replaces row y - h - 1, which no later row reads
        y++;
    }
}

// Cross median of five, written branch-free so rows vectorise.
inline uint16_t Median5(uint16_t a, uint16_t b, uint16_t c, uint16_t d, uint16_t e)
{
    uint16_t t;
    // Sort (a,b) and (d,e); drop the smallest of the four mins/maxes, then take the middle.
    t = std::min(a, b);
    b = std::max(a, b);
    a = t;
    t = std::min(d, e);
    e = std::max(d, e);
    d = t;
    // The smaller of the two minima and the larger of the two maxima cannot be the median.
    uint16_t lowMax = std::max(a, d);
    uint16_t highMin = std::min(b, e);
    // Median of lowMax, highMin and c.
    uint16_t lo = std::min(lowMax, highMin), hi = std::max(lowMax, highMin);
    return std::max(lo, std::min(hi, c));
}

// Median5 on whole vectors (unsigned lanes, or the baseline's flipped signed ones), in place
// of c. (No function returns a vector: its ABI differs between the baseline and the wider
// copies.)
template <typename V>
NYRA_ALWAYS_INLINE void CrossMedianVector(const V& a, const V& b, V& c, const V& d, const V& e)
{
    const V lowA = a < b ? a : b, highA = a < b ? b : a;
    const V lowD = d < e ? d : e, highD = d < e ? e : d;
    const V lowMax = lowA < lowD ? lowD : lowA, highMin = highA < highD ? highA : highD;
    const V lo = lowMax < highMin ? lowMax : highMin, hi = lowMax < highMin ? highMin : lowMax;
    const V upper = hi < c ? hi : c;
    c = lo < upper ? upper : lo;
}

template <typename V>
NYRA_ALWAYS_INLINE void CrossMediansAt(const uint16_t* up, const uint16_t* row, const uint16_t* down,
                                       int32_t x0, uint16_t* out)
{
    V a, b, c, d, e;
    LoadPixels(a, up + x0);
    LoadPixels(b, row + x0 - 1);
    LoadPixels(c, row + x0);
    LoadPixels(d, row + x0 + 1);
    LoadPixels(e, down + x0);
    CrossMedianVector(a, b, c, d, e);
    StorePixels(out + x0, c);
}

// The cross medians of a row's inner pixels 1 .. width - 2 into out, by whole vectors (the
// last overlaps the one before it); false when they are fewer than one vector.
template <typename V>
NYRA_ALWAYS_INLINE bool CrossMedianRowBody(const uint16_t* up, const uint16_t* row, const uint16_t* down,
                                           int32_t width, uint16_t* out)
{
    constexpr int32_t lanes = (int32_t)(sizeof(V) / sizeof(uint16_t));
    if (width - 2 < lanes)
        return false;
    int32_t x0 = 1;
    for (; x0 + lanes <= width - 1; x0 += lanes)
        CrossMediansAt<V>(up, row, down, x0, out);
    if (x0 < width - 1)
        CrossMediansAt<V>(up, row, down, width - 1 - lanes, out);
    return true;
}

typedef bool (*CrossMedianRowFn)(const uint16_t*, const uint16_t*, const uint16_t*, int32_t, uint16_t*);

bool CrossMedianRowBase(const uint16_t* up, const uint16_t* row, const uint16_t* down, int32_t width,
                        uint16_t* out)
{
    return CrossMedianRowBody<Lanes8>(up, row, down, width, out);
}

NYRA_TARGET_AVX2 bool CrossMedianRowAvx2(const uint16_t* up, const uint16_t* row, const uint16_t* down,
                                         int32_t width, uint16_t* out)
{
    return CrossMedianRowBody<Lanes16>(up, row, down, width, out);
}

NYRA_TARGET_AVX512 bool CrossMedianRowAvx512(const uint16_t* up, const uint16_t* row, const uint16_t* down,
                                             int32_t width, uint16_t* out)
{
    return CrossMedianRowBody<Lanes32>(up, row, down, width, out);
}

}  // namespace

void MedianFilter(uint16_t* pixels, int32_t width, int32_t height, int32_t mask)
{
    size_t count = PixelCount(width, height);
    int32_t n = NormaliseMask(mask);
    if (!pixels || count == 0 || n == 0)
        return;
    FilterBuffer<MedianJob> job(1);
    if (!job)
        return;
    job[0].n = n;
    job[0].simd = SimdLevel();
    if (n <= 5)
        BuildMedianNetwork(n * n, &job[0].net);
    RunFilterBands(pixels, pixels, width, height, n / 2, 16, MedianScratchBytes(n, job[0].simd, width),
                   MedianBand, job.data(), kBodyCopiesInput);
}

void FastNoiseRemoval(uint16_t* pixels, int32_t width, int32_t height)
{
    if (!pixels || width < 3 || height < 3)
        return;
    // Written in place: only the unfiltered row above and the row itself need keeping.
    FilterBuffer<uint16_t> saved(2 * (size_t)width);
    if (!saved)
        return;
    const int32_t simd = SimdLevel();
    const CrossMedianRowFn vectorRow = simd == 2   ? CrossMedianRowAvx512
                                       : simd == 1 ? CrossMedianRowAvx2
                                                   : CrossMedianRowBase;
    uint16_t* up = saved.data();
    uint16_t* row = saved.data() + width;
    memcpy(up, pixels, (size_t)width * sizeof(uint16_t));
    for (int32_t y = 1; y < height - 1; y++) {
        uint16_t* o = pixels + (size_t)y * width;
        const uint16_t* down = o + width;
        memcpy(row, o, (size_t)width * sizeof(uint16_t));
        if (!vectorRow(up, row, down, width, o)) {
            for (int32_t x = 1; x < width - 1; x++)
                o[x] = Median5(up[x], row[x - 1], row[x], row[x + 1], down[x]);
        }
        std::swap(up, row);
    }
}
