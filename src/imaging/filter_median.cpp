// The n x n median (types 12, 13): the bands and their working memory, and the choice of method
// by mask size and row.
// Inputs: a W x H block and a mask size; borders repeat the edge pixel. Output: the element at
// index n*n / 2 of the sorted window, written back in place through row bands
// (filter_bands.h), which equals computing into a second block from the unchanged input.
// Method: masks 3 to 11 run selection networks (filter_median_networks.cpp), larger masks
// slide a histogram along the rows (filter_median_histogram.cpp), as do masks 7 to 11 in rows
// narrower than one vector and 9 x 9 and 11 x 11 in a band's odd last row.
// Failure: without a band's working memory the image is left unchanged.
#include "imaging/filter_median.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "imaging/filter_bands.h"
#include "imaging/filter_median_histogram.h"
#include "imaging/filter_median_networks.h"
#include "imaging/filter_median_window.h"
#include "imaging/filter_simd.h"
#include "imaging/filter_support.h"

namespace {

struct MedianJob {
    int32_t n;
    int32_t simd;
    Network net;  // masks 3 and 5: the table form for rows narrower than one vector
};

// Masks 7 to 11 take their networks (two rows of sorted columns at a time) wherever a row
// holds a whole vector, at a fraction of the sliding histogram's time (2580 x 1706: 9 x 9 with
// AVX-512 73.6 -> 5.7 ms, AVX2 83.0 -> 10.9; 11 x 11 68.0 -> 13.9, 76.9 -> 26.5).
bool SortedPairs(int32_t n, int32_t simd, int32_t width)
{
    return n >= 7 && n <= kLargestPairMask && width >= MedianLanes(simd);
}

// Output rows per sweep of the histogram median: kMaxSweepRows where the AVX2 and AVX-512
// paths hold the ring's n + T - 1 rows in the lanes of one column, else a row pair.
int32_t SweepRows(int32_t n, int32_t simd, int32_t width)
{
    return NYRA_HAVE_AVX2_PATH && simd >= 1 && n > 7 && !SortedPairs(n, simd, width)
                   && n + kMaxSweepRows - 1 <= kColumnLanes
               ? kMaxSweepRows
               : 2;
}

size_t RingBytes(int32_t n, int32_t simd, int32_t width)
{
    return Align64((size_t)(n + SweepRows(n, simd, width) - 1) * ((size_t)width + 2 * (n / 2))
                   * sizeof(uint16_t));
}

size_t SortedBytes()
{
    return kSortedRows * kSortedRowBytes;
}

// The ring by column, for the histogram's masks whose ring fits one vector per column (n + 1
// slots).
bool UsesColumns(int32_t n, int32_t simd, int32_t width)
{
    return n > 7 && n + 1 <= kColumnLanes && simd >= 1 && !SortedPairs(n, simd, width);
}

size_t ColumnBytes(int32_t n, int32_t simd, int32_t width)
{
    return UsesColumns(n, simd, width) ? (size_t)(width + 2 * (n / 2)) * kColumnLanes * sizeof(uint16_t) : 0;
}

// The histograms of a sweep of T rows: one shared, 2 (T - 1) of single rows (at least three).
int32_t HistogramCount(int32_t n, int32_t simd, int32_t width)
{
    return std::max(3, 2 * SweepRows(n, simd, width) - 1);
}

// The ring of padded rows, then the chunk wires and the sorted columns (masks 3, 5), or the
// histograms and then the sorted columns (masks 7 to 11) or the ring by column.
size_t MedianScratchBytes(int32_t n, int32_t simd, int32_t width)
{
    if (n <= 5)
        return RingBytes(n, simd, width) + Align64(kMaxNetworkInputs * kChunk * sizeof(uint16_t))
               + SortedBytes();
    return RingBytes(n, simd, width) + HistogramCount(n, simd, width) * kHistogramStride
           + (n <= kLargestPairMask ? SortedBytes() : ColumnBytes(n, simd, width));
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
    const int32_t sweep = SweepRows(n, job.simd, w);
    win.slots = n + sweep - 1;
    uint8_t* rest = scratch + RingBytes(n, job.simd, w);
    const int32_t histograms = HistogramCount(n, job.simd, w);
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
    const bool sortedPairs = SortedPairs(n, job.simd, w);
    // 3 x 3 and 5 x 5 two rows at a time from sorted columns wherever a row holds a whole
    // vector; the sorted columns follow the network's wires.
    const bool pairSmall = n <= 5 && w >= MedianLanes(job.simd);
    const SortedRows sorted{
        n > 5 ? after
              : reinterpret_cast<uint16_t*>(rest + Align64(kMaxNetworkInputs * kChunk * sizeof(uint16_t)))};
    if (UsesColumns(n, job.simd, w))
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
            HistogramRows(job.simd, win, w, out, hist[0]);
            for (int32_t t = 0; t < sweep; t++)
                band.RowDone(y + t);
            if (y + sweep < band.y1)
                win.Fill(band, y + sweep + win.h);  // replaces row y - h
            y += sweep;
            continue;
        }
#endif
        if (y + 1 < band.y1 && (pairSmall || n > 5)) {
            win.Fill(band, y + 1 + win.h);  // the spare slot
            win.Point(y, n + 1);
            uint16_t* const outTop = band.OutRow(y);
            uint16_t* const outBottom = band.OutRow(y + 1);
            if (sortedPairs || pairSmall) {
                win.next[0] = band.RowAhead(y + 2 + win.h);
                win.next[1] = band.RowAhead(y + 3 + win.h);
                MedianPair(n, job.simd, win, w, outTop, outBottom, sorted);
            } else {
                HistogramRowPair(job.simd, win, w, outTop, outBottom, fine, top, bottom);
            }
            band.RowDone(y);
            band.RowDone(y + 1);
            if (y + 2 < band.y1)
                win.Fill(band, y + 2 + win.h);  // replaces row y - h
            y += 2;
            continue;
        }
        // A band's odd last row, and every row of a 3 x 3 or 5 x 5 narrower than one vector.
        win.Point(y, n);
        uint16_t* out = band.OutRow(y);
        if (sortedPairs && n == 7)
            SortedRow7(job.simd, win, w, out, sorted);
        else if (n <= 5)
            NetworkRow(job.net, job.simd, win, w, out, wires);
        else
            HistogramRow(win, w, out, fine);
        band.RowDone(y);
        if (y + 1 < band.y1)
            win.Fill(band, y + 1 + win.h);  // replaces row y - h - 1, which no later row reads
        y++;
    }
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
