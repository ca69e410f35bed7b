// The n x n median of masks above 7 (types 12, 13) by a sliding histogram.
// Method: a histogram of 65536 counters per window moves one column at a time (two counter
// updates per window row) and the median is tracked from the last one: the number of window
// values below it moves by the values crossing it, and the new median lies near the old one,
// so a short search finds it. Several output rows share the histogram of their common rows.
#include "imaging/filter_median_histogram.h"

#include <algorithm>
#include <cstddef>
#include <utility>

#include "imaging/filter_support.h"

#if NYRA_HAVE_AVX2_PATH
#include <immintrin.h>
#endif

NYRA_VECTORIZE_LOOPS

namespace {

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

}  // namespace

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

namespace {

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

void HistogramRowPairBase(const PaddedWindow& win, int32_t w, uint16_t* outA, uint16_t* outB,
                          uint16_t* shared, uint16_t* top, uint16_t* bottom)
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

}  // namespace

void HistogramRowPair(int32_t simd, const PaddedWindow& win, int32_t w, uint16_t* outA, uint16_t* outB,
                      uint16_t* shared, uint16_t* top, uint16_t* bottom)
{
#if NYRA_HAVE_AVX2_PATH
    if (simd == 2)
        return HistogramRowPairAvx512(win, w, outA, outB, shared, top, bottom);
    if (simd == 1)
        return HistogramRowPairAvx2(win, w, outA, outB, shared, top, bottom);
#else
    (void)simd;
#endif
    HistogramRowPairBase(win, w, outA, outB, shared, top, bottom);
}

#if NYRA_HAVE_AVX2_PATH
void HistogramRows(int32_t simd, const PaddedWindow& win, int32_t w, uint16_t* const* out, uint16_t* hist)
{
    if (simd == 2)
        HistogramRowsAvx512<kMaxSweepRows>(win, w, out, hist);
    else
        HistogramRowsAvx2<kMaxSweepRows>(win, w, out, hist);
}
#endif
