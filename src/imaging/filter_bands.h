// Row bands for the neighbourhood filters that write their result back into the image as they
// go, instead of into a second image-sized block: output row y depends on input rows
// y - halo .. y + halo, so once row y is done, input row y - halo is no longer needed and the
// output row computed for it can replace it. Each band keeps its finished rows in a ring of
// halo + 1 rows, and private copies of the halo rows it shares with its neighbours, taken
// before any band starts writing. The result equals computing every row from the unchanged
// input into a second block and copying that back, with a fraction of the memory (and none of
// the page faults of a fresh 9 MB block per filter). A body that keeps its own copy of every
// input row it reads needs no ring: it writes each output row straight into the image.
#pragma once
#include <cstddef>
#include <cstdint>

#include "imaging/filter_simd.h"

class FilterBand {
public:
    int32_t y0 = 0, y1 = 0;  // output rows of this band
    int32_t width = 0, height = 0;

    // Input row r, r clamped to the image (edge rows repeat).
    const uint16_t* Row(int32_t r) const
    {
        r = r < 0 ? 0 : (r >= height ? height - 1 : r);
        if (top_ && r < y0)
            return top_ + (size_t)(r - topFirst_) * width;
        if (bottom_ && r >= y1)
            return bottom_ + (size_t)(r - y1) * width;
        return src_ + (size_t)r * width;
    }
    // Row(r) for asking memory for a row ahead of its use: rows past the band's halo, which it
    // never reads (and has no copy of), give its last row instead.
    const uint16_t* RowAhead(int32_t r) const { return Row(r < y1 + halo_ ? r : y1 + halo_ - 1); }
    // Where output row y goes; call RowDone(y) when it is complete, rows in order. Once the
    // rows before y are done, rows y .. y + rowsAhead - 1 (RunFilterBands) may all be written.
    uint16_t* OutRow(int32_t y) const
    {
        return ring_ ? ring_ + (size_t)(y % ringRows_) * width : dst_ + (size_t)y * width;
    }
    void RowDone(int32_t y);
    void Finish();

private:
    friend bool RunFilterBands(const uint16_t*, uint16_t*, int32_t, int32_t, int32_t, int32_t, size_t,
                               void (*)(void*, FilterBand&, uint8_t*), void*, int32_t);
    const uint16_t* src_ = nullptr;
    uint16_t* dst_ = nullptr;
    uint16_t* top_ = nullptr;     // copies of rows topFirst_ .. y0 - 1
    uint16_t* bottom_ = nullptr;  // copies of rows y1 .. y1 + halo - 1 (within the image)
    uint16_t* ring_ = nullptr;    // finished rows not yet written back (in place only)
    int32_t topFirst_ = 0;
    int32_t ringRows_ = 0;
    int32_t halo_ = 0;
};

typedef void (*FilterBandBody)(void* context, FilterBand& band, uint8_t* scratch);

// Asks memory for the 64-byte lines of row (from RowAhead) that begin at pixels from .. to - 1.
// The bands call it in step with their work on the row before: a row first read when its turn
// comes waits for memory, and asking for a whole row at once measured slower than not asking.
// Always inlined: as a call, GCC took the function for one without effects (a prefetch is
// none) and dropped the calls, so the separable filters asked for nothing.
NYRA_ALWAYS_INLINE void PrefetchRowLines(const uint16_t* row, int32_t from, int32_t to)
{
    for (int32_t x = (from + 31) & ~31; x < to; x += 32)
        __builtin_prefetch(row + x);
}

// Runs body over row bands of the W x H image, on up to FilterThreadCount() threads. Output
// goes to dst, which may be src itself (then the rows are written back as described above).
// Every band gets `scratchBytes` of 64-byte aligned working memory. All memory is obtained
// before any row is written: false means nothing was obtained and dst is untouched. A body
// that finishes rowsAhead rows at a time gets a ring of halo + rowsAhead rows.
// kBodyCopiesInput instead: the body reads input row r (band.Row) only before it writes output
// row r, never after, so OutRow is the destination row itself and RowDone copies nothing.
constexpr int32_t kBodyCopiesInput = 0;
bool RunFilterBands(const uint16_t* src, uint16_t* dst, int32_t width, int32_t height, int32_t halo,
                    int32_t minRowsPerBand, size_t scratchBytes, FilterBandBody body, void* context,
                    int32_t rowsAhead = 1);
